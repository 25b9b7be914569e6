// Effects (descriptors and instances), their clips and the images the clips
// hand out. Internal to the host library.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Parameters.h"
#include "Properties.h"

namespace ofxhost {

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
  // Takes the mutex: a render's fetches may run on the pool's threads.
  void setRequestedBounds(std::optional<OfxRectI> bounds);
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

// GPU rendering is not offered. Plug-ins written for API 1.5 ask anyway,
// so every GPU path (OpenGL, OpenCL, CUDA, Metal) is answered "false": on
// the host, on a fresh descriptor (the plug-in's defaults) and on
// instances. The names come from the standard's GPU extension, whose
// header this host does not use.
void defineGpuUnsupported(PropertySet &props);
// A sequence or render action's arguments: no GPU path is enabled, and
// there is no queue, stream or image of one.
void defineGpuRenderArgs(PropertySet &inArgs);

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
  // False until the clip preferences have run, and again after a clip was
  // connected or disconnected: a sequence must not begin on stale ones.
  std::atomic<bool> clipPreferencesCurrent{false};

  Clip *findClip(const std::string &name) const;
  OfxRectD defaultRegionOfDefinition(double time);
  OfxRectD projectRect() const;
  OfxStatus call(const char *action, PropertySet *inArgs, PropertySet *outArgs);
  ActionResult run(const char *action, PropertySet *inArgs,
                   PropertySet *outArgs);
};

} // namespace ofxhost
