#ifndef OFXS_IMAGEEFFECT_H
#define OFXS_IMAGEEFFECT_H

// Everything an image-effect plug-in needs: descriptors for the describe
// actions, the effect instance base class with its clips and images, the
// argument structs of the actions and the factory that ties a plug-in to
// the library's main entry.

#include "ofxsCore.h"
#include "ofxsMultiThread.h"
#include "ofxsParam.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace OFX {

class ImageEffect;
class Clip;
namespace Private {
struct ActionDispatcher;
}

// ---------------------------------------------------------------------------
// What the host said about itself. Properties a host does not publish keep
// the standard's default.

struct ImageEffectHostDescription {
  std::string hostName;
  std::string hostLabel;
  bool hostIsBackground = false;
  bool supportsOverlays = false;
  bool supportsMultiResolution = true;
  bool supportsTiles = true;
  bool temporalClipAccess = false;
  bool supportsMultipleClipDepths = false;
  bool supportsMultipleClipPARs = false;
  bool supportsSetableFrameRate = false;
  bool supportsSetableFielding = false;
  int maxParameters = -1; // -1: no limit
  int maxPages = 0;
  std::vector<ContextEnum> supportedContexts;
  std::vector<BitDepthEnum> supportedPixelDepths;
  std::vector<PixelComponentEnum> supportedComponents;
};

// Valid after the load action; null before.
const ImageEffectHostDescription *getImageEffectHostDescription();

// ---------------------------------------------------------------------------
// Descriptors

class ClipDescriptor {
public:
  ClipDescriptor(const std::string &name, OfxPropertySetHandle props);
  ClipDescriptor(const ClipDescriptor &) = delete;
  ClipDescriptor &operator=(const ClipDescriptor &) = delete;

  const std::string &getName() const { return name_; }
  const PropertySet &getPropertySet() const { return props_; }

  void setLabels(const std::string &label, const std::string &shortLabel,
                 const std::string &longLabel);
  void addSupportedComponent(PixelComponentEnum components);
  void setTemporalClipAccess(bool enabled);
  void setSupportsTiles(bool enabled);
  void setIsMask(bool enabled);
  void setOptional(bool enabled);
  void setFieldExtraction(FieldEnum extraction); // kOfxImageFieldDoubled...

private:
  std::string name_;
  PropertySet props_;
};

// Wraps the effect descriptor handle of describe and describe-in-context.
// Owns the clip and parameter descriptors it defines.
class ImageEffectDescriptor {
public:
  explicit ImageEffectDescriptor(OfxImageEffectHandle handle);
  ~ImageEffectDescriptor();
  ImageEffectDescriptor(const ImageEffectDescriptor &) = delete;
  ImageEffectDescriptor &operator=(const ImageEffectDescriptor &) = delete;

  OfxImageEffectHandle getHandle() const { return handle_; }
  const PropertySet &getPropertySet() const { return props_; }

  void setLabels(const std::string &label, const std::string &shortLabel,
                 const std::string &longLabel);
  void setPluginGrouping(const std::string &grouping);
  void setPluginDescription(const std::string &description);
  void addSupportedContext(ContextEnum context);
  void addSupportedBitDepth(BitDepthEnum depth);
  void setSingleInstance(bool enabled);
  void setHostFrameThreading(bool enabled);
  void setSupportsMultiResolution(bool enabled);
  void setSupportsTiles(bool enabled);
  void setTemporalClipAccess(bool enabled);
  void setRenderTwiceAlways(bool enabled);
  void setSupportsMultipleClipPARs(bool enabled);
  void setSupportsMultipleClipDepths(bool enabled);
  void setRenderThreadSafety(RenderSafetyEnum safety);

  // Repeated definitions of one name return the same object.
  ClipDescriptor *defineClip(const std::string &name);
  IntParamDescriptor *defineIntParam(const std::string &name);
  BooleanParamDescriptor *defineBooleanParam(const std::string &name);
  DoubleParamDescriptor *defineDoubleParam(const std::string &name);
  Double2DParamDescriptor *defineDouble2DParam(const std::string &name);
  RGBAParamDescriptor *defineRGBAParam(const std::string &name);
  ChoiceParamDescriptor *defineChoiceParam(const std::string &name);
  GroupParamDescriptor *defineGroupParam(const std::string &name);
  PageParamDescriptor *definePageParam(const std::string &name);

private:
  template <class D>
  D *defineParam(const std::string &name, ParamTypeEnum type);

