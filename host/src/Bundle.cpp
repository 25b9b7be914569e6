// Finding bundles on disk, opening their binaries and accepting the
// plug-ins they publish. Every problem becomes a BundleError; the scan goes
// on with the next bundle.
#include "Bundles.h"
#include "HostState.h"
#include "Platform.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <unordered_map>

namespace ofxhost {
namespace fs = std::filesystem;
using platform::fromPath;
using platform::toPath;

namespace {

const char *const kBundleSuffix = ".ofx.bundle";
const int kMaxScanDepth = 8;
// Records a binary may report as unusable before the rest are summed up in
// one line: a broken table must not flood the error list.
const size_t kMaxRecordProblems = 10;
// Records accepted between two questions to HostOptions::stopRequested.
const size_t kRecordsPerStopCheck = 1024;

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string canonical(const std::string &path) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(toPath(path), ec);
  return ec ? path : fromPath(resolved);
}

// The path as this system writes it: on Windows with backslashes only, so
// that paths the host reports compare equal however the caller wrote them.
std::string preferred(fs::path path) { return fromPath(path.make_preferred()); }

// Works out the bundle directory and the binary for a path that names
// either of them.
bool locate(const std::string &path, std::string &bundlePath,
            std::string &binaryPath, std::string &error) {
  std::error_code ec;
  const fs::path given = toPath(path);
  if (fs::is_directory(given, ec)) {
    bundlePath = fromPath(given.lexically_normal());
    if (!bundlePath.empty() &&
        bundlePath.back() == fs::path::preferred_separator)
      bundlePath.pop_back();
    binaryPath = bundleBinaryPath(bundlePath);
    if (!fs::is_regular_file(toPath(binaryPath), ec)) {
      error = "no binary at " + binaryPath;
      return false;
    }
    return true;
  }
  if (!fs::is_regular_file(given, ec)) {
    error = "no such bundle or binary";
    return false;
  }
  binaryPath = preferred(given);
  fs::path dir = given.parent_path();
  fs::path bundle = dir.parent_path().parent_path();
  const bool laidOut = dir.filename() == platform::kBundleArchDir &&
                       dir.parent_path().filename() == "Contents" &&
                       endsWith(fromPath(bundle.filename()), kBundleSuffix);
  bundlePath = preferred(laidOut ? bundle : dir);
  return true;
}

// Packages keep folders and bundles whose names begin with '@' out of
// every host's scan: resources, disabled plug-ins.
bool hiddenFromScans(const fs::path &entry) {
  const std::string name = fromPath(entry.filename());
  return !name.empty() && name.front() == '@';
}

// The bundles under dir, in name order. Linked folders are followed like
// any other; visited holds the real folders already searched, so that a
// link to a parent ends rather than going round until the depth limit.
void collectBundles(const fs::path &dir, int depth, std::set<fs::path> &visited,
                    std::vector<fs::path> &found) {
  std::error_code ec;
  const fs::path real = fs::canonical(dir, ec);
  if (ec || !visited.insert(real).second)
    return;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
       it.increment(ec))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  for (const fs::path &entry : entries) {
    if (hiddenFromScans(entry) || !fs::is_directory(entry, ec))
      continue;
    if (endsWith(fromPath(entry.filename()), kBundleSuffix))
      found.push_back(entry);
    else if (depth < kMaxScanDepth)
      collectBundles(entry, depth + 1, visited, found);
  }
}

// What distinguishes hosts whose probes may answer differently: what the
// plug-ins see of the host, and how long a probe may take.
std::string optionsFingerprint(const HostOptions &options) {
  std::string text = "timeout " + std::to_string(options.probeTimeoutMs);
  text += "; depths";
  for (const std::string &depth : options.supportedDepths)
    text += " " + depth;
  text += "; withheld";
  for (const std::string &suite : options.withheldSuites)
    text += " " + suite;
  text += "; omitted";
  for (const std::string &name : options.omittedHostProperties)
    text += " " + name;
  text += "; cpus " + std::to_string(options.numCpusStatus);
  return text;
}

} // namespace

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

