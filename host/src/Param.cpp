// Parameters: default properties per type, values with keyframes, linear
// interpolation and clamping to the parameter's range.
#include "Handles.h"
#include "Parameters.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace ofxhost {
namespace {

struct TypeInfo {
  const char *type;
  int dimension;
  enum Kind { Integral, DoubleBased, StringBased, NoValue } kind;
};

const TypeInfo typeTable[] = {
    {kOfxParamTypeInteger, 1, TypeInfo::Integral},
    {kOfxParamTypeBoolean, 1, TypeInfo::Integral},
    {kOfxParamTypeChoice, 1, TypeInfo::Integral},
    {kOfxParamTypeInteger2D, 2, TypeInfo::Integral},
    {kOfxParamTypeInteger3D, 3, TypeInfo::Integral},
    {kOfxParamTypeDouble, 1, TypeInfo::DoubleBased},
    {kOfxParamTypeDouble2D, 2, TypeInfo::DoubleBased},
    {kOfxParamTypeDouble3D, 3, TypeInfo::DoubleBased},
    {kOfxParamTypeRGB, 3, TypeInfo::DoubleBased},
    {kOfxParamTypeRGBA, 4, TypeInfo::DoubleBased},
    {kOfxParamTypeString, 1, TypeInfo::StringBased},
    {kOfxParamTypeStrChoice, 1, TypeInfo::StringBased},
    {kOfxParamTypeCustom, 1, TypeInfo::StringBased},
    {kOfxParamTypePage, 0, TypeInfo::NoValue},
    {kOfxParamTypeGroup, 0, TypeInfo::NoValue},
    {kOfxParamTypePushButton, 0, TypeInfo::NoValue},
};

const TypeInfo *typeInfo(const std::string &type) {
  for (const TypeInfo &info : typeTable)
    if (type == info.type)
      return &info;
  return nullptr;
}

std::vector<std::string> dimensionLabels(const std::string &type) {
  if (type == kOfxParamTypeRGBA)
    return {"r", "g", "b", "a"};
  if (type == kOfxParamTypeRGB)
    return {"r", "g", "b"};
  if (type == kOfxParamTypeDouble2D || type == kOfxParamTypeInteger2D)
    return {"x", "y"};
  if (type == kOfxParamTypeDouble3D || type == kOfxParamTypeInteger3D)
    return {"x", "y", "z"};
  return {};
}

void defineNumericDefaults(PropertySet &props, const std::string &type,
                           const TypeInfo &info) {
  const int dim = info.dimension;
  if (info.kind == TypeInfo::Integral) {
    props.setInts(kOfxParamPropDefault, std::vector<int>(dim, 0));
    if (type == kOfxParamTypeChoice)
      return;
    // A switch's range is its two states.
    const bool boolean = type == kOfxParamTypeBoolean;
    const int lo = boolean ? 0 : INT_MIN;
    const int hi = boolean ? 1 : INT_MAX;
    props.setInts(kOfxParamPropMin, std::vector<int>(dim, lo));
    props.setInts(kOfxParamPropMax, std::vector<int>(dim, hi));
    props.setInts(kOfxParamPropDisplayMin, std::vector<int>(dim, lo));
    props.setInts(kOfxParamPropDisplayMax, std::vector<int>(dim, hi));
    return;
  }
  props.setDoubles(kOfxParamPropDefault, std::vector<double>(dim, 0.0));
  props.setDoubles(kOfxParamPropMin, std::vector<double>(dim, -DBL_MAX));
  props.setDoubles(kOfxParamPropMax, std::vector<double>(dim, DBL_MAX));
  props.setDoubles(kOfxParamPropDisplayMin, std::vector<double>(dim, -DBL_MAX));
  props.setDoubles(kOfxParamPropDisplayMax, std::vector<double>(dim, DBL_MAX));
  if (type == kOfxParamTypeRGB || type == kOfxParamTypeRGBA)
    return;
  props.setDouble(kOfxParamPropIncrement, 1.0);
  props.setInt(kOfxParamPropDigits, 2);
  props.setString(kOfxParamPropDoubleType, kOfxParamDoubleTypePlain);
  props.setString(kOfxParamPropDefaultCoordinateSystem,
                  kOfxParamCoordinatesCanonical);
  if (type == kOfxParamTypeDouble)
    props.setInt(kOfxParamPropShowTimeMarker, 0);
}

void defineValueDefaults(PropertySet &props, const std::string &type,
                         const TypeInfo &info) {
  // Keys interpolate linearly here, whatever a plug-in asks for.
  if (type == kOfxParamTypeInteger || type == kOfxParamTypeDouble)
    props.setString(kOfxParamInterpType, kOfxParamInterpTypeLinear);
  props.setInt(kOfxParamPropAnimates, info.kind != TypeInfo::StringBased ||
                                          type == kOfxParamTypeStrChoice);
  props.setInt(kOfxParamPropIsAnimating, 0);
  props.setInt(kOfxParamPropIsAutoKeying, 0);
  props.setInt(kOfxParamPropPersistant, 1);
  props.setInt(kOfxParamPropEvaluateOnChange, 1);
  props.setInt(kOfxParamPropPluginMayWrite, 0);
  props.setInt(kOfxParamPropCanUndo, 1);
  props.setString(kOfxParamPropCacheInvalidation,
                  kOfxParamInvalidateValueChange);
  const std::vector<std::string> labels = dimensionLabels(type);
  if (!labels.empty())
    props.setStrings(kOfxParamPropDimensionLabel, labels);
  if (type == kOfxParamTypeChoice) {
    props.setStrings(kOfxParamPropChoiceOption, {});
    props.setInts(kOfxParamPropChoiceOrder, {});
  }
  if (type == kOfxParamTypeStrChoice) {
    props.setStrings(kOfxParamPropChoiceOption, {});
    props.setStrings(kOfxParamPropChoiceEnum, {});
  }
  if (info.kind == TypeInfo::StringBased) {
    props.setString(kOfxParamPropDefault, "");
    if (type == kOfxParamTypeCustom)
      props.setPointer(kOfxParamPropCustomInterpCallbackV1, nullptr);
    if (type == kOfxParamTypeString) {
      props.setString(kOfxParamPropStringMode, kOfxParamStringIsSingleLine);
      props.setInt(kOfxParamPropStringFilePathExists, 1);
      // The standard gives string parameters the numeric range properties
      // too; they bound nothing here.
      props.setDoubles(kOfxParamPropMin, {-DBL_MAX});
      props.setDoubles(kOfxParamPropMax, {DBL_MAX});
      props.setDoubles(kOfxParamPropDisplayMin, {-DBL_MAX});
      props.setDoubles(kOfxParamPropDisplayMax, {DBL_MAX});
    }
    return;
  }
  defineNumericDefaults(props, type, info);
}

// The host draws every parameter itself; these say what a custom interact
// would get if the plug-in asked for one.
void defineInteractDefaults(PropertySet &props) {
  props.setPointer(kOfxParamPropInteractV1, nullptr);
  props.setDoubles(kOfxParamPropInteractSize, {0.0, 0.0});
  props.setDouble(kOfxParamPropInteractSizeAspect, 1.0);
  props.setDoubles(kOfxParamPropInteractMinimumSize, {10.0, 10.0});
  props.setInts(kOfxParamPropInteractPreferedSize, {10, 10});
  props.setInt(kOfxParamPropHasHostOverlayHandle, 0);
  props.setInt(kOfxParamPropUseHostOverlayHandle, 0);
}

double interpolate(double a, double b, double t) { return a + (b - a) * t; }

// The spatial double types: the project axis each dimension follows, and
// whether the value is a position (which the project's offset moves) or a
// size. The older kOfxParamDoubleTypeNormalised* types are not here: their
// values stay normalised and the plug-in converts them itself.
struct SpatialType {
  const char *doubleType;
  char axis; // 'x', 'y', or '*' for x then y
  bool position;
};

const SpatialType spatialTypes[] = {
    {kOfxParamDoubleTypeX, 'x', false},
    {kOfxParamDoubleTypeXAbsolute, 'x', true},
    {kOfxParamDoubleTypeY, 'y', false},
    {kOfxParamDoubleTypeYAbsolute, 'y', true},
    {kOfxParamDoubleTypeXY, '*', false},
    {kOfxParamDoubleTypeXYAbsolute, '*', true},
};

std::string stringOr(const PropertySet &props, const char *name) {
  if (!props.has(name) || props.type(name) != PropertySet::Type::String ||
      props.dimension(name) < 1)
    return "";
  return props.getString(name);
}

const SpatialType *normalisedSpatialDefault(const PropertySet &props) {
  if (stringOr(props, kOfxParamPropDefaultCoordinateSystem) !=
      kOfxParamCoordinatesNormalised)
    return nullptr;
  const std::string doubleType = stringOr(props, kOfxParamPropDoubleType);
  for (const SpatialType &spatial : spatialTypes)
    if (doubleType == spatial.doubleType)
      return &spatial;
  return nullptr;
}

// canonical = normalised * project size (+ project offset for a position).
std::vector<double> canonicalDefault(const PropertySet &props,
                                     std::vector<double> value,
                                     const ProjectFrame &project) {
  const SpatialType *spatial = normalisedSpatialDefault(props);
  if (!spatial)
    return value;
  for (size_t i = 0; i < value.size(); ++i) {
    const char axis = spatial->axis != '*' ? spatial->axis
                      : i == 0             ? 'x'
                      : i == 1             ? 'y'
                                           : '\0';
    if (axis == '\0')
      continue; // a third dimension has no project axis
    const double size = axis == 'x' ? project.size.x : project.size.y;
    const double offset = axis == 'x' ? project.offset.x : project.offset.y;
    value[i] = value[i] * size + (spatial->position ? offset : 0.0);
  }
  return value;
}

} // namespace

