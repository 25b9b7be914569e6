// Effect instances: their clips and parameters, and the actions the host
// sends them.
#include "Bundles.h"
#include "Effects.h"
#include "HostState.h"
#include "Properties.h"
#include "Suites.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace ofxhost {
namespace {

const char *const kClipComponentsPrefix = "OfxImageClipPropComponents_";
const char *const kClipDepthPrefix = "OfxImageClipPropDepth_";
const char *const kClipParPrefix = "OfxImageClipPropPAR_";
const char *const kClipRoIPrefix = "OfxImageClipPropRoI_";

std::vector<double> rectValues(const OfxRectD &r) {
  return {r.x1, r.y1, r.x2, r.y2};
}

OfxRectD rectFrom(const std::vector<double> &v, const OfxRectD &fallback) {
  if (v.size() != 4)
    return fallback;
  return OfxRectD{v[0], v[1], v[2], v[3]};
}

bool isEmpty(const OfxRectD &r) { return r.x2 <= r.x1 || r.y2 <= r.y1; }

OfxRectD unite(const OfxRectD &a, const OfxRectD &b) {
  if (isEmpty(a))
    return b;
  if (isEmpty(b))
    return a;
  return OfxRectD{std::min(a.x1, b.x1), std::min(a.y1, b.y1),
                  std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

double pixelAspectRatioOf(Clip &clip) {
  PropertySet &props = clip.props();
  if (!props.has(kOfxImagePropPixelAspectRatio))
    return 1.0;
  const double par = props.getDouble(kOfxImagePropPixelAspectRatio);
  return par > 0.0 ? par : 1.0;
}

// The clips' image bounds for one render under ImagePolicy::Requested,
// undone when the render returns however it ends.
class RequestedImages {
public:
  explicit RequestedImages(Instance &instance) : instance_(instance) {}
  RequestedImages(const RequestedImages &) = delete;
  RequestedImages &operator=(const RequestedImages &) = delete;
  ~RequestedImages();
  ActionResult prepare(const RenderRequest &request);

private:
  Instance &instance_;
};

RequestedImages::~RequestedImages() {
  for (const auto &clip : instance_.impl()->clips)
    clip->impl()->setRequestedBounds(std::nullopt);
}

// Asks the effect what it needs for the window, as a tiling host does
// before each render, and has each clip hand out only that.
ActionResult RequestedImages::prepare(const RenderRequest &request) {
  Instance &instance = instance_;
  Clip &output = instance.clip(kOfxImageEffectOutputClipName);
  const double outputPar = pixelAspectRatioOf(output);
  const OfxRectI &w = request.window;
  const OfxPointD &s = request.scale;
  const OfxRectD canonicalWindow{w.x1 * outputPar / s.x, w.y1 / s.y,
                                 w.x2 * outputPar / s.x, w.y2 / s.y};
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> setByPlugin;
  const ActionResult asked = instance.regionsOfInterest(
      request.time, s, canonicalWindow, rois, &setByPlugin);
  if (!asked.ok())
    return asked;

  for (const auto &clip : instance.impl()->clips) {
    OfxRectI bounds = w;
    if (!clip->impl()->isOutput()) {
      const double par = pixelAspectRatioOf(*clip);
      if (setByPlugin.count(clip->name()))
        bounds = canonicalToPixels(rois[clip->name()], s, par);
      OfxRectD rod{};
      if (clip->impl()->regionOfDefinition(request.time, rod) == kOfxStatOK)
        bounds = intersection(bounds, canonicalToPixels(rod, s, par));
    }
    clip->impl()->setRequestedBounds(bounds);
  }
  return {};
}

} // namespace

void defineRenderKind(PropertySet &inArgs) {
  inArgs.setString(kOfxImageEffectPropThumbnailRender, "false");
}

void defineGpuUnsupported(PropertySet &props) {
  for (const char *name : {"OfxImageEffectPropOpenGLRenderSupported",
                           "OfxImageEffectPropOpenCLSupported",
                           "OfxImageEffectPropOpenCLRenderSupported",
                           "OfxImageEffectPropCudaRenderSupported",
                           "OfxImageEffectPropCudaStreamSupported",
                           "OfxImageEffectPropMetalRenderSupported"})
    props.setString(name, "false");
}

void defineGpuRenderArgs(PropertySet &inArgs) {
  defineGpuUnsupported(inArgs);
  for (const char *name :
       {"OfxImageEffectPropOpenGLEnabled", "OfxImageEffectPropOpenCLEnabled",
        "OfxImageEffectPropCudaEnabled", "OfxImageEffectPropMetalEnabled"})
    inArgs.setInt(name, 0);
  for (const char *name :
       {"OfxImageEffectPropOpenCLCommandQueue", "OfxImageEffectPropOpenCLImage",
        "OfxImageEffectPropCudaStream", "OfxImageEffectPropMetalCommandQueue"})
    inArgs.setPointer(name, nullptr);
}

// ---------------------------------------------------------------- Impl

bool AbortSwitch::poll() {
  const long index = polls.fetch_add(1);
  if (predicate)
    return predicate(index);
  const long limit = after.load();
  return limit >= 0 && index >= limit;
}

Instance::Impl::Impl() : EffectImpl(true) {}

Instance::Impl::~Impl() = default;

Clip *Instance::Impl::findClip(const std::string &name) const {
  for (const auto &clip : clips)
    if (clip->name() == name)
      return clip.get();
  return nullptr;
}

OfxRectD Instance::Impl::projectRect() const {
  std::vector<double> extent =
      props.getDoubles(kOfxImageEffectPropProjectExtent);
  if (extent.size() != 2)
    return OfxRectD{0, 0, 0, 0};
  return OfxRectD{0, 0, extent[0], extent[1]};
}

OfxRectD Instance::Impl::defaultRegionOfDefinition(double time) {
  // A filter covers its source; an effect with several inputs covers them
  // all; one without inputs covers the project.
  Clip *source = findClip(kOfxImageEffectSimpleSourceClipName);
  OfxRectD rod{0, 0, 0, 0};
  bool anyInput = false;
  for (const auto &clip : clips) {
    if (clip->impl()->isOutput() || !clip->connected())
      continue;
    if (source && clip.get() != source)
      continue;
    OfxRectD clipRod{0, 0, 0, 0};
    if (clip->impl()->regionOfDefinition(time, clipRod) != kOfxStatOK)
      continue;
    rod = unite(rod, clipRod);
    anyInput = true;
  }
  return anyInput ? rod : projectRect();
}

OfxStatus Instance::Impl::call(const char *action, PropertySet *inArgs,
                               PropertySet *outArgs) {
  if (destroyed || !plugin)
    return kOfxStatErrBadHandle;
  return plugin->call(action, handle(), inArgs, outArgs);
}

ActionResult Instance::Impl::run(const char *action, PropertySet *inArgs,
                                 PropertySet *outArgs) {
  if (destroyed || !plugin)
    return actionResult(action, kOfxStatErrBadHandle);
  return plugin->run(action, handle(), inArgs, outArgs);
}

// ---------------------------------------------------------------- Instance

Instance::Instance(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Instance::~Instance() {
  if (!impl_)
    return;
  if (!impl_->destroyed && impl_->plugin) {
    impl_->call(kOfxActionDestroyInstance, nullptr, nullptr);
    impl_->destroyed = true;
  }
  if (Plugin::Impl *plugin = impl_->plugin) {
    std::lock_guard<std::recursive_mutex> lock(plugin->mutex);
    plugin->liveInstances.erase(impl_.get());
  }
}

Plugin &Instance::plugin() { return *impl_->owner; }
const std::string &Instance::context() const { return impl_->context; }
PropertySet &Instance::props() { return impl_->props; }

std::vector<std::string> Instance::clipNames() const {
  std::vector<std::string> names;
  for (const auto &clip : impl_->clips)
    names.push_back(clip->name());
  return names;
}

Clip &Instance::clip(const std::string &name) {
  Clip *clip = impl_->findClip(name);
  if (!clip)
    throw std::out_of_range("instance has no clip " + name);
  return *clip;
}

std::vector<std::string> Instance::paramNames() const {
  std::vector<std::string> names;
  for (const auto &param : impl_->params.params)
    names.push_back(param->name());
  return names;
}

Param &Instance::param(const std::string &name) {
  Param *param = impl_->params.find(name);
  if (!param)
    throw std::out_of_range("instance has no parameter " + name);
  return *param;
}

void Instance::setSource(ImagePtr image) {
  Clip &source = clip(kOfxImageEffectSimpleSourceClipName);
  source.setConnected(true);
  if (image) {
    source.setFormat(image->depth(), image->components());
    source.props().setString(kOfxImageEffectPropPreMultiplication,
                             image->premultiplication);
    source.props().setDouble(kOfxImagePropPixelAspectRatio,
                             image->pixelAspectRatio);
  }
  source.setImage(std::move(image));
  clipPreferences();
}

void Instance::setOutput(ImagePtr image) {
  clip(kOfxImageEffectOutputClipName).setImage(std::move(image));
}

ActionResult Instance::clipPreferences() {
  Clip *output = impl_->findClip(kOfxImageEffectOutputClipName);
  Clip *source = impl_->findClip(kOfxImageEffectSimpleSourceClipName);
  if (!source) {
    for (const auto &clip : impl_->clips)
      if (!clip->impl()->isOutput() && clip->connected() && !source)
        source = clip.get();
  }

  // The defaults: inputs keep their formats, the output follows the source.
  PropertySet outArgs;
  for (const auto &clip : impl_->clips) {
    Clip *model = clip.get() == output && source ? source : clip.get();
    const PropertySet &from = model->props();
    outArgs.setString(kClipComponentsPrefix + clip->name(),
                      from.getString(kOfxImageEffectPropComponents));
    outArgs.setString(kClipDepthPrefix + clip->name(),
                      from.getString(kOfxImageEffectPropPixelDepth));
    outArgs.setDouble(kClipParPrefix + clip->name(),
                      from.getDouble(kOfxImagePropPixelAspectRatio));
  }
  PropertySet &model = source ? source->props() : impl_->props;
  outArgs.setDouble(kOfxImageEffectPropFrameRate,
                    impl_->props.getDouble(kOfxImageEffectPropFrameRate));
  outArgs.setString(kOfxImageClipPropFieldOrder, kOfxImageFieldNone);
  outArgs.setString(kOfxImageEffectPropPreMultiplication,
                    source
                        ? model.getString(kOfxImageEffectPropPreMultiplication)
                        : kOfxImagePreMultiplied);
  outArgs.setInt(kOfxImageClipPropContinuousSamples, 0);
  outArgs.setInt(kOfxImageEffectFrameVarying, 0);

  const ActionResult result =
      impl_->run(kOfxImageEffectActionGetClipPreferences, nullptr, &outArgs);
  impl_->clipPreferencesCurrent.store(true);

  // Applied whatever the answer: on failure these are still the defaults,
  // and a headless host has nothing better to render with.
  for (const auto &clip : impl_->clips) {
    PropertySet &props = clip->props();
    props.setString(kOfxImageEffectPropComponents,
                    outArgs.getString(kClipComponentsPrefix + clip->name()));
    props.setString(kOfxImageEffectPropPixelDepth,
                    outArgs.getString(kClipDepthPrefix + clip->name()));
    props.setDouble(kOfxImagePropPixelAspectRatio,
                    outArgs.getDouble(kClipParPrefix + clip->name()));
  }
  if (output) {
    PropertySet &props = output->props();
    props.setString(kOfxImageEffectPropPreMultiplication,
                    outArgs.getString(kOfxImageEffectPropPreMultiplication));
    props.setDouble(kOfxImageEffectPropFrameRate,
                    outArgs.getDouble(kOfxImageEffectPropFrameRate));
    props.setString(kOfxImageClipPropFieldOrder,
                    outArgs.getString(kOfxImageClipPropFieldOrder));
    props.setInt(kOfxImageClipPropContinuousSamples,
                 outArgs.getInt(kOfxImageClipPropContinuousSamples));
  }
  impl_->props.setInt(kOfxImageEffectFrameVarying,
                      outArgs.getInt(kOfxImageEffectFrameVarying));
  return result;
}

ActionResult Instance::render(const RenderRequest &request) {
  PropertySet inArgs;
  const OfxRectI &w = request.window;
  inArgs.setDouble(kOfxPropTime, request.time);
  inArgs.setString(kOfxImageEffectPropFieldToRender, request.field);
  inArgs.setInts(kOfxImageEffectPropRenderWindow, {w.x1, w.y1, w.x2, w.y2});
  inArgs.setDoubles(kOfxImageEffectPropRenderScale,
                    {request.scale.x, request.scale.y});
  inArgs.setInt(kOfxImageEffectPropSequentialRenderStatus,
                request.sequential ? 1 : 0);
  inArgs.setInt(kOfxImageEffectPropInteractiveRenderStatus,
                request.interactive ? 1 : 0);
  inArgs.setInt(kOfxImageEffectPropRenderQualityDraft, 0);
  inArgs.setString(kOfxImageEffectPropNoSpatialAwareness, "false");
  defineRenderKind(inArgs);
  defineGpuRenderArgs(inArgs);
  RequestedImages requested(*this);
  const ImagePolicy policy =
      impl_->destroyed ? ImagePolicy::Whole
                       : request.imagePolicy.value_or(
                             impl_->owner->impl()->host->options.imagePolicy);
  if (policy == ImagePolicy::Requested) {
    const ActionResult regions = requested.prepare(request);
    if (!regions.ok())
      return regions;
  }
  impl_->currentTime.store(request.time);
  return impl_->run(kOfxImageEffectActionRender, &inArgs, nullptr);
}

namespace {

void fillSequenceArgs(PropertySet &inArgs, double first, double last,
                      OfxPointD scale) {
  inArgs.setDoubles(kOfxImageEffectPropFrameRange, {first, last});
  inArgs.setDouble(kOfxImageEffectPropFrameStep, 1.0);
  inArgs.setInt(kOfxPropIsInteractive, 0);
  inArgs.setDoubles(kOfxImageEffectPropRenderScale, {scale.x, scale.y});
  inArgs.setInt(kOfxImageEffectPropSequentialRenderStatus, 0);
  inArgs.setInt(kOfxImageEffectPropInteractiveRenderStatus, 0);
  inArgs.setInt(kOfxImageEffectPropRenderQualityDraft, 0);
  inArgs.setString(kOfxImageEffectPropNoSpatialAwareness, "false");
  defineRenderKind(inArgs);
  defineGpuRenderArgs(inArgs);
}

} // namespace

ActionResult Instance::beginSequenceRender(double first, double last,
                                           OfxPointD scale) {
  // The standard has the clip preferences settled before a sequence
  // begins; a caller that connects no source never asked for them.
  if (!impl_->clipPreferencesCurrent.load()) {
    const ActionResult preferences = clipPreferences();
    if (!preferences.ok())
      return preferences;
  }
  PropertySet inArgs;
  fillSequenceArgs(inArgs, first, last, scale);
  return impl_->run(kOfxImageEffectActionBeginSequenceRender, &inArgs, nullptr);
}

ActionResult Instance::endSequenceRender(double first, double last,
                                         OfxPointD scale) {
  PropertySet inArgs;
  fillSequenceArgs(inArgs, first, last, scale);
  return impl_->run(kOfxImageEffectActionEndSequenceRender, &inArgs, nullptr);
}

ActionResult Instance::purgeCaches() {
  return impl_->run(kOfxActionPurgeCaches, nullptr, nullptr);
}

ActionResult Instance::regionOfDefinition(double time, OfxPointD scale,
                                          OfxRectD &rod) {
  const OfxRectD fallback = impl_->defaultRegionOfDefinition(time);
  PropertySet inArgs, outArgs;
  inArgs.setDouble(kOfxPropTime, time);
  inArgs.setDoubles(kOfxImageEffectPropRenderScale, {scale.x, scale.y});
  defineRenderKind(inArgs);
  outArgs.setDoubles(kOfxImageEffectPropRegionOfDefinition,
                     rectValues(fallback));
  impl_->currentTime.store(time);
  ++impl_->rodDepth;
  const ActionResult result =
      impl_->run(kOfxImageEffectActionGetRegionOfDefinition, &inArgs, &outArgs);
  --impl_->rodDepth;
  if (result.status == kOfxStatOK)
    rod = rectFrom(outArgs.getDoubles(kOfxImageEffectPropRegionOfDefinition),
                   fallback);
  else if (result.status == kOfxStatReplyDefault)
    rod = fallback;
  return result;
}

ActionResult Instance::regionsOfInterest(double time, OfxPointD scale,
                                         const OfxRectD &roi,
                                         std::map<std::string, OfxRectD> &rois,
                                         std::set<std::string> *setByPlugin) {
  PropertySet inArgs, outArgs;
  inArgs.setDouble(kOfxPropTime, time);
  inArgs.setDoubles(kOfxImageEffectPropRenderScale, {scale.x, scale.y});
  inArgs.setDoubles(kOfxImageEffectPropRegionOfInterest, rectValues(roi));
  defineRenderKind(inArgs);
  std::vector<std::string> inputs;
  for (const auto &clip : impl_->clips) {
    if (clip->impl()->isOutput())
      continue;
    inputs.push_back(clip->name());
    // Pre-filled with the standard's default, the requested region itself.
    outArgs.setDoubles(kClipRoIPrefix + clip->name(), rectValues(roi));
  }
  impl_->currentTime.store(time);
  const ActionResult result =
      impl_->run(kOfxImageEffectActionGetRegionsOfInterest, &inArgs, &outArgs);
  const OfxStatus status = result.status;
  rois.clear();
  if (setByPlugin)
    setByPlugin->clear();
  if (!result.ok())
    return result;
  for (const std::string &name : inputs) {
    const std::string prop = kClipRoIPrefix + name;
    const bool set = status == kOfxStatOK && outArgs.impl()->setByPlugin(prop);
    rois[name] = set ? rectFrom(outArgs.getDoubles(prop), roi) : roi;
    if (set && setByPlugin)
      setByPlugin->insert(name);
  }
  return result;
}

ActionResult Instance::callAction(const std::string &action,
                                  PropertySet *inArgs, PropertySet *outArgs) {
  if (inArgs && inArgs->has(kOfxPropTime) &&
      inArgs->type(kOfxPropTime) == PropertySet::Type::Double)
    impl_->currentTime.store(inArgs->getDouble(kOfxPropTime));
  return impl_->run(action.c_str(), inArgs, outArgs);
}

Faults &Instance::faults() { return impl_->faults; }

void Instance::setAbortAfterPolls(long n) {
  impl_->abortSwitch.predicate = nullptr;
  impl_->abortSwitch.after.store(n);
  impl_->abortSwitch.polls.store(0);
}

void Instance::setAbortPredicate(std::function<bool(long poll)> predicate) {
  impl_->abortSwitch.predicate = std::move(predicate);
  impl_->abortSwitch.polls.store(0);
}

long Instance::abortPolls() const { return impl_->abortSwitch.polls.load(); }

OfxImageEffectHandle Instance::handle() { return impl_->handle(); }

} // namespace ofxhost
