// The module's exported entry points and the action dispatcher.
//
// They live in one translation unit on purpose: every factory's main entry
// refers to Private::mainEntry, so linking any plug-in pulls this object
// file, and with it OfxGetNumberOfPlugins and OfxGetPlugin, out of the
// static library.

#include "ofxsImageEffect.h"
#include "ofxsSuites.h"

#include <cstring>
#include <new>

namespace OFX {
namespace Private {

namespace {

void setHost(OfxHost *host) { suites().host = host; }

bool isErrorStatus(OfxStatus status) {
  return status != kOfxStatOK && status != kOfxStatReplyDefault &&
         status != kOfxStatReplyYes && status != kOfxStatReplyNo;
}

struct PluginRegistry {
  PluginFactoryArray factories;
  std::vector<OfxPlugin> records;
};

PluginRegistry buildRegistry() {
  PluginRegistry registry;
  try {
    PluginFactoryArray ids;
    OFX::Plugin::getPluginIDs(ids);
    for (PluginFactory *factory : ids) {
      if (!factory)
        continue;
      registry.factories.push_back(factory);
      registry.records.push_back(OfxPlugin{
          kOfxImageEffectPluginApi, kOfxImageEffectPluginApiVersion,
          factory->getID().c_str(), factory->getMajorVersion(),
          factory->getMinorVersion(), &setHost, factory->getMainEntry()});
    }
  } catch (...) {
    // A module that cannot list its plug-ins offers none.
    return PluginRegistry();
  }
  return registry;
}

// Built on first use; function-local statics make that thread safe.
PluginRegistry &registry() {
  static PluginRegistry instance = buildRegistry();
  return instance;
}

OfxPointD readRenderScale(const PropertySet &args) {
  return OfxPointD{args.getDoubleOr(kOfxImageEffectPropRenderScale, 1.0, 0),
                   args.getDoubleOr(kOfxImageEffectPropRenderScale, 1.0, 1)};
}

OfxRectI readRectI(const PropertySet &args, const char *name) {
  return OfxRectI{args.getInt(name, 0), args.getInt(name, 1),
                  args.getInt(name, 2), args.getInt(name, 3)};
}

OfxRectD readRectD(const PropertySet &args, const char *name) {
  return OfxRectD{args.getDouble(name, 0), args.getDouble(name, 1),
                  args.getDouble(name, 2), args.getDouble(name, 3)};
}

bool readFlag(const PropertySet &args, const char *name) {
  return args.getIntOr(name, 0) != 0;
}

// Writes the regions an effect asks for into the action's outArgs, one
// "OfxImageClipPropRoI_<clip>" property per clip.
class OutArgsRoISetter : public RegionOfInterestSetter {
public:
  explicit OutArgsRoISetter(const PropertySet &outArgs) : outArgs_(outArgs) {}

  void setRegionOfInterest(const Clip &clip, const OfxRectD &roi) override {
    const std::string name = "OfxImageClipPropRoI_" + clip.name();
    outArgs_.setDoubles(name.c_str(), {roi.x1, roi.y1, roi.x2, roi.y2});
    anySet_ = true;
  }

  bool anySet() const { return anySet_; }

private:
  PropertySet outArgs_;
  bool anySet_ = false;
};

class OutArgsClipPreferencesSetter : public ClipPreferencesSetter {
public:
  explicit OutArgsClipPreferencesSetter(const PropertySet &outArgs)
      : outArgs_(outArgs) {}

  void setClipComponents(const Clip &clip,
                         PixelComponentEnum components) override {
    const std::string name = "OfxImageClipPropComponents_" + clip.name();
    outArgs_.setString(name.c_str(), mapPixelComponentsToString(components));
    anySet_ = true;
  }

  void setClipBitDepth(const Clip &clip, BitDepthEnum depth) override {
    const std::string name = "OfxImageClipPropDepth_" + clip.name();
    outArgs_.setString(name.c_str(), mapBitDepthToString(depth));
    anySet_ = true;
  }

  void setPixelAspectRatio(const Clip &clip, double par) override {
    const std::string name = "OfxImageClipPropPAR_" + clip.name();
    outArgs_.setDouble(name.c_str(), par);
    anySet_ = true;
  }

