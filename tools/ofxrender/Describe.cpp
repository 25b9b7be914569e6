#include "Describe.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <sstream>

#include "ToolError.h"

using json = nlohmann::ordered_json;
using ofxhost::PropertySet;

namespace ofxrender {
namespace {

json scalar(const PropertySet &props, const std::string &name, int index) {
  switch (props.type(name)) {
  case PropertySet::Type::Int:
    return props.getInt(name, index);
  case PropertySet::Type::Double:
    return props.getDouble(name, index);
  case PropertySet::Type::String:
    return props.getString(name, index);
  case PropertySet::Type::Pointer:
    break;
  }
  return nullptr;
}

// A property as one value (dimension 1) or an array; null when missing.
json value(const PropertySet &props, const std::string &name) {
  if (!props.has(name))
    return nullptr;
  const int dimension = props.dimension(name);
  if (dimension == 1)
    return scalar(props, name, 0);
  json list = json::array();
  for (int i = 0; i < dimension; ++i)
    list.push_back(scalar(props, name, i));
  return list;
}

// A property that is a list by nature, even with one entry.
json list(const PropertySet &props, const std::string &name) {
  json result = json::array();
  if (!props.has(name))
    return result;
  for (int i = 0; i < props.dimension(name); ++i)
    result.push_back(scalar(props, name, i));
  return result;
}

json flag(const PropertySet &props, const std::string &name, bool standard) {
  if (!props.has(name) || props.dimension(name) < 1 ||
      props.type(name) != PropertySet::Type::Int)
    return standard;
  return props.getInt(name) != 0;
}

json text(const PropertySet &props, const std::string &name,
          const std::string &standard = "") {
  if (!props.has(name) || props.dimension(name) < 1 ||
      props.type(name) != PropertySet::Type::String)
    return standard;
  return props.getString(name);
}

void putIfPresent(json &object, const char *key, const PropertySet &props,
                  const std::string &name) {
  json found = value(props, name);
  if (!found.is_null())
    object[key] = std::move(found);
}

std::string chooseContext(const PropertySet &effect) {
  const std::vector<std::string> contexts =
      effect.has(kOfxImageEffectPropSupportedContexts)
          ? effect.getStrings(kOfxImageEffectPropSupportedContexts)
          : std::vector<std::string>{};
  for (const std::string &context : contexts)
    if (context == kOfxImageEffectContextFilter)
      return context;
  if (contexts.empty())
    throw renderError("the plug-in declares no context");
  return contexts.front();
}

json describeClip(ofxhost::Descriptor &descriptor, const std::string &name) {
  PropertySet &props = descriptor.clipProps(name);
  json clip;
  clip["name"] = name;
  putIfPresent(clip, "label", props, kOfxPropLabel);
  clip["components"] = list(props, kOfxImageEffectPropSupportedComponents);
  clip["optional"] = flag(props, kOfxImageClipPropOptional, false);
  clip["isMask"] = flag(props, kOfxImageClipPropIsMask, false);
  clip["supportsTiles"] = flag(props, kOfxImageEffectPropSupportsTiles, true);
  clip["temporalClipAccess"] =
      flag(props, kOfxImageEffectPropTemporalClipAccess, false);
  return clip;
}

bool oneOf(const std::string &value, std::initializer_list<const char *> set) {
  for (const char *item : set)
    if (value == item)
      return true;
  return false;
}

// Which coordinates a double parameter's values are in, for the spatial
// types: "canonical" (pixels at full scale) or "normalised" (fractions of
// the project, the older types a plug-in converts itself); null for the
// others. The host converts a canonical parameter's default when the
// plug-in gave it normalised, so that is said too.
void putCoordinates(json &param, const PropertySet &props) {
  const std::string doubleType = text(props, kOfxParamPropDoubleType);
  if (doubleType.rfind("OfxParamDoubleTypeNormalised", 0) == 0) {
    param["coordinates"] = "normalised";
    return;
  }
  if (!oneOf(doubleType,
             {kOfxParamDoubleTypeX, kOfxParamDoubleTypeXAbsolute,
              kOfxParamDoubleTypeY, kOfxParamDoubleTypeYAbsolute,
              kOfxParamDoubleTypeXY, kOfxParamDoubleTypeXYAbsolute}))
    return;
  param["coordinates"] = "canonical";
  const bool normalisedDefault =
      text(props, kOfxParamPropDefaultCoordinateSystem) ==
      kOfxParamCoordinatesNormalised;
  param["defaultCoordinates"] = normalisedDefault ? "normalised" : "canonical";
}

std::map<std::string, std::string> pagesOfParams(ofxhost::Descriptor &d) {
  std::map<std::string, std::string> pageOf;
  for (const std::string &name : d.paramNames()) {
    if (d.paramType(name) != kOfxParamTypePage)
      continue;
    PropertySet &props = d.paramProps(name);
    if (!props.has(kOfxParamPropPageChild))
      continue;
    for (const std::string &child : props.getStrings(kOfxParamPropPageChild))
      pageOf.emplace(child, name);
  }
  return pageOf;
}

// A choice's default is an index; its option text is what users know it
// by, so it is given beside it.
void putDefaultOption(json &param) {
  if (!param.contains("options") || !param.contains("default"))
    return;
  const json &options = param["options"];
  const json &index = param["default"];
  if (!index.is_number_integer())
    return;
  const long long i = index.get<long long>();
  if (i >= 0 && static_cast<size_t>(i) < options.size())
    param["defaultOption"] = options[static_cast<size_t>(i)];
}

json describeParam(ofxhost::Descriptor &descriptor, const std::string &name,
                   const std::map<std::string, std::string> &pageOf) {
  PropertySet &props = descriptor.paramProps(name);
  json param;
  param["name"] = name;
  param["type"] = descriptor.paramType(name);
  putIfPresent(param, "label", props, kOfxPropLabel);
  putIfPresent(param, "shortLabel", props, kOfxPropShortLabel);
  putIfPresent(param, "longLabel", props, kOfxPropLongLabel);
  putIfPresent(param, "hint", props, kOfxParamPropHint);
  putIfPresent(param, "default", props, kOfxParamPropDefault);
  putIfPresent(param, "min", props, kOfxParamPropMin);
  putIfPresent(param, "max", props, kOfxParamPropMax);
  putIfPresent(param, "displayMin", props, kOfxParamPropDisplayMin);
  putIfPresent(param, "displayMax", props, kOfxParamPropDisplayMax);
  putIfPresent(param, "increment", props, kOfxParamPropIncrement);
  putIfPresent(param, "digits", props, kOfxParamPropDigits);
  putIfPresent(param, "doubleType", props, kOfxParamPropDoubleType);
  putCoordinates(param, props);
  if (props.has(kOfxParamPropChoiceOption))
    param["options"] = list(props, kOfxParamPropChoiceOption);
  putDefaultOption(param);
  param["animates"] = flag(props, kOfxParamPropAnimates, true);
  const auto page = pageOf.find(name);
  param["page"] = page == pageOf.end() ? json(nullptr) : json(page->second);
  if (props.has(kOfxParamPropPageChild))
    param["children"] = list(props, kOfxParamPropPageChild);
  const json parent = text(props, kOfxParamPropParent);
  if (!parent.get<std::string>().empty())
    param["parent"] = parent;
  return param;
}

} // namespace

json describePlugin(ofxhost::Plugin &plugin) {
  ofxhost::ActionResult result = plugin.describe();
  if (!result.ok())
    throw renderError(plugin.identifier() + ": " + result.message);
  PropertySet &effect = plugin.descriptor().props();

  json doc;
  doc["identifier"] = plugin.identifier();
  doc["version"] = {{"major", plugin.versionMajor()},
                    {"minor", plugin.versionMinor()}};
  doc["bundle"] = plugin.bundlePath();
  doc["label"] = text(effect, kOfxPropLabel);
  doc["shortLabel"] = text(effect, kOfxPropShortLabel);
  doc["longLabel"] = text(effect, kOfxPropLongLabel);
  doc["grouping"] = text(effect, kOfxImageEffectPluginPropGrouping);
  doc["description"] = text(effect, kOfxPropPluginDescription);
  doc["contexts"] = list(effect, kOfxImageEffectPropSupportedContexts);
  doc["pixelDepths"] = list(effect, kOfxImageEffectPropSupportedPixelDepths);
  doc["flags"] = {
      {"supportsTiles", flag(effect, kOfxImageEffectPropSupportsTiles, true)},
      {"supportsMultiResolution",
       flag(effect, kOfxImageEffectPropSupportsMultiResolution, true)},
      {"hostFrameThreading",
       flag(effect, kOfxImageEffectPluginPropHostFrameThreading, true)},
      {"singleInstance",
       flag(effect, kOfxImageEffectPluginPropSingleInstance, false)},
      {"temporalClipAccess",
       flag(effect, kOfxImageEffectPropTemporalClipAccess, false)},
      {"fieldRenderTwiceAlways",
       flag(effect, kOfxImageEffectPluginPropFieldRenderTwiceAlways, true)},
      {"supportsMultipleClipPARs",
       flag(effect, kOfxImageEffectPropSupportsMultipleClipPARs, false)},
      {"supportsMultipleClipDepths",
       flag(effect, kOfxImageEffectPropSupportsMultipleClipDepths, false)},
      {"renderThreadSafety",
       text(effect, kOfxImageEffectPluginRenderThreadSafety,
            kOfxImageEffectRenderInstanceSafe)},
  };

  const std::string context = chooseContext(effect);
  result = plugin.describeInContext(context);
  if (!result.ok())
    throw renderError(plugin.identifier() + ": " + result.message);
  ofxhost::Descriptor *described = plugin.contextDescriptor(context);
  if (!described)
    throw renderError(plugin.identifier() + ": no description for " + context);

  doc["context"] = context;
  doc["clips"] = json::array();
  for (const std::string &clip : described->clipNames())
    doc["clips"].push_back(describeClip(*described, clip));
  const auto pageOf = pagesOfParams(*described);
  doc["parameters"] = json::array();
  for (const std::string &param : described->paramNames())
    doc["parameters"].push_back(describeParam(*described, param, pageOf));
  return doc;
}

// ------------------------------------------------------------------ text

namespace {

// "OfxBitDepthByte" -> "Byte", for people; JSON keeps the full names.
std::string shortName(const std::string &name) {
  for (const char *prefix :
       {"OfxImageEffectContext", "OfxBitDepth", "OfxImageComponent",
        "OfxParamType", "OfxImageEffectRender", "OfxParamDoubleType"}) {
    const std::string p(prefix);
    if (name.compare(0, p.size(), p) == 0 && name.size() > p.size())
      return name.substr(p.size());
  }
  return name;
}

std::string number(const json &v) {
  if (v.is_number_integer())
    return std::to_string(v.get<long long>());
  const double d = v.get<double>();
  if (std::fabs(d) >= 1e300)
    return d < 0 ? "-inf" : "inf";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10g", d);
  return buffer;
}

std::string plain(const json &v) {
  if (v.is_string())
    return "\"" + v.get<std::string>() + "\"";
  if (v.is_boolean())
    return v.get<bool>() ? "yes" : "no";
  if (v.is_number())
    return number(v);
  if (v.is_array()) {
    std::string joined;
    for (const json &item : v)
      joined += (joined.empty() ? "" : ", ") + plain(item);
    return joined;
  }
  return "-";
}

std::string shortNames(const json &names) {
  std::string joined;
  for (const json &name : names)
    joined += (joined.empty() ? "" : ", ") + shortName(name.get<std::string>());
  return joined.empty() ? "-" : joined;
}

// Continuation lines of multi-line texts (hints) indented under the first.
std::string indented(const std::string &text) {
  std::string result;
  for (char c : text) {
    result += c;
    if (c == '\n')
      result += "                     ";
  }
  return result;
}

bool unbounded(const json &v) {
  if (v.is_array()) {
    for (const json &item : v)
      if (!unbounded(item))
        return false;
    return !v.empty();
  }
  return v.is_number_float() && std::fabs(v.get<double>()) >= 1e300;
}

// What --set takes for a spatial parameter, and in what its default
// (shown as the plug-in gave it) is.
std::string coordinatesText(const json &param) {
  if (param["coordinates"] == "normalised")
    return "normalised (fractions of the project size)";
  if (param.value("defaultCoordinates", "") == "normalised")
    return "canonical (pixels at full scale; default given normalised)";
  return "canonical (pixels at full scale)";
}

void writeParam(std::ostream &out, const json &param) {
  out << "  " << param["name"].get<std::string>() << " ("
      << shortName(param["type"].get<std::string>()) << ")";
  if (param.contains("children")) {
    out << ": " << plain(param["children"]) << "\n";
    return;
  }
  out << "\n";
  auto line = [&](const char *label, const char *key) {
    if (param.contains(key))
      out << "      " << label << indented(plain(param[key])) << "\n";
  };
  auto range = [&](const char *label, const char *low, const char *high) {
    if (param.contains(low) && param.contains(high) &&
        !(unbounded(param[low]) && unbounded(param[high])))
      out << "      " << label << plain(param[low]) << " to "
          << plain(param[high]) << "\n";
  };
  line("label:         ", "label");
  if (param.value("shortLabel", json()) != param.value("label", json()))
    line("short label:   ", "shortLabel");
  if (param.value("longLabel", json()) != param.value("label", json()))
    line("long label:    ", "longLabel");
  line("hint:          ", "hint");
  if (param.contains("defaultOption"))
    out << "      default:       " << plain(param["default"]) << " ("
        << plain(param["defaultOption"]) << ")\n";
  else
    line("default:       ", "default");
  range("range:         ", "min", "max");
  range("display range: ", "displayMin", "displayMax");
  line("increment:     ", "increment");
  line("digits:        ", "digits");
  line("double type:   ", "doubleType");
  if (param.contains("coordinates"))
    out << "      coordinates:   " << coordinatesText(param) << "\n";
  if (param.contains("options")) {
    out << "      options:\n";
    int index = 0;
    for (const json &option : param["options"])
      out << "        " << index++ << ": " << plain(option) << "\n";
  }
  line("animates:      ", "animates");
  line("page:          ", "page");
  line("parent:        ", "parent");
}

} // namespace

std::string describeAsText(const json &doc) {
  std::ostringstream out;
  out << doc["identifier"].get<std::string>() << " version "
      << doc["version"]["major"].get<unsigned>() << "."
      << doc["version"]["minor"].get<unsigned>() << "\n";
  out << "  label:        " << plain(doc["label"]) << "\n";
  if (doc["shortLabel"] != doc["label"])
    out << "  short label:  " << plain(doc["shortLabel"]) << "\n";
  if (doc["longLabel"] != doc["label"])
    out << "  long label:   " << plain(doc["longLabel"]) << "\n";
  out << "  grouping:     " << plain(doc["grouping"]) << "\n";
  out << "  description:  " << plain(doc["description"]) << "\n";
  out << "  bundle:       " << doc["bundle"].get<std::string>() << "\n";
  out << "  contexts:     " << shortNames(doc["contexts"]) << "\n";
  out << "  pixel depths: " << shortNames(doc["pixelDepths"]) << "\n";
  out << "  flags:\n";
  for (const auto &[name, value] : doc["flags"].items())
    out << "    " << name << ": "
        << (value.is_string() ? shortName(value.get<std::string>())
                              : plain(value))
        << "\n";

  out << "Clips (" << shortName(doc["context"].get<std::string>())
      << " context):\n";
  for (const json &clip : doc["clips"])
    out << "  " << clip["name"].get<std::string>() << ": "
        << shortNames(clip["components"]) << "; optional "
        << plain(clip["optional"]) << ", mask " << plain(clip["isMask"])
        << ", tiles " << plain(clip["supportsTiles"]) << ", temporal access "
        << plain(clip["temporalClipAccess"]) << "\n";

  out << "Parameters:\n";
  for (const json &param : doc["parameters"])
    writeParam(out, param);
  return out.str();
}

} // namespace ofxrender
