// The module's exception types: one per kind of failure, all derived from
// ofxhost.Error, and the helpers that raise them from C++.
#pragma once

#include <string>

#include <pybind11/pybind11.h>

#include "ofxCore.h"

namespace ofxpy {

// Creates ofxhost.Error, PluginError, UnknownPluginError,
// UnknownParameterError and BadValueError in the module.
void defineErrors(pybind11::module_ &module);

// Each sets the Python error and throws pybind11::error_already_set.
[[noreturn]] void raisePluginError(const std::string &message,
                                   OfxStatus status);
[[noreturn]] void raiseUnknownPlugin(const std::string &message);
[[noreturn]] void raiseUnknownParameter(const std::string &message);
[[noreturn]] void raiseBadValue(const std::string &message);

} // namespace ofxpy
