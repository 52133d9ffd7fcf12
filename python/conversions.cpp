#include "conversions.h"

#include <charconv>
#include <cstdlib>
#include <utility>

namespace lumitrax::python {

bool StrictBool(const py::handle& v) {
    if (PyBool_Check(v.ptr()) != 0) {
        return v.ptr() == Py_True;
    }
    const std::string type = Py_TYPE(v.ptr())->tp_name;
    if (type == "numpy.bool_" || type == "numpy.bool") {
        return PyObject_IsTrue(v.ptr()) == 1;
    }
    throw py::type_error("True or False expected, not " + type);
}

std::optional<bool> StrictOptionalBool(const py::handle& v) {
    return v.is_none() ? std::nullopt : std::optional<bool>(StrictBool(v));
}

std::string PathArg(const py::object& path) { return py::module_::import("os").attr("fspath")(path).cast<std::string>(); }

double Shortest(float v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    *r.ptr = '\0';
    return std::strtod(text, nullptr);
}

std::shared_ptr<py::object> HoldCallable(py::object f) {
    return {new py::object(std::move(f)), [](py::object* p) {
                py::gil_scoped_acquire gil;
                delete p;
            }};
}

}  // namespace lumitrax::python
