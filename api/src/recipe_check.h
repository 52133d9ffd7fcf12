#pragma once
// The rules of a recipe's values, once: reading a file (with the line and column of each bad
// value) and checkRecipe (on a recipe made in code) say the same thing in the same words.

#include <optional>
#include <string>

#include "lumitrax/recipe.h"

namespace lumitrax::detail {

// What is wrong with a value and what would be allowed in its place.
struct Fault {
    std::string what;
    std::string allowed;
};

constexpr int kMaxRecipeName = 64;
constexpr int kMaxRecipeNumber = 9999;

std::optional<Fault> NameFault(const std::string& name);
// field is how the message names the value ("brightness 3", "trigger 2 delay_us").
std::optional<Fault> RangeFault(const std::string& field, long long value, long long lo, long long hi,
                                const char* unit = "");

const char* EdgeName(Edge edge) noexcept;  // "positive", "negative"

// "what; allowed: allowed".
std::string FaultText(const Fault& fault);

}  // namespace lumitrax::detail
