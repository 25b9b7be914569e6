// One plug-in of a bundle: its load, describe and create-instance steps.
#include "Bundles.h"
#include "Effects.h"
#include "HostState.h"
#include "Messages.h"
#include "Parameters.h"
#include "Properties.h"
#include "Suites.h"

#include <exception>

namespace ofxhost {
namespace {

// The depth a fresh clip starts with: the first one both sides support.
std::string initialDepth(const Host::Impl &host, const PropertySet &effect) {
  const std::vector<std::string> &hostDepths = host.options.supportedDepths;
  std::vector<std::string> pluginDepths;
  if (effect.has(kOfxImageEffectPropSupportedPixelDepths))
    pluginDepths = effect.getStrings(kOfxImageEffectPropSupportedPixelDepths);
  for (const std::string &depth : hostDepths)
    for (const std::string &supported : pluginDepths)
      if (depth == supported)
        return depth;
  if (!pluginDepths.empty())
    return pluginDepths.front();
  return hostDepths.empty() ? kOfxBitDepthFloat : hostDepths.front();
}

std::string initialComponents(const PropertySet &clip) {
  std::vector<std::string> supported;
  if (clip.has(kOfxImageEffectPropSupportedComponents))
    supported = clip.getStrings(kOfxImageEffectPropSupportedComponents);
  if (supported.empty())
    return kOfxImageComponentRGBA;
  for (const std::string &components : supported)
    if (components == kOfxImageComponentRGBA)
      return components;
  return supported.front();
}

ProjectFrame projectOf(const HostOptions &options) {
  return ProjectFrame{options.projectSize, options.projectOffset};
}

void defineInstanceProperties(PropertySet &props, const std::string &context,
                              const ProjectFrame &project) {
  const OfxPointD &size = project.size;
  const OfxPointD &offset = project.offset;
  props.setString(kOfxPropType, kOfxTypeImageEffectInstance);
  props.setString(kOfxImageEffectPropContext, context);
  props.setPointer(kOfxPropInstanceData, nullptr);
  props.setDoubles(kOfxImageEffectPropProjectSize, {size.x, size.y});
  props.setDoubles(kOfxImageEffectPropProjectOffset, {offset.x, offset.y});
  props.setDoubles(kOfxImageEffectPropProjectExtent,
                   {offset.x + size.x, offset.y + size.y});
  props.setDouble(kOfxImageEffectPropProjectPixelAspectRatio, 1.0);
  props.setDouble(kOfxImageEffectInstancePropEffectDuration, 100.0);
  props.setInt(kOfxImageEffectInstancePropSequentialRender, 0);
  props.setDouble(kOfxImageEffectPropFrameRate, 25.0);
  props.setInt(kOfxPropIsInteractive, 0);
  props.setInt(kOfxImageEffectFrameVarying, 0);
  // GPU rendering is not offered: every instance renders on the CPU,
  // whatever its plug-in declared it could do.
  defineGpuUnsupported(props);
  props.setString("OfxImageEffectPropCPURenderSupported", "true");
}

void defineClipProperties(PropertySet &props, const std::string &depth,
                          const std::string &components) {
  props.setString(kOfxImageEffectPropPixelDepth, depth);
  props.setString(kOfxImageEffectPropComponents, components);
  props.setString(kOfxImageClipPropUnmappedPixelDepth, depth);
  props.setString(kOfxImageClipPropUnmappedComponents, components);
  props.setString(kOfxImageEffectPropPreMultiplication,
                  components == kOfxImageComponentRGBA ? kOfxImagePreMultiplied
                                                       : kOfxImageOpaque);
  props.setDouble(kOfxImagePropPixelAspectRatio, 1.0);
  props.setDouble(kOfxImageEffectPropFrameRate, 25.0);
  props.setDouble(kOfxImageEffectPropUnmappedFrameRate, 25.0);
  props.setDoubles(kOfxImageEffectPropFrameRange, {0.0, 99.0});
  props.setDoubles(kOfxImageEffectPropUnmappedFrameRange, {0.0, 99.0});
  props.setString(kOfxImageClipPropFieldOrder, kOfxImageFieldNone);
  props.setInt(kOfxImageClipPropConnected, 1);
  props.setInt(kOfxImageClipPropContinuousSamples, 0);
}

} // namespace

// ---------------------------------------------------------------- Impl

OfxStatus Plugin::Impl::call(const char *action, const void *handle,
                             PropertySet *inArgs, PropertySet *outArgs) {
  if (!record || !record->mainEntry)
    return kOfxStatErrBadHandle;
  HostScope scope(host);
  try {
    return record->mainEntry(action, handle,
                             inArgs ? inArgs->handle() : nullptr,
                             outArgs ? outArgs->handle() : nullptr);
  } catch (...) {
    // A C++ plug-in let an exception escape into C code; report it as the
    // generic failure rather than tearing the host down.
    return kOfxStatFailed;
  }
}

ActionResult Plugin::Impl::run(const char *action, const void *handle,
                               PropertySet *inArgs, PropertySet *outArgs) {
  PostedErrors posted(handle);
  OfxStatus status = kOfxStatOK;
  {
    PostedErrorsScope scope(&posted);
    status = call(action, handle, inArgs, outArgs);
  }
  return actionResult(action, status, posted.text());
}

void Plugin::Impl::unload() {
  if (unloaded || !loadTried || !loadResult.ok())
    return;
  // Instances still alive must go first: after unload the plug-in may
  // have freed what they point to.
  for (Instance::Impl *instance : liveInstances) {
    if (!instance->destroyed)
      call(kOfxActionDestroyInstance, instance->handle(), nullptr, nullptr);
    instance->destroyed = true;
    instance->plugin = nullptr;
  }
  liveInstances.clear();
  call(kOfxActionUnload, nullptr, nullptr, nullptr);
  unloaded = true;
}

// ---------------------------------------------------------------- Plugin

Plugin::Plugin(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
  impl_->descriptorImpl = std::make_shared<Descriptor::Impl>();
  impl_->descriptorImpl->plugin = impl_.get();
  impl_->descriptor = std::make_unique<Descriptor>(impl_->descriptorImpl);
}

Plugin::~Plugin() = default;

const std::string &Plugin::identifier() const { return impl_->identifier; }
unsigned Plugin::versionMajor() const { return impl_->versionMajor; }
unsigned Plugin::versionMinor() const { return impl_->versionMinor; }
const std::string &Plugin::bundlePath() const { return impl_->bundlePath; }
const std::string &Plugin::binaryPath() const { return impl_->binaryPath; }
const std::string &Plugin::apiName() const { return impl_->apiName; }
int Plugin::apiVersion() const { return impl_->apiVersion; }

ActionResult Plugin::load() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  if (impl_->loadTried)
    return impl_->loadResult;
  impl_->loadTried = true;
  if (!impl_->record) {
    // Only now is the binary opened in this process: a command touches
    // the bundles of the plug-ins it uses and no others.
    const std::string problem =
        impl_->bundle ? openLibrary(*impl_->bundle) : "no binary";
    if (!problem.empty() || !impl_->record) {
      impl_->loadResult.status = kOfxStatFailed;
      impl_->loadResult.message = problem.empty() ? "no binary" : problem;
      return impl_->loadResult;
    }
  }
  if (impl_->record->setHost) {
    HostScope scope(impl_->host);
    try {
      impl_->record->setHost(&impl_->host->ofxHost);
    } catch (...) {
      impl_->loadResult = ActionResult::failure("setHost", kOfxStatFailed);
      return impl_->loadResult;
    }
  }
  impl_->loadResult = impl_->run(kOfxActionLoad, nullptr, nullptr, nullptr);
  return impl_->loadResult;
}

