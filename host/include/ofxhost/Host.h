// The headless OpenFX host: loads plug-in bundles, implements the suites a
// filter effect needs, and drives its actions. It stands in for an editing
// application in tests, benchmarks and the ofxrender command line.
//
// Everything a plug-in sees goes through the real C interface; this header is
// the host side's C++ face. Failures are reported as ActionResult values that
// name the action and the status, never as crashes. Every path taken or
// returned is UTF-8, on Windows too; the paths the host reports are written
// with the system's separator.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxParam.h"
#include "ofxProperty.h"

namespace ofxhost {

// ---------------------------------------------------------------- statuses

// "kOfxStatErrFormat" for 7, and so on; "status 1234" for unknown values.
std::string statusName(OfxStatus status);

// What one action (or host operation) answered.
struct ActionResult {
  OfxStatus status = kOfxStatOK;
  // Empty on success; otherwise one line that names the action and the
  // status, e.g. "OfxImageEffectActionRender failed: kOfxStatErrFormat (7)",
  // followed by ": " and pluginMessage when the plug-in posted one.
  std::string message;
  // What the plug-in posted through the message suite as an error (or a
  // fatal error) about this instance while the failed action ran, from any
  // of the action's threads; distinct texts joined by "; ". Empty when it
  // posted nothing.
  std::string pluginMessage;

  // kOfxStatReplyDefault counts as success: the host applied its default.
  bool ok() const {
    return status == kOfxStatOK || status == kOfxStatReplyDefault;
  }
  static ActionResult failure(const std::string &action, OfxStatus status,
                              const std::string &pluginMessage = "");
};

// ---------------------------------------------------------------- pixels

enum class BitDepth { None, Byte, Short, Half, Float };
enum class Components { None, RGBA, RGB, Alpha };

const char *bitDepthName(BitDepth depth);           // kOfxBitDepth* text
const char *componentsName(Components components);  // kOfxImageComponent* text
BitDepth bitDepthFromName(const std::string &name); // None if unknown
Components componentsFromName(const std::string &name); // None if unknown
int bytesPerComponent(BitDepth depth);     // 1, 2, 2, 4; 0 for None
int componentCount(Components components); // 4, 3, 1; 0 for None

// The pixels at `scale` that a canonical rectangle touches: x times the
// scale over the pixel aspect ratio, y times the scale, rounded outwards.
// Values within a millionth of a whole pixel count as it, so that W / S
// canonical units come back as W pixels, not W + 1; values beyond the int
// range are held at its ends.
OfxRectI canonicalToPixels(const OfxRectD &rect, OfxPointD scale,
                           double pixelAspectRatio = 1.0);

// The pixels both rectangles cover; an empty rectangle (x2 == x1 or
// y2 == y1, never reversed) when they do not meet.
OfxRectI intersection(const OfxRectI &a, const OfxRectI &b);

// The window cut into n x n tiles, row by row, as a host that tiles cuts
// it; never more tiles across or down than the window has pixels, so each
// tile holds at least one.
std::vector<OfxRectI> splitIntoTiles(const OfxRectI &window, int n);

// How an image's rows are laid out in memory, for tests of plug-ins that
// must honour the host's row bytes.
struct ImageLayout {
  int rowPaddingBytes = 0;       // extra bytes after each row
  bool negativeRowBytes = false; // rows stored top row first in memory
};

// A host-owned pixel buffer, zero-filled on construction. Pixel (x, y) of
// the bounds is at data() + (y - y1) * rowBytes() + (x - x1) * pixelBytes.
// Throws std::invalid_argument for inverted bounds or a None format. Keep
// row padding a multiple of the component size: rows of shorts or floats
// that start at odd addresses are not portable.
class Image {
public:
  Image(OfxRectI bounds, BitDepth depth, Components components,
        ImageLayout layout = {});
  // An image over pixels owned elsewhere, handed to plug-ins as they lie:
  // pixel (x1, y1) at origin, rows rowBytes apart (negative: the top row
  // first in memory), whose size in bytes is at least a row of pixels.
  // pixelsOwner is held for as long as the image lives.
  Image(OfxRectI bounds, BitDepth depth, Components components, void *origin,
        std::ptrdiff_t rowBytes, std::shared_ptr<void> pixelsOwner);

