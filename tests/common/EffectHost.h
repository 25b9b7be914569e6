// One headless host with the bundles a test, benchmark or fuzz target
// needs, each holding one plug-in. Free of GoogleTest so that the benchmark
// and the fuzz targets build on it too; TestHost.h adds what tests check.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ofxhost/Host.h"

namespace qfx_test {

// A host that sees only the bundles it is handed: a plug-in installed on
// the machine, or named in OFX_PLUGIN_PATH, must not change what a run
// measures.
inline ofxhost::HostOptions isolatedOptions(unsigned cpus = 1) {
  ofxhost::HostOptions options;
  options.cpuCount = cpus;
  options.searchDefaultPath = false;
  options.searchEnvironmentPath = false;
  return options;
}

class EffectHost {
public:
  explicit EffectHost(ofxhost::HostOptions options = isolatedOptions())
      : host_(std::move(options)) {}
  explicit EffectHost(const std::string &bundlePath,
                      ofxhost::HostOptions options = isolatedOptions())
      : EffectHost(std::move(options)) {
    load(bundlePath);
  }
  virtual ~EffectHost() = default;
  EffectHost(const EffectHost &) = delete;
  EffectHost &operator=(const EffectHost &) = delete;

  // The bundle's one plug-in, loaded; null, with the reason in error(),
  // when the bundle fails or holds another number of plug-ins. The first
  // plug-in loaded is plugin().
  ofxhost::Plugin *load(const std::string &bundlePath) {
    std::string error;
    const std::vector<ofxhost::Plugin *> plugins =
        host_.addBundle(bundlePath, &error);
    if (plugins.size() != 1) {
      error_ = !error.empty()
                   ? error
                   : bundlePath + " holds " + std::to_string(plugins.size()) +
                         " plug-ins";
      return nullptr;
    }
    if (!plugin_)
      plugin_ = plugins.front();
    return plugins.front();
  }

  ofxhost::Host &host() { return host_; }
  ofxhost::Plugin *plugin() { return plugin_; }
  // Why the last load or instance creation failed.
  const std::string &error() const { return error_; }

  // A filter instance of plugin() (or of `plugin`), or null with the reason
  // in error() and in *result when given.
  std::unique_ptr<ofxhost::Instance>
  createFilter(ofxhost::ActionResult *result = nullptr) {
    return createFilterOf(plugin_, result);
  }
  std::unique_ptr<ofxhost::Instance>
  createFilterOf(ofxhost::Plugin *plugin,
                 ofxhost::ActionResult *result = nullptr) {
    ofxhost::ActionResult created;
    if (!plugin) {
      created.status = kOfxStatErrBadHandle;
      created.message = "no plug-in loaded: " + error_;
    }
    std::unique_ptr<ofxhost::Instance> instance =
        plugin ? plugin->createInstance(kOfxImageEffectContextFilter, &created)
               : nullptr;
    if (!instance)
      error_ = created.message;
    if (result)
      *result = created;
    return instance;
  }

private:
  ofxhost::Host host_;
  ofxhost::Plugin *plugin_ = nullptr;
  std::string error_;
};

} // namespace qfx_test