ActionResult Plugin::describe() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  ActionResult loaded = load();
  if (!loaded.ok())
    return loaded;
  if (impl_->describeTried)
    return impl_->describeResult;
  impl_->describeTried = true;
  defineDescriptorIdentity(impl_->descriptorImpl->props, *this);
  impl_->describeResult = impl_->run(
      kOfxActionDescribe, impl_->descriptorImpl->handle(), nullptr, nullptr);
  return impl_->describeResult;
}

ActionResult Plugin::describeInContext(const std::string &context) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  ActionResult described = describe();
  if (!described.ok())
    return described;
  auto known = impl_->contextResults.find(context);
  if (known != impl_->contextResults.end())
    return known->second;

  // A context descriptor starts as a copy of the effect descriptor: what
  // the plug-in declared for the effect holds in every context.
  auto impl = std::make_shared<Descriptor::Impl>();
  impl->plugin = impl_.get();
  copyProperties(impl_->descriptorImpl->props, impl->props);
  impl->props.setString(kOfxImageEffectPropContext, context);

  PropertySet inArgs;
  inArgs.setString(kOfxImageEffectPropContext, context);
  ActionResult result = impl_->run(kOfxImageEffectActionDescribeInContext,
                                   impl->handle(), &inArgs, nullptr);
  impl_->contextResults[context] = result;
  if (result.ok())
    impl_->contexts[context] = std::make_unique<Descriptor>(impl);
  return result;
}

