#include "ofxsParam.h"
#include "ofxsSuites.h"

namespace OFX {

const char *mapParamTypeToString(ParamTypeEnum type) {
  switch (type) {
  case eStringParam:
    return kOfxParamTypeString;
  case eIntParam:
    return kOfxParamTypeInteger;
  case eInt2DParam:
    return kOfxParamTypeInteger2D;
  case eInt3DParam:
    return kOfxParamTypeInteger3D;
  case eDoubleParam:
    return kOfxParamTypeDouble;
  case eDouble2DParam:
    return kOfxParamTypeDouble2D;
  case eDouble3DParam:
    return kOfxParamTypeDouble3D;
  case eRGBParam:
    return kOfxParamTypeRGB;
  case eRGBAParam:
    return kOfxParamTypeRGBA;
  case eBooleanParam:
    return kOfxParamTypeBoolean;
  case eChoiceParam:
    return kOfxParamTypeChoice;
  case eCustomParam:
    return kOfxParamTypeCustom;
  case eGroupParam:
    return kOfxParamTypeGroup;
  case ePageParam:
    return kOfxParamTypePage;
  case ePushButtonParam:
    return kOfxParamTypePushButton;
  case eDummyParam:
    break;
  }
  return "";
}

namespace {

const char *doubleTypeName(DoubleTypeEnum type) {
  switch (type) {
  case eDoubleTypePlain:
    return kOfxParamDoubleTypePlain;
  case eDoubleTypeAngle:
    return kOfxParamDoubleTypeAngle;
  case eDoubleTypeScale:
    return kOfxParamDoubleTypeScale;
  case eDoubleTypeTime:
    return kOfxParamDoubleTypeTime;
  case eDoubleTypeAbsoluteTime:
    return kOfxParamDoubleTypeAbsoluteTime;
  case eDoubleTypeX:
    return kOfxParamDoubleTypeX;
  case eDoubleTypeXAbsolute:
    return kOfxParamDoubleTypeXAbsolute;
  case eDoubleTypeY:
    return kOfxParamDoubleTypeY;
  case eDoubleTypeYAbsolute:
    return kOfxParamDoubleTypeYAbsolute;
  case eDoubleTypeXY:
    return kOfxParamDoubleTypeXY;
  case eDoubleTypeXYAbsolute:
    return kOfxParamDoubleTypeXYAbsolute;
  }
  return kOfxParamDoubleTypePlain;
}

void checkParamStatus(OfxStatus status, const std::string &name) {
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "parameter " + name);
}

} // namespace

// ---------------------------------------------------------------------------
// Descriptors

ParamDescriptor::ParamDescriptor(const std::string &name, ParamTypeEnum type,
                                 OfxPropertySetHandle props)
    : name_(name), type_(type), props_(props) {}

ParamDescriptor::~ParamDescriptor() = default;

void ParamDescriptor::setLabel(const std::string &label) {
  props_.setString(kOfxPropLabel, label);
}

void ParamDescriptor::setLabels(const std::string &label,
                                const std::string &shortLabel,
                                const std::string &longLabel) {
  props_.setString(kOfxPropLabel, label);
  props_.setString(kOfxPropShortLabel, shortLabel);
  props_.setString(kOfxPropLongLabel, longLabel);
}

void ParamDescriptor::setHint(const std::string &hint) {
  props_.setString(kOfxParamPropHint, hint);
}

void ParamDescriptor::setScriptName(const std::string &name) {
  props_.setString(kOfxParamPropScriptName, name);
}

void ParamDescriptor::setEnabled(bool enabled) {
  props_.setInt(kOfxParamPropEnabled, enabled ? 1 : 0);
}

void ParamDescriptor::setIsSecret(bool secret) {
  props_.setInt(kOfxParamPropSecret, secret ? 1 : 0);
}

void ParamDescriptor::setParent(const ParamDescriptor &group) {
  props_.setString(kOfxParamPropParent, group.getName());
}

void ValueParamDescriptor::setAnimates(bool animates) {
  props_.setInt(kOfxParamPropAnimates, animates ? 1 : 0);
}

void ValueParamDescriptor::setEvaluateOnChange(bool evaluate) {
  props_.setInt(kOfxParamPropEvaluateOnChange, evaluate ? 1 : 0);
}

void ValueParamDescriptor::setCanUndo(bool canUndo) {
  props_.setInt(kOfxParamPropCanUndo, canUndo ? 1 : 0);
}

void ValueParamDescriptor::setIsPersistant(bool persistant) {
  props_.setInt(kOfxParamPropPersistant, persistant ? 1 : 0);
}

IntParamDescriptor::IntParamDescriptor(const std::string &name,
                                       OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eIntParam, props) {}

void IntParamDescriptor::setDefault(int value) {
  props_.setInt(kOfxParamPropDefault, value);
}

void IntParamDescriptor::setRange(int min, int max) {
  props_.setInt(kOfxParamPropMin, min);
  props_.setInt(kOfxParamPropMax, max);
}

