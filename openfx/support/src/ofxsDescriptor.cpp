#include "ofxsImageEffect.h"
#include "ofxsSuites.h"

namespace OFX {

namespace {

int flag(bool enabled) { return enabled ? 1 : 0; }

const char *renderSafetyName(RenderSafetyEnum safety) {
  switch (safety) {
  case eRenderUnsafe:
    return kOfxImageEffectRenderUnsafe;
  case eRenderInstanceSafe:
    return kOfxImageEffectRenderInstanceSafe;
  case eRenderFullySafe:
    return kOfxImageEffectRenderFullySafe;
  }
  return kOfxImageEffectRenderInstanceSafe;
}

} // namespace

// ---------------------------------------------------------------------------
// ClipDescriptor

ClipDescriptor::ClipDescriptor(const std::string &name,
                               OfxPropertySetHandle props)
    : name_(name), props_(props) {}

void ClipDescriptor::setLabels(const std::string &label,
                               const std::string &shortLabel,
                               const std::string &longLabel) {
  props_.setString(kOfxPropLabel, label);
  props_.setString(kOfxPropShortLabel, shortLabel);
  props_.setString(kOfxPropLongLabel, longLabel);
}

void ClipDescriptor::addSupportedComponent(PixelComponentEnum components) {
  props_.appendString(kOfxImageEffectPropSupportedComponents,
                      mapPixelComponentsToString(components));
}

void ClipDescriptor::setTemporalClipAccess(bool enabled) {
  props_.setInt(kOfxImageEffectPropTemporalClipAccess, flag(enabled));
}

void ClipDescriptor::setSupportsTiles(bool enabled) {
  props_.setInt(kOfxImageEffectPropSupportsTiles, flag(enabled));
}

void ClipDescriptor::setIsMask(bool enabled) {
  props_.setInt(kOfxImageClipPropIsMask, flag(enabled));
}

void ClipDescriptor::setOptional(bool enabled) {
  props_.setInt(kOfxImageClipPropOptional, flag(enabled));
}

void ClipDescriptor::setFieldExtraction(FieldEnum extraction) {
  props_.setString(kOfxImageClipPropFieldExtraction,
                   mapFieldToString(extraction));
}

// ---------------------------------------------------------------------------
// ImageEffectDescriptor

ImageEffectDescriptor::ImageEffectDescriptor(OfxImageEffectHandle handle)
    : handle_(handle) {
  const OfxImageEffectSuiteV1 &effect = Private::effectSuite();
  OfxPropertySetHandle props = nullptr;
  throwSuiteStatusException(effect.getPropertySet(handle, &props));
  props_ = PropertySet(props);
  // Only describe-in-context has parameters; the plain describe action may
  // legitimately have no parameter set yet.
  if (effect.getParamSet(handle, &paramSet_) != kOfxStatOK)
    paramSet_ = nullptr;
}

ImageEffectDescriptor::~ImageEffectDescriptor() = default;

void ImageEffectDescriptor::setLabels(const std::string &label,
                                      const std::string &shortLabel,
                                      const std::string &longLabel) {
  props_.setString(kOfxPropLabel, label);
  props_.setString(kOfxPropShortLabel, shortLabel);
  props_.setString(kOfxPropLongLabel, longLabel);
}

void ImageEffectDescriptor::setPluginGrouping(const std::string &grouping) {
  props_.setString(kOfxImageEffectPluginPropGrouping, grouping);
}

void ImageEffectDescriptor::setPluginDescription(
    const std::string &description) {
  props_.setString(kOfxPropPluginDescription, description);
}

void ImageEffectDescriptor::addSupportedContext(ContextEnum context) {
  props_.appendString(kOfxImageEffectPropSupportedContexts,
                      mapContextToString(context));
}

void ImageEffectDescriptor::addSupportedBitDepth(BitDepthEnum depth) {
  props_.appendString(kOfxImageEffectPropSupportedPixelDepths,
                      mapBitDepthToString(depth));
}

void ImageEffectDescriptor::setSingleInstance(bool enabled) {
  props_.setInt(kOfxImageEffectPluginPropSingleInstance, flag(enabled));
}

void ImageEffectDescriptor::setHostFrameThreading(bool enabled) {
  props_.setInt(kOfxImageEffectPluginPropHostFrameThreading, flag(enabled));
}

void ImageEffectDescriptor::setSupportsMultiResolution(bool enabled) {
  props_.setInt(kOfxImageEffectPropSupportsMultiResolution, flag(enabled));
}

void ImageEffectDescriptor::setSupportsTiles(bool enabled) {
  props_.setInt(kOfxImageEffectPropSupportsTiles, flag(enabled));
}

void ImageEffectDescriptor::setTemporalClipAccess(bool enabled) {
  props_.setInt(kOfxImageEffectPropTemporalClipAccess, flag(enabled));
}

void ImageEffectDescriptor::setRenderTwiceAlways(bool enabled) {
  props_.setInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, flag(enabled));
}

