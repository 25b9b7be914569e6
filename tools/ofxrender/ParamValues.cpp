#include "ParamValues.h"

#include <cctype>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

#include "Text.h"
#include "ToolError.h"

namespace ofxrender {
namespace {

std::string trim(const std::string &text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos)
    return "";
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::string formatNumber(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", value);
  return buffer;
}

bool parseNumber(const std::string &text, double &value) {
  const std::string trimmed = trim(text);
  if (trimmed.empty())
    return false;
  char *end = nullptr;
  errno = 0;
  value = std::strtod(trimmed.c_str(), &end);
  return *end == '\0' && errno != ERANGE && std::isfinite(value);
}

// Property values as doubles, whether the host stores them as ints or
// doubles; empty when the property is missing.
std::vector<double> numbers(ofxhost::PropertySet &props,
                            const std::string &name) {
  if (!props.has(name))
    return {};
  if (props.type(name) == ofxhost::PropertySet::Type::Int) {
    std::vector<double> result;
    for (int v : props.getInts(name))
      result.push_back(v);
    return result;
  }
  if (props.type(name) == ofxhost::PropertySet::Type::Double)
    return props.getDoubles(name);
  return {};
}

std::vector<std::string> choiceOptions(ofxhost::Param &param) {
  if (!param.props().has(kOfxParamPropChoiceOption))
    return {};
  return param.props().getStrings(kOfxParamPropChoiceOption);
}

bool isIntegerType(const std::string &type) {
  return type == kOfxParamTypeInteger || type == kOfxParamTypeInteger2D ||
         type == kOfxParamTypeInteger3D;
}

bool isNumericType(const std::string &type) {
  return isIntegerType(type) || type == kOfxParamTypeDouble ||
         type == kOfxParamTypeDouble2D || type == kOfxParamTypeDouble3D ||
         type == kOfxParamTypeRGB || type == kOfxParamTypeRGBA;
}

// "RGBA" for "OfxParamTypeRGBA".
std::string typeWord(const std::string &type) {
  const std::string prefix = "OfxParamType";
  return type.compare(0, prefix.size(), prefix) == 0
             ? type.substr(prefix.size())
             : type;
}

ToolError badValue(ofxhost::Param &param, const std::string &text,
                   const std::string &why) {
  return usageError(param.name() + ": '" + text + "' " + why);
}

std::string lowerCase(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The option text names: exactly, else ignoring case, else as the start of
// one option's words ("best" for "Best (Highest Quality)"), so pipelines
// need not quote an interface label. Ambiguous short texts name nothing.
std::optional<size_t> findOption(const std::vector<std::string> &options,
                                 const std::string &text) {
  for (size_t i = 0; i < options.size(); ++i)
    if (options[i] == text)
      return i;
  const std::string wanted = lowerCase(trim(text));
  if (wanted.empty())
    return std::nullopt;
  for (size_t i = 0; i < options.size(); ++i)
    if (lowerCase(options[i]) == wanted)
      return i;
  std::optional<size_t> found;
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string option = lowerCase(options[i]);
    const bool wordStart =
        option.compare(0, wanted.size(), wanted) == 0 &&
        (option.size() == wanted.size() ||
         !std::isalnum(static_cast<unsigned char>(option[wanted.size()])));
    if (!wordStart)
      continue;
    if (found)
      return std::nullopt;
    found = i;
  }
  return found;
}

double parseChoice(ofxhost::Param &param, const std::string &text) {
  const std::vector<std::string> options = choiceOptions(param);
  if (const std::optional<size_t> option = findOption(options, text))
    return static_cast<double>(*option);
  double index = 0;
  if (parseNumber(text, index)) {
    if (index != std::floor(index))
      throw badValue(param, text, "is not a whole option index");
    if (index < 0 || index >= static_cast<double>(options.size()))
      throw badValue(param, text,
                     "is not an option index (0 to " +
                         std::to_string(options.size() - 1) + ")");
    return index;
  }
  std::string list;
  for (const std::string &option : options)
    list += (list.empty() ? "\"" : ", \"") + option + "\"";
  throw badValue(param, text, "is not one of its options: " + list);
}

double parseBoolean(ofxhost::Param &param, const std::string &text) {
  const std::string value = trim(text);
  for (const char *yes : {"1", "true", "yes", "on"})
    if (value == yes)
      return 1;
  for (const char *no : {"0", "false", "no", "off"})
    if (value == no)
      return 0;
  throw badValue(param, text, "is not a boolean (use 1/0, true/false)");
}

void checkRange(ofxhost::Param &param, const std::string &text,
                const std::vector<double> &value) {
  const std::vector<double> minimum = numbers(param.props(), kOfxParamPropMin);
  const std::vector<double> maximum = numbers(param.props(), kOfxParamPropMax);
  for (size_t i = 0; i < value.size(); ++i) {
    const bool low = i < minimum.size() && value[i] < minimum[i];
    const bool high = i < maximum.size() && value[i] > maximum[i];
    if (!low && !high)
      continue;
    std::string where =
        value.size() > 1 ? " (component " + std::to_string(i + 1) + ")" : "";
    throw badValue(param, text,
                   "is outside the parameter's range" + where + ": " +
                       formatNumber(minimum[i]) + " to " +
                       formatNumber(maximum[i]));
  }
}

// How many components a value of param may have: "3 or 4" for a colour
// with alpha, whose alpha may be left out.
std::string componentCountText(ofxhost::Param &param) {
  const int dimension = param.dimension();
  if (param.type() == kOfxParamTypeRGBA)
    return "3 or 4";
  return std::to_string(dimension);
}

std::vector<double> parseNumeric(ofxhost::Param &param,
                                 const std::string &text) {
  std::vector<std::string> parts = splitAtCommas(text);
  const size_t dimension = static_cast<size_t>(param.dimension());
  // A colour given as R,G,B is meant opaque.
  if (param.type() == kOfxParamTypeRGBA && parts.size() == 3)
    parts.push_back("1");
  if (parts.size() != dimension)
    throw badValue(param, text,
                   "has " + std::to_string(parts.size()) + " component(s); " +
                       typeWord(param.type()) + " takes " +
                       componentCountText(param) +
                       (dimension > 1 ? " separated by commas" : ""));
  std::vector<double> value;
  for (const std::string &part : parts) {
    double number = 0;
    if (!parseNumber(part, number))
      throw badValue(param, text, "is not a number");
    if (isIntegerType(param.type()) && number != std::floor(number))
      throw badValue(param, text, "is not a whole number");
    value.push_back(number);
  }
  checkRange(param, text, value);
  return value;
}

ParamAssignment splitAssignment(const std::string &argument, const char *option,
                                const char *form) {
  const size_t equals = argument.find('=');
  if (equals == std::string::npos || equals == 0)
    throw usageError(std::string(option) + ": '" + argument +
                     "' is not of the form " + form);
  ParamAssignment assignment;
  assignment.source = argument;
  assignment.name = trim(argument.substr(0, equals));
  if (assignment.name.empty())
    throw usageError(std::string(option) + ": '" + argument +
                     "' is not of the form " + form);
  assignment.value = argument.substr(equals + 1);
  return assignment;
}

} // namespace

ParamAssignment parseSetArgument(const std::string &argument) {
  return splitAssignment(argument, "--set", "NAME=VALUE");
}

ParamAssignment parseKeyArgument(const std::string &argument) {
  const char *form = "NAME@TIME=VALUE";
  ParamAssignment assignment = splitAssignment(argument, "--key", form);
  const size_t at = assignment.name.rfind('@');
  double time = 0;
  if (at == std::string::npos || at == 0 ||
      !parseNumber(assignment.name.substr(at + 1), time))
    throw usageError("--key: '" + argument + "' is not of the form " + form);
  assignment.time = time;
  assignment.name = trim(assignment.name.substr(0, at));
  return assignment;
}

std::vector<double> parseParamValue(ofxhost::Param &param,
                                    const std::string &text) {
  const std::string &type = param.type();
  if (type == kOfxParamTypeChoice)
    return {parseChoice(param, text)};
  if (type == kOfxParamTypeBoolean)
    return {parseBoolean(param, text)};
  if (isNumericType(type))
    return parseNumeric(param, text);
  throw usageError(param.name() + ": parameters of type " + type +
                   " cannot be set from the command line");
}

namespace {

ofxhost::Param &findParam(ofxhost::Instance &instance,
                          const ParamAssignment &assignment) {
  for (const std::string &name : instance.paramNames())
    if (name == assignment.name)
      return instance.param(name);
  std::string known;
  for (const std::string &name : instance.paramNames()) {
    const std::string &type = instance.param(name).type();
    if (type == kOfxParamTypePage || type == kOfxParamTypeGroup)
      continue;
    known += (known.empty() ? "" : ", ") + name;
  }
  throw usageError("unknown parameter '" + assignment.name + "' in '" +
                   assignment.source + "'; the plug-in has: " + known);
}

bool animates(ofxhost::Param &param) {
  if (!param.props().has(kOfxParamPropAnimates))
    return true; // the standard's default
  return param.props().getInt(kOfxParamPropAnimates) != 0;
}

bool isStringType(const std::string &type) {
  return type == kOfxParamTypeString || type == kOfxParamTypeStrChoice;
}

void applyStringValue(ofxhost::Param &param, const ParamAssignment &set) {
  if (param.type() != kOfxParamTypeStrChoice) {
    param.setString(set.value);
    return;
  }
  const std::vector<std::string> options = choiceOptions(param);
  if (const std::optional<size_t> option = findOption(options, set.value)) {
    param.setString(options[*option]);
    return;
  }
  double index = 0;
  if (parseNumber(set.value, index) && index == std::floor(index) &&
      index >= 0 && index < static_cast<double>(options.size())) {
    param.setString(options[static_cast<size_t>(index)]);
    return;
  }
  throw badValue(param, set.value, "is not one of its options");
}

// The same parameter (at the same time, for keys) given twice is most
// likely a script's mistake; the last value still wins, as with any
// repeated option, but once per parameter the repeat is pointed out.
void warnAboutRepeats(const std::vector<ParamAssignment> &assignments,
                      const char *option) {
  std::map<std::pair<std::string, double>, size_t> count;
  for (const ParamAssignment &assignment : assignments)
    ++count[{assignment.name, assignment.time.value_or(0.0)}];
  std::set<std::pair<std::string, double>> warned;
  for (const ParamAssignment &assignment : assignments) {
    const std::pair<std::string, double> target{assignment.name,
                                                assignment.time.value_or(0.0)};
    if (count[target] < 2 || !warned.insert(target).second)
      continue;
    const std::string what =
        assignment.time
            ? assignment.name + " at time " + readableNumber(*assignment.time)
            : assignment.name;
    std::fprintf(stderr,
                 "ofxrender: warning: %s gives %s %zu times; the last one "
                 "is used\n",
                 option, what.c_str(), count[target]);
  }
}

} // namespace

void applyAssignments(ofxhost::Instance &instance,
                      const std::vector<ParamAssignment> &sets,
                      const std::vector<ParamAssignment> &keys) {
  warnAboutRepeats(sets, "--set");
  warnAboutRepeats(keys, "--key");
  std::set<std::string> keyed;
  for (const ParamAssignment &key : keys)
    keyed.insert(key.name);

  for (const ParamAssignment &set : sets) {
    ofxhost::Param &param = findParam(instance, set);
    if (keyed.count(set.name))
      throw usageError(set.name + ": is given both --set and --key; a "
                                  "value set without a time would be "
                                  "overridden by the keys");
    if (isStringType(param.type())) {
      applyStringValue(param, set);
      continue;
    }
    param.setValue(parseParamValue(param, set.value));
  }

  for (const ParamAssignment &key : keys) {
    ofxhost::Param &param = findParam(instance, key);
    if (isStringType(param.type()))
      throw usageError(key.name + ": text parameters take no keys; use --set");
    if (!animates(param))
      throw usageError(key.name + ": does not animate, so it takes no keys; "
                                  "use --set");
    param.setKey(*key.time, parseParamValue(param, key.value));
  }
}

} // namespace ofxrender