void IntParamDescriptor::setDisplayRange(int min, int max) {
  props_.setInt(kOfxParamPropDisplayMin, min);
  props_.setInt(kOfxParamPropDisplayMax, max);
}

BooleanParamDescriptor::BooleanParamDescriptor(const std::string &name,
                                               OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eBooleanParam, props) {}

void BooleanParamDescriptor::setDefault(bool value) {
  props_.setInt(kOfxParamPropDefault, value ? 1 : 0);
}

DoubleParamDescriptor::DoubleParamDescriptor(const std::string &name,
                                             OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eDoubleParam, props) {}

void DoubleParamDescriptor::setDefault(double value) {
  props_.setDouble(kOfxParamPropDefault, value);
}

void DoubleParamDescriptor::setRange(double min, double max) {
  props_.setDouble(kOfxParamPropMin, min);
  props_.setDouble(kOfxParamPropMax, max);
}

void DoubleParamDescriptor::setDisplayRange(double min, double max) {
  props_.setDouble(kOfxParamPropDisplayMin, min);
  props_.setDouble(kOfxParamPropDisplayMax, max);
}

void DoubleParamDescriptor::setIncrement(double increment) {
  props_.setDouble(kOfxParamPropIncrement, increment);
}

void DoubleParamDescriptor::setDigits(int digits) {
  props_.setInt(kOfxParamPropDigits, digits);
}

void DoubleParamDescriptor::setDoubleType(DoubleTypeEnum type) {
  props_.setString(kOfxParamPropDoubleType, doubleTypeName(type));
}

Double2DParamDescriptor::Double2DParamDescriptor(const std::string &name,
                                                 OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eDouble2DParam, props) {}

void Double2DParamDescriptor::setDefault(double x, double y) {
  props_.setDoubles(kOfxParamPropDefault, {x, y});
}

void Double2DParamDescriptor::setRange(double minX, double minY, double maxX,
                                       double maxY) {
  props_.setDoubles(kOfxParamPropMin, {minX, minY});
  props_.setDoubles(kOfxParamPropMax, {maxX, maxY});
}

void Double2DParamDescriptor::setDisplayRange(double minX, double minY,
                                              double maxX, double maxY) {
  props_.setDoubles(kOfxParamPropDisplayMin, {minX, minY});
  props_.setDoubles(kOfxParamPropDisplayMax, {maxX, maxY});
}

void Double2DParamDescriptor::setIncrement(double increment) {
  props_.setDouble(kOfxParamPropIncrement, increment);
}

void Double2DParamDescriptor::setDigits(int digits) {
  props_.setInt(kOfxParamPropDigits, digits);
}

void Double2DParamDescriptor::setDoubleType(DoubleTypeEnum type) {
  props_.setString(kOfxParamPropDoubleType, doubleTypeName(type));
}

RGBAParamDescriptor::RGBAParamDescriptor(const std::string &name,
                                         OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eRGBAParam, props) {}

void RGBAParamDescriptor::setDefault(double r, double g, double b, double a) {
  props_.setDoubles(kOfxParamPropDefault, {r, g, b, a});
}

ChoiceParamDescriptor::ChoiceParamDescriptor(const std::string &name,
                                             OfxPropertySetHandle props)
    : ValueParamDescriptor(name, eChoiceParam, props) {}

void ChoiceParamDescriptor::setDefault(int index) {
  props_.setInt(kOfxParamPropDefault, index);
}

void ChoiceParamDescriptor::appendOption(const std::string &option,
                                         const std::string &label) {
  props_.setString(kOfxParamPropChoiceOption, option,
                   static_cast<int>(options_.size()));
  options_.push_back(option);
  if (label.empty())
    return;
  labelledLines_.push_back(option + ": " + label);
  writeHint();
}

void ChoiceParamDescriptor::setHint(const std::string &hint) {
  hint_ = hint;
  writeHint();
}

void ChoiceParamDescriptor::writeHint() {
  std::string text = hint_;
  if (!labelledLines_.empty() && !text.empty())
    text += "\n\n";
  for (std::size_t i = 0; i < labelledLines_.size(); ++i) {
    if (i > 0)
      text += "\n";
    text += labelledLines_[i];
  }
  ParamDescriptor::setHint(text);
}

GroupParamDescriptor::GroupParamDescriptor(const std::string &name,
                                           OfxPropertySetHandle props)
    : ParamDescriptor(name, eGroupParam, props) {}

void GroupParamDescriptor::setOpen(bool open) {
  props_.setInt(kOfxParamPropGroupOpen, open ? 1 : 0);
}

PageParamDescriptor::PageParamDescriptor(const std::string &name,
                                         OfxPropertySetHandle props)
    : ParamDescriptor(name, ePageParam, props) {}

void PageParamDescriptor::addChild(const ParamDescriptor &param) {
  props_.appendString(kOfxParamPropPageChild, param.getName());
}