  void setOutputPremultiplication(PreMultiplicationEnum premult) override {
    outArgs_.setString(kOfxImageEffectPropPreMultiplication,
                       mapPreMultiplicationToString(premult));
    anySet_ = true;
  }

  void setOutputFrameVarying(bool varying) override {
    outArgs_.setInt(kOfxImageEffectFrameVarying, varying ? 1 : 0);
    anySet_ = true;
  }

  bool anySet() const { return anySet_; }

private:
  PropertySet outArgs_;
  bool anySet_ = false;
};

PropertySet effectProperties(OfxImageEffectHandle handle) {
  OfxPropertySetHandle props = nullptr;
  OfxStatus status = effectSuite().getPropertySet(handle, &props);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "effect property set");
  return PropertySet(props);
}

} // namespace

// Turns one action into calls on the factory or the instance. Throws on
// failure; mainEntry turns the exception into a status.
struct ActionDispatcher {
  PluginFactory &factory;
  const char *action;
  OfxImageEffectHandle handle;
  PropertySet inArgs;
  PropertySet outArgs;

  bool is(const char *name) const { return std::strcmp(action, name) == 0; }

  OfxStatus dispatch() {
    if (is(kOfxActionLoad))
      return load();
    if (is(kOfxActionUnload)) {
      factory.unload();
      return kOfxStatOK;
    }
    if (is(kOfxActionDescribe))
      return describe();
    if (is(kOfxImageEffectActionDescribeInContext))
      return describeInContext();
    if (is(kOfxActionCreateInstance))
      return createInstance();
    if (is(kOfxActionDestroyInstance))
      return destroyInstance();
    if (is(kOfxImageEffectActionRender))
      return render();
    if (is(kOfxImageEffectActionBeginSequenceRender))
      return beginSequenceRender();
    if (is(kOfxImageEffectActionEndSequenceRender))
      return endSequenceRender();
    if (is(kOfxImageEffectActionGetRegionOfDefinition))
      return regionOfDefinition();
    if (is(kOfxImageEffectActionGetRegionsOfInterest))
      return regionsOfInterest();
    if (is(kOfxImageEffectActionIsIdentity))
      return isIdentity();
    if (is(kOfxImageEffectActionGetClipPreferences))
      return clipPreferences();
    if (is(kOfxActionInstanceChanged))
      return instanceChanged();
    if (is(kOfxActionPurgeCaches))
      return purgeCaches();
    return kOfxStatReplyDefault;
  }

  OfxStatus load() {
    fetchSuites();
    readHostDescription();
    factory.load();
    return kOfxStatOK;
  }

  OfxStatus describe() {
    ImageEffectDescriptor desc(handle);
    factory.describe(desc);
    return kOfxStatOK;
  }

  OfxStatus describeInContext() {
    ContextEnum context =
        mapStringToContext(inArgs.getString(kOfxImageEffectPropContext));
    ImageEffectDescriptor desc(handle);
    factory.describeInContext(desc, context);
    return kOfxStatOK;
  }

  OfxStatus createInstance() {
    PropertySet props = effectProperties(handle);
    ContextEnum context =
        mapStringToContext(props.getStringOr(kOfxImageEffectPropContext, ""));
    std::unique_ptr<ImageEffect> effect(
        factory.createInstance(handle, context));
    if (!effect)
      return kOfxStatFailed;
    props.setPointer(kOfxPropInstanceData, effect.get());
    effect.release();
    return kOfxStatOK;
  }

  OfxStatus destroyInstance() {
    PropertySet props = effectProperties(handle);
    ImageEffect *effect =
        static_cast<ImageEffect *>(props.getPointer(kOfxPropInstanceData));
    // Clear first, so the host never holds a pointer to a deleted object.
    props.setPointer(kOfxPropInstanceData, nullptr);
    delete effect;
    return kOfxStatOK;
  }

  ImageEffect &instance() {
    void *data = effectProperties(handle).getPointer(kOfxPropInstanceData);
    if (!data)
      throw Exception::Suite(kOfxStatErrBadHandle, "no effect instance");
    return *static_cast<ImageEffect *>(data);
  }

