#include "PluginLookup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Interrupt.h"
#include "SearchFolders.h"
#include "ListPlugins.h"
#include "ToolError.h"

namespace fs = std::filesystem;

namespace ofxrender {
namespace {

bool rescanPlugins = false;
bool pluginCacheOff = false;

bool looksLikePath(const std::string &name) {
  if (name.find('/') != std::string::npos)
    return true;
  const std::string bundle = ".ofx.bundle";
  const std::string binary = ".ofx";
  auto endsWith = [&](const std::string &suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) ==
               0;
  };
  return endsWith(bundle) || endsWith(binary);
}

ofxhost::Plugin &pluginFromPath(ofxhost::Host &host, const std::string &path) {
  std::error_code ignored;
  if (!fs::exists(path, ignored))
    throw usageError("no plug-in bundle at " + path);
  std::string error;
  const std::vector<ofxhost::Plugin *> plugins = host.addBundle(path, &error);
  // The host's error starts with the bundle's path already.
  if (plugins.empty())
    throw renderError("cannot load " +
                      (error.empty() ? path + ": it holds no plug-in" : error));
  if (plugins.size() > 1) {
    std::string identifiers;
    for (ofxhost::Plugin *plugin : plugins)
      identifiers += " " + plugin->identifier();
    throw usageError(path +
                     " holds several plug-ins; name one of:" + identifiers);
  }
  return *plugins.front();
}

// ofxhost-probe sits in libexec beside the bin folder of this program, in
// the build tree as where installed. Without it the probe falls back to a
// fork of this process.
std::string probeProgramBesideTool() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error)
    return "";
  const fs::path program =
      self.parent_path().parent_path() / "libexec" / "ofxhost-probe";
  return fs::is_regular_file(program, error) ? program.string() : "";
}

// The bundles the scan could not use, each once, in the order they failed.
std::vector<std::string> brokenBundles(const ofxhost::Host &host) {
  std::vector<std::string> paths;
  for (const ofxhost::BundleError &error : host.errors())
    if (std::find(paths.begin(), paths.end(), error.path) == paths.end())
      paths.push_back(error.path);
  return paths;
}

std::string brokenBundlesText(const ofxhost::Host &host) {
  const std::vector<std::string> paths = brokenBundles(host);
  std::string text;
  for (const std::string &path : paths)
    text += (text.empty() ? "; could not load " : ", ") + path;
  return text;
}

// Another folder's copy of the same bundle name.
bool isOtherCopy(const std::string &broken, const std::string &used) {
  if (fs::path(broken).filename() != fs::path(used).filename())
    return false;
  std::error_code error;
  return !fs::equivalent(broken, used, error);
}

// One warning per bundle that cannot be used; a broken copy of the bundle
// the plug-in came from says which copy is used instead.
void warnAboutBrokenBundles(const ofxhost::Host &host,
                            const ofxhost::Plugin *plugin) {
  const std::vector<std::string> paths = brokenBundles(host);
  const std::vector<std::string> problems = bundleProblems(host.errors());
  for (size_t i = 0; i < problems.size(); ++i) {
    std::string line = problems[i];
    if (plugin && i < paths.size() &&
        isOtherCopy(paths[i], plugin->bundlePath()))
      line += "; using " + plugin->bundlePath() + " instead";
    std::fprintf(stderr,
                 problemBundleGavePlugins(host, problems[i])
                     ? "ofxrender: warning: %s\n"
                     : "ofxrender: warning: cannot load %s\n",
                 line.c_str());
  }
}

} // namespace

void setPluginCacheUse(bool rescan, bool noCache) {
  rescanPlugins = rescan;
  pluginCacheOff = noCache;
}

ofxhost::HostOptions toolHostOptions() {
  ofxhost::HostOptions options;
  options.probeInChildProcess = true;
  options.probeProgram = probeProgramBesideTool();
  options.stopRequested = [] { return interrupted(); };
  const char *noCache = std::getenv("OFXRENDER_NO_CACHE");
  if (!pluginCacheOff && !(noCache && std::strcmp(noCache, "1") == 0))
    options.pluginCachePath = ofxhost::defaultPluginCachePath();
  options.rescanPlugins = rescanPlugins;
  return options;
}

void scanPlugins(ofxhost::Host &host, const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    // A mistyped folder would otherwise only show as a plug-in not found.
    std::error_code error;
    if (!fs::is_directory(path, error))
      std::fprintf(stderr,
                   "ofxrender: warning: --plugin-path %s is not a folder\n",
                   path.c_str());
    host.addSearchPath(path);
  }
  host.scan();
}

ofxhost::Plugin &openPlugin(ofxhost::Host &host, const std::string &name,
                            const std::vector<std::string> &paths) {
  if (looksLikePath(name))
    return pluginFromPath(host, name);
  scanPlugins(host, paths);
  const bool stopped = host.scanStopped();
  std::string error;
  ofxhost::Plugin *plugin = host.find(name, &error);
  // A stopped scan blames no bundle; otherwise each one that cannot be
  // used is named once, as `list` names it, whatever the command.
  if (!stopped)
    warnAboutBrokenBundles(host, plugin);
  if (plugin)
    return *plugin;
  if (error.empty())
    error = "no plug-in named '" + name + "'";
  // Nothing by that name: which folders were read, and which bundles in
  // them could not be, are the first things to check.
  if (error.rfind("no plug-in named", 0) == 0) {
    error += "; " + searchedFoldersText(host.options(), paths);
    if (!stopped)
      error += brokenBundlesText(host);
  }
  throw usageError(error + " (see ofxrender list)");
}

void describeOrThrow(ofxhost::Plugin &plugin) {
  const ofxhost::ActionResult result = plugin.describe();
  if (!result.ok())
    throw renderError(plugin.identifier() + ": " + result.message);
}

} // namespace ofxrender
