#include "ofxsCore.h"
#include "ofxsImageEffect.h"
#include "ofxsSuites.h"

#include <cstring>

namespace OFX {

namespace Exception {

Suite::Suite(OfxStatus status, const std::string &context)
    : status_(status), context_(context) {
  message_ = std::string("OpenFX suite call failed with ") + statusName(status);
  if (!context.empty())
    message_ += " (" + context + ")";
}

HostInadequate::HostInadequate(const std::string &what) : message_(what) {}

PropertyUnknownToHost::PropertyUnknownToHost(const std::string &property)
    : message_("property unknown to host: " + property) {}

} // namespace Exception

void throwSuiteStatusException(OfxStatus status) {
  switch (status) {
  case kOfxStatOK:
  case kOfxStatReplyYes:
  case kOfxStatReplyNo:
  case kOfxStatReplyDefault:
    return;
  default:
    throw Exception::Suite(status);
  }
}

void throwFailure(OfxStatus status, const std::string &reason) {
  throw Exception::Failure(status, reason);
}

const char *statusName(OfxStatus status) {
  switch (status) {
  case kOfxStatOK:
    return "kOfxStatOK";
  case kOfxStatFailed:
    return "kOfxStatFailed";
  case kOfxStatErrFatal:
    return "kOfxStatErrFatal";
  case kOfxStatErrUnknown:
    return "kOfxStatErrUnknown";
  case kOfxStatErrMissingHostFeature:
    return "kOfxStatErrMissingHostFeature";
  case kOfxStatErrUnsupported:
    return "kOfxStatErrUnsupported";
  case kOfxStatErrExists:
    return "kOfxStatErrExists";
  case kOfxStatErrFormat:
    return "kOfxStatErrFormat";
  case kOfxStatErrMemory:
    return "kOfxStatErrMemory";
  case kOfxStatErrBadHandle:
    return "kOfxStatErrBadHandle";
  case kOfxStatErrBadIndex:
    return "kOfxStatErrBadIndex";
  case kOfxStatErrValue:
    return "kOfxStatErrValue";
  case kOfxStatReplyYes:
    return "kOfxStatReplyYes";
  case kOfxStatReplyNo:
    return "kOfxStatReplyNo";
  case kOfxStatReplyDefault:
    return "kOfxStatReplyDefault";
  case kOfxStatUnlicensed:
    return "kOfxStatUnlicensed";
  case kOfxStatErrImageFormat:
    return "kOfxStatErrImageFormat";
  default:
    return "unknown status";
  }
}

// ---------------------------------------------------------------------------
// PropertySet

namespace {

void checkPropertyStatus(OfxStatus status, const char *name) {
  if (status == kOfxStatOK)
    return;
  if (status == kOfxStatErrUnknown)
    throw Exception::PropertyUnknownToHost(name);
  throw Exception::Suite(status, std::string("property ") + name);
}

} // namespace

void PropertySet::setString(const char *name, const std::string &value,
                            int index) const {
  checkPropertyStatus(Private::propertySuite().propSetString(
                          handle_, name, index, value.c_str()),
                      name);
}

void PropertySet::setInt(const char *name, int value, int index) const {
  checkPropertyStatus(
      Private::propertySuite().propSetInt(handle_, name, index, value), name);
}

void PropertySet::setDouble(const char *name, double value, int index) const {
  checkPropertyStatus(
      Private::propertySuite().propSetDouble(handle_, name, index, value),
      name);
}

void PropertySet::setPointer(const char *name, void *value, int index) const {
  checkPropertyStatus(
      Private::propertySuite().propSetPointer(handle_, name, index, value),
      name);
}

void PropertySet::setDoubles(const char *name,
                             const std::vector<double> &values) const {
  checkPropertyStatus(
      Private::propertySuite().propSetDoubleN(
          handle_, name, static_cast<int>(values.size()), values.data()),
      name);
}

void PropertySet::appendString(const char *name,
                               const std::string &value) const {
  // A host that has not created the property yet has an empty list; the
  // write below still fails if the host does not know the name at all.
  setString(name, value, getDimensionOr(name, 0));
}

std::string PropertySet::getString(const char *name, int index) const {
  char *value = nullptr;
  checkPropertyStatus(
      Private::propertySuite().propGetString(handle_, name, index, &value),
      name);
  return value ? std::string(value) : std::string();
}

int PropertySet::getInt(const char *name, int index) const {
  int value = 0;
  checkPropertyStatus(
      Private::propertySuite().propGetInt(handle_, name, index, &value), name);
  return value;
}

double PropertySet::getDouble(const char *name, int index) const {
  double value = 0.0;
  checkPropertyStatus(
      Private::propertySuite().propGetDouble(handle_, name, index, &value),
      name);
  return value;
}

void *PropertySet::getPointer(const char *name, int index) const {
  void *value = nullptr;
  checkPropertyStatus(
      Private::propertySuite().propGetPointer(handle_, name, index, &value),
      name);
  return value;
}

int PropertySet::getDimension(const char *name) const {
  int count = 0;
  checkPropertyStatus(
      Private::propertySuite().propGetDimension(handle_, name, &count), name);
  return count;
}

std::string PropertySet::getStringOr(const char *name,
                                     const std::string &fallback,
                                     int index) const noexcept {
  const OfxPropertySuiteV1 *suite = Private::suites().property;
  char *value = nullptr;
  if (!suite || !handle_ ||
      suite->propGetString(handle_, name, index, &value) != kOfxStatOK ||
      !value)
    return fallback;
  try {
    return std::string(value);
  } catch (...) {
    return fallback;
  }
}

int PropertySet::getIntOr(const char *name, int fallback,
                          int index) const noexcept {
  const OfxPropertySuiteV1 *suite = Private::suites().property;
  int value = 0;
  if (!suite || !handle_ ||
      suite->propGetInt(handle_, name, index, &value) != kOfxStatOK)
    return fallback;
  return value;
}

double PropertySet::getDoubleOr(const char *name, double fallback,
                                int index) const noexcept {
  const OfxPropertySuiteV1 *suite = Private::suites().property;
  double value = 0.0;
  if (!suite || !handle_ ||
      suite->propGetDouble(handle_, name, index, &value) != kOfxStatOK)
    return fallback;
  return value;
}

int PropertySet::getDimensionOr(const char *name, int fallback) const noexcept {
  const OfxPropertySuiteV1 *suite = Private::suites().property;
  int count = 0;
  if (!suite || !handle_ ||
      suite->propGetDimension(handle_, name, &count) != kOfxStatOK)
    return fallback;
  return count;
}

// ---------------------------------------------------------------------------
// Enum <-> string

namespace {

template <class E> struct Mapping {
  E value;
  const char *text;
};

template <class E, std::size_t N>
const char *toText(const Mapping<E> (&table)[N], E value,
                   const char *fallback) {
  for (const Mapping<E> &m : table)
    if (m.value == value)
      return m.text;
  return fallback;
}

template <class E, std::size_t N>
E fromText(const Mapping<E> (&table)[N], const std::string &text, E fallback) {
  for (const Mapping<E> &m : table)
    if (text == m.text)
      return m.value;
  return fallback;
}

const Mapping<BitDepthEnum> kDepths[] = {
    {eBitDepthNone, kOfxBitDepthNone},    {eBitDepthUByte, kOfxBitDepthByte},
    {eBitDepthUShort, kOfxBitDepthShort}, {eBitDepthHalf, kOfxBitDepthHalf},
    {eBitDepthFloat, kOfxBitDepthFloat},
};

const Mapping<PixelComponentEnum> kComponents[] = {
    {ePixelComponentNone, kOfxImageComponentNone},
    {ePixelComponentRGBA, kOfxImageComponentRGBA},
    {ePixelComponentRGB, kOfxImageComponentRGB},
    {ePixelComponentAlpha, kOfxImageComponentAlpha},
};

const Mapping<ContextEnum> kContexts[] = {
    {eContextGenerator, kOfxImageEffectContextGenerator},
    {eContextFilter, kOfxImageEffectContextFilter},
    {eContextTransition, kOfxImageEffectContextTransition},
    {eContextPaint, kOfxImageEffectContextPaint},
    {eContextGeneral, kOfxImageEffectContextGeneral},
    {eContextRetimer, kOfxImageEffectContextRetimer},
};

const Mapping<PreMultiplicationEnum> kPremults[] = {
    {eImageOpaque, kOfxImageOpaque},
    {eImagePreMultiplied, kOfxImagePreMultiplied},
    {eImageUnPreMultiplied, kOfxImageUnPreMultiplied},
};

const Mapping<FieldEnum> kFields[] = {
    {eFieldNone, kOfxImageFieldNone},
    {eFieldBoth, kOfxImageFieldBoth},
    {eFieldLower, kOfxImageFieldLower},
    {eFieldUpper, kOfxImageFieldUpper},
    {eFieldSingle, kOfxImageFieldSingle},
    {eFieldDoubled, kOfxImageFieldDoubled},
};

} // namespace

const char *mapBitDepthToString(BitDepthEnum depth) {
  return toText(kDepths, depth, kOfxBitDepthNone);
}

BitDepthEnum mapStringToBitDepth(const std::string &text) {
  // Any other non-empty depth is a host-specific one the plug-in cannot read.
  BitDepthEnum depth = fromText(kDepths, text, eBitDepthCustom);
  return text.empty() ? eBitDepthNone : depth;
}

const char *mapPixelComponentsToString(PixelComponentEnum components) {
  return toText(kComponents, components, kOfxImageComponentNone);
}

PixelComponentEnum mapStringToPixelComponents(const std::string &text) {
  PixelComponentEnum components =
      fromText(kComponents, text, ePixelComponentCustom);
  return text.empty() ? ePixelComponentNone : components;
}

const char *mapContextToString(ContextEnum context) {
  return toText(kContexts, context, "");
}

ContextEnum mapStringToContext(const std::string &text) {
  return fromText(kContexts, text, eContextNone);
}

const char *mapPreMultiplicationToString(PreMultiplicationEnum premult) {
  return toText(kPremults, premult, kOfxImageOpaque);
}

PreMultiplicationEnum mapStringToPreMultiplication(const std::string &text) {
  return fromText(kPremults, text, eImageOpaque);
}

const char *mapFieldToString(FieldEnum field) {
  return toText(kFields, field, kOfxImageFieldNone);
}

FieldEnum mapStringToField(const std::string &text) {
  return fromText(kFields, text, eFieldNone);
}

int componentCount(PixelComponentEnum components) {
  switch (components) {
  case ePixelComponentRGBA:
    return 4;
  case ePixelComponentRGB:
    return 3;
  case ePixelComponentAlpha:
    return 1;
  default:
    return 0;
  }
}

int bytesPerComponent(BitDepthEnum depth) {
  switch (depth) {
  case eBitDepthUByte:
    return 1;
  case eBitDepthUShort:
    return 2;
  case eBitDepthHalf:
    return 2;
  case eBitDepthFloat:
    return 4;
  default:
    return 0;
  }
}

// ---------------------------------------------------------------------------
// Suites and host description

namespace Private {

namespace {
ImageEffectHostDescription gHostDescription;
bool gHostDescribed = false;
} // namespace

HostSuites &suites() {
  static HostSuites instance;
  return instance;
}

const OfxImageEffectSuiteV1 &effectSuite() {
  if (!suites().effect)
    throw Exception::HostInadequate(kOfxImageEffectSuite);
  return *suites().effect;
}

const OfxPropertySuiteV1 &propertySuite() {
  if (!suites().property)
    throw Exception::HostInadequate(kOfxPropertySuite);
  return *suites().property;
}

const OfxParameterSuiteV1 &parameterSuite() {
  if (!suites().parameter)
    throw Exception::HostInadequate(kOfxParameterSuite);
  return *suites().parameter;
}

const OfxMessageSuiteV1 *messageSuite() noexcept {
  if (suites().message)
    return suites().message;
  OfxHost *host = suites().host;
  if (!host || !host->fetchSuite)
    return nullptr;
  return static_cast<const OfxMessageSuiteV1 *>(
      host->fetchSuite(host->host, kOfxMessageSuite, 1));
}

namespace {

template <class S> const S *fetchOne(const char *name) {
  OfxHost *host = suites().host;
  const void *suite = host && host->fetchSuite
                          ? host->fetchSuite(host->host, name, 1)
                          : nullptr;
  if (!suite)
    throw Exception::HostInadequate(std::string("host lacks ") + name +
                                    " version 1");
  return static_cast<const S *>(suite);
}

} // namespace

void fetchSuites() {
  HostSuites &s = suites();
  // Forget what an earlier load fetched: the host may have changed.
  OfxHost *host = s.host;
  s = HostSuites();
  s.host = host;
  HostSuites fetched = s;
  fetched.effect = fetchOne<OfxImageEffectSuiteV1>(kOfxImageEffectSuite);
  fetched.property = fetchOne<OfxPropertySuiteV1>(kOfxPropertySuite);
  fetched.parameter = fetchOne<OfxParameterSuiteV1>(kOfxParameterSuite);
  fetched.memory = fetchOne<OfxMemorySuiteV1>(kOfxMemorySuite);
  fetched.multiThread = fetchOne<OfxMultiThreadSuiteV1>(kOfxMultiThreadSuite);
  fetched.message = fetchOne<OfxMessageSuiteV1>(kOfxMessageSuite);
  s = fetched;
}

void readHostDescription() {
  PropertySet props(suites().host ? suites().host->host : nullptr);
  ImageEffectHostDescription d;
  d.hostName = props.getStringOr(kOfxPropName, "");
  d.hostLabel = props.getStringOr(kOfxPropLabel, d.hostName);
  d.hostIsBackground =
      props.getIntOr(kOfxImageEffectHostPropIsBackground, 0) != 0;
  d.supportsOverlays =
      props.getIntOr(kOfxImageEffectPropSupportsOverlays, 0) != 0;
  d.supportsMultiResolution =
      props.getIntOr(kOfxImageEffectPropSupportsMultiResolution, 1) != 0;
  d.supportsTiles = props.getIntOr(kOfxImageEffectPropSupportsTiles, 1) != 0;
  d.temporalClipAccess =
      props.getIntOr(kOfxImageEffectPropTemporalClipAccess, 0) != 0;
  d.supportsMultipleClipDepths =
      props.getIntOr(kOfxImageEffectPropSupportsMultipleClipDepths, 0) != 0;
  d.supportsMultipleClipPARs =
      props.getIntOr(kOfxImageEffectPropSupportsMultipleClipPARs, 0) != 0;
  d.supportsSetableFrameRate =
      props.getIntOr(kOfxImageEffectPropSetableFrameRate, 0) != 0;
  d.supportsSetableFielding =
      props.getIntOr(kOfxImageEffectPropSetableFielding, 0) != 0;
  d.maxParameters = props.getIntOr(kOfxParamHostPropMaxParameters, -1);
  d.maxPages = props.getIntOr(kOfxParamHostPropMaxPages, 0);
  for (int i = 0,
           n = props.getDimensionOr(kOfxImageEffectPropSupportedContexts, 0);
       i < n; ++i)
    d.supportedContexts.push_back(mapStringToContext(
        props.getStringOr(kOfxImageEffectPropSupportedContexts, "", i)));
  for (int i = 0,
           n = props.getDimensionOr(kOfxImageEffectPropSupportedPixelDepths, 0);
       i < n; ++i)
    d.supportedPixelDepths.push_back(mapStringToBitDepth(
        props.getStringOr(kOfxImageEffectPropSupportedPixelDepths, "", i)));
  for (int i = 0,
           n = props.getDimensionOr(kOfxImageEffectPropSupportedComponents, 0);
       i < n; ++i)
    d.supportedComponents.push_back(mapStringToPixelComponents(
        props.getStringOr(kOfxImageEffectPropSupportedComponents, "", i)));
  gHostDescription = d;
  gHostDescribed = true;
}

} // namespace Private

const ImageEffectHostDescription *getImageEffectHostDescription() {
  return Private::gHostDescribed ? &Private::gHostDescription : nullptr;
}

} // namespace OFX