  OfxStatus render() {
    ImageEffect &effect = instance();
    RenderArguments args;
    args.time = inArgs.getDouble(kOfxPropTime);
    args.renderScale = readRenderScale(inArgs);
    args.renderWindow = readRectI(inArgs, kOfxImageEffectPropRenderWindow);
    args.fieldToRender = mapStringToField(
        inArgs.getStringOr(kOfxImageEffectPropFieldToRender, ""));
    args.sequentialRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropSequentialRenderStatus);
    args.interactiveRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropInteractiveRenderStatus);
    args.renderQualityDraft =
        readFlag(inArgs, kOfxImageEffectPropRenderQualityDraft);
    effect.render(args);
    return kOfxStatOK;
  }

  OfxStatus beginSequenceRender() {
    ImageEffect &effect = instance();
    BeginSequenceRenderArguments args;
    args.frameRange.min =
        inArgs.getDoubleOr(kOfxImageEffectPropFrameRange, 0.0, 0);
    args.frameRange.max =
        inArgs.getDoubleOr(kOfxImageEffectPropFrameRange, 0.0, 1);
    args.frameStep = inArgs.getDoubleOr(kOfxImageEffectPropFrameStep, 1.0);
    args.isInteractive = readFlag(inArgs, kOfxPropIsInteractive);
    args.renderScale = readRenderScale(inArgs);
    args.sequentialRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropSequentialRenderStatus);
    args.interactiveRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropInteractiveRenderStatus);
    effect.beginSequenceRender(args);
    return kOfxStatOK;
  }

  OfxStatus endSequenceRender() {
    ImageEffect &effect = instance();
    EndSequenceRenderArguments args;
    args.isInteractive = readFlag(inArgs, kOfxPropIsInteractive);
    args.renderScale = readRenderScale(inArgs);
    args.sequentialRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropSequentialRenderStatus);
    args.interactiveRenderStatus =
        readFlag(inArgs, kOfxImageEffectPropInteractiveRenderStatus);
    effect.endSequenceRender(args);
    return kOfxStatOK;
  }

  OfxStatus regionOfDefinition() {
    ImageEffect &effect = instance();
    RegionOfDefinitionArguments args;
    args.time = inArgs.getDouble(kOfxPropTime);
    args.renderScale = readRenderScale(inArgs);
    OfxRectD rod{0.0, 0.0, 0.0, 0.0};
    if (!effect.getRegionOfDefinition(args, rod))
      return kOfxStatReplyDefault;
    outArgs.setDoubles(kOfxImageEffectPropRegionOfDefinition,
                       {rod.x1, rod.y1, rod.x2, rod.y2});
    return kOfxStatOK;
  }

  OfxStatus regionsOfInterest() {
    ImageEffect &effect = instance();
    RegionsOfInterestArguments args;
    args.time = inArgs.getDouble(kOfxPropTime);
    args.renderScale = readRenderScale(inArgs);
    args.regionOfInterest =
        readRectD(inArgs, kOfxImageEffectPropRegionOfInterest);
    OutArgsRoISetter setter(outArgs);
    effect.getRegionsOfInterest(args, setter);
    return setter.anySet() ? kOfxStatOK : kOfxStatReplyDefault;
  }

  OfxStatus isIdentity() {
    ImageEffect &effect = instance();
    IsIdentityArguments args;
    args.time = inArgs.getDouble(kOfxPropTime);
    args.fieldToRender = mapStringToField(
        inArgs.getStringOr(kOfxImageEffectPropFieldToRender, ""));
    args.renderWindow = readRectI(inArgs, kOfxImageEffectPropRenderWindow);
    args.renderScale = readRenderScale(inArgs);
    Clip *clip = nullptr;
    double time = args.time;
    if (!effect.isIdentity(args, clip, time) || !clip)
      return kOfxStatReplyDefault;
    outArgs.setString(kOfxPropName, clip->name());
    outArgs.setDouble(kOfxPropTime, time);
    return kOfxStatOK;
  }

  OfxStatus clipPreferences() {
    ImageEffect &effect = instance();
    OutArgsClipPreferencesSetter setter(outArgs);
    effect.getClipPreferences(setter);
    return setter.anySet() ? kOfxStatOK : kOfxStatReplyDefault;
  }

  OfxStatus instanceChanged() {
    ImageEffect &effect = instance();
    InstanceChangedArgs args;
    std::string reason =
        inArgs.getStringOr(kOfxPropChangeReason, kOfxChangeUserEdited);
    args.reason = reason == kOfxChangePluginEdited ? eChangePluginEdit
                  : reason == kOfxChangeTime       ? eChangeTime
                                                   : eChangeUserEdit;
    args.time = inArgs.getDoubleOr(kOfxPropTime, 0.0);
    args.renderScale = readRenderScale(inArgs);
    const std::string type = inArgs.getString(kOfxPropType);
    const std::string name = inArgs.getString(kOfxPropName);
    effect.changeHandled_ = true;
    if (type == kOfxTypeParameter)
      effect.changedParam(args, name);
    else if (type == kOfxTypeClip)
      effect.changedClip(args, name);
    else
      effect.changeHandled_ = false;
    return effect.changeHandled_ ? kOfxStatOK : kOfxStatReplyDefault;
  }

  OfxStatus purgeCaches() {
    ImageEffect &effect = instance();
    effect.purgeHandled_ = true;
    effect.purgeCaches();
    return effect.purgeHandled_ ? kOfxStatOK : kOfxStatReplyDefault;
  }
};