  OfxImageEffectHandle handle_;
  PropertySet props_;
  OfxParamSetHandle paramSet_ = nullptr;
  std::map<std::string, std::unique_ptr<ClipDescriptor>> clips_;
  std::map<std::string, std::unique_ptr<ParamDescriptor>> params_;
};

// ---------------------------------------------------------------------------
// Coordinates

// The pixels at `renderScale` that a canonical rectangle touches: canonical
// x times the scale and divided by the pixel aspect ratio, y times the
// scale, rounded outwards. Values within a millionth of a whole pixel count
// as it, so that W / S canonical units come back as W pixels, not W + 1.
OfxRectI canonicalToPixelEnclosing(const OfxRectD &rect, OfxPointD renderScale,
                                   double pixelAspectRatio);

// ---------------------------------------------------------------------------
// Images and clips

// An image fetched from a clip. Deleting it releases it to the host. The
// properties are read once when it is built, so the accessors are cheap and
// safe to call from the render threads.
class Image {
public:
  // Takes over the host image: it is released even if reading its
  // properties fails (the constructor then throws).
  explicit Image(OfxPropertySetHandle imageHandle);
  ~Image();
  Image(const Image &) = delete;
  Image &operator=(const Image &) = delete;

  const PropertySet &getPropertySet() const { return props_; }
  void *getPixelData() const { return data_; }
  int getRowBytes() const { return rowBytes_; }
  OfxRectI getBounds() const { return bounds_; }
  OfxRectI getRegionOfDefinition() const { return regionOfDefinition_; }
  BitDepthEnum getPixelDepth() const { return depth_; }
  PixelComponentEnum getPixelComponents() const { return components_; }
  int getPixelComponentCount() const { return componentCount(components_); }
  OfxPointD getRenderScale() const { return renderScale_; }
  double getPixelAspectRatio() const { return pixelAspectRatio_; }
  PreMultiplicationEnum getPreMultiplication() const {
    return premultiplication_;
  }
  PreMultiplicationEnum getPremultiplication() const {
    return premultiplication_;
  }
  FieldEnum getField() const { return field_; }
  const std::string &getUniqueIdentifier() const { return uniqueIdentifier_; }

  // Address of pixel (x, y), honouring the row bytes (padded or negative);
  // null outside the bounds or when the pixel size is unknown.
  void *getPixelAddress(int x, int y) const;

private:
  PropertySet props_;
  void *data_ = nullptr;
  int rowBytes_ = 0;
  int pixelBytes_ = 0;
  OfxRectI bounds_{0, 0, 0, 0};
  OfxRectI regionOfDefinition_{0, 0, 0, 0};
  BitDepthEnum depth_ = eBitDepthNone;
  PixelComponentEnum components_ = ePixelComponentNone;
  OfxPointD renderScale_{1.0, 1.0};
  double pixelAspectRatio_ = 1.0;
  PreMultiplicationEnum premultiplication_ = eImageOpaque;
  FieldEnum field_ = eFieldNone;
  std::string uniqueIdentifier_;
};

// A clip of a live effect instance. Owned by the ImageEffect that fetched it.
class Clip {
public:
  Clip(ImageEffect &effect, const std::string &name, OfxImageClipHandle handle,
       OfxPropertySetHandle props);
  Clip(const Clip &) = delete;
  Clip &operator=(const Clip &) = delete;

  const std::string &name() const { return name_; }
  const std::string &getName() const { return name_; }
  OfxImageClipHandle getHandle() const { return handle_; }
  const PropertySet &getPropertySet() const { return props_; }

  BitDepthEnum getPixelDepth() const;
  PixelComponentEnum getPixelComponents() const;
  BitDepthEnum getUnmappedPixelDepth() const;
  PixelComponentEnum getUnmappedPixelComponents() const;
  PreMultiplicationEnum getPreMultiplication() const;
  double getPixelAspectRatio() const;
  bool isConnected() const;
  OfxRectD getRegionOfDefinition(double t) const;
  // The region of definition in pixels at `renderScale`: the whole image a
  // host that does not tile would hand out. An effect that lays its picture
  // out against it gives the same pixels whatever part of it a render is
  // handed.
  OfxRectI getPixelRegionOfDefinition(double t, OfxPointD renderScale) const;
  // The same, or `fallback` (say, the bounds of the image handed over) when
  // the host cannot tell the region: a render can still go on, as it would
  // in a host that hands over whole images.
  OfxRectI getPixelRegionOfDefinitionOr(double t, OfxPointD renderScale,
                                        const OfxRectI &fallback) const;