int paramDimension(const std::string &type) {
  const TypeInfo *info = typeInfo(type);
  return info ? info->dimension : 0;
}

bool defineParamDefaults(PropertySet &props, const std::string &name,
                         const std::string &type) {
  const TypeInfo *info = typeInfo(type);
  if (!info)
    return false;
  props.impl()->createOnSet = true;
  props.setString(kOfxPropType, kOfxTypeParameter);
  props.setString(kOfxPropName, name);
  props.setString(kOfxParamPropType, type);
  props.setString(kOfxPropLabel, name);
  props.setString(kOfxPropShortLabel, name);
  props.setString(kOfxPropLongLabel, name);
  props.setString(kOfxParamPropHint, "");
  props.setString(kOfxParamPropScriptName, name);
  props.setString(kOfxParamPropParent, "");
  props.setInt(kOfxParamPropSecret, 0);
  props.setInt(kOfxParamPropEnabled, 1);
  props.setPointer(kOfxParamPropDataPtr, nullptr);
  props.setStrings(kOfxPropIcon, {"", ""});
  if (type != kOfxParamTypePage && type != kOfxParamTypeGroup)
    defineInteractDefaults(props);
  if (type == kOfxParamTypePage)
    props.setStrings(kOfxParamPropPageChild, {});
  if (type == kOfxParamTypeGroup)
    props.setInt(kOfxParamPropGroupOpen, 1);
  if (info->kind != TypeInfo::NoValue)
    defineValueDefaults(props, type, *info);
  return true;
}

