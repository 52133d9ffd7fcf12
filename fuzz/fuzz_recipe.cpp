// Recipe text of any kind through the strict reader: it either throws Error(File) or gives a
// recipe that passes checkRecipe, whose formatted text reads back to the same text again.
#include <cstddef>
#include <cstdint>
#include <string>

#include <lumitrax/recipe.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumitrax::Recipe recipe;
    try {
        recipe = lumitrax::readRecipeText(text, "fuzz");
    } catch (const lumitrax::Error& e) {
        if (e.kind() != lumitrax::ErrorKind::File) {
            __builtin_trap();
        }
        return 0;
    }
    // Throws, and so fails the run, when what was read does not pass the checks.
    const std::string formatted = lumitrax::formatRecipe(recipe);
    if (lumitrax::formatRecipe(lumitrax::readRecipeText(formatted, "formatted")) != formatted) {
        __builtin_trap();
    }
    return 0;
}
