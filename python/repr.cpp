#include "repr.h"

namespace lumitrax::python {

std::string Quoted(const std::string& s) { return py::repr(py::str(s)).cast<std::string>(); }

std::string Bool(bool b) { return b ? "True" : "False"; }

}  // namespace lumitrax::python