  const OfxRectI &bounds() const { return bounds_; }
  BitDepth depth() const { return depth_; }
  Components components() const { return components_; }
  int width() const { return bounds_.x2 - bounds_.x1; }
  int height() const { return bounds_.y2 - bounds_.y1; }
  int pixelBytes() const;
  std::ptrdiff_t rowBytes() const { return rowBytes_; } // may be negative
  // Address of pixel (x1, y1): what kOfxImagePropData carries.
  void *data();
  const void *data() const;
  // Address of pixel (x, y), or nullptr outside the bounds.
  void *pixelAddress(int x, int y);
  const void *pixelAddress(int x, int y) const;
  template <class T> T *pixel(int x, int y) {
    return static_cast<T *>(pixelAddress(x, y));
  }
  template <class T> const T *pixel(int x, int y) const {
    return static_cast<const T *>(pixelAddress(x, y));
  }
  // Fills every byte of the pixel area (not the padding) with value.
  void fillBytes(unsigned char value);
  // The row layout the image was made with.
  ImageLayout layout() const;
  // Copies the pixels that both images cover from `from`; the two must
  // have the same depth and components.
  void copyPixelsFrom(const Image &from);

  // Properties the host reports with the image.
  OfxPointD renderScale{1.0, 1.0};
  double pixelAspectRatio = 1.0;
  std::string premultiplication = kOfxImagePreMultiplied;
  std::string field = kOfxImageFieldNone;

private:
  OfxRectI bounds_;
  BitDepth depth_;
  Components components_;
  std::ptrdiff_t rowBytes_ = 0;
  std::vector<unsigned char> storage_;
  std::shared_ptr<void> pixelsOwner_; // of pixels not in storage_
  unsigned char *origin_ = nullptr;   // pixel (x1, y1)
};
using ImagePtr = std::shared_ptr<Image>;

// ---------------------------------------------------------------- properties

// A set of named, typed, indexed values, as the property suite exposes it.
// Getters throw std::out_of_range with a clear message for a missing name or
// index, std::invalid_argument for the wrong type.
class PropertySet {
public:
  enum class Type { Int, Double, String, Pointer };

  PropertySet();
  ~PropertySet();
  PropertySet(const PropertySet &) = delete;
  PropertySet &operator=(const PropertySet &) = delete;

  bool has(const std::string &name) const;
  Type type(const std::string &name) const;
  int dimension(const std::string &name) const;
  std::vector<std::string> names() const; // in order of first definition

  int getInt(const std::string &name, int index = 0) const;
  double getDouble(const std::string &name, int index = 0) const;
  std::string getString(const std::string &name, int index = 0) const;
  void *getPointer(const std::string &name, int index = 0) const;
  std::vector<int> getInts(const std::string &name) const;
  std::vector<double> getDoubles(const std::string &name) const;
  std::vector<std::string> getStrings(const std::string &name) const;

  // Setters create the property when it is missing and grow it when the
  // index lies just past its end.
  void setInt(const std::string &name, int value, int index = 0);
  void setDouble(const std::string &name, double value, int index = 0);
  void setString(const std::string &name, const std::string &value,
                 int index = 0);
  void setPointer(const std::string &name, void *value, int index = 0);
  void setInts(const std::string &name, const std::vector<int> &values);
  void setDoubles(const std::string &name, const std::vector<double> &values);
  void setStrings(const std::string &name,
                  const std::vector<std::string> &values);
  void remove(const std::string &name);

  // The handle handed to plug-ins.
  OfxPropertySetHandle handle();

  struct Impl;
  Impl *impl() const { return impl_.get(); }

private:
  std::shared_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- descriptors

// What a plug-in declared: the effect descriptor of the plain describe
// action, or of one context.
class Descriptor {
public:
  PropertySet &props();
  std::vector<std::string> clipNames() const;       // in definition order
  PropertySet &clipProps(const std::string &name);  // throws if unknown
  std::vector<std::string> paramNames() const;      // in definition order
  PropertySet &paramProps(const std::string &name); // throws if unknown
  std::string paramType(const std::string &name) const;

