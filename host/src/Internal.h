// Internal structures of the host library, shared by the suites and the C++
// classes. Nothing here is part of the public interface.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxProgress.h"
#include "ofxTimeLine.h"
#include "ofxhost/Host.h"

namespace ofxhost {

// ---------------------------------------------------------------- handles

// Every pointer handed to a plug-in as a handle is registered with its kind,
// so that a stale, foreign or null handle is answered with
// kOfxStatErrBadHandle instead of being dereferenced.
enum class HandleKind { PropertySet, Effect, ParamSet, Param, Clip, Memory,
                        ImageMemory, Mutex };

void registerHandle(const void *handle, HandleKind kind);
void unregisterHandle(const void *handle);
bool isHandle(const void *handle, HandleKind kind);

// ---------------------------------------------------------------- properties

struct PropertyValues {
  std::vector<int> ints;
  std::vector<double> doubles;
  std::deque<std::string> strings; // deque: growth keeps c_str() stable
  std::vector<void *> pointers;
};

struct Property {
  PropertySet::Type type = PropertySet::Type::Int;
  PropertyValues values;
  PropertyValues initial; // what propReset restores
  bool setByPlugin = false;

  int dimension() const;
  void resize(int n);
};

// Copies every property of from (values and types) into to, except the
// names in skip.
void copyProperties(const PropertySet &from, PropertySet &to,
                    const std::set<std::string> &skip = {});

struct PropertySet::Impl {
  Impl();
  ~Impl();

  mutable std::mutex mutex;
  std::map<std::string, Property> props; // map nodes never move
  std::vector<std::string> order;
  // Descriptors let the plug-in create properties by setting them; other
  // sets answer kOfxStatErrUnknown for names they do not have.
  bool createOnSet = false;
  // For image property sets: the clip that handed the image out.
  Clip::Impl *imageClip = nullptr;
  // For the host's own property set: the host it describes.
  Host::Impl *host = nullptr;

  // Status-returning core shared by the suite and the C++ accessors. The
  // caller holds the mutex.
  OfxStatus find(const std::string &name, PropertySet::Type type,
                 Property *&out);
  OfxStatus prepareSet(const std::string &name, PropertySet::Type type,
                       int index, bool fromPlugin, Property *&out);
  Property &define(const std::string &name, PropertySet::Type type);
  void clearSetByPlugin();
};

// ---------------------------------------------------------------- params

struct ParamSetImpl;

struct Param::Impl {
  Impl(ParamSetImpl *owner, std::string name, std::string type);
  ~Impl();

  ParamSetImpl *owner;
  std::string name;
  std::string type;
  PropertySet props;
  int dimension = 0;

  mutable std::mutex mutex;
  std::vector<double> value;
  std::map<double, std::vector<double>> keys;
  std::string stringValue;

  bool isIntegral() const;  // integer, boolean, choice (and 2D/3D integer)
  bool isDoubleBased() const;
  bool isStringBased() const;
  bool hasValue() const; // false for page, group, push button
  // Clamps one value to the parameter's range (choice: its options).
  std::vector<double> clamp(const std::vector<double> &v) const;
  std::vector<double> valueAtLocked(double time) const;
  // The slope of the value at time (0 outside the keyed span).
  std::vector<double> derivativeAt(double time) const;
  std::vector<double> integral(double t1, double t2) const;
  // Applies the defaults of kOfxParamPropDefault to the value.
  void resetToDefault();
};

// Parameters of a descriptor or of an instance, in definition order.
struct ParamSetImpl {
  explicit ParamSetImpl(bool isInstance);
  ~ParamSetImpl();

  bool isInstance;
  struct EffectImpl *effect = nullptr;
  PropertySet props;
  std::vector<std::unique_ptr<Param>> params;

  Param *find(const std::string &name) const;
};

// Creates the properties every parameter of the type starts with. Returns
// false for a type the host does not know.
bool defineParamDefaults(PropertySet &props, const std::string &name,
                         const std::string &type);
int paramDimension(const std::string &type);

// ---------------------------------------------------------------- effects

// What an OfxImageEffectHandle points at: a descriptor or an instance.
struct EffectImpl {
  explicit EffectImpl(bool isInstance);
  virtual ~EffectImpl();
  EffectImpl(const EffectImpl &) = delete;
  EffectImpl &operator=(const EffectImpl &) = delete;

