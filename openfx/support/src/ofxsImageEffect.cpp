#include "ofxsImageEffect.h"
#include "ofxsSuites.h"

namespace OFX {

ImageEffect::ImageEffect(OfxImageEffectHandle handle) : handle_(handle) {
  const OfxImageEffectSuiteV1 &effect = Private::effectSuite();
  OfxPropertySetHandle props = nullptr;
  OfxStatus status = effect.getPropertySet(handle, &props);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "effect property set");
  props_ = PropertySet(props);
  status = effect.getParamSet(handle, &paramSet_);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "effect parameter set");
  context_ =
      mapStringToContext(props_.getStringOr(kOfxImageEffectPropContext, ""));
}

ImageEffect::~ImageEffect() = default;

Clip *ImageEffect::fetchClip(const std::string &name) {
  auto found = clips_.find(name);
  if (found != clips_.end())
    return found->second.get();
  OfxImageClipHandle clip = nullptr;
  OfxPropertySetHandle props = nullptr;
  OfxStatus status = Private::effectSuite().clipGetHandle(handle_, name.c_str(),
                                                          &clip, &props);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "clip " + name);
  auto object = std::make_unique<Clip>(*this, name, clip, props);
  Clip *result = object.get();
  clips_.emplace(name, std::move(object));
  return result;
}

template <class P>
P *ImageEffect::fetchParam(const std::string &name, ParamTypeEnum type) {
  auto found = params_.find(name);
  if (found != params_.end()) {
    if (found->second->getType() != type)
      throw Exception::Suite(kOfxStatErrValue,
                             "parameter " + name + " fetched as another type");
    return static_cast<P *>(found->second.get());
  }
  OfxParamHandle param = nullptr;
  OfxPropertySetHandle props = nullptr;
  OfxStatus status = Private::parameterSuite().paramGetHandle(
      paramSet_, name.c_str(), &param, &props);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "parameter " + name);
  // Reading a parameter through the wrong type would pass the wrong
  // varargs to the host; refuse it here. A host that does not publish the
  // type is trusted.
  std::string hostType = PropertySet(props).getStringOr(kOfxParamPropType, "");
  if (!hostType.empty() && hostType != mapParamTypeToString(type))
    throw Exception::Suite(kOfxStatErrValue,
                           "parameter " + name + " is a " + hostType);
  auto object = std::make_unique<P>(name, param, props);
  P *result = object.get();
  params_.emplace(name, std::move(object));
  return result;
}

IntParam *ImageEffect::fetchIntParam(const std::string &name) {
  return fetchParam<IntParam>(name, eIntParam);
}

BooleanParam *ImageEffect::fetchBooleanParam(const std::string &name) {
  return fetchParam<BooleanParam>(name, eBooleanParam);
}

DoubleParam *ImageEffect::fetchDoubleParam(const std::string &name) {
  return fetchParam<DoubleParam>(name, eDoubleParam);
}

Double2DParam *ImageEffect::fetchDouble2DParam(const std::string &name) {
  return fetchParam<Double2DParam>(name, eDouble2DParam);
}

RGBAParam *ImageEffect::fetchRGBAParam(const std::string &name) {
  return fetchParam<RGBAParam>(name, eRGBAParam);
}

ChoiceParam *ImageEffect::fetchChoiceParam(const std::string &name) {
  return fetchParam<ChoiceParam>(name, eChoiceParam);
}

bool ImageEffect::abort() const {
  const OfxImageEffectSuiteV1 *suite = Private::suites().effect;
  return suite && suite->abort && suite->abort(handle_) != 0;
}

void ImageEffect::beginSequenceRender(const BeginSequenceRenderArguments &) {}

void ImageEffect::endSequenceRender(const EndSequenceRenderArguments &) {}

bool ImageEffect::getRegionOfDefinition(const RegionOfDefinitionArguments &,
                                        OfxRectD &) {
  return false;
}

void ImageEffect::getRegionsOfInterest(const RegionsOfInterestArguments &,
                                       RegionOfInterestSetter &) {}

bool ImageEffect::isIdentity(const IsIdentityArguments &, Clip *&, double &) {
  return false;
}

void ImageEffect::getClipPreferences(ClipPreferencesSetter &) {}

void ImageEffect::changedParam(const InstanceChangedArgs &,
                               const std::string &) {
  changeHandled_ = false;
}

void ImageEffect::changedClip(const InstanceChangedArgs &,
                              const std::string &) {
  changeHandled_ = false;
}

void ImageEffect::purgeCaches() { purgeHandled_ = false; }

PluginFactory::~PluginFactory() = default;

} // namespace OFX
