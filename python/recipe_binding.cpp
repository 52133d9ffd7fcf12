// The recipe classes: Recipe (read from its TOML file or text, written back as that text),
// RecipeTrigger, RecipeDifference and RecipeReport, and check_recipe_folder(). The calls that
// apply, verify and capture a recipe are the Controller's (controller_binding.cpp).

#include "casters.h"

#include "bindings.h"
#include "conversions.h"
#include "repr.h"

#include <lumitrax/recipe.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace pybind11::literals;

namespace lumitrax::python {
namespace {

std::string OptionalRepr(const std::optional<int>& v) { return v ? std::to_string(*v) : "None"; }

bool SameTrigger(const lumitrax::RecipeTrigger& a, const lumitrax::RecipeTrigger& b) {
    return a.row == b.row && a.delayUs == b.delayUs && a.onUs == b.onUs && a.edge == b.edge && a.enable == b.enable;
}

// Everything but sha256, which says where a recipe was read from, not what light it is.
bool SameRecipe(const lumitrax::Recipe& a, const lumitrax::Recipe& b) {
    return a.name == b.name && a.number == b.number && a.brightness == b.brightness && a.on == b.on &&
           a.brightMemory == b.brightMemory && a.triggerMemory == b.triggerMemory &&
           std::equal(a.triggers.begin(), a.triggers.end(), b.triggers.begin(), b.triggers.end(), SameTrigger);
}

std::string TriggerRepr(const lumitrax::RecipeTrigger& t) {
    return "RecipeTrigger(row=" + std::to_string(t.row) + ", delay_us=" + std::to_string(t.delayUs) +
           ", on_us=" + std::to_string(t.onUs) + ", edge=" + (t.edge ? Repr(*t.edge) : "None") +
           ", enable=" + (t.enable ? Bool(*t.enable) : "None") + ")";
}

constexpr const char* kRecipeDoc = R"(The light of one product: brightness and on state of every channel, optionally trigger rows
and the memories to keep it in; a TOML file an engineer reviews (docs/recipes.md).

    r = lumitrax.Recipe.load("housing-a12-top.toml")
    report = c.apply_recipe(r)

Recipe(name, *, number=None, brightness=[], on=[], triggers=[], bright_memory=None,
trigger_memory=None) makes one in code; it is checked when applied (or by check()). The list
attributes are copies: assign a whole list to change one. str() and to_toml() give the text
that Recipe.from_text() reads back to the same recipe. Two recipes are equal when every field
but sha256 is.)";

}  // namespace