  struct Impl;
  Impl *impl() const { return impl_.get(); }
  explicit Descriptor(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

private:
  std::shared_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- host options

// What part of a clip's image a fetch during a render hands out.
enum class ImagePolicy {
  // The caller's whole image, whatever the render needs.
  Whole,
  // What a tiling host hands out: the output image covers exactly the render
  // window; a source image covers exactly the region of interest the effect
  // returned for that window at the render scale (the window itself when it
  // set none), clipped to the source's region of definition. Each fetch
  // gets an image of its own, in the caller's image's row layout, holding
  // the caller's pixels where the two overlap; the output's pixels go back
  // into the caller's image when the plug-in releases it.
  Requested,
};

struct HostOptions {
  // Whole images by default; Requested to test tile-safe rendering.
  ImagePolicy imagePolicy = ImagePolicy::Whole;
  // CPUs reported by the multi-thread suite and threads in the pool;
  // 0 means std::thread::hardware_concurrency(). multiThread(func, n, arg)
  // runs func(i, n, arg) for each i < n on the pool (n may exceed the
  // pool) and waits; n == 0 runs nothing and answers kOfxStatOK; a call
  // from inside a task runs its n tasks one after another on that thread.
  unsigned cpuCount = 0;
  // Suites fetchSuite answers NULL for, e.g. {"OfxMessageSuite"}.
  std::set<std::string> withheldSuites;
  // Host properties left out of the host's property set, to test that a
  // plug-in falls back to the standard's defaults.
  std::set<std::string> omittedHostProperties;
  // Pixel depths the host says it supports (kOfxBitDepth* names).
  std::vector<std::string> supportedDepths = {
      kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat};
  // Also search /usr/OFX/Plugins when scanning (on Windows
  // %CommonProgramFiles%\OFX\Plugins).
  bool searchDefaultPath = true;
  // Also search the directories listed in OFX_PLUGIN_PATH when scanning,
  // separated by ':' (by ';' on Windows).
  bool searchEnvironmentPath = true;
  // Make multiThreadNumCPUs fail with this status (kOfxStatOK: it works).
  OfxStatus numCpusStatus = kOfxStatOK;
  // The project instances are created in, in canonical coordinates: its
  // size and the offset of its lower left corner (the extent is their
  // sum). A spatial parameter whose default is given normalised starts
  // with default * size as its value (plus the offset for a position).
  OfxPointD projectSize{1920.0, 1080.0};
  OfxPointD projectOffset{0.0, 0.0};
  // Each bundle's binary is checked against its ELF headers (a binary cut
  // short faults inside dlopen; on Windows, against its PE headers: a DLL
  // for this processor), then read in a child process first, which also
  // runs its plug-ins' load and describe actions when scanning or adding: a
  // binary that crashes, exits or hangs there (probeTimeoutMs) is recorded in
  // errors() with the step it died in, and this process never opens it.
  // Off: only the header check guards the records read here, and the
  // actions first run on use. Off by default for programs that load only
  // their own plug-ins; ofxrender, which meets whatever folders users have,
  // turns it on.
  bool probeInChildProcess = false;
  // The ofxhost-probe program that the child runs, so that it starts as a
  // fresh process. Empty: the child is a fork of this process, which is
  // only safe while no other thread holds a lock (of the allocator, the
  // loader, a sanitizer), since the child inherits it held and then calls
  // dlopen. Programs with threads of their own must give the program.
  // Windows has no fork: there an empty name means ofxhost-probe.exe in the
  // folder of the running program, and when none is there every probe
  // fails with "cannot start the probe PATH: ...". The time limit ends the
  // probe and every process it started (on Windows a job object, elsewhere
  // its process group).
  std::string probeProgram;
  // How long a probe may take before it is ended and its bundle recorded
  // as hanging.
  int probeTimeoutMs = 30000;
  // Asked between bundles by scan() and addBundle(), and at least every
  // 50 ms while a probe runs. When it answers true, the probe running is
  // ended with every process it started, nothing is recorded against its
  // bundle, the scan stops and scanStopped() says so. Probes run apart
  // from the terminal's signals (a process group of their own), so a
  // Ctrl-C reaches the program, which may answer true here, never the
  // plug-in being probed. Empty: never stop.
  std::function<bool()> stopRequested;
  // A file in which the probe's findings are kept per bundle, keyed by the
  // binary's path, size and modification time, so that a scan probes only
  // new or changed bundles; a bundle that failed stays failed, with its
  // reason, until its binary changes. Empty: no cache (the default, so that
  // tests and programs that load their own plug-ins stay hermetic). Used
  // with probeInChildProcess, by scan() and addBundle(). See
  // defaultPluginCachePath(). A cache file that cannot be read, or that is
  // damaged or of another format, is ignored and written anew.
  std::string pluginCachePath;
  // Probes every bundle again and rewrites the cache.
  bool rescanPlugins = false;
};

// Where a program keeps its plug-in cache for this user:
// $XDG_CACHE_HOME/qeffects/ofxhost-plugins.cache (~/.cache when unset; on
// Windows under %LOCALAPPDATA%). "" when the system names no such folder.
std::string defaultPluginCachePath();

// One call of the progress suite by a plug-in.
struct ProgressEvent {
  enum class Kind { Start, Update, End };
  Kind kind = Kind::Start;
  OfxImageEffectHandle instance = nullptr;
  std::string label;     // Start: what the task is
  double fraction = 0.0; // Update: done so far, 0 to 1; End: 1
};

// A bundle that could not be used, and why.
struct BundleError {
  std::string path;
  std::string reason;
};

class Instance;

// ---------------------------------------------------------------- plug-ins

// One plug-in record of a loaded bundle.
class Plugin {
public:
  const std::string &identifier() const;
  unsigned versionMajor() const;
  unsigned versionMinor() const;
  const std::string &bundlePath() const; // the NAME.ofx.bundle directory
  const std::string &binaryPath() const; // the .ofx file
  const std::string &apiName() const;
  int apiVersion() const;

  // Opens the bundle's binary in this process if it is not yet, then
  // setHost and the load action, once. Later calls return the first result.
  ActionResult load();
  // load() and the describe action, once.
  ActionResult describe();
  // describe() and the describe-in-context action for the context
  // (kOfxImageEffectContext* name), once per context.
  ActionResult describeInContext(const std::string &context);

  // After describe(): the effect descriptor. Label convenience: the
  // descriptor's kOfxPropLabel, or "" before describe().
  Descriptor &descriptor();
  std::string label();
  // After describeInContext(context); nullptr before.
  Descriptor *contextDescriptor(const std::string &context);

  // describeInContext(context), then the create-instance action. Returns
  // nullptr and fills *result (when given) if any step fails.
  std::unique_ptr<Instance> createInstance(const std::string &context,
                                           ActionResult *result = nullptr);

  struct Impl;
  Impl *impl() const { return impl_.get(); }
  explicit Plugin(std::unique_ptr<Impl> impl);
  ~Plugin();

private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- host

class Host {
public:
  explicit Host(HostOptions options = {});
  // The describe action for each plug-in loaded but never described,
  // then the unload action for each plug-in whose load succeeded (once,
  // in reverse order), then the libraries are closed.
  ~Host();
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  const HostOptions &options() const;
  // Changes the CPU count of the multi-thread suite (and resizes the pool).
  void setCpuCount(unsigned count);

  // The host's own property set (kOfxPropName, supported depths, ...).
  PropertySet &props();

  // Directories searched by scan(), before OFX_PLUGIN_PATH and the default.
  void addSearchPath(const std::string &dir);
  // Finds NAME.ofx.bundle/Contents/Linux-x86-64/NAME.ofx (Contents/Win64
  // on Windows) in the search paths (and their subdirectories), then in
  // OFX_PLUGIN_PATH and the default folder (see searchEnvironmentPath and
  // searchDefaultPath), and probes each bundle (see
  // HostOptions::probeInChildProcess). A bundle or plug-in that fails is
  // recorded in errors() with the reason and the scan goes on. The others
  // appear in plugins(), but no binary is opened in this process and no
  // action runs here until a plug-in's load() (or describe(), or
  // createInstance()): a command loads only the bundles it uses. A bundle
  // name found in several directories is taken from the first one searched
  // where the bundle yields a plug-in (a broken copy before it is recorded
  // in errors() and passed over), and a plug-in identifier from the first
  // bundle holding it (the others are recorded as ignored copies); bundles
  // already open are skipped.
  // Linked folders are followed, each real folder searched once. Folders
  // and bundles whose names begin with '@' are left out, as packages
  // expect (addBundle still takes such a bundle when named).
  void scan();
  // The last scan() or addBundle() stopped early because
  // HostOptions::stopRequested asked it to.
  bool scanStopped() const;
  // Probes one bundle directory (or a .ofx file), opens it and runs each
  // plug-in's load action. Returns the plug-ins that loaded; failures go to
  // errors() and, for the first one, to *error when given.
  std::vector<Plugin *> addBundle(const std::string &path,
                                  std::string *error = nullptr);
  // Like addBundle but runs no action, in the probe or here: for tests of
  // the load action. The binary opens on the first load().
  std::vector<Plugin *> openBundle(const std::string &path,
                                   std::string *error = nullptr);

  std::vector<Plugin *> plugins() const;
  const std::vector<BundleError> &errors() const;
  // A plug-in by identifier, by the last label of its identifier
  // ("qgradient"), or by its label, when that names exactly one plug-in.
  // Last labels and labels match whatever their case; an exact label is
  // preferred to one that differs only in case.
  // nullptr (and *error when given) if none or several match.
  Plugin *find(const std::string &name, std::string *error = nullptr);

  // Receives every progress report of this host's instances, one at a
  // time, on the plug-in's thread. Returning false from an update asks the
  // plug-in to stop (it gets kOfxStatReplyNo). An empty function drops them.
  void setProgressListener(std::function<bool(const ProgressEvent &)> listener);

  // Messages posted through the message suite: "type: text".
  std::vector<std::string> messages() const;

  // The structure handed to plug-ins' setHost: its fetchSuite gives tests
  // the same suites a plug-in gets.
  OfxHost *ofxHost();

  struct Impl;
  Impl *impl() const { return impl_.get(); }

private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- clips

// A clip of an instance. Images are supplied by the caller; a fetch at a
// time with no image answers kOfxStatFailed.
class Clip {
public:
  const std::string &name() const;
  PropertySet &props();

  // The clip's pixel depth and components (what the plug-in reads from the
  // clip's properties). Images handed out need not match: tests use that.
  void setFormat(BitDepth depth, Components components);
  BitDepth depth() const;
  Components components() const;

  void setConnected(bool connected);
  bool connected() const;

  // The image for every time, for one time, or from a provider. A fetch
  // takes the image set for its exact time first, then the provider's, then
  // the one for every time.
  void setImage(ImagePtr image);
  void setImageAt(double time, ImagePtr image);
  void setImageProvider(std::function<ImagePtr(double time)> provider);
  void clearImages();
  ImagePtr imageAt(double time) const; // what a fetch would hand out

  // The region of definition the clip reports. Default: the image's bounds
  // at that time divided by its render scale (and its pixel aspect ratio in
  // x); an empty rectangle when there is no image. For the output clip the
  // default is the caller's output image, the frame being rendered, in the
  // same way, and without one the effect's region of definition action.
  void setRegionOfDefinition(OfxRectD rod);
  void clearRegionOfDefinition();

  // Number of images handed out and not yet released.
  int imagesOutstanding() const;
  // Number of successful image fetches so far.
  int imagesFetched() const;

  // The handle the plug-in gets for this clip.
  OfxImageClipHandle handle();

  struct Impl;
  Impl *impl() const { return impl_.get(); }
  explicit Clip(std::unique_ptr<Impl> impl);
  ~Clip();

private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- params

// A parameter of an instance. Numeric values of every type (integer,
// boolean, choice, double, RGB/RGBA, 2D/3D) are vectors of doubles, one per
// dimension; setting clamps each component to the parameter's range (a
// choice to its options). Keys interpolate linearly (a boolean or choice
// holds each key's value until the next key); before the first and after
// the last key the value is that key's. Through the suite, paramSetValue on
// a parameter with keys sets a key at the current time, the time of the
// instance's latest render or region action.
class Param {
public:
  const std::string &name() const;
  const std::string &type() const; // kOfxParamType*
  PropertySet &props();
  int dimension() const;

  void setValue(const std::vector<double> &value); // clears keys
  void setKey(double time, const std::vector<double> &value);
  std::vector<double> valueAt(double time) const;
  int numKeys() const;

  void setString(const std::string &value); // string parameters
  std::string stringValue() const;

  // The handle the plug-in gets for this parameter.
  OfxParamHandle handle();

  struct Impl;
  Impl *impl() const { return impl_.get(); }
  explicit Param(std::unique_ptr<Impl> impl);
  ~Param();

private:
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- instances

struct RenderRequest {
  double time = 0.0;
  OfxRectI window{0, 0, 0, 0}; // pixel coordinates
  OfxPointD scale{1.0, 1.0};
  std::string field = kOfxImageFieldNone;
  bool sequential = false;
  bool interactive = false;
  // What this render's image fetches hand out; unset: the host's policy.
  std::optional<ImagePolicy> imagePolicy = std::nullopt;
};

// Failures the host injects, for tests of how a plug-in copes.
struct Faults {
  // clipGetImage answers this status instead of an image (kOfxStatOK: no
  // fault) for the clip named imageFetchClip, or for every clip when empty.
  OfxStatus imageFetch = kOfxStatOK;
  std::string imageFetchClip;
  // clipGetRegionOfDefinition answers this status.
  OfxStatus regionQuery = kOfxStatOK;
  // paramGetValue / paramGetValueAtTime answer this status.
  OfxStatus paramGet = kOfxStatOK;
};

// An effect instance. Destroying it runs the destroy-instance action.
// Destroy instances before their Host: the host's destructor runs the
// destroy action of any still alive, after which every action answers
// kOfxStatErrBadHandle and plugin() must not be used.
class Instance {
public:
  ~Instance();
  Instance(const Instance &) = delete;
  Instance &operator=(const Instance &) = delete;

  Plugin &plugin();
  const std::string &context() const;
  PropertySet &props(); // the effect instance's property set

  std::vector<std::string> clipNames() const;
  Clip &clip(const std::string &name); // throws std::out_of_range if unknown
  std::vector<std::string> paramNames() const;
  Param &param(const std::string &name); // throws std::out_of_range

  // Connects an image to the "Source" clip: the clip takes the image's
  // format, then the clip preferences are resolved (by default the output
  // takes the source's depth and components).
  void setSource(ImagePtr image);
  // The image handed out for the "Output" clip; without one a fetch of the
  // output answers kOfxStatFailed.
  void setOutput(ImagePtr image);

  // The clip-preferences action, applying the default when the plug-in
  // answers kOfxStatReplyDefault.
  ActionResult clipPreferences();

  ActionResult render(const RenderRequest &request);
  // Runs the clip preferences first when they have not run since the
  // instance was created or a clip was connected or disconnected, and
  // answers their failure instead of beginning.
  ActionResult beginSequenceRender(double first, double last,
                                   OfxPointD scale = {1.0, 1.0});
  ActionResult endSequenceRender(double first, double last,
                                 OfxPointD scale = {1.0, 1.0});
  // Asks the plug-in to free what it can, as a host short of memory does.
  ActionResult purgeCaches();
  // The region-of-definition action; on kOfxStatReplyDefault rod is the
  // default (the source clip's region).
  ActionResult regionOfDefinition(double time, OfxPointD scale, OfxRectD &rod);
  // The regions-of-interest action for the region roi of the output. rois
  // receives one entry per input clip: what the plug-in set, or roi itself
  // where it set nothing (the standard's default). setByPlugin, when given,
  // receives the names of the clips the plug-in did set.
  ActionResult regionsOfInterest(double time, OfxPointD scale,
                                 const OfxRectD &roi,
                                 std::map<std::string, OfxRectD> &rois,
                                 std::set<std::string> *setByPlugin = nullptr);
  // Any other action, with the given in-arguments (may be null).
  ActionResult callAction(const std::string &action,
                          PropertySet *inArgs = nullptr,
                          PropertySet *outArgs = nullptr);

  Faults &faults();
  // abort() answers true from poll number n + 1 on (n < 0: never).
  void setAbortAfterPolls(long n);
  // abort() answers predicate(poll index, counting from 0).
  void setAbortPredicate(std::function<bool(long poll)> predicate);
  long abortPolls() const;

  // The handle the plug-in gets for this instance.
  OfxImageEffectHandle handle();

  struct Impl;
  Impl *impl() const { return impl_.get(); }
  explicit Instance(std::unique_ptr<Impl> impl);

private:
  std::unique_ptr<Impl> impl_;
};

// Where ofx_add_bundle puts bundle NAME under dir:
// dir/NAME.ofx.bundle/Contents/Linux-x86-64/NAME.ofx (Contents/Win64 on
// Windows).
std::string bundleBinaryPath(const std::string &bundleDir);
std::string bundlePathIn(const std::string &dir, const std::string &name);

} // namespace ofxhost
