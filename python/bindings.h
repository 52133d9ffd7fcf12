#pragma once
// The parts of the module, each adding its classes to it; module.cpp calls them in order (a
// class must be added before a default argument or a docstring signature uses it).

#include "casters.h"

namespace lumitrax::python {

// The result and value classes (results.cpp).
void BindResults(py::module_& m);
// Recipe, RecipeTrigger, RecipeDifference, RecipeReport, check_recipe_folder (recipe_binding.cpp).
void BindRecipes(py::module_& m);
// Monitor and Controller (controller_binding.cpp).
void BindController(py::module_& m);

}  // namespace lumitrax::python