std::string bundleBinaryPath(const std::string &bundleDir) {
  fs::path dir = toPath(bundleDir).lexically_normal();
  if (dir.filename().empty())
    dir = dir.parent_path();
  std::string name = fromPath(dir.filename());
  if (endsWith(name, kBundleSuffix))
    name.resize(name.size() - std::string(kBundleSuffix).size());
  return fromPath(dir / "Contents" / platform::kBundleArchDir /
                  toPath(name + ".ofx"));
}

std::string bundlePathIn(const std::string &dir, const std::string &name) {
  return preferred(toPath(dir) / toPath(name + kBundleSuffix));
}

void closeLibrary(Bundle &bundle) {
  platform::closeLibrary(bundle.library);
  bundle.library = nullptr;
}

std::string openLibrary(Bundle &bundle) {
  std::lock_guard<std::mutex> lock(bundle.mutex);
  if (bundle.openTried)
    return bundle.openError;
  bundle.openTried = true;
  std::vector<ProbedRecord> records;
  void *library = nullptr;
  bundle.openError = readBinaryRecords(
      bundle.binaryPath, records, [](const std::string &) {}, &library);
  if (!bundle.openError.empty())
    return bundle.openError;
  // The records are matched again: the file may have been replaced since
  // it was probed.
  for (const auto &plugin : bundle.plugins) {
    Plugin::Impl &impl = *plugin->impl();
    for (const ProbedRecord &probed : records)
      if (probed.index == impl.index && probed.problem.empty() &&
          probed.identifier == impl.identifier)
        impl.record = probed.record;
  }
  for (const auto &plugin : bundle.plugins) {
    if (plugin->impl()->record)
      continue;
    for (const auto &other : bundle.plugins)
      other->impl()->record = nullptr;
    platform::closeLibrary(library);
    bundle.openError = "the binary no longer holds plug-in " +
                       plugin->identifier() + " where it was found";
    return bundle.openError;
  }
  bundle.library = library;
  return "";
}

bool Host::Impl::knowsBinary(const std::string &binary) const {
  const std::string wanted = canonical(binary);
  for (const auto &bundle : bundles)
    if (canonical(bundle->binaryPath) == wanted)
      return true;
  return false;
}

BundleProbe Host::Impl::probeBundle(const std::string &bundlePath,
                                    const std::string &binary,
                                    bool runActions) {
  if (options.probeInChildProcess) {
    // Only probes that ran the actions are kept: they are what a scan does.
    PluginCache *kept = runActions ? cache() : nullptr;
    BundleProbe probe;
    if (kept && kept->find(binary, probe))
      return probe;
    probe = probeInChild(*this, bundlePath, binary, runActions);
    if (kept)
      kept->remember(binary, probe);
    return probe;
  }
  // Without a child the records are read here, and the library stays open
  // for the plug-ins' use; the actions wait for their first use.
  BundleProbe probe;
  probe.error = readBinaryRecords(
      binary, probe.records, [](const std::string &) {}, &probe.library);
  return probe;
}

bool Host::Impl::stopAsked() {
  if (!options.stopRequested || !options.stopRequested())
    return false;
  scanStopped = true;
  return true;
}

PluginCache *Host::Impl::cache() {
  if (options.pluginCachePath.empty())
    return nullptr;
  if (!pluginCache)
    pluginCache = std::make_unique<PluginCache>(options.pluginCachePath,
                                                optionsFingerprint(options),
                                                options.rescanPlugins);
  return pluginCache.get();
}

void Host::Impl::saveCache() {
  if (pluginCache)
    pluginCache->save();
}

