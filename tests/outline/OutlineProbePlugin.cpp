// A minimal filter around the outline processor, so that the processor's
// tests can drive it through the host library exactly as a host drives the
// real effect: images, render windows, threads and abort all come from the
// host side. Besides the effect's own inputs it offers two test knobs: a
// quality given as a plain integer (so values outside 0 to 2 can be sent)
// a switch that leaves colour, width and quality at the processor's
// defaults, one that hands the processor the largest bounds there are, and
// the rows of the processor's strips (0: its own choice; below 0: one
// field for the window).
#include "FastOutlineProcessor.h"

#include "ofxsImageEffect.h"

#include <climits>
#include <memory>

namespace {

const char *const kPluginId = "net.qeffects.test.rimletcoreprobe";
const char *const kColor = "outlineColor";
const char *const kWidth = "outlineWidth";
const char *const kQuality = "quality";
const char *const kUseDefaults = "useDefaults";
const char *const kHugeBounds = "hugeBounds";
const char *const kStripRows = "stripRows";

class OutlineProbe : public OFX::ImageEffect {
public:
  explicit OutlineProbe(OfxImageEffectHandle handle)
      : OFX::ImageEffect(handle) {
    dstClip_ = fetchClip(kOfxImageEffectOutputClipName);
    srcClip_ = fetchClip(kOfxImageEffectSimpleSourceClipName);
    color_ = fetchRGBAParam(kColor);
    width_ = fetchDoubleParam(kWidth);
    quality_ = fetchIntParam(kQuality);
    useDefaults_ = fetchBooleanParam(kUseDefaults);
    hugeBounds_ = fetchBooleanParam(kHugeBounds);
    stripRows_ = fetchIntParam(kStripRows);
  }

  void render(const OFX::RenderArguments &args) override {
    const OFX::BitDepthEnum depth = dstClip_->getPixelDepth();
    const OFX::PixelComponentEnum components = dstClip_->getPixelComponents();
    const bool rgba = components == OFX::ePixelComponentRGBA;
    if (!rgba && components != OFX::ePixelComponentAlpha)
      OFX::throwSuiteStatusException(kOfxStatErrUnsupported);
    switch (depth) {
    case OFX::eBitDepthUByte:
      return rgba ? run<unsigned char, 4, 255>(args)
                  : run<unsigned char, 1, 255>(args);
    case OFX::eBitDepthUShort:
      return rgba ? run<unsigned short, 4, 65535>(args)
                  : run<unsigned short, 1, 65535>(args);
    case OFX::eBitDepthFloat:
      return rgba ? run<float, 4, 1>(args) : run<float, 1, 1>(args);
    default:
      OFX::throwSuiteStatusException(kOfxStatErrUnsupported);
    }
  }

private:
  template <class PIX, int nComponents, int maxValue>
  void run(const OFX::RenderArguments &args) {
    FastOutlineProcessor<PIX, nComponents, maxValue> processor(*this);
    setupAndProcess(processor, args);
  }

