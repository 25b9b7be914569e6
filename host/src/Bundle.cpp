// Finding bundles on disk, opening their binaries and accepting the
// plug-ins they publish. Every problem becomes a BundleError; the scan goes
// on with the next bundle.
#include "Internal.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace ofxhost {
namespace fs = std::filesystem;

namespace {

const char *const kBundleSuffix = ".ofx.bundle";
const char *const kArchDir = "Linux-x86-64";
const char *const kDefaultPluginDir = "/usr/OFX/Plugins";
const int kMaxScanDepth = 8;

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string canonical(const std::string &path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

// Works out the bundle directory and the binary for a path that names
// either of them.
bool locate(const std::string &path, std::string &bundlePath,
            std::string &binaryPath, std::string &error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    bundlePath = fs::path(path).lexically_normal().string();
    if (endsWith(bundlePath, "/"))
      bundlePath.pop_back();
    binaryPath = bundleBinaryPath(bundlePath);
    if (!fs::is_regular_file(binaryPath, ec)) {
      error = "no binary at " + binaryPath;
      return false;
    }
    return true;
  }
  if (!fs::is_regular_file(path, ec)) {
    error = "no such bundle or binary";
    return false;
  }
  binaryPath = path;
  fs::path dir = fs::path(path).parent_path();
  fs::path bundle = dir.parent_path().parent_path();
  const bool laidOut = dir.filename() == kArchDir &&
                       dir.parent_path().filename() == "Contents" &&
                       endsWith(bundle.filename().string(), kBundleSuffix);
  bundlePath = laidOut ? bundle.string() : dir.string();
  return true;
}

std::string checkRecord(const OfxPlugin *record, int index) {
  const std::string which = "plug-in " + std::to_string(index);
  if (!record)
    return "OfxGetPlugin(" + std::to_string(index) + ") returned NULL";
  if (!record->pluginIdentifier || !*record->pluginIdentifier)
    return which + " has no identifier";
  const std::string id = record->pluginIdentifier;
  const std::string api = record->pluginApi ? record->pluginApi : "(none)";
  if (api != kOfxImageEffectPluginApi || record->apiVersion != 1)
    return "plug-in " + id + " uses API \"" + api + "\" version " +
           std::to_string(record->apiVersion) + "; this host runs \"" +
           kOfxImageEffectPluginApi + "\" version 1";
  if (!record->mainEntry)
    return "plug-in " + id + " has no main entry";
  return "";
}

void collectBundles(const fs::path &dir, int depth,
                    std::vector<fs::path> &found) {
  std::error_code ec;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
       it.increment(ec))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path &entry : entries) {
    if (!fs::is_directory(entry, ec))
      continue;
    if (endsWith(entry.filename().string(), kBundleSuffix))
      found.push_back(entry);
    else if (depth < kMaxScanDepth && !fs::is_symlink(entry, ec))
      collectBundles(entry, depth + 1, found);
  }
}

} // namespace

std::string bundleBinaryPath(const std::string &bundleDir) {
  fs::path dir = fs::path(bundleDir).lexically_normal();
  if (dir.filename().empty())
    dir = dir.parent_path();
  std::string name = dir.filename().string();
  if (endsWith(name, kBundleSuffix))
    name.resize(name.size() - std::string(kBundleSuffix).size());
  return (dir / "Contents" / kArchDir / (name + ".ofx")).string();
}

std::string bundlePathIn(const std::string &dir, const std::string &name) {
  return (fs::path(dir) / (name + kBundleSuffix)).string();
}

void closeLibrary(Bundle &bundle) {
  if (bundle.library)
    dlclose(bundle.library);
  bundle.library = nullptr;
}

bool Host::Impl::knowsBinary(const std::string &binary) const {
  const std::string wanted = canonical(binary);
  for (const auto &bundle : bundles)
    if (canonical(bundle->binaryPath) == wanted)
      return true;
  return false;
}

