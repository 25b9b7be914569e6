#include "ListPlugins.h"

#include <algorithm>
#include <cstdio>

#include "PluginLookup.h"
#include "ofxhost/Host.h"

namespace ofxrender {

void listPlugins(const std::vector<std::string> &pluginPaths) {
  ofxhost::Host host(toolHostOptions());
  scanPlugins(host, pluginPaths);
  for (const ofxhost::BundleError &error : host.errors())
    std::fprintf(stderr, "ofxrender: cannot load %s: %s\n", error.path.c_str(),
                 error.reason.c_str());

  std::vector<ofxhost::Plugin *> plugins = host.plugins();
  std::stable_sort(plugins.begin(), plugins.end(),
                   [](ofxhost::Plugin *a, ofxhost::Plugin *b) {
                     return a->identifier() < b->identifier();
                   });
  for (ofxhost::Plugin *plugin : plugins) {
    const ofxhost::ActionResult described = plugin->describe();
    if (!described.ok())
      std::fprintf(stderr, "ofxrender: cannot describe %s in %s: %s\n",
                   plugin->identifier().c_str(), plugin->bundlePath().c_str(),
                   described.message.c_str());
    const std::string label = described.ok() ? plugin->label() : "";
    std::printf("%s\t%u.%u\t%s\t%s\n", plugin->identifier().c_str(),
                plugin->versionMajor(), plugin->versionMinor(), label.c_str(),
                plugin->bundlePath().c_str());
  }
  std::fflush(stdout);
}

} // namespace ofxrender
