#pragma once
// lumitrax::Error as Python exceptions: ValueError for a bad argument, otherwise the
// lumitrax.Error subclass of its kind.

#include "casters.h"

#include <lumitrax/error.h>

namespace lumitrax::python {

// Adds lumitrax.Error and its subclasses to m and translates every lumitrax::Error that leaves
// a binding into one of them. Called once, at import.
void RegisterExceptions(py::module_& m);

// Sets the Python exception for e, with .kind, .steps_written and .steps_not_written (and
// .problems for a ConfigError). The GIL must be held.
void Raise(const lumitrax::Error& e);

}  // namespace lumitrax::python