  bool isInstance;
  Plugin::Impl *plugin = nullptr;
  PropertySet props;
  ParamSetImpl params;

  OfxImageEffectHandle handle() {
    return reinterpret_cast<OfxImageEffectHandle>(this);
  }
};

// The properties of a fresh effect descriptor that depend on its plug-in:
// labels, version and file path, set before the describe action.
void defineDescriptorIdentity(PropertySet &props, const Plugin &plugin);

struct Descriptor::Impl : EffectImpl {
  Impl();
  ~Impl() override;

  // Clip descriptors: property sets in definition order.
  std::vector<std::pair<std::string, std::unique_ptr<PropertySet>>> clips;
  PropertySet *findClip(const std::string &name) const;
  PropertySet &defineClip(const std::string &name);
};

// A host-side image handed to a plug-in, alive until released.
struct FetchedImage {
  ImagePtr image;
  std::unique_ptr<PropertySet> props;
  // The caller's image that receives the pixels on release: set for an
  // output image made for one render under ImagePolicy::Requested.
  ImagePtr writeBackTo;
};

struct Clip::Impl {
  Impl(Instance::Impl *instance, std::string name);
  ~Impl();

  Instance::Impl *instance;
  std::string name;
  PropertySet props;

  mutable std::mutex mutex;
  ImagePtr defaultImage;
  std::map<double, ImagePtr> timedImages;
  std::function<ImagePtr(double)> provider;
  bool hasRod = false;
  OfxRectD rod{0, 0, 0, 0};
  std::map<const void *, FetchedImage> outstanding;
  // Under ImagePolicy::Requested, the pixel bounds that images fetched
  // during the render in progress cover; unset otherwise.
  std::optional<OfxRectI> requestedBounds;
  int fetched = 0;
  unsigned long nextImageId = 1;

  bool isOutput() const { return name == kOfxImageEffectOutputClipName; }
  ImagePtr imageAt(double time) const;
  OfxStatus fetchImage(double time, OfxPropertySetHandle *out);
  OfxStatus releaseImage(const void *handle);
  OfxStatus regionOfDefinition(double time, OfxRectD &out);
};

struct AbortSwitch {
  std::atomic<long> polls{0};
  std::atomic<long> after{-1};
  std::function<bool(long)> predicate;
  bool poll();
};

// What every render-related action tells the plug-in about the kind of
// render: a headless host never renders thumbnails.
void defineRenderKind(PropertySet &inArgs);

struct Instance::Impl : EffectImpl {
  Impl();
  ~Impl() override;

  Plugin *owner = nullptr;
  std::string context;
  std::vector<std::unique_ptr<Clip>> clips;
  Faults faults;
  AbortSwitch abortSwitch;
  std::atomic<double> currentTime{0.0};
  // True once the plug-in side is gone (destroyed, or the host closed).
  bool destroyed = false;
  // Guards the region-of-definition action against a plug-in asking for
  // its own output's region while answering it.
  std::atomic<int> rodDepth{0};

  Clip *findClip(const std::string &name) const;
  OfxRectD defaultRegionOfDefinition(double time);
  OfxRectD projectRect() const;
  OfxStatus call(const char *action, PropertySet *inArgs,
                 PropertySet *outArgs);
  ActionResult run(const char *action, PropertySet *inArgs,
                   PropertySet *outArgs);
};

// ---------------------------------------------------------------- plug-ins

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
  ActionResult run(const char *action, const void *handle,
                   PropertySet *inArgs, PropertySet *outArgs);
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
};

// "" for a usable record, else why not.
std::string checkRecord(const OfxPlugin *record, int index);
// "" when the file is a shared library for this system whose headers and
// segments lie within the file; otherwise what is wrong. dlopen maps a
// binary cut short and faults on the missing pages, so this comes first.
std::string checkElfFile(const std::string &path);
// Checks and opens the binary and reads its records, reporting each step
// to stage first. With libraryOut the library handle goes there; without it
// the library stays open for the process's life (the probe child). "" on
// success, else why the binary cannot be used.
std::string
readBinaryRecords(const std::string &binary, std::vector<ProbedRecord> &records,
                  const std::function<void(const std::string &)> &stage,
                  void **libraryOut = nullptr);