  void setupAndProcess(FastOutlineProcessorBase &processor,
                       const OFX::RenderArguments &args) {
    std::unique_ptr<OFX::Image> dst(dstClip_->fetchImage(args.time));
    if (!dst)
      OFX::throwSuiteStatusException(kOfxStatFailed);
    std::unique_ptr<OFX::Image> src(srcClip_->fetchImage(args.time));
    if (src && (src->getPixelDepth() != dst->getPixelDepth() ||
                src->getPixelComponents() != dst->getPixelComponents()))
      OFX::throwSuiteStatusException(kOfxStatErrFormat);

    processor.setDstImg(dst.get());
    processor.setSrcImg(src.get());
    processor.setRenderWindow(args.renderWindow);
    if (!useDefaults_->getValueAtTime(args.time)) {
      double r = 0, g = 0, b = 0, a = 0;
      color_->getValueAtTime(args.time, r, g, b, a);
      processor.setOutlineColor(r, g, b);
      processor.setOutlineWidth(width_->getValueAtTime(args.time));
      processor.setQuality(quality_->getValueAtTime(args.time));
    }
    if (hugeBounds_->getValueAtTime(args.time))
      processor.setImageBounds({INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    else
      processor.setImageBounds(dst->getBounds());
    processor.setStripRows(stripRows_->getValueAtTime(args.time));
    processor.process();
  }

  OFX::Clip *dstClip_ = nullptr;
  OFX::Clip *srcClip_ = nullptr;
  OFX::RGBAParam *color_ = nullptr;
  OFX::DoubleParam *width_ = nullptr;
  OFX::IntParam *quality_ = nullptr;
  OFX::BooleanParam *useDefaults_ = nullptr;
  OFX::BooleanParam *hugeBounds_ = nullptr;
  OFX::IntParam *stripRows_ = nullptr;
};

class OutlineProbeFactory
    : public OFX::PluginFactoryHelper<OutlineProbeFactory> {
public:
  OutlineProbeFactory()
      : OFX::PluginFactoryHelper<OutlineProbeFactory>(kPluginId, 1, 0) {}

  void describe(OFX::ImageEffectDescriptor &desc) override {
    desc.setLabels("Outline Probe", "Outline Probe", "Outline Processor Probe");
    desc.setPluginGrouping("Test");
    desc.addSupportedContext(OFX::eContextFilter);
    desc.addSupportedBitDepth(OFX::eBitDepthUByte);
    desc.addSupportedBitDepth(OFX::eBitDepthUShort);
    desc.addSupportedBitDepth(OFX::eBitDepthFloat);
    desc.setSupportsMultiResolution(true);
    desc.setSupportsTiles(true);
    desc.setHostFrameThreading(false);
  }

  void describeInContext(OFX::ImageEffectDescriptor &desc,
                         OFX::ContextEnum) override {
    for (const char *name :
         {kOfxImageEffectSimpleSourceClipName, kOfxImageEffectOutputClipName}) {
      OFX::ClipDescriptor *clip = desc.defineClip(name);
      clip->addSupportedComponent(OFX::ePixelComponentRGBA);
      clip->addSupportedComponent(OFX::ePixelComponentAlpha);
      clip->setSupportsTiles(true);
    }
    OFX::PageParamDescriptor *page = desc.definePageParam("Controls");

    OFX::RGBAParamDescriptor *color = desc.defineRGBAParam(kColor);
    color->setDefault(1.0, 1.0, 1.0, 1.0);
    page->addChild(*color);

    OFX::DoubleParamDescriptor *width = desc.defineDoubleParam(kWidth);
    width->setDefault(2.0);
    width->setRange(0.0, 100.0);
    page->addChild(*width);

    OFX::IntParamDescriptor *quality = desc.defineIntParam(kQuality);
    quality->setDefault(1);
    quality->setRange(-10, 10);
    page->addChild(*quality);

    OFX::BooleanParamDescriptor *useDefaults =
        desc.defineBooleanParam(kUseDefaults);
    useDefaults->setDefault(false);
    page->addChild(*useDefaults);

    OFX::BooleanParamDescriptor *hugeBounds =
        desc.defineBooleanParam(kHugeBounds);
    hugeBounds->setDefault(false);
    page->addChild(*hugeBounds);

    OFX::IntParamDescriptor *stripRows = desc.defineIntParam(kStripRows);
    stripRows->setDefault(0);
    stripRows->setRange(-1, 100000);
    page->addChild(*stripRows);
  }

  OFX::ImageEffect *createInstance(OfxImageEffectHandle handle,
                                   OFX::ContextEnum) override {
    return new OutlineProbe(handle);
  }
};

} // namespace

namespace OFX {
namespace Plugin {

void getPluginIDs(PluginFactoryArray &ids) {
  static OutlineProbeFactory factory;
  ids.push_back(&factory);
}

} // namespace Plugin
} // namespace OFX
