// The state of one host, and which host a call on this thread belongs to.
// Internal to the host library.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Bundles.h"
#include "Messages.h"
#include "Properties.h"
#include "Threads.h"
#include "ofxhost/Host.h"

namespace ofxhost {

// Where a host's progress reports go.
class ProgressListener {
public:
  void set(std::function<bool(const ProgressEvent &)> listener);
  // What the listener answers: false asks the plug-in to stop. True
  // without a listener. Reports reach it one at a time.
  bool report(const ProgressEvent &event);

private:
  std::mutex mutex_; // held while the listener runs
  std::function<bool(const ProgressEvent &)> listener_;
};

struct Host::Impl {
  explicit Impl(HostOptions options);
  ~Impl();

  HostOptions options;
  PropertySet props;
  OfxHost ofxHost{};
  std::vector<std::string> searchPaths;
  std::vector<std::unique_ptr<Bundle>> bundles;
  std::vector<BundleError> errors;
  std::unique_ptr<ThreadPool> pool;

  MessageLog messages;
  ProgressListener progress;

  void buildHostProperties();
  // How far addBundle takes a bundle's plug-ins in this process.
  enum class BundleUse {
    Open, // records read (in the probe), no action run
    List, // the probe also loaded and described them; they load on first use
    Load, // and their load action runs here now
  };
  BundleProbe probeBundle(const std::string &bundlePath,
                          const std::string &binary, bool runActions);
  std::vector<Plugin *> addBundle(const std::string &path, BundleUse use,
                                  std::string *error);
  bool knowsBinary(const std::string &binary) const;
  Plugin *findIdentifier(const std::string &id) const;

  // HostOptions::stopRequested answered true: the scan under way stops.
  bool stopAsked();
  bool scanStopped = false;
  bool scanning = false; // scan() is adding bundles
  // Opened on first use when HostOptions::pluginCachePath names a file.
  std::unique_ptr<PluginCache> pluginCache;
  PluginCache *cache();
  void saveCache();
};

// The host whose action or thread pool runs on this thread, or nullptr. A
// call that names an effect or the host finds it through that handle; this
// is for calls that name neither, such as a message about no effect.
Host::Impl *threadHost();
// threadHost(), else the most recently created live host. Only for the
// multi-thread suite: its calls name no handle at all, and a plug-in may
// make them from a thread of its own, outside any action.
Host::Impl *hostForUnnamedCall();

// Marks this thread as running an action of host for the guard's lifetime.
class HostScope {
public:
  explicit HostScope(Host::Impl *host);
  ~HostScope();
  HostScope(const HostScope &) = delete;
  HostScope &operator=(const HostScope &) = delete;

private:
  Host::Impl *previous_;
};
void setThreadHost(Host::Impl *host);

} // namespace ofxhost