// ---------------------------------------------------------------- Impl

Param::Impl::Impl(ParamSetImpl *owner, std::string name, std::string type)
    : owner(owner), name(std::move(name)), type(std::move(type)),
      dimension(paramDimension(this->type)), value(dimension, 0.0) {
  registerHandle(this, HandleKind::Param);
}

Param::Impl::~Impl() { unregisterHandle(this); }

bool Param::Impl::isIntegral() const {
  const TypeInfo *info = typeInfo(type);
  return info && info->kind == TypeInfo::Integral;
}

bool Param::Impl::isDoubleBased() const {
  const TypeInfo *info = typeInfo(type);
  return info && info->kind == TypeInfo::DoubleBased;
}

bool Param::Impl::isStringBased() const {
  const TypeInfo *info = typeInfo(type);
  return info && info->kind == TypeInfo::StringBased;
}

bool Param::Impl::hasValue() const {
  const TypeInfo *info = typeInfo(type);
  return info && info->kind != TypeInfo::NoValue;
}

std::vector<double> Param::Impl::clamp(const std::vector<double> &v) const {
  std::vector<double> out(v);
  out.resize(dimension, 0.0);
  if (type == kOfxParamTypeBoolean) {
    out[0] = out[0] != 0.0 ? 1.0 : 0.0;
    return out;
  }
  if (type == kOfxParamTypeChoice) {
    const int options = props.has(kOfxParamPropChoiceOption)
                            ? props.dimension(kOfxParamPropChoiceOption)
                            : 0;
    out[0] =
        std::clamp(std::round(out[0]), 0.0, std::max(0.0, double(options - 1)));
    return out;
  }
  const bool integral = isIntegral();
  for (int i = 0; i < dimension; ++i) {
    if (std::isnan(out[i]))
      out[i] = 0.0;
    if (integral)
      out[i] = std::round(out[i]);
    // The plug-in may have stored the range with either type.
    auto bound = [&](const char *prop, double fallback) {
      if (!props.has(prop) || props.dimension(prop) <= i)
        return fallback;
      switch (props.type(prop)) {
      case PropertySet::Type::Int:
        return double(props.getInt(prop, i));
      case PropertySet::Type::Double:
        return props.getDouble(prop, i);
      default:
        return fallback; // a range of strings bounds nothing
      }
    };
    const double lo = bound(kOfxParamPropMin, -DBL_MAX);
    const double hi = bound(kOfxParamPropMax, DBL_MAX);
    if (lo <= hi)
      out[i] = std::clamp(out[i], lo, hi);
  }
  return out;
}