namespace {

const char *const kStoppedReason = "stopped before it was read";

// The plug-ins other bundles already list, by identifier: one look-up per
// record keeps a binary with many records linear.
std::unordered_map<std::string, Plugin *>
listedIdentifiers(const std::vector<std::unique_ptr<Bundle>> &bundles) {
  std::unordered_map<std::string, Plugin *> listed;
  for (const auto &bundle : bundles)
    for (const auto &plugin : bundle->plugins)
      if (plugin->impl()->listed)
        listed.emplace(plugin->identifier(), plugin.get());
  return listed;
}

std::unique_ptr<Plugin> makePlugin(Host::Impl &host, Bundle &bundle,
                                   const ProbedRecord &probed, void *library,
                                   bool listed) {
  auto impl = std::make_unique<Plugin::Impl>();
  impl->host = &host;
  impl->bundle = &bundle;
  impl->index = probed.index;
  impl->record = library ? probed.record : nullptr;
  impl->identifier = probed.identifier;
  impl->apiName = probed.api;
  impl->apiVersion = probed.apiVersion;
  impl->versionMajor = probed.versionMajor;
  impl->versionMinor = probed.versionMinor;
  impl->probedDescribed = probed.described;
  impl->probedLabel = probed.label;
  impl->bundlePath = bundle.path;
  impl->binaryPath = bundle.binaryPath;
  impl->listed = listed;
  return std::make_unique<Plugin>(std::move(impl));
}

// The bundle's plug-ins from its probed records, and why the others cannot
// be used: one line per reason, however often a binary repeats itself.
// False when asked to stop meanwhile.
bool acceptRecords(Host::Impl &host, Bundle &bundle, const BundleProbe &probe,
                   bool listed, std::vector<std::string> &problems) {
  const std::unordered_map<std::string, Plugin *> elsewhere =
      listedIdentifiers(host.bundles);
  // How many records carry each identifier; only the first is used.
  std::unordered_map<std::string, size_t> copies;
  std::vector<std::string> repeatedInOrder;
  size_t unusable = 0;
  for (size_t i = 0; i < probe.records.size(); ++i) {
    if (i % kRecordsPerStopCheck == kRecordsPerStopCheck - 1 &&
        host.stopAsked())
      return false;
    const ProbedRecord &probed = probe.records[i];
    if (!probed.problem.empty()) {
      if (++unusable <= kMaxRecordProblems)
        problems.push_back(probed.problem);
      continue;
    }
    const size_t count = ++copies[probed.identifier];
    if (count > 1) {
      if (count == 2)
        repeatedInOrder.push_back(probed.identifier);
      continue;
    }
    const auto loaded = elsewhere.find(probed.identifier);
    if (loaded != elsewhere.end()) {
      problems.push_back("plug-in " + probed.identifier +
                         " is already loaded from " +
                         loaded->second->bundlePath() +
                         ", which is used; this copy is ignored");
      continue;
    }
    if (!probed.loadResult.ok()) {
      problems.push_back("plug-in " + probed.identifier + ": " +
                         probed.loadResult.message);
      continue;
    }
    bundle.plugins.push_back(
        makePlugin(host, bundle, probed, probe.library, listed));
  }
  if (unusable > kMaxRecordProblems)
    problems.push_back("and " + std::to_string(unusable - kMaxRecordProblems) +
                       " more records cannot be used");
  for (const std::string &id : repeatedInOrder)
    problems.push_back("plug-in " + id + " appears " +
                       std::to_string(copies[id]) + " times in " +
                       bundle.binaryPath + "; the first is used");
  return true;
}

} // namespace

