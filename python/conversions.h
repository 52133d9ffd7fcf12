#pragma once
// Python values into the API's types where pybind11's own conversion is too lenient or too
// exact: on/off values, paths, DAC floats, callables kept by the library.

#include "casters.h"

#include <memory>
#include <optional>
#include <string>

namespace lumitrax::python {

// An on/off value set on a result class: True or False (or a numpy bool), nothing that merely
// has a truth value. None or 0.0 read as False would switch lights off. Arguments get the same
// rule from py::arg().noconvert(). TypeError otherwise.
bool StrictBool(const py::handle& v);
std::optional<bool> StrictOptionalBool(const py::handle& v);

// A str or an os.PathLike (pathlib.Path) as the path string.
std::string PathArg(const py::object& path);

// A DAC value (a C float) as the Python float of its shortest decimal: 0.1 reads back as 0.1,
// not as 0.10000000149011612, and compares equal to the 0.1 a script gave.
double Shortest(float v);

// A Python callable kept by C++ code that may drop it on a thread without the GIL.
std::shared_ptr<py::object> HoldCallable(py::object f);

}  // namespace lumitrax::python