std::vector<double> Param::Impl::valueAtLocked(double time) const {
  if (keys.empty())
    return value;
  auto after = keys.lower_bound(time);
  if (after == keys.begin())
    return after->second;
  if (after == keys.end())
    return std::prev(after)->second;
  if (after->first == time)
    return after->second;
  auto before = std::prev(after);
  // A switch or a menu has no in-between state: it holds until the next key.
  if (type == kOfxParamTypeBoolean || type == kOfxParamTypeChoice)
    return before->second;
  const double t = (time - before->first) / (after->first - before->first);
  std::vector<double> out(dimension);
  for (int i = 0; i < dimension; ++i)
    out[i] = interpolate(before->second[i], after->second[i], t);
  if (isIntegral())
    for (double &component : out)
      component = std::round(component);
  return out;
}

std::vector<double> Param::Impl::derivativeAt(double time) const {
  std::vector<double> out(dimension, 0.0);
  if (keys.size() < 2)
    return out;
  auto after = keys.upper_bound(time);
  if (after == keys.begin() || after == keys.end())
    return out;
  auto before = std::prev(after);
  const double span = after->first - before->first;
  for (int i = 0; i < dimension; ++i)
    out[i] = (after->second[i] - before->second[i]) / span;
  return out;
}

std::vector<double> Param::Impl::integral(double t1, double t2) const {
  std::vector<double> out(dimension, 0.0);
  const double sign = t2 < t1 ? -1.0 : 1.0;
  if (t2 < t1)
    std::swap(t1, t2);
  // Between breakpoints the value is linear (or constant), so the
  // trapezoid rule is exact on every piece.
  std::vector<double> points{t1};
  for (const auto &key : keys)
    if (key.first > t1 && key.first < t2)
      points.push_back(key.first);
  points.push_back(t2);
  for (size_t p = 0; p + 1 < points.size(); ++p) {
    const std::vector<double> a = valueAtLocked(points[p]);
    const std::vector<double> b = valueAtLocked(points[p + 1]);
    const double width = points[p + 1] - points[p];
    for (int i = 0; i < dimension; ++i)
      out[i] += 0.5 * (a[i] + b[i]) * width;
  }
  for (double &component : out)
    component *= sign;
  return out;
}

void Param::Impl::resetToDefault(const ProjectFrame *project) {
  keys.clear();
  if (!props.has(kOfxParamPropDefault)) {
    value = clamp({});
    return;
  }
  if (isStringBased()) {
    if (props.type(kOfxParamPropDefault) == PropertySet::Type::String)
      stringValue = props.getString(kOfxParamPropDefault);
    return;
  }
  std::vector<double> defaults;
  if (props.type(kOfxParamPropDefault) == PropertySet::Type::Int)
    for (int v : props.getInts(kOfxParamPropDefault))
      defaults.push_back(v);
  else if (props.type(kOfxParamPropDefault) == PropertySet::Type::Double)
    defaults = props.getDoubles(kOfxParamPropDefault);
  if (project && isDoubleBased())
    defaults = canonicalDefault(props, std::move(defaults), *project);
  value = clamp(defaults);
}

// ---------------------------------------------------------------- ParamSet

ParamSetImpl::ParamSetImpl(bool isInstance) : isInstance(isInstance) {
  registerHandle(this, HandleKind::ParamSet);
}

ParamSetImpl::~ParamSetImpl() { unregisterHandle(this); }

Param *ParamSetImpl::find(const std::string &name) const {
  for (const auto &param : params)
    if (param->name() == name)
      return param.get();
  return nullptr;
}

// ---------------------------------------------------------------- Param

Param::Param(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Param::~Param() = default;

const std::string &Param::name() const { return impl_->name; }
const std::string &Param::type() const { return impl_->type; }
PropertySet &Param::props() { return impl_->props; }
int Param::dimension() const { return impl_->dimension; }

void Param::setValue(const std::vector<double> &value) {
  std::vector<double> clamped = impl_->clamp(value);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->keys.clear();
  impl_->value = std::move(clamped);
}

void Param::setKey(double time, const std::vector<double> &value) {
  std::vector<double> clamped = impl_->clamp(value);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->keys[time] = std::move(clamped);
}

std::vector<double> Param::valueAt(double time) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->valueAtLocked(time);
}

int Param::numKeys() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return static_cast<int>(impl_->keys.size());
}

void Param::setString(const std::string &value) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->stringValue = value;
}

std::string Param::stringValue() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->stringValue;
}

OfxParamHandle Param::handle() {
  return reinterpret_cast<OfxParamHandle>(impl_.get());
}

} // namespace ofxhost