  // The image at time t; the caller owns it. Null when the host answers
  // kOfxStatFailed (no image there); other failures throw Exception::Suite.
  Image *fetchImage(double t);
  Image *fetchImage(double t, const OfxRectD &bounds);

private:
  Image *fetchImageImpl(double t, const OfxRectD *bounds);

  ImageEffect &effect_;
  std::string name_;
  OfxImageClipHandle handle_;
  PropertySet props_;
};

// ---------------------------------------------------------------------------
// Action arguments, read from the host's inArgs.

struct RenderArguments {
  double time = 0.0;
  OfxPointD renderScale{1.0, 1.0};
  OfxRectI renderWindow{0, 0, 0, 0};
  FieldEnum fieldToRender = eFieldNone;
  bool sequentialRenderStatus = false;
  bool interactiveRenderStatus = false;
  bool renderQualityDraft = false;
};

struct BeginSequenceRenderArguments {
  OfxRangeD frameRange{0.0, 0.0};
  double frameStep = 1.0;
  bool isInteractive = false;
  OfxPointD renderScale{1.0, 1.0};
  bool sequentialRenderStatus = false;
  bool interactiveRenderStatus = false;
};

struct EndSequenceRenderArguments {
  bool isInteractive = false;
  OfxPointD renderScale{1.0, 1.0};
  bool sequentialRenderStatus = false;
  bool interactiveRenderStatus = false;
};

struct RegionOfDefinitionArguments {
  double time = 0.0;
  OfxPointD renderScale{1.0, 1.0};
};

struct RegionsOfInterestArguments {
  double time = 0.0;
  OfxPointD renderScale{1.0, 1.0};
  OfxRectD regionOfInterest{0.0, 0.0, 0.0, 0.0};
};

struct IsIdentityArguments {
  double time = 0.0;
  FieldEnum fieldToRender = eFieldNone;
  OfxRectI renderWindow{0, 0, 0, 0};
  OfxPointD renderScale{1.0, 1.0};
};

enum InstanceChangeReason { eChangeUserEdit, eChangePluginEdit, eChangeTime };

struct InstanceChangedArgs {
  InstanceChangeReason reason = eChangeUserEdit;
  double time = 0.0;
  OfxPointD renderScale{1.0, 1.0};
};

// Receives the source regions an effect needs for a render.
class RegionOfInterestSetter {
public:
  virtual void setRegionOfInterest(const Clip &clip, const OfxRectD &roi) = 0;

protected:
  ~RegionOfInterestSetter() = default;
};

// Receives the clip preferences an effect asks for.
class ClipPreferencesSetter {
public:
  virtual void setClipComponents(const Clip &clip,
                                 PixelComponentEnum components) = 0;
  virtual void setClipBitDepth(const Clip &clip, BitDepthEnum depth) = 0;
  virtual void setPixelAspectRatio(const Clip &clip, double par) = 0;
  virtual void setOutputPremultiplication(PreMultiplicationEnum premult) = 0;
  virtual void setOutputFrameVarying(bool varying) = 0;

protected:
  ~ClipPreferencesSetter() = default;
};

// ---------------------------------------------------------------------------
// The effect instance. A plug-in derives from it; the library creates it
// through the factory, keeps it in the instance's kOfxPropInstanceData and
// deletes it when the host destroys the instance.

class ImageEffect {
public:
  explicit ImageEffect(OfxImageEffectHandle handle);
  virtual ~ImageEffect();
  ImageEffect(const ImageEffect &) = delete;
  ImageEffect &operator=(const ImageEffect &) = delete;

  OfxImageEffectHandle getHandle() const { return handle_; }
  const PropertySet &getPropertySet() const { return props_; }
  ContextEnum getContext() const { return context_; }

  // Fetches by name; the effect owns the result, and a repeated fetch of
  // one name returns the same object. Unknown names throw.
  Clip *fetchClip(const std::string &name);
  IntParam *fetchIntParam(const std::string &name);
  BooleanParam *fetchBooleanParam(const std::string &name);
  DoubleParam *fetchDoubleParam(const std::string &name);
  Double2DParam *fetchDouble2DParam(const std::string &name);
  RGBAParam *fetchRGBAParam(const std::string &name);
  ChoiceParam *fetchChoiceParam(const std::string &name);

  // True when the host wants the current render to stop early.
  bool abort() const;