std::vector<Plugin *> Host::Impl::addBundle(const std::string &path,
                                            BundleUse use, std::string *error) {
  if (!scanning)
    scanStopped = false;
  std::vector<Plugin *> accepted;
  auto stopped = [&] {
    scanStopped = true;
    if (error)
      *error = path + ": " + kStoppedReason;
    return accepted;
  };
  if (stopAsked())
    return stopped();
  auto bundle = std::make_unique<Bundle>();
  std::string problem;
  BundleProbe probe;
  if (locate(path, bundle->path, bundle->binaryPath, problem))
    probe =
        probeBundle(bundle->path, bundle->binaryPath, use != BundleUse::Open);
  if (!scanning)
    saveCache();
  if (probe.stopped)
    return stopped();
  if (problem.empty())
    problem = probe.error;
  if (!problem.empty()) {
    platform::closeLibrary(probe.library);
    errors.push_back(BundleError{path, problem});
    if (error)
      *error = path + ": " + problem;
    return accepted;
  }

  std::vector<std::string> problems;
  if (!acceptRecords(*this, *bundle, probe, use != BundleUse::Load, problems)) {
    bundle->plugins.clear();
    platform::closeLibrary(probe.library);
    return stopped();
  }
  const std::string bundlePath = bundle->path;
  std::string firstProblem;
  auto report = [&](const std::string &why) {
    errors.push_back(BundleError{bundlePath, why});
    if (firstProblem.empty())
      firstProblem = why;
  };
  for (const std::string &why : problems)
    report(why);
  if (bundle->plugins.empty()) {
    platform::closeLibrary(probe.library);
    if (error && !firstProblem.empty())
      *error = bundle->path + ": " + firstProblem;
    return accepted;
  }
  if (probe.library) {
    bundle->library = probe.library;
    bundle->openTried = true;
  }
  bundles.push_back(std::move(bundle));
  Bundle &added = *bundles.back();

  for (const auto &plugin : added.plugins) {
    if (use == BundleUse::Load) {
      const ActionResult result = plugin->load();
      if (!result.ok()) {
        report("plug-in " + plugin->identifier() + ": " + result.message);
        continue;
      }
      plugin->impl()->listed = true;
    }
    accepted.push_back(plugin.get());
  }
  if (error && !firstProblem.empty())
    *error = bundlePath + ": " + firstProblem;
  return accepted;
}

void Host::scan() {
  std::vector<std::string> dirs = impl_->searchPaths;
  std::string list;
  if (impl_->options.searchEnvironmentPath &&
      platform::environmentVariable("OFX_PLUGIN_PATH", list)) {
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(platform::kPathListSeparator, start);
      if (end == std::string::npos)
        end = list.size();
      if (end > start)
        dirs.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  if (impl_->options.searchDefaultPath)
    dirs.push_back(platform::defaultPluginDir());

  // A bundle name found twice is taken from the first directory searched
  // where it loads, as with any search path: a broken copy early in the
  // path (recorded in errors()) does not hide a working one after it.
  impl_->scanStopped = false;
  impl_->scanning = true;
  std::set<std::string> seenNames;
  for (const std::string &dir : dirs) {
    if (impl_->scanStopped || impl_->stopAsked())
      break;
    std::vector<fs::path> found;
    std::set<fs::path> visited;
    collectBundles(toPath(dir), 0, visited, found);
    for (const fs::path &bundle : found) {
      if (impl_->scanStopped || impl_->stopAsked())
        break;
      const std::string name = fromPath(bundle.filename());
      if (seenNames.count(name))
        continue;
      const std::string bundlePath = preferred(bundle);
      if (impl_->knowsBinary(bundleBinaryPath(bundlePath))) {
        seenNames.insert(name);
        continue;
      }
      if (!impl_->addBundle(bundlePath, Impl::BundleUse::List, nullptr).empty())
        seenNames.insert(name);
    }
  }
  impl_->scanning = false;
  impl_->saveCache();
}

bool Host::scanStopped() const { return impl_->scanStopped; }

std::string defaultPluginCachePath() {
  const std::string dir = platform::userCacheDir();
  if (dir.empty())
    return "";
  return fromPath(toPath(dir) / "qeffects" / "ofxhost-plugins.cache");
}

} // namespace ofxhost