// readBinaryRecords in a child process, with (runActions) each good
// record's load and describe actions. A child that crashes, exits or hangs
// becomes the probe's error, naming the step it was on.
BundleProbe probeInChild(Host::Impl &host, const std::string &bundlePath,
                         const std::string &binary, bool runActions);
// The child's side of probeInChild: the findings go to fd as lines.
void answerProbe(Host::Impl &host, const std::string &bundlePath,
                 const std::string &binary, bool runActions, int fd);

// ---------------------------------------------------------------- threads

class ThreadPool {
public:
  ThreadPool(Host::Impl *host, unsigned threads);
  ~ThreadPool();
  void resize(unsigned threads);
  unsigned size() const;
  // Runs func(i, n, arg) for every i in 0..n-1 and waits for all.
  OfxStatus run(OfxThreadFunctionV1 *func, unsigned n, void *arg);

private:
  struct Batch;
  void startIfIdle();
  void stop();
  void work();

  Host::Impl *host_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::shared_ptr<Batch>, unsigned>> queue_;
  std::vector<std::thread> threads_;
  unsigned wanted_;
  bool stopping_ = false;
};

// True on a thread of a pool while it runs a task; the task's index.
bool onSpawnedThread();
unsigned spawnedThreadIndex();

// ---------------------------------------------------------------- host

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

  mutable std::mutex messageMutex;
  std::vector<std::string> messages;

  // Held while the listener runs, so it sees one report at a time.
  std::mutex progressMutex;
  std::function<bool(const ProgressEvent &)> progressListener;

  void buildHostProperties();
  void postMessage(const std::string &type, const std::string &text);
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
};

// The host a suite call belongs to: the one whose action or thread pool is
// running on this thread, else the most recently created live host.
Host::Impl *currentHost();

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

// The suites, by name and version; nullptr when the host has none.
const void *fetchSuite(OfxPropertySetHandle host, const char *name,
                       int version);
const OfxPropertySuiteV1 *propertySuite();
const OfxImageEffectSuiteV1 *imageEffectSuite();
const OfxParameterSuiteV1 *parameterSuite();
const OfxMemorySuiteV1 *memorySuite();
const OfxMultiThreadSuiteV1 *multiThreadSuite();
const OfxMessageSuiteV1 *messageSuiteV1();
const OfxMessageSuiteV2 *messageSuiteV2();
const OfxProgressSuiteV1 *progressSuiteV1();
const OfxProgressSuiteV2 *progressSuiteV2();
const OfxTimeLineSuiteV1 *timeLineSuite();

// "<what> failed: kOfxStat... (n)"
std::string failureText(const std::string &what, OfxStatus status);
// The report of one action: success as it is, a failure with its text.
ActionResult actionResult(const std::string &action, OfxStatus status,
                          const std::string &pluginMessage = "");

// ---------------------------------------------------------------- messages

// The errors a plug-in posts while one of its actions runs, kept for the
// report of that action should it fail: the status alone cannot say which
// clip, parameter or format was at fault.
class PostedErrors {
public:
  // handle: the effect the action is about; nullptr for load and unload.
  explicit PostedErrors(const void *handle) : handle_(handle) {}
  PostedErrors(const PostedErrors &) = delete;
  PostedErrors &operator=(const PostedErrors &) = delete;

  // Keeps text unless it is about another effect or already kept. Called
  // from any of the action's threads.
  void add(const void *handle, const std::string &text);
  // The texts kept, joined by "; ".
  std::string text() const;

private:
  const void *handle_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

// Makes errors receive what the plug-in posts on this thread, for the
// guard's lifetime: the action's own thread, and each pool thread while
// it runs one of the action's tasks.
class PostedErrorsScope {
public:
  explicit PostedErrorsScope(PostedErrors *errors);
  ~PostedErrorsScope();
  PostedErrorsScope(const PostedErrorsScope &) = delete;
  PostedErrorsScope &operator=(const PostedErrorsScope &) = delete;

private:
  PostedErrors *previous_;
};
// The collector of the action running on this thread, or nullptr.
PostedErrors *postedErrors();

// Runs the body of a suite function. Nothing may unwind into the plug-in's
// C code: running out of memory answers kOfxStatErrMemory, any other
// exception kOfxStatFailed.
template <class Body> OfxStatus guarded(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatFailed;
  }
}

} // namespace ofxhost