Descriptor &Plugin::descriptor() { return *impl_->descriptor; }

std::string Plugin::label() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  PropertySet &props = impl_->descriptorImpl->props;
  if (!impl_->describeTried || !props.has(kOfxPropLabel) ||
      props.type(kOfxPropLabel) != PropertySet::Type::String ||
      props.dimension(kOfxPropLabel) < 1)
    return "";
  return props.getString(kOfxPropLabel);
}

Descriptor *Plugin::contextDescriptor(const std::string &context) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  auto it = impl_->contexts.find(context);
  return it == impl_->contexts.end() ? nullptr : it->second.get();
}

std::unique_ptr<Instance> Plugin::createInstance(const std::string &context,
                                                 ActionResult *result) {
  ActionResult described = describeInContext(context);
  if (!described.ok()) {
    if (result)
      *result = described;
    return nullptr;
  }
  Descriptor::Impl &descriptor = *contextDescriptor(context)->impl();

  auto impl = std::make_unique<Instance::Impl>();
  impl->plugin = impl_.get();
  impl->owner = this;
  impl->context = context;
  copyProperties(descriptor.props, impl->props);
  const ProjectFrame project = projectOf(impl_->host->options);
  defineInstanceProperties(impl->props, context, project);
  impl->props.setPointer(kOfxImageEffectPropPluginHandle,
                         impl_->descriptorImpl->handle());
  copyProperties(descriptor.params.props, impl->params.props);

  const std::string depth = initialDepth(*impl_->host, descriptor.props);
  for (const auto &entry : descriptor.clips) {
    auto clip = std::make_unique<Clip::Impl>(impl.get(), entry.first);
    copyProperties(*entry.second, clip->props);
    defineClipProperties(clip->props, depth, initialComponents(*entry.second));
    impl->clips.push_back(std::make_unique<Clip>(std::move(clip)));
  }
  for (const auto &described : descriptor.params.params) {
    auto param = std::make_unique<Param::Impl>(&impl->params, described->name(),
                                               described->type());
    copyProperties(described->props(), param->props);
    param->props.setString(kOfxPropType, kOfxTypeParameterInstance);
    param->resetToDefault(&project);
    impl->params.params.push_back(std::make_unique<Param>(std::move(param)));
  }

  Instance::Impl *raw = impl.get();
  auto instance = std::make_unique<Instance>(std::move(impl));
  ActionResult created =
      impl_->run(kOfxActionCreateInstance, raw->handle(), nullptr, nullptr);
  if (result)
    *result = created;
  if (!created.ok()) {
    // The plug-in never took the instance on, so it must not be told to
    // destroy it.
    raw->destroyed = true;
    raw->plugin = nullptr;
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  impl_->liveInstances.insert(raw);
  return instance;
}

} // namespace ofxhost