// ---------------------------------------------------------------------------
// Instances. The parameter suite passes values through varargs: pointers of
// the parameter's native type, one per dimension.

Param::Param(const std::string &name, ParamTypeEnum type, OfxParamHandle handle,
             OfxPropertySetHandle props)
    : name_(name), type_(type), handle_(handle), props_(props) {}

Param::~Param() = default;

IntParam::IntParam(const std::string &name, OfxParamHandle handle,
                   OfxPropertySetHandle props)
    : Param(name, eIntParam, handle, props) {}

void IntParam::getValue(int &value) const {
  checkParamStatus(Private::parameterSuite().paramGetValue(handle_, &value),
                   name_);
}

int IntParam::getValue() const {
  int value = 0;
  getValue(value);
  return value;
}

void IntParam::getValueAtTime(double t, int &value) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &value), name_);
}

int IntParam::getValueAtTime(double t) const {
  int value = 0;
  getValueAtTime(t, value);
  return value;
}

BooleanParam::BooleanParam(const std::string &name, OfxParamHandle handle,
                           OfxPropertySetHandle props)
    : Param(name, eBooleanParam, handle, props) {}

void BooleanParam::getValue(bool &value) const {
  int raw = 0;
  checkParamStatus(Private::parameterSuite().paramGetValue(handle_, &raw),
                   name_);
  value = raw != 0;
}

bool BooleanParam::getValue() const {
  bool value = false;
  getValue(value);
  return value;
}

void BooleanParam::getValueAtTime(double t, bool &value) const {
  int raw = 0;
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &raw), name_);
  value = raw != 0;
}

bool BooleanParam::getValueAtTime(double t) const {
  bool value = false;
  getValueAtTime(t, value);
  return value;
}

ChoiceParam::ChoiceParam(const std::string &name, OfxParamHandle handle,
                         OfxPropertySetHandle props)
    : Param(name, eChoiceParam, handle, props) {}

void ChoiceParam::getValue(int &value) const {
  checkParamStatus(Private::parameterSuite().paramGetValue(handle_, &value),
                   name_);
}

int ChoiceParam::getValue() const {
  int value = 0;
  getValue(value);
  return value;
}

void ChoiceParam::getValueAtTime(double t, int &value) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &value), name_);
}

int ChoiceParam::getValueAtTime(double t) const {
  int value = 0;
  getValueAtTime(t, value);
  return value;
}

int ChoiceParam::getNOptions() const {
  return props_.getDimension(kOfxParamPropChoiceOption);
}

DoubleParam::DoubleParam(const std::string &name, OfxParamHandle handle,
                         OfxPropertySetHandle props)
    : Param(name, eDoubleParam, handle, props) {}

void DoubleParam::getValue(double &value) const {
  checkParamStatus(Private::parameterSuite().paramGetValue(handle_, &value),
                   name_);
}

double DoubleParam::getValue() const {
  double value = 0.0;
  getValue(value);
  return value;
}

void DoubleParam::getValueAtTime(double t, double &value) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &value), name_);
}

double DoubleParam::getValueAtTime(double t) const {
  double value = 0.0;
  getValueAtTime(t, value);
  return value;
}

Double2DParam::Double2DParam(const std::string &name, OfxParamHandle handle,
                             OfxPropertySetHandle props)
    : Param(name, eDouble2DParam, handle, props) {}

void Double2DParam::getValue(double &x, double &y) const {
  checkParamStatus(Private::parameterSuite().paramGetValue(handle_, &x, &y),
                   name_);
}

OfxPointD Double2DParam::getValue() const {
  OfxPointD p{0.0, 0.0};
  getValue(p.x, p.y);
  return p;
}

void Double2DParam::getValueAtTime(double t, double &x, double &y) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &x, &y), name_);
}

OfxPointD Double2DParam::getValueAtTime(double t) const {
  OfxPointD p{0.0, 0.0};
  getValueAtTime(t, p.x, p.y);
  return p;
}

RGBAParam::RGBAParam(const std::string &name, OfxParamHandle handle,
                     OfxPropertySetHandle props)
    : Param(name, eRGBAParam, handle, props) {}

void RGBAParam::getValue(double &r, double &g, double &b, double &a) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValue(handle_, &r, &g, &b, &a), name_);
}

OfxRGBAColourD RGBAParam::getValue() const {
  OfxRGBAColourD c{0.0, 0.0, 0.0, 0.0};
  getValue(c.r, c.g, c.b, c.a);
  return c;
}

void RGBAParam::getValueAtTime(double t, double &r, double &g, double &b,
                               double &a) const {
  checkParamStatus(
      Private::parameterSuite().paramGetValueAtTime(handle_, t, &r, &g, &b, &a),
      name_);
}

OfxRGBAColourD RGBAParam::getValueAtTime(double t) const {
  OfxRGBAColourD c{0.0, 0.0, 0.0, 0.0};
  getValueAtTime(t, c.r, c.g, c.b, c.a);
  return c;
}

} // namespace OFX
