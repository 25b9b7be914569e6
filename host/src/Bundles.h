// Plug-ins, the bundles that hold them, and reading a bundle's binary, in this
// process or in a probe. Internal to the host library.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxhost {

struct Bundle;

struct Plugin::Impl {
  // Serialises load, describe and instance bookkeeping: tests create and
  // destroy instances of one plug-in from several threads.
  std::recursive_mutex mutex;
  Host::Impl *host = nullptr;
  Bundle *bundle = nullptr;
  OfxPlugin *record = nullptr;
  std::string identifier;
  std::string apiName;
  std::string bundlePath;
  std::string binaryPath;
  bool listed = false;
  // The record's place in the binary and what it said, known before the
  // binary is opened in this process (record stays null until then).
  int index = 0;
  unsigned versionMajor = 0;
  unsigned versionMinor = 0;
  int apiVersion = 0;
  // The label the probe's describe action gave, so that finding a plug-in
  // by label need not open every binary.
  bool probedDescribed = false;
  std::string probedLabel;

  bool loadTried = false;
  ActionResult loadResult;
  bool describeTried = false;
  ActionResult describeResult;
  std::shared_ptr<Descriptor::Impl> descriptorImpl;
  std::unique_ptr<Descriptor> descriptor;
  std::map<std::string, ActionResult> contextResults;
  std::map<std::string, std::unique_ptr<Descriptor>> contexts;
  std::set<Instance::Impl *> liveInstances;
  bool unloaded = false;

  // Calls the main entry, turning an escaping exception into a status.
  OfxStatus call(const char *action, const void *handle, PropertySet *inArgs,
                 PropertySet *outArgs);
  // call() for an action whose outcome is reported: a failure carries
  // what the plug-in posted about it.
  ActionResult run(const char *action, const void *handle, PropertySet *inArgs,
                   PropertySet *outArgs);
  void unload();
};

struct Bundle {
  std::string path;       // NAME.ofx.bundle
  std::string binaryPath; // the .ofx
  // Opened in this process on the first load of one of its plug-ins.
  std::mutex mutex;
  void *library = nullptr;
  bool openTried = false;
  std::string openError;
  std::vector<std::unique_ptr<Plugin>> plugins;
};
void closeLibrary(Bundle &bundle);
// Opens the bundle's binary in this process (once) and hands each plug-in
// its record. "" on success, else why not.
std::string openLibrary(Bundle &bundle);

// One record of a binary as a probe saw it.
struct ProbedRecord {
  int index = 0;
  OfxPlugin *record = nullptr; // valid only in the process that read it
  std::string problem;         // why the record cannot be used
  std::string identifier;
  std::string api;
  int apiVersion = 0;
  unsigned versionMajor = 0;
  unsigned versionMinor = 0;
  ActionResult loadResult; // what the probe's load action answered
  bool described = false;  // the probe's describe action succeeded
  std::string label;
};

// What probing a binary found: a reason it cannot be used at all, or its
// records.
struct BundleProbe {
  std::string error;
  std::vector<ProbedRecord> records;
  // Read in this process: the library stays open and the records' pointers
  // are valid here.
  void *library = nullptr;
  // HostOptions::stopRequested ended the probe: nothing was learnt.
  bool stopped = false;
  // The findings say something about the binary, not about this moment
  // (the probe could be started and was not stopped), so they may be kept.
  bool lasting = true;
};

// The probe's findings per binary, kept in a file between runs (see
// HostOptions::pluginCachePath). Entries hold for the binary's path, size
// and modification time, and for hosts whose options give the same
// fingerprint; anything else is a miss.
class PluginCache {
public:
  PluginCache(std::string path, std::string fingerprint, bool rescan);
  ~PluginCache();
  PluginCache(const PluginCache &) = delete;
  PluginCache &operator=(const PluginCache &) = delete;

  // The findings kept for the binary as it is now; false when there are
  // none.
  bool find(const std::string &binary, BundleProbe &probe);
  // Keeps the findings of a probe just run on the binary.
  void remember(const std::string &binary, const BundleProbe &probe);
  // Writes the file when something changed, merged with what other
  // processes wrote meanwhile, by renaming a complete file into place.
  void save();

  struct Entry;

private:
  std::string path_;
  std::string fingerprint_;
  bool loaded_ = false;
  std::map<std::string, Entry> entries_;
  std::set<std::string> changed_; // binaries probed by this host
  void load();
};

// "" for a usable record, else why not.
std::string checkRecord(const OfxPlugin *record, int index);
// Checks (platform::checkBinaryFile) and opens the binary and reads its
// records, reporting each step to stage first. With libraryOut the library
// handle goes there; without it the library stays open for the process's life
// (the probe child). "" on success, else why the binary cannot be used.
std::string
readBinaryRecords(const std::string &binary, std::vector<ProbedRecord> &records,
                  const std::function<void(const std::string &)> &stage,
                  void **libraryOut = nullptr);
// readBinaryRecords in a child process, with (runActions) each good
// record's load and describe actions, the first time its identifier comes.
// A child that crashes, exits or hangs (HostOptions::probeTimeoutMs)
// becomes the probe's error, naming the step it was on.
BundleProbe probeInChild(Host::Impl &host, const std::string &bundlePath,
                         const std::string &binary, bool runActions);
// The child's side of probeInChild: the findings go to send as lines.
void answerProbe(Host::Impl &host, const std::string &bundlePath,
                 const std::string &binary, bool runActions,
                 const std::function<void(const std::string &)> &send);

} // namespace ofxhost