namespace {

// Copies text for the host without letting a failed allocation escape.
void keepReason(std::string &reason, const char *text) noexcept {
  try {
    reason = text;
  } catch (...) {
    reason.clear();
  }
}

// Runs the action; a failure becomes its status and, in reason, whatever
// the failure says beyond that status.
OfxStatus runAction(ActionDispatcher &dispatcher,
                    std::string &reason) noexcept {
  // Nothing may unwind into the host: every failure becomes a status.
  try {
    return dispatcher.dispatch();
  } catch (const Exception::Suite &e) {
    // A bare status says all it knows; naming it "a suite call failed"
    // would mislead about where the failure came from.
    if (!e.context().empty())
      keepReason(reason, e.what());
    // A suite call that failed with a status meaning success or a reply
    // (OK, default, yes, no) still failed: answered as it is, the host
    // would take a render that wrote nothing, or a region never worked
    // out, as done.
    return isErrorStatus(e.status()) ? e.status() : kOfxStatFailed;
  } catch (const Exception::HostInadequate &e) {
    keepReason(reason, e.what());
    return kOfxStatErrMissingHostFeature;
  } catch (const Exception::PropertyUnknownToHost &e) {
    keepReason(reason, e.what());
    return kOfxStatErrMissingHostFeature;
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (const std::exception &e) {
    keepReason(reason, e.what());
    return kOfxStatFailed;
  } catch (...) {
    return kOfxStatFailed;
  }
}

// Tells the host why an action failed: the status alone cannot say which
// clip, parameter or format was at fault.
void postError(OfxImageEffectHandle handle,
               const std::string &reason) noexcept {
  try {
    const OfxMessageSuiteV1 *suite = messageSuite();
    if (!suite || !suite->message)
      return;
    // The reason is data, never a format: a '%' in a clip's or a file's
    // name must not be read as a conversion.
    suite->message(handle, kOfxMessageError, nullptr, "%s", reason.c_str());
  } catch (...) {
    // Losing the text is better than unwinding into the host.
  }
}

} // namespace

OfxStatus mainEntry(PluginFactory &factory, const char *action,
                    const void *handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
  if (!action)
    return kOfxStatErrBadHandle;
  OfxImageEffectHandle effect =
      static_cast<OfxImageEffectHandle>(const_cast<void *>(handle));
  ActionDispatcher dispatcher{factory, action, effect, PropertySet(inArgs),
                              PropertySet(outArgs)};
  std::string reason;
  const OfxStatus status = runAction(dispatcher, reason);
  if (!reason.empty())
    postError(effect, reason);
  return status;
}

PluginFactory *findFactory(const std::string &id) {
  for (PluginFactory *factory : registry().factories)
    if (factory->getID() == id)
      return factory;
  return nullptr;
}

} // namespace Private
} // namespace OFX

extern "C" {

OfxExport int OfxGetNumberOfPlugins(void) {
  try {
    return static_cast<int>(OFX::Private::registry().records.size());
  } catch (...) {
    return 0;
  }
}

OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  try {
    std::vector<OfxPlugin> &records = OFX::Private::registry().records;
    if (nth < 0 || static_cast<std::size_t>(nth) >= records.size())
      return nullptr;
    return &records[static_cast<std::size_t>(nth)];
  } catch (...) {
    return nullptr;
  }
}

} // extern "C"