Bundle *Host::Impl::openBundle(const std::string &path, std::string &error) {
  auto bundle = std::make_unique<Bundle>();
  if (!locate(path, bundle->path, bundle->binaryPath, error))
    return nullptr;
  dlerror();
  bundle->library = dlopen(bundle->binaryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!bundle->library) {
    const char *why = dlerror();
    error = std::string("cannot load the binary: ") + (why ? why : "unknown");
    return nullptr;
  }
  using CountFn = int (*)();
  using GetFn = OfxPlugin *(*)(int);
  auto count = reinterpret_cast<CountFn>(
      dlsym(bundle->library, "OfxGetNumberOfPlugins"));
  auto get = reinterpret_cast<GetFn>(dlsym(bundle->library, "OfxGetPlugin"));
  if (!count || !get) {
    error = std::string("the binary does not export ") +
            (!count ? "OfxGetNumberOfPlugins" : "OfxGetPlugin");
    closeLibrary(*bundle);
    return nullptr;
  }
  int n = 0;
  try {
    n = count();
  } catch (...) {
    error = "OfxGetNumberOfPlugins threw an exception";
    closeLibrary(*bundle);
    return nullptr;
  }
  if (n <= 0) {
    error = "the binary reports " + std::to_string(n) + " plug-ins";
    closeLibrary(*bundle);
    return nullptr;
  }
  for (int i = 0; i < n; ++i) {
    OfxPlugin *record = nullptr;
    try {
      record = get(i);
    } catch (...) {
      record = nullptr;
    }
    std::string problem = checkRecord(record, i);
    if (problem.empty()) {
      if (Plugin *loaded = findIdentifier(record->pluginIdentifier))
        problem = std::string("plug-in ") + record->pluginIdentifier +
                  " is already loaded from " + loaded->bundlePath();
    }
    if (!problem.empty()) {
      errors.push_back(BundleError{bundle->path, problem});
      if (error.empty())
        error = problem;
      continue;
    }
    auto impl = std::make_unique<Plugin::Impl>();
    impl->host = this;
    impl->bundle = bundle.get();
    impl->record = record;
    impl->identifier = record->pluginIdentifier;
    impl->apiName = record->pluginApi;
    impl->bundlePath = bundle->path;
    impl->binaryPath = bundle->binaryPath;
    bundle->plugins.push_back(std::make_unique<Plugin>(std::move(impl)));
  }
  if (bundle->plugins.empty()) {
    closeLibrary(*bundle);
    return nullptr;
  }
  bundles.push_back(std::move(bundle));
  return bundles.back().get();
}

std::vector<Plugin *> Host::Impl::addBundle(const std::string &path,
                                            bool load, std::string *error) {
  std::vector<Plugin *> accepted;
  std::string problem;
  const size_t recorded = errors.size();
  Bundle *bundle = openBundle(path, problem);
  if (!bundle) {
    // Problems with single plug-in records are already recorded.
    if (errors.size() == recorded)
      errors.push_back(BundleError{path, problem});
    if (error)
      *error = path + ": " + problem;
    return accepted;
  }
  if (!problem.empty() && error)
    *error = bundle->path + ": " + problem;
  for (const auto &plugin : bundle->plugins) {
    if (!load) {
      plugin->impl()->listed = true;
      accepted.push_back(plugin.get());
      continue;
    }
    ActionResult result = plugin->load();
    if (!result.ok()) {
      const std::string reason =
          "plug-in " + plugin->identifier() + ": " + result.message;
      errors.push_back(BundleError{bundle->path, reason});
      if (error && problem.empty()) {
        problem = reason;
        *error = bundle->path + ": " + reason;
      }
      continue;
    }
    plugin->impl()->listed = true;
    accepted.push_back(plugin.get());
  }
  return accepted;
}

void Host::scan() {
  std::vector<std::string> dirs = impl_->searchPaths;
  if (impl_->options.searchEnvironmentPath) {
    if (const char *env = std::getenv("OFX_PLUGIN_PATH")) {
      std::string list = env;
      size_t start = 0;
      while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
          end = list.size();
        if (end > start)
          dirs.push_back(list.substr(start, end - start));
        start = end + 1;
      }
    }
  }
  if (impl_->options.searchDefaultPath)
    dirs.push_back(kDefaultPluginDir);

  // A bundle name found twice is taken from the first directory searched,
  // as with any search path.
  std::set<std::string> seenNames;
  for (const std::string &dir : dirs) {
    std::vector<fs::path> found;
    collectBundles(dir, 0, found);
    for (const fs::path &bundle : found) {
      if (!seenNames.insert(bundle.filename().string()).second)
        continue;
      if (impl_->knowsBinary(bundleBinaryPath(bundle.string())))
        continue;
      impl_->addBundle(bundle.string(), true, nullptr);
    }
  }
}

} // namespace ofxhost
