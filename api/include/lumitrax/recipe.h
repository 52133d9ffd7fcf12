#pragma once
// lumitrax::Recipe: the light of one product (brightness and on state of every channel,
// optionally trigger rows and the memories to keep it in), as a TOML file an engineer reviews
// and keeps under version control. docs/recipes.md is the format's reference.
//
//   name = "housing-a12-top"          # required: letters, digits, . _ -, 1..64
//   number = 12                       # optional, 1..9999
//   brightness = [512, 512, 0, 0, 800]   # channel 1 first, 0..1024; channels past the list get 0
//   on = [1, 2, 5]                    # the channels switched on; every other channel is off
//   [[trigger]]                       # optional, rows 1..4, each at most once
//   row = 1
//   delay_us = 100                    # 1..4000
//   on_us = 50                        # 1..4000
//   edge = "positive"                 # optional: positive | negative
//   enable = true                     # optional
//   [store]                           # optional
//   bright_memory = 3                 # 0..9
//   trigger_memory = 3                # 0..9
//
// Reading is strict: an unknown key, a wrong type, a value out of range, a duplicate row or
// channel throws Error(ErrorKind::File) naming the file, line and column and what is allowed.
// Pure functions here are safe on any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lumitrax/controller.h"
#include "lumitrax/error.h"
#include "lumitrax/export.h"

namespace lumitrax {

// One [[trigger]] table.
struct RecipeTrigger {
    int row = 1;                  // 1..4
    int delayUs = 1;              // 1..4000
    int onUs = 1;                 // 1..4000
    std::optional<Edge> edge;     // absent: the row keeps the controller's edge
    std::optional<bool> enable;   // absent: the row keeps the controller's enable
};

struct Recipe {
    std::string name;                 // letters, digits, '.', '_', '-'; 1..64 characters
    std::optional<int> number;        // 1..9999: how a PLC names it
    std::vector<int> brightness;      // channel 1 first, at most 16 values 0..1024
    std::vector<int> on;              // channels switched on, 1..16, ascending, each once
    std::vector<RecipeTrigger> triggers;  // in row order, each row at most once
    std::optional<int> brightMemory;  // [store] bright_memory 0..9
    std::optional<int> triggerMemory; // [store] trigger_memory 0..9
    // SHA-256 of the bytes the recipe was read from, 64 lower-case hex digits (as sha256sum
    // prints it); empty for a recipe made in code or captured.
    std::string sha256;

    // The brightness of every channel (0 past the list) and the on mask (bit 0 = channel 1).
    LUMITRAX_API std::array<int, kChannels> channelBrightness() const;
    LUMITRAX_API std::uint16_t onMask() const;
};

// Reads a recipe. fromText names the text as source in its messages. Throws Error(File).
LUMITRAX_API Recipe readRecipeFile(const std::string& path);
LUMITRAX_API Recipe readRecipeText(const std::string& text, const std::string& source = "recipe");
// Checks every value (as reading does); throws Error(Argument) naming each bad one.
LUMITRAX_API void checkRecipe(const Recipe& recipe);
// The recipe as a TOML text that readRecipeText reads back to the same recipe.
LUMITRAX_API std::string formatRecipe(const Recipe& recipe);

// Every *.toml file of a folder, read strictly, in name order. Throws Error(File) naming every
// bad file, and two recipes with the same name or number.
LUMITRAX_API std::vector<Recipe> readRecipeFolder(const std::string& folder);

// One field that differs: "brightness 3", "on 5", "trigger 2 delay_us", ...
struct RecipeDifference {
    std::string field;
    std::string wanted;  // as the recipe gives it
    std::string found;   // as the controller has it
};

enum class RecipeResult { Verified, Differs, Failed };
// "verified", "differs", "failed".
LUMITRAX_API const char* recipeResultName(RecipeResult result) noexcept;

struct RecipeReport {
    RecipeResult result = RecipeResult::Verified;
    std::vector<RecipeDifference> differences;  // Differs: every field that differs, in order
    std::vector<std::string> stepsWritten;      // the steps sent, in order
    std::vector<std::string> stepsNotWritten;   // Failed: the steps not sent
    std::string error;                          // Failed: why, in the operator's words
    // [store]: whether the memories were written (false when they already held the recipe's
    // values, or the apply did not verify).
    bool savedBrightMemory = false;
    bool savedTriggerMemory = false;
    double durationMs = 0;
};

}  // namespace lumitrax
