// Parameter values from the command line: "--set NAME=VALUE" and
// "--key NAME@TIME=VALUE", checked against the parameter's type, shape,
// options and range before anything is rendered.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxrender {

struct ParamAssignment {
  std::string source; // the argument as given, for messages
  std::string name;
  std::optional<double> time; // set for keys
  std::string value;
};

// Throw a usage ToolError when the argument is not of the form.
ParamAssignment parseSetArgument(const std::string &argument);
ParamAssignment parseKeyArgument(const std::string &argument);

// The value text as one number per dimension of param: numbers for numeric
// parameters, comma-separated components for colours and 2D/3D, an index or
// option text for choices, 0/1/true/false/yes/no/on/off for booleans.
// Throws a usage ToolError naming the parameter for a value of the wrong
// shape or type, an unknown option, or a number outside the range.
std::vector<double> parseParamValue(ofxhost::Param &param,
                                    const std::string &text);

// Applies every assignment (plain values first, then keys in the order
// given). Throws a usage ToolError for an unknown parameter, a bad value, a
// key on a parameter that does not animate, or a parameter both set and
// keyed. A parameter set twice (or keyed twice at one time) takes the last
// value, with one warning on stderr naming it.
void applyAssignments(ofxhost::Instance &instance,
                      const std::vector<ParamAssignment> &sets,
                      const std::vector<ParamAssignment> &keys);

} // namespace ofxrender