void ImageEffectDescriptor::setSupportsMultipleClipPARs(bool enabled) {
  props_.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, flag(enabled));
}

void ImageEffectDescriptor::setSupportsMultipleClipDepths(bool enabled) {
  props_.setInt(kOfxImageEffectPropSupportsMultipleClipDepths, flag(enabled));
}

void ImageEffectDescriptor::setRenderThreadSafety(RenderSafetyEnum safety) {
  props_.setString(kOfxImageEffectPluginRenderThreadSafety,
                   renderSafetyName(safety));
}

ClipDescriptor *ImageEffectDescriptor::defineClip(const std::string &name) {
  auto found = clips_.find(name);
  if (found != clips_.end())
    return found->second.get();
  OfxPropertySetHandle props = nullptr;
  throwSuiteStatusException(
      Private::effectSuite().clipDefine(handle_, name.c_str(), &props));
  auto clip = std::make_unique<ClipDescriptor>(name, props);
  ClipDescriptor *result = clip.get();
  clips_.emplace(name, std::move(clip));
  return result;
}

template <class D>
D *ImageEffectDescriptor::defineParam(const std::string &name,
                                      ParamTypeEnum type) {
  auto found = params_.find(name);
  if (found != params_.end()) {
    // The same name as another type is a plug-in bug the host would refuse.
    if (found->second->getType() != type)
      throw Exception::Suite(kOfxStatErrExists, "parameter " + name);
    return static_cast<D *>(found->second.get());
  }
  if (!paramSet_)
    throw Exception::Suite(kOfxStatErrBadHandle,
                           "no parameter set to define " + name);
  OfxPropertySetHandle props = nullptr;
  OfxStatus status = Private::parameterSuite().paramDefine(
      paramSet_, mapParamTypeToString(type), name.c_str(), &props);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "defining parameter " + name);
  auto param = std::make_unique<D>(name, props);
  D *result = param.get();
  params_.emplace(name, std::move(param));
  return result;
}

IntParamDescriptor *
ImageEffectDescriptor::defineIntParam(const std::string &name) {
  return defineParam<IntParamDescriptor>(name, eIntParam);
}

BooleanParamDescriptor *
ImageEffectDescriptor::defineBooleanParam(const std::string &name) {
  return defineParam<BooleanParamDescriptor>(name, eBooleanParam);
}

DoubleParamDescriptor *
ImageEffectDescriptor::defineDoubleParam(const std::string &name) {
  return defineParam<DoubleParamDescriptor>(name, eDoubleParam);
}

Double2DParamDescriptor *
ImageEffectDescriptor::defineDouble2DParam(const std::string &name) {
  return defineParam<Double2DParamDescriptor>(name, eDouble2DParam);
}

RGBAParamDescriptor *
ImageEffectDescriptor::defineRGBAParam(const std::string &name) {
  return defineParam<RGBAParamDescriptor>(name, eRGBAParam);
}

ChoiceParamDescriptor *
ImageEffectDescriptor::defineChoiceParam(const std::string &name) {
  return defineParam<ChoiceParamDescriptor>(name, eChoiceParam);
}

GroupParamDescriptor *
ImageEffectDescriptor::defineGroupParam(const std::string &name) {
  return defineParam<GroupParamDescriptor>(name, eGroupParam);
}

PageParamDescriptor *
ImageEffectDescriptor::definePageParam(const std::string &name) {
  return defineParam<PageParamDescriptor>(name, ePageParam);
}

} // namespace OFX
