// Effect descriptors: what a plug-in declares in its describe actions.
#include "Effects.h"
#include "Handles.h"

#include <stdexcept>

namespace ofxhost {

EffectImpl::EffectImpl(bool isInstance)
    : isInstance(isInstance), params(isInstance) {
  params.effect = this;
  registerHandle(this, HandleKind::Effect);
}

EffectImpl::~EffectImpl() { unregisterHandle(this); }

Descriptor::Impl::Impl() : EffectImpl(false) {
  // Descriptors are filled by the plug-in, which may set any property.
  props.impl()->createOnSet = true;
  params.props.impl()->createOnSet = true;
  props.setString(kOfxPropType, kOfxTypeImageEffect);
  props.setStrings(kOfxImageEffectPropSupportedContexts, {});
  props.setStrings(kOfxImageEffectPropSupportedPixelDepths, {});
  props.setString(kOfxImageEffectPluginPropGrouping, "");
  props.setInt(kOfxImageEffectPluginPropSingleInstance, 0);
  props.setString(kOfxImageEffectPluginRenderThreadSafety,
                  kOfxImageEffectRenderInstanceSafe);
  props.setInt(kOfxImageEffectPluginPropHostFrameThreading, 1);
  props.setInt(kOfxImageEffectPropSupportsMultiResolution, 1);
  props.setInt(kOfxImageEffectPropSupportsTiles, 1);
  props.setInt(kOfxImageEffectPropTemporalClipAccess, 0);
  props.setInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, 1);
  props.setInt(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
  props.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
  props.setStrings(kOfxImageEffectPropClipPreferencesSlaveParam, {});
  props.setPointer(kOfxImageEffectPluginPropOverlayInteractV1, nullptr);
  props.setPointer(kOfxImageEffectPluginPropOverlayInteractV2, nullptr);
  props.setInt(kOfxImageEffectPluginPropObsolete, 0);
  props.setString(kOfxPropPluginDescription, "");
  props.setString(kOfxImageEffectPropNoSpatialAwareness, "false");
  props.setString("OfxImageEffectPropCPURenderSupported", "true");
  defineGpuUnsupported(props);
  props.setString("OfxImageEffectPropColourManagementStyle",
                  "OfxImageEffectColourManagementNone");
  params.props.setInt(kOfxPropParamSetNeedsSyncing, 0);
  params.props.setStrings(kOfxPluginPropParamPageOrder, {});
}

void defineDescriptorIdentity(PropertySet &props, const Plugin &plugin) {
  // Until the plug-in names itself, its identifier is the best label a
  // host can show; the version is the one its plug-in record declares.
  const std::string &id = plugin.identifier();
  props.setString(kOfxPropLabel, id);
  props.setString(kOfxPropShortLabel, id);
  props.setString(kOfxPropLongLabel, id);
  const int major = static_cast<int>(plugin.versionMajor());
  const int minor = static_cast<int>(plugin.versionMinor());
  props.setInts(kOfxPropVersion, {major, minor});
  props.setString(kOfxPropVersionLabel,
                  std::to_string(major) + "." + std::to_string(minor));
  props.setString(kOfxPluginPropFilePath, plugin.bundlePath());
}

Descriptor::Impl::~Impl() = default;

PropertySet *Descriptor::Impl::findClip(const std::string &name) const {
  for (const auto &clip : clips)
    if (clip.first == name)
      return clip.second.get();
  return nullptr;
}

PropertySet &Descriptor::Impl::defineClip(const std::string &name) {
  clips.emplace_back(name, std::make_unique<PropertySet>());
  PropertySet &props = *clips.back().second;
  props.impl()->createOnSet = true;
  props.setString(kOfxPropType, kOfxTypeClip);
  props.setString(kOfxPropName, name);
  props.setString(kOfxPropLabel, name);
  props.setString(kOfxPropShortLabel, name);
  props.setString(kOfxPropLongLabel, name);
  props.setStrings(kOfxImageEffectPropSupportedComponents, {});
  props.setInt(kOfxImageEffectPropTemporalClipAccess, 0);
  props.setInt(kOfxImageClipPropOptional, 0);
  props.setString(kOfxImageClipPropFieldExtraction, kOfxImageFieldDoubled);
  props.setInt(kOfxImageClipPropIsMask, 0);
  props.setInt(kOfxImageEffectPropSupportsTiles, 1);
  return props;
}

PropertySet &Descriptor::props() { return impl_->props; }

std::vector<std::string> Descriptor::clipNames() const {
  std::vector<std::string> names;
  for (const auto &clip : impl_->clips)
    names.push_back(clip.first);
  return names;
}

PropertySet &Descriptor::clipProps(const std::string &name) {
  PropertySet *props = impl_->findClip(name);
  if (!props)
    throw std::out_of_range("descriptor has no clip " + name);
  return *props;
}

std::vector<std::string> Descriptor::paramNames() const {
  std::vector<std::string> names;
  for (const auto &param : impl_->params.params)
    names.push_back(param->name());
  return names;
}

PropertySet &Descriptor::paramProps(const std::string &name) {
  Param *param = impl_->params.find(name);
  if (!param)
    throw std::out_of_range("descriptor has no parameter " + name);
  return param->props();
}

std::string Descriptor::paramType(const std::string &name) const {
  Param *param = impl_->params.find(name);
  if (!param)
    throw std::out_of_range("descriptor has no parameter " + name);
  return param->type();
}

} // namespace ofxhost