  // Actions. The defaults give the standard's default answers.
  virtual void render(const RenderArguments &args) = 0;
  virtual void beginSequenceRender(const BeginSequenceRenderArguments &args);
  virtual void endSequenceRender(const EndSequenceRenderArguments &args);
  // Return false to let the host use its default region.
  virtual bool getRegionOfDefinition(const RegionOfDefinitionArguments &args,
                                     OfxRectD &rod);
  virtual void getRegionsOfInterest(const RegionsOfInterestArguments &args,
                                    RegionOfInterestSetter &setter);
  // Return true and set identityClip/identityTime when the effect would
  // pass that clip through unchanged.
  virtual bool isIdentity(const IsIdentityArguments &args, Clip *&identityClip,
                          double &identityTime);
  virtual void getClipPreferences(ClipPreferencesSetter &setter);
  virtual void changedParam(const InstanceChangedArgs &args,
                            const std::string &paramName);
  virtual void changedClip(const InstanceChangedArgs &args,
                           const std::string &clipName);
  // The host is short of memory: free whatever can be made again.
  virtual void purgeCaches();

private:
  friend struct Private::ActionDispatcher;
  template <class P> P *fetchParam(const std::string &name, ParamTypeEnum type);

  OfxImageEffectHandle handle_;
  PropertySet props_;
  OfxParamSetHandle paramSet_ = nullptr;
  ContextEnum context_ = eContextNone;
  std::map<std::string, std::unique_ptr<Clip>> clips_;
  std::map<std::string, std::unique_ptr<Param>> params_;
  // Cleared by the default changedParam/changedClip, so that the main entry
  // can answer "not handled" for an effect that does not react to changes.
  bool changeHandled_ = false;
  // Cleared by the default purgeCaches, likewise.
  bool purgeHandled_ = false;
};

// ---------------------------------------------------------------------------
// Factories

class PluginFactory {
public:
  virtual ~PluginFactory();

  virtual void load() {}
  virtual void unload() {}
  virtual void describe(ImageEffectDescriptor &desc) = 0;
  virtual void describeInContext(ImageEffectDescriptor &desc,
                                 ContextEnum context) = 0;
  virtual ImageEffect *createInstance(OfxImageEffectHandle handle,
                                      ContextEnum context) = 0;

  virtual const std::string &getID() const = 0;
  virtual unsigned int getMajorVersion() const = 0;
  virtual unsigned int getMinorVersion() const = 0;
  virtual OfxPluginEntryPoint *getMainEntry() const = 0;
};

typedef std::vector<PluginFactory *> PluginFactoryArray;

namespace Private {
// The library's action dispatcher; every factory's main entry lands here.
OfxStatus mainEntry(PluginFactory &factory, const char *action,
                    const void *handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs);
// The factory registered for `id` by getPluginIDs, or null.
PluginFactory *findFactory(const std::string &id);
} // namespace Private

// Keeps the identifier and versions and gives each factory class its own
// main entry, so the host can tell the plug-ins of a bundle apart. One
// factory object per factory class is expected (the main entry finds it by
// the identifier it was built with).
template <class FACTORY> class PluginFactoryHelper : public PluginFactory {
public:
  PluginFactoryHelper(const std::string &id, unsigned int majorVersion,
                      unsigned int minorVersion)
      : id_(id), majorVersion_(majorVersion), minorVersion_(minorVersion) {
    registeredId() = id;
  }

  const std::string &getID() const override { return id_; }
  unsigned int getMajorVersion() const override { return majorVersion_; }
  unsigned int getMinorVersion() const override { return minorVersion_; }
  OfxPluginEntryPoint *getMainEntry() const override { return &mainEntry; }

  static OfxStatus mainEntry(const char *action, const void *handle,
                             OfxPropertySetHandle inArgs,
                             OfxPropertySetHandle outArgs) {
    PluginFactory *factory = Private::findFactory(registeredId());
    if (!factory)
      return kOfxStatErrFatal;
    return Private::mainEntry(*factory, action, handle, inArgs, outArgs);
  }

private:
  static std::string &registeredId() {
    static std::string id;
    return id;
  }

  std::string id_;
  unsigned int majorVersion_;
  unsigned int minorVersion_;
};

// Defined by each plug-in module: appends its factories to `ids`.
namespace Plugin {
void getPluginIDs(PluginFactoryArray &ids);
} // namespace Plugin

} // namespace OFX

#endif // OFXS_IMAGEEFFECT_H

// A plug-in needs the processor base too; including it here keeps
// "#include ofxsImageEffect.h" enough for a whole effect.
#include "ofxsProcessing.h"
