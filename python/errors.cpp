#include "errors.h"

#include <lumitrax/configuration.h>

#include <exception>
#include <string>

namespace lumitrax::python {
namespace {

struct Exceptions {
    PyObject* base = nullptr;
    PyObject* port = nullptr;
    PyObject* noAnswer = nullptr;
    PyObject* refused = nullptr;
    PyObject* file = nullptr;
    PyObject* config = nullptr;
    PyObject* cancelled = nullptr;
};
Exceptions exceptions;

PyObject* ClassFor(lumitrax::ErrorKind kind) {
    switch (kind) {
    case lumitrax::ErrorKind::Port: return exceptions.port;
    case lumitrax::ErrorKind::NoAnswer: return exceptions.noAnswer;
    case lumitrax::ErrorKind::Refused: return exceptions.refused;
    case lumitrax::ErrorKind::File: return exceptions.file;
    case lumitrax::ErrorKind::Interrupted: return exceptions.cancelled;
    case lumitrax::ErrorKind::Argument: break;
    }
    return exceptions.base;
}

PyObject* NewException(py::module_& m, const char* name, PyObject* base, const char* doc) {
    const std::string qualified = std::string("lumitrax.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    m.add_object(name, py::handle(type));
    return type;
}

}  // namespace

void Raise(const lumitrax::Error& e) {
    if (e.kind() == lumitrax::ErrorKind::Argument) {
        PyErr_SetString(PyExc_ValueError, e.what());
        return;
    }
    const auto* config = dynamic_cast<const lumitrax::ConfigError*>(&e);
    PyObject* type = config != nullptr ? exceptions.config : ClassFor(e.kind());
    py::object error = py::reinterpret_borrow<py::object>(type)(e.what());
    error.attr("kind") = e.kind();
    error.attr("steps_written") = e.stepsWritten();
    error.attr("steps_not_written") = e.stepsNotWritten();
    if (config != nullptr) {
        error.attr("problems") = config->problems();
    }
    PyErr_SetObject(type, error.ptr());
}

void RegisterExceptions(py::module_& m) {
    exceptions.base = NewException(m, "Error", PyExc_Exception,
                                   "A failure of a controller or configuration call. .kind is an ErrorKind; for a "
                                   "multi-step write that stopped part way, .steps_written and .steps_not_written "
                                   "name the steps that reached the controller and those that did not.");
    py::handle base(exceptions.base);
    base.attr("kind") = py::none();
    base.attr("steps_written") = py::tuple();
    base.attr("steps_not_written") = py::tuple();
    exceptions.port = NewException(m, "PortError", exceptions.base,
                                   "The port did not open (the reason is in the message), the connection was lost, "
                                   "or the Controller was closed.");
    exceptions.noAnswer = NewException(m, "NoAnswerError", exceptions.base,
                                       "The controller did not answer within the timeout.");
    exceptions.refused = NewException(m, "RefusedError", exceptions.base,
                                      "The controller answered with an \"error\" line (in the message).");
    exceptions.file = NewException(m, "FileError", exceptions.base,
                                   "A configuration file cannot be read, is invalid, or cannot be written.");
    exceptions.config = NewException(m, "ConfigError", exceptions.file,
                                     "A configuration that fails the checks; .problems lists a ConfigProblem per bad line.");
    py::handle(exceptions.config).attr("problems") = py::list();
    exceptions.cancelled = NewException(m, "CancelledError", exceptions.base,
                                        "cancel() or Ctrl+C stopped a call (ErrorKind.Interrupted). A multi-command "
                                        "write names in .steps_written and .steps_not_written how far it came.");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const lumitrax::Error& e) {
            Raise(e);
        }
    });
}

}  // namespace lumitrax::python
