#pragma once
// Pieces of the result classes' __repr__: values as Python writes them.

#include "casters.h"

#include <string>

namespace lumitrax::python {

// s as a Python str literal: 'LX-1608'.
std::string Quoted(const std::string& s);

std::string Bool(bool b);

// The repr of any value pybind11 can convert.
template <typename T>
std::string Repr(const T& value) {
    return py::repr(py::cast(value)).template cast<std::string>();
}

// A sequence as a Python list of its items' reprs.
template <typename T>
std::string ListRepr(const T& items) {
    std::string out = "[";
    for (const auto& item : items) {
        if (out.size() > 1) {
            out += ", ";
        }
        out += Repr(item);
    }
    return out + "]";
}

}  // namespace lumitrax::python
