#pragma once
// The pybind11 headers and the module's own type casters. Every source of the module includes
// this header before it converts any value: a caster must be the same in every file, or one
// file would convert an int (or a std::vector) differently from another.

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <string>

// An int argument (a channel, a brightness, a memory, ...) takes any Python int: one too large
// for the C int underneath is out of range like any other (ValueError), where pybind11 would
// call it an argument of the wrong type. True and False are not channel numbers.
namespace pybind11::detail {
template <>
struct type_caster<int> {
    PYBIND11_TYPE_CASTER(int, const_name("int"));

    bool load(handle src, bool convert) {
        if (!src || PyFloat_Check(src.ptr()) != 0 || PyBool_Check(src.ptr()) != 0) {
            return false;
        }
        if (!convert && PyLong_Check(src.ptr()) == 0 && PyIndex_Check(src.ptr()) == 0) {
            return false;
        }
        const object index = reinterpret_steal<object>(PyNumber_Index(src.ptr()));
        if (!index) {
            PyErr_Clear();
            return false;
        }
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow == 0 && v == -1 && PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            return false;
        }
        if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
            throw value_error(str(index).cast<std::string>() + " is out of range");
        }
        value = static_cast<int>(v);
        return true;
    }

    static handle cast(int src, return_value_policy /*policy*/, handle /*parent*/) { return PyLong_FromLong(src); }
};
}  // namespace pybind11::detail

namespace py = pybind11;