void BindRecipes(py::module_& m) {
    py::class_<lumitrax::RecipeTrigger>(m, "RecipeTrigger", "One [[trigger]] table of a recipe.")
        .def(py::init([](int row, int delayUs, int onUs, std::optional<lumitrax::Edge> edge, const py::object& enable) {
                 lumitrax::RecipeTrigger t;
                 t.row = row;
                 t.delayUs = delayUs;
                 t.onUs = onUs;
                 t.edge = edge;
                 t.enable = StrictOptionalBool(enable);
                 return t;
             }),
             "row"_a = 1, "delay_us"_a = 1, "on_us"_a = 1, "edge"_a = py::none(), "enable"_a = py::none())
        .def_readwrite("row", &lumitrax::RecipeTrigger::row, "1..4")
        .def_readwrite("delay_us", &lumitrax::RecipeTrigger::delayUs, "1..4000")
        .def_readwrite("on_us", &lumitrax::RecipeTrigger::onUs, "1..4000")
        .def_readwrite("edge", &lumitrax::RecipeTrigger::edge, "an Edge, or None: the row keeps the controller's edge")
        .def_property(
            "enable", [](const lumitrax::RecipeTrigger& t) { return t.enable; },
            [](lumitrax::RecipeTrigger& t, const py::handle& v) { t.enable = StrictOptionalBool(v); },
            "True, False, or None: the row keeps the controller's enable")
        .def("__repr__", &TriggerRepr)
        .def("__eq__", &SameTrigger, py::is_operator());

    py::class_<lumitrax::Recipe>(m, "Recipe", kRecipeDoc)
        .def(py::init([](std::string name, std::optional<int> number, std::vector<int> brightness, std::vector<int> on,
                         std::vector<lumitrax::RecipeTrigger> triggers, std::optional<int> brightMemory,
                         std::optional<int> triggerMemory) {
                 lumitrax::Recipe r;
                 r.name = std::move(name);
                 r.number = number;
                 r.brightness = std::move(brightness);
                 r.on = std::move(on);
                 r.triggers = std::move(triggers);
                 r.brightMemory = brightMemory;
                 r.triggerMemory = triggerMemory;
                 return r;
             }),
             "name"_a, py::kw_only(), "number"_a = py::none(), "brightness"_a = std::vector<int>(),
             "on"_a = std::vector<int>(), "triggers"_a = std::vector<lumitrax::RecipeTrigger>(),
             "bright_memory"_a = py::none(), "trigger_memory"_a = py::none())
        .def_static(
            "load", [](const py::object& path) { return lumitrax::readRecipeFile(PathArg(path)); }, "path"_a,
            "Reads the recipe file at path (str or os.PathLike) strictly; FileError naming the file, line and "
            "column and what is allowed when it cannot be read or is not a valid recipe.")
        .def_static("from_text", &lumitrax::readRecipeText, "text"_a, "source"_a = "recipe",
                    "Reads a recipe from its TOML text as load() does; source names the text in the messages.")
        .def_readwrite("name", &lumitrax::Recipe::name, "letters, digits, '.', '_', '-'; 1..64 characters")
        .def_readwrite("number", &lumitrax::Recipe::number, "1..9999, how a PLC names it, or None")
        .def_readwrite("brightness", &lumitrax::Recipe::brightness,
                       "channel 1 first, at most 16 values 0..1024; channels past the list get 0")
        .def_readwrite("on", &lumitrax::Recipe::on, "the channels switched on, ascending; every other is off")
        .def_readwrite("triggers", &lumitrax::Recipe::triggers, "RecipeTrigger in row order, each row at most once")
        .def_readwrite("bright_memory", &lumitrax::Recipe::brightMemory, "[store] bright_memory 0..9, or None")
        .def_readwrite("trigger_memory", &lumitrax::Recipe::triggerMemory, "[store] trigger_memory 0..9, or None")
        .def_readonly("sha256", &lumitrax::Recipe::sha256,
                      "SHA-256 of the bytes read, as sha256sum prints it; empty for a recipe made in code or captured")
        .def("check", &lumitrax::checkRecipe, "ValueError naming each value out of range; nothing otherwise.")
        .def("to_toml", &lumitrax::formatRecipe, "The recipe as the TOML text from_text() reads back.")
        .def("__str__", &lumitrax::formatRecipe)
        .def("__repr__",
             [](const lumitrax::Recipe& r) {
                 std::string triggers = "[";
                 for (const lumitrax::RecipeTrigger& t : r.triggers) {
                     triggers += (triggers.size() > 1 ? ", " : "") + TriggerRepr(t);
                 }
                 return "Recipe(name=" + Quoted(r.name) + ", number=" + OptionalRepr(r.number) +
                        ", brightness=" + ListRepr(r.brightness) + ", on=" + ListRepr(r.on) + ", triggers=" + triggers +
                        "], bright_memory=" + OptionalRepr(r.brightMemory) +
                        ", trigger_memory=" + OptionalRepr(r.triggerMemory) + ", sha256=" + Quoted(r.sha256) + ")";
             })
        .def("__eq__", &SameRecipe, py::is_operator());

    m.def(
        "check_recipe_folder", [](const py::object& path) { return lumitrax::readRecipeFolder(PathArg(path)); },
        "path"_a,
        "Every *.toml file of the folder as a Recipe, read strictly, in file name order. FileError naming every "
        "bad file, and two recipes with the same name or number.");

    py::class_<lumitrax::RecipeDifference>(m, "RecipeDifference",
                                           "A field in which a controller's light differs from a recipe.")
        .def(py::init([](std::string field, std::string wanted, std::string found) {
                 return lumitrax::RecipeDifference{std::move(field), std::move(wanted), std::move(found)};
             }),
             "field"_a, "wanted"_a, "found"_a)
        .def_readonly("field", &lumitrax::RecipeDifference::field, "\"brightness 3\", \"on 5\", \"trigger 2 delay_us\", ...")
        .def_readonly("wanted", &lumitrax::RecipeDifference::wanted, "the value as the recipe gives it")
        .def_readonly("found", &lumitrax::RecipeDifference::found, "the value as the controller has it")
        .def("__repr__",
             [](const lumitrax::RecipeDifference& d) {
                 return "RecipeDifference(field=" + Quoted(d.field) + ", wanted=" + Quoted(d.wanted) +
                        ", found=" + Quoted(d.found) + ")";
             })
        .def(
            "__eq__",
            [](const lumitrax::RecipeDifference& a, const lumitrax::RecipeDifference& b) {
                return a.field == b.field && a.wanted == b.wanted && a.found == b.found;
            },
            py::is_operator());

    py::class_<lumitrax::RecipeReport>(m, "RecipeReport",
                                       "What Controller.apply_recipe() and verify_recipe() found.")
        .def_property_readonly(
            "result", [](const lumitrax::RecipeReport& r) { return std::string(lumitrax::recipeResultName(r.result)); },
            "\"verified\", \"differs\" or \"failed\" (a failure on the line: see error)")
        .def_readonly("differences", &lumitrax::RecipeReport::differences,
                      "\"differs\": every RecipeDifference, in the recipe's order")
        .def_readonly("steps_written", &lumitrax::RecipeReport::stepsWritten, "the steps sent, in order")
        .def_readonly("steps_not_written", &lumitrax::RecipeReport::stepsNotWritten, "\"failed\": the steps not sent")
        .def_readonly("error", &lumitrax::RecipeReport::error, "\"failed\": why, in the operator's words")
        .def_readonly("saved_bright_memory", &lumitrax::RecipeReport::savedBrightMemory,
                      "True when the recipe's bright_memory was written (not when it already held the light)")
        .def_readonly("saved_trigger_memory", &lumitrax::RecipeReport::savedTriggerMemory,
                      "True when the recipe's trigger_memory was written")
        .def_readonly("duration_ms", &lumitrax::RecipeReport::durationMs, "how long the call took")
        .def("__repr__", [](const lumitrax::RecipeReport& r) {
            return "RecipeReport(result=" + Quoted(lumitrax::recipeResultName(r.result)) +
                   ", differences=" + ListRepr(r.differences) + ", steps_written=" + ListRepr(r.stepsWritten) +
                   ", steps_not_written=" + ListRepr(r.stepsNotWritten) + ", error=" + Quoted(r.error) +
                   ", saved_bright_memory=" + Bool(r.savedBrightMemory) +
                   ", saved_trigger_memory=" + Bool(r.savedTriggerMemory) + ", duration_ms=" + Repr(r.durationMs) + ")";
        });
}

}  // namespace lumitrax::python
