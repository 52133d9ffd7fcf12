#pragma once
// The audit record of one recipe apply: one JSON line appended to a file that several
// processes may share (docs/recipes.md has the fields).

#include <chrono>
#include <optional>
#include <string>

#include "lumitrax/recipe.h"

namespace lumitrax::detail {

struct RecipeRecord {
    std::chrono::system_clock::time_point time;  // when the apply began
    std::string port;                            // the Controller's target
    std::optional<Identity> identity;            // absent when it could not be read
    const Recipe* recipe = nullptr;
    const RecipeReport* report = nullptr;
    const char* action = "apply";                // "apply" or "verify"
};

// The record as one line of JSON, with its line feed.
std::string RecordLine(const RecipeRecord& record);

// Appends line to path (a name without NUL bytes) (created with mode 0644 when missing) with O_APPEND under an exclusive
// flock, and fsyncs it before returning, so that two processes never interleave their lines and
// a record that was reported written is on the disk. Throws Error(File) starting with
// outcome (what became of the light) and saying why.
void AppendRecord(const std::string& path, const std::string& line, const std::string& outcome);

}  // namespace lumitrax::detail
