// The host object: its property set, the suites it hands out and the
// bookkeeping of which host a suite call belongs to.
#include "Bundles.h"
#include "Effects.h"
#include "Handles.h"
#include "HostState.h"
#include "Properties.h"
#include "Suites.h"
#include "Threads.h"

#include <algorithm>
#include <cctype>

namespace ofxhost {
namespace {

std::mutex &liveHostsMutex() {
  static std::mutex *mutex = new std::mutex;
  return *mutex;
}

std::vector<Host::Impl *> &liveHosts() {
  static std::vector<Host::Impl *> *hosts = new std::vector<Host::Impl *>;
  return *hosts;
}

thread_local Host::Impl *currentThreadHost = nullptr;

unsigned resolveCpuCount(unsigned requested) {
  if (requested > 0)
    return requested;
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

// GPU rendering and colour management are not offered. Their properties
// are still present, saying so, because a plug-in decides from them whether
// to take those paths at all. (The names come from the GPU and colour
// extensions of the standard, whose headers this host does not use.)
void defineUnofferedFeatures(PropertySet &props) {
  defineGpuUnsupported(props);
  props.setString("OfxImageEffectPropCPURenderSupported", "true");
  props.setString("OfxImageEffectPropColourManagementStyle",
                  "OfxImageEffectColourManagementNone");
  props.setStrings("OfxImageEffectPropColourManagementAvailableConfigs", {});
}

} // namespace

Host::Impl *threadHost() { return currentThreadHost; }

Host::Impl *hostForUnnamedCall() {
  if (currentThreadHost)
    return currentThreadHost;
  std::lock_guard<std::mutex> lock(liveHostsMutex());
  return liveHosts().empty() ? nullptr : liveHosts().back();
}

HostScope::HostScope(Host::Impl *host) : previous_(currentThreadHost) {
  currentThreadHost = host;
}

HostScope::~HostScope() { currentThreadHost = previous_; }

void setThreadHost(Host::Impl *host) { currentThreadHost = host; }

// ---------------------------------------------------------------- suites

const void *fetchSuite(OfxPropertySetHandle hostHandle, const char *name,
                       int version) {
  Host::Impl *host = nullptr;
  if (isHandle(hostHandle, HandleKind::PropertySet))
    host = reinterpret_cast<PropertySet::Impl *>(hostHandle)->host;
  // A plug-in hands back the handle it was given; anything else may only
  // be trusted as far as the action running on this thread goes.
  if (!host)
    host = threadHost();
  if (!host || !name)
    return nullptr;
  const std::string suite = name;
  if (host->options.withheldSuites.count(suite))
    return nullptr;
  if (version == 1) {
    if (suite == kOfxPropertySuite)
      return propertySuite();
    if (suite == kOfxImageEffectSuite)
      return imageEffectSuite();
    if (suite == kOfxParameterSuite)
      return parameterSuite();
    if (suite == kOfxMemorySuite)
      return memorySuite();
    if (suite == kOfxMultiThreadSuite)
      return multiThreadSuite();
    if (suite == kOfxMessageSuite)
      return messageSuiteV1();
    if (suite == kOfxProgressSuite)
      return progressSuiteV1();
    if (suite == kOfxTimeLineSuite)
      return timeLineSuite();
  }
  if (version == 2 && suite == kOfxMessageSuite)
    return messageSuiteV2();
  if (version == 2 && suite == kOfxProgressSuite)
    return progressSuiteV2();
  return nullptr;
}

// ---------------------------------------------------------------- Impl

Host::Impl::Impl(HostOptions hostOptions) : options(std::move(hostOptions)) {
  options.cpuCount = resolveCpuCount(options.cpuCount);
  pool = std::make_unique<ThreadPool>(this, options.cpuCount);
  props.impl()->host = this;
  buildHostProperties();
  ofxHost.host = props.handle();
  ofxHost.fetchSuite = &ofxhost::fetchSuite;
  std::lock_guard<std::mutex> lock(liveHostsMutex());
  liveHosts().push_back(this);
}

Host::Impl::~Impl() {
  // Describe follows load: a plug-in loaded but never used is described
  // before its unload, which support libraries take for granted.
  for (const auto &bundle : bundles)
    for (const auto &plugin : bundle->plugins) {
      const Plugin::Impl &impl = *plugin->impl();
      if (impl.loadTried && impl.loadResult.ok() && !impl.describeTried)
        plugin->describe();
    }
  // Unload in reverse order of loading, then close the libraries; a
  // plug-in's unload may still call into the host.
  for (auto bundle = bundles.rbegin(); bundle != bundles.rend(); ++bundle)
    for (auto plugin = (*bundle)->plugins.rbegin();
         plugin != (*bundle)->plugins.rend(); ++plugin)
      (*plugin)->impl()->unload();
  pool.reset();
  for (auto bundle = bundles.rbegin(); bundle != bundles.rend(); ++bundle) {
    (*bundle)->plugins.clear();
    closeLibrary(**bundle);
  }
  std::lock_guard<std::mutex> lock(liveHostsMutex());
  auto &hosts = liveHosts();
  hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end());
}

void Host::Impl::buildHostProperties() {
  props.setString(kOfxPropType, kOfxTypeImageEffectHost);
  props.setString(kOfxPropName, "net.qeffects.headlesshost");
  props.setString(kOfxPropLabel, "QEffects headless host");
  // Every property the 1.5 tables list for what the host writes is here;
  // GPU rendering and colour management, which 1.5 makes optional, are
  // answered as not offered.
  props.setInts(kOfxPropAPIVersion, {1, 5});
  props.setInts(kOfxPropVersion, {1, 0, 0});
  props.setString(kOfxPropVersionLabel, "1.0.0");
  props.setInt(kOfxImageEffectHostPropIsBackground, 1);
  props.setInt(kOfxImageEffectPropSupportsOverlays, 0);
  props.setInt(kOfxImageEffectPropSupportsMultiResolution, 1);
  props.setInt(kOfxImageEffectPropSupportsTiles, 1);
  props.setInt(kOfxImageEffectPropTemporalClipAccess, 1);
  props.setStrings(kOfxImageEffectPropSupportedComponents,
                   {kOfxImageComponentRGBA, kOfxImageComponentAlpha});
  props.setStrings(kOfxImageEffectPropSupportedContexts,
                   {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral,
                    kOfxImageEffectContextGenerator});
  props.setStrings(kOfxImageEffectPropSupportedPixelDepths,
                   options.supportedDepths);
  props.setInt(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
  props.setInt(kOfxImageEffectPropSupportsMultipleClipPARs, 0);
  props.setInt(kOfxImageEffectPropSetableFrameRate, 0);
  props.setInt(kOfxImageEffectPropSetableFielding, 0);
  props.setInt(kOfxImageEffectInstancePropSequentialRender, 0);
  props.setString(kOfxImageEffectHostPropNativeOrigin,
                  kOfxHostNativeOriginBottomLeft);
  props.setInt(kOfxParamHostPropSupportsCustomInteract, 0);
  props.setInt(kOfxParamHostPropSupportsCustomAnimation, 0);
  props.setInt(kOfxParamHostPropSupportsStringAnimation, 0);
  props.setInt(kOfxParamHostPropSupportsBooleanAnimation, 1);
  props.setInt(kOfxParamHostPropSupportsChoiceAnimation, 1);
  props.setInt(kOfxParamHostPropSupportsStrChoice, 1);
  props.setInt(kOfxParamHostPropSupportsStrChoiceAnimation, 0);
  props.setInt(kOfxParamHostPropMaxParameters, -1);
  props.setInt(kOfxParamHostPropMaxPages, 16);
  props.setInts(kOfxParamHostPropPageRowColumnCount, {32, 2});
  // Parametric parameters (and their suite) are not offered either.
  props.setInt("OfxParamHostPropSupportsParametricAnimation", 0);
  props.setInt(kOfxImageEffectPropRenderQualityDraft, 0);
  // A headless process has no window system to hand over.
  props.setPointer(kOfxPropHostOSHandle, nullptr);
  defineUnofferedFeatures(props);
  for (const std::string &name : options.omittedHostProperties)
    props.remove(name);
}

Plugin *Host::Impl::findIdentifier(const std::string &id) const {
  for (const auto &bundle : bundles)
    for (const auto &plugin : bundle->plugins)
      if (plugin->impl()->listed && plugin->identifier() == id)
        return plugin.get();
  return nullptr;
}

// ---------------------------------------------------------------- Host

Host::Host(HostOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

Host::~Host() = default;

const HostOptions &Host::options() const { return impl_->options; }

void Host::setCpuCount(unsigned count) {
  impl_->options.cpuCount = resolveCpuCount(count);
  impl_->pool->resize(impl_->options.cpuCount);
}

PropertySet &Host::props() { return impl_->props; }

void Host::addSearchPath(const std::string &dir) {
  impl_->searchPaths.push_back(dir);
}

std::vector<Plugin *> Host::addBundle(const std::string &path,
                                      std::string *error) {
  return impl_->addBundle(path, Impl::BundleUse::Load, error);
}

std::vector<Plugin *> Host::openBundle(const std::string &path,
                                       std::string *error) {
  return impl_->addBundle(path, Impl::BundleUse::Open, error);
}

std::vector<Plugin *> Host::plugins() const {
  std::vector<Plugin *> listed;
  for (const auto &bundle : impl_->bundles)
    for (const auto &plugin : bundle->plugins)
      if (plugin->impl()->listed)
        listed.push_back(plugin.get());
  return listed;
}

const std::vector<BundleError> &Host::errors() const { return impl_->errors; }

namespace {

std::string lastLabel(const std::string &identifier) {
  const size_t dot = identifier.rfind('.');
  return dot == std::string::npos ? identifier : identifier.substr(dot + 1);
}

std::string lowered(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The label the probe saw, while the plug-in is not yet loaded here: a
// lookup by label must not open every binary on the path.
std::string labelForLookup(Plugin &plugin) {
  const Plugin::Impl &impl = *plugin.impl();
  if (!impl.describeTried && impl.probedDescribed)
    return impl.probedLabel;
  return plugin.describe().ok() ? plugin.label() : "";
}

} // namespace

Plugin *Host::find(const std::string &name, std::string *error) {
  const std::vector<Plugin *> all = plugins();
  // Tried in order of precision; the first rule that matches anything
  // decides, and it must match exactly one plug-in.
  const std::vector<std::function<bool(Plugin *)>> rules = {
      [&](Plugin *p) { return p->identifier() == name; },
      [&](Plugin *p) {
        return lowered(lastLabel(p->identifier())) == lowered(name);
      },
      [&](Plugin *p) { return labelForLookup(*p) == name; },
      // Typed labels vary in case as last labels do ("q_outline").
      [&](Plugin *p) { return lowered(labelForLookup(*p)) == lowered(name); },
  };
  for (const auto &rule : rules) {
    std::vector<Plugin *> matches;
    for (Plugin *plugin : all)
      if (rule(plugin))
        matches.push_back(plugin);
    if (matches.size() == 1)
      return matches.front();
    if (matches.size() > 1) {
      if (error) {
        *error = "\"" + name + "\" names several plug-ins:";
        for (Plugin *plugin : matches)
          *error += " " + plugin->identifier();
      }
      return nullptr;
    }
  }
  if (error)
    *error = "no plug-in named \"" + name + "\"";
  return nullptr;
}

void Host::setProgressListener(
    std::function<bool(const ProgressEvent &)> listener) {
  impl_->progress.set(std::move(listener));
}

std::vector<std::string> Host::messages() const {
  return impl_->messages.all();
}

OfxHost *Host::ofxHost() { return &impl_->ofxHost; }

} // namespace ofxhost
