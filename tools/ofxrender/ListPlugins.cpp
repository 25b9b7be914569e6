#include "ListPlugins.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "Interrupt.h"
#include "PluginLookup.h"
#include "SearchFolders.h"

namespace ofxrender {
namespace {

// Enough to say what is wrong; more would bury the other bundles' lines.
const size_t kMostReasonsShown = 3;

struct BundleReasons {
  std::string path;
  std::vector<std::string> reasons; // distinct, in order
  size_t moreReasons = 0;           // distinct ones not kept
};

void addReason(BundleReasons &bundle, const std::string &reason) {
  if (std::find(bundle.reasons.begin(), bundle.reasons.end(), reason) !=
      bundle.reasons.end())
    return;
  if (bundle.reasons.size() < kMostReasonsShown)
    bundle.reasons.push_back(reason);
  else
    ++bundle.moreReasons;
}

std::string problemLine(const BundleReasons &bundle) {
  std::string line = bundle.path + ": ";
  for (size_t i = 0; i < bundle.reasons.size(); ++i)
    line += (i == 0 ? "" : "; ") + bundle.reasons[i];
  if (bundle.moreReasons > 0)
    line += "; and " + std::to_string(bundle.moreReasons) + " more";
  return line;
}

struct ListedPlugin {
  std::string identifier;
  unsigned versionMajor = 0, versionMinor = 0;
  std::string label; // empty when the plug-in cannot be described
  std::string bundle;
};

// The listing, made before any of it is printed, so that a stop asked for
// meanwhile prints nothing.
std::vector<ListedPlugin> listing(ofxhost::Host &host) {
  std::vector<ofxhost::Plugin *> plugins = host.plugins();
  std::stable_sort(plugins.begin(), plugins.end(),
                   [](ofxhost::Plugin *a, ofxhost::Plugin *b) {
                     return a->identifier() < b->identifier();
                   });
  std::vector<ListedPlugin> listed;
  for (ofxhost::Plugin *plugin : plugins) {
    throwIfInterrupted("nothing was listed");
    const CrashNote note(plugin->identifier(), "being described");
    const ofxhost::ActionResult described = plugin->describe();
    if (!described.ok())
      std::fprintf(stderr, "ofxrender: cannot describe %s in %s: %s\n",
                   plugin->identifier().c_str(), plugin->bundlePath().c_str(),
                   described.message.c_str());
    listed.push_back(
        {plugin->identifier(), plugin->versionMajor(), plugin->versionMinor(),
         described.ok() ? plugin->label() : "", plugin->bundlePath()});
  }
  return listed;
}

std::string listingText(const std::vector<ListedPlugin> &listed) {
  std::string text;
  for (const ListedPlugin &plugin : listed) {
    char version[32];
    std::snprintf(version, sizeof version, "%u.%u", plugin.versionMajor,
                  plugin.versionMinor);
    text += plugin.identifier + "\t" + version + "\t" + plugin.label + "\t" +
            plugin.bundle + "\n";
  }
  return text;
}

// The version as describe --json gives it; texts that are not UTF-8 have
// their bad bytes replaced rather than failing the listing.
std::string listingJson(const std::vector<ListedPlugin> &listed) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const ListedPlugin &plugin : listed)
    array.push_back(
        {{"identifier", plugin.identifier},
         {"version",
          {{"major", plugin.versionMajor}, {"minor", plugin.versionMinor}}},
         {"label", plugin.label},
         {"bundle", plugin.bundle}});
  return array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n";
}

} // namespace

std::vector<std::string>
bundleProblems(const std::vector<ofxhost::BundleError> &errors) {
  std::vector<BundleReasons> bundles;
  for (const ofxhost::BundleError &error : errors) {
    auto bundle = std::find_if(
        bundles.begin(), bundles.end(),
        [&](const BundleReasons &b) { return b.path == error.path; });
    if (bundle == bundles.end())
      bundle = bundles.insert(bundles.end(), BundleReasons{error.path, {}, 0});
    addReason(*bundle, error.reason);
  }
  std::vector<std::string> lines;
  for (const BundleReasons &bundle : bundles)
    lines.push_back(problemLine(bundle));
  return lines;
}

bool problemBundleGavePlugins(const ofxhost::Host &host,
                              const std::string &problem) {
  for (const ofxhost::Plugin *plugin : host.plugins())
    if (problem.rfind(plugin->bundlePath() + ": ", 0) == 0)
      return true;
  return false;
}

void listPlugins(const std::vector<std::string> &pluginPaths, bool json) {
  const ofxhost::HostOptions options = toolHostOptions();
  ofxhost::Host host(options);
  scanPlugins(host, pluginPaths);
  // What a stopped scan found is partial, and the bundle whose probe it cut
  // short did nothing wrong: nothing is listed, no bundle is blamed.
  throwIfInterrupted("nothing was listed");
  for (const std::string &problem : bundleProblems(host.errors()))
    std::fprintf(stderr,
                 problemBundleGavePlugins(host, problem)
                     ? "ofxrender: warning: %s\n"
                     : "ofxrender: cannot load %s\n",
                 problem.c_str());
  const std::vector<ListedPlugin> listed = listing(host);
  throwIfInterrupted("nothing was listed");

  if (listed.empty())
    std::fprintf(stderr, "ofxrender: no plug-ins found; %s\n",
                 searchedFoldersText(options, pluginPaths).c_str());
  const std::string text = json ? listingJson(listed) : listingText(listed);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

} // namespace ofxrender
