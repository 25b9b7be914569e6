#include "Errors.h"

#include "ofxhost/Host.h"

namespace py = pybind11;

namespace ofxpy {
namespace {

// Owned by the module object for the life of the interpreter.
PyObject *errorType = nullptr;
PyObject *pluginErrorType = nullptr;
PyObject *unknownPluginType = nullptr;
PyObject *unknownParameterType = nullptr;
PyObject *badValueType = nullptr;

PyObject *newType(py::module_ &module, const char *name, const char *doc,
                  PyObject *bases) {
  const std::string qualified = std::string("ofxhost.") + name;
  PyObject *type =
      PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
  Py_XDECREF(bases);
  if (!type)
    throw py::error_already_set();
  module.add_object(name, py::reinterpret_borrow<py::object>(type));
  return type;
}

PyObject *bases(PyObject *first, PyObject *second) {
  return PyTuple_Pack(2, first, second);
}

[[noreturn]] void raise(PyObject *type, const std::string &message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

} // namespace

void defineErrors(py::module_ &module) {
  Py_INCREF(PyExc_Exception);
  errorType =
      newType(module, "Error", "Base of every error the ofxhost module raises.",
              PyExc_Exception);
  pluginErrorType =
      newType(module, "PluginError",
              "A plug-in action failed. status is the OpenFX status code, "
              "status_name its name (e.g. 'kOfxStatErrFormat').",
              bases(errorType, PyExc_RuntimeError));
  unknownPluginType = newType(module, "UnknownPluginError",
                              "No plug-in (or several) goes by the name given.",
                              bases(errorType, PyExc_LookupError));
  unknownParameterType = newType(module, "UnknownParameterError",
                                 "The plug-in has no parameter of that name.",
                                 bases(errorType, PyExc_LookupError));
  badValueType = newType(
      module, "BadValueError",
      "A parameter value of the wrong type or shape, an unknown option, or a "
      "number outside the parameter's range.",
      bases(errorType, PyExc_ValueError));
}

void raisePluginError(const std::string &message, OfxStatus status) {
  py::object error =
      py::reinterpret_borrow<py::object>(pluginErrorType)(message);
  error.attr("status") = status;
  error.attr("status_name") = ofxhost::statusName(status);
  PyErr_SetObject(pluginErrorType, error.ptr());
  throw py::error_already_set();
}

void raiseUnknownPlugin(const std::string &message) {
  raise(unknownPluginType, message);
}

void raiseUnknownParameter(const std::string &message) {
  raise(unknownParameterType, message);
}

void raiseBadValue(const std::string &message) { raise(badValueType, message); }

} // namespace ofxpy
