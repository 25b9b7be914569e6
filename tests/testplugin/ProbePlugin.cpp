// The probe: a small filter written the way the real effects are (factory,
// instance, processor, one dispatch table over the six pixel formats) whose
// output and answers depend on its parameters in ways tests can predict.

#include "ProbeNames.h"
#include "ProbeProcessor.h"

#include "ofxsImageEffect.h"

#include <chrono>
#include <memory>
#include <thread>

namespace probe {

class ProbePlugin : public OFX::ImageEffect {
public:
  explicit ProbePlugin(OfxImageEffectHandle handle) : OFX::ImageEffect(handle) {
    dstClip_ = fetchClip(kOfxImageEffectOutputClipName);
    srcClip_ = fetchClip(kOfxImageEffectSimpleSourceClipName);
    gain_ = fetchDoubleParam(kGain);
    tint_ = fetchRGBAParam(kTint);
    mode_ = fetchChoiceParam(kMode);
    throwKind_ = fetchChoiceParam(kThrowKind);
    throwWhere_ = fetchChoiceParam(kThrowWhere);
    throwStatus_ = fetchIntParam(kThrowStatus);
    margin_ = fetchDoubleParam(kMargin);
    answerRegions_ = fetchBooleanParam(kAnswerRegions);
    holdSeconds_ = fetchDoubleParam(kHoldSeconds);
    holdIgnoresAbort_ = fetchBooleanParam(kHoldIgnoresAbort);
  }

  void render(const OFX::RenderArguments &args) override {
    throwIfAskedAt(eThrowInRender, args.time);
    if (!hold(args.time))
      return;
    const FormatRenderer renderer =
        findRenderer(dstClip_->getPixelDepth(), dstClip_->getPixelComponents());
    if (!renderer)
      OFX::throwSuiteStatusException(kOfxStatErrUnsupported);
    (this->*renderer)(args);
  }

  void
  beginSequenceRender(const OFX::BeginSequenceRenderArguments &args) override {
    throwIfAskedAt(eThrowInBeginSequence, args.frameRange.min);
  }

  bool getRegionOfDefinition(const OFX::RegionOfDefinitionArguments &args,
                             OfxRectD &rod) override {
    throwIfAskedAt(eThrowInRegions, args.time);
    if (!answerRegions_->getValueAtTime(args.time))
      return false;
    rod = grow(srcClip_->getRegionOfDefinition(args.time),
               margin_->getValueAtTime(args.time));
    return true;
  }

  void getRegionsOfInterest(const OFX::RegionsOfInterestArguments &args,
                            OFX::RegionOfInterestSetter &setter) override {
    throwIfAskedAt(eThrowInRegions, args.time);
    if (!answerRegions_->getValueAtTime(args.time))
      return;
    setter.setRegionOfInterest(
        *srcClip_,
        grow(args.regionOfInterest, margin_->getValueAtTime(args.time)));
  }

private:
  typedef void (ProbePlugin::*FormatRenderer)(const OFX::RenderArguments &);

  // False when the host asked to abort during the wait.
  bool hold(double time) {
    const auto until =
        std::chrono::steady_clock::now() +
        std::chrono::duration<double>(holdSeconds_->getValueAtTime(time));
    const bool polls = !holdIgnoresAbort_->getValueAtTime(time);
    while (std::chrono::steady_clock::now() < until) {
      if (polls && abort())
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  static OfxRectD grow(OfxRectD r, double by) {
    return OfxRectD{r.x1 - by, r.y1 - by, r.x2 + by, r.y2 + by};
  }

  void throwIfAskedAt(ThrowWhere where, double time) {
    if (mode_->getValueAtTime(time) != eModeThrow ||
        throwWhere_->getValueAtTime(time) != where)
      return;
    throwProbeException(throwKind_->getValueAtTime(time),
                        throwStatus_->getValueAtTime(time));
  }

  static FormatRenderer findRenderer(OFX::BitDepthEnum depth,
                                     OFX::PixelComponentEnum components) {
    struct Entry {
      OFX::BitDepthEnum depth;
      OFX::PixelComponentEnum components;
      FormatRenderer renderer;
    };
    static const Entry kRenderers[] = {
        {OFX::eBitDepthUByte, OFX::ePixelComponentRGBA,
         &ProbePlugin::renderFormat<unsigned char, 4, 255>},
        {OFX::eBitDepthUShort, OFX::ePixelComponentRGBA,
         &ProbePlugin::renderFormat<unsigned short, 4, 65535>},
        {OFX::eBitDepthFloat, OFX::ePixelComponentRGBA,
         &ProbePlugin::renderFormat<float, 4, 1>},
        {OFX::eBitDepthUByte, OFX::ePixelComponentAlpha,
         &ProbePlugin::renderFormat<unsigned char, 1, 255>},
        {OFX::eBitDepthUShort, OFX::ePixelComponentAlpha,
         &ProbePlugin::renderFormat<unsigned short, 1, 65535>},
        {OFX::eBitDepthFloat, OFX::ePixelComponentAlpha,
         &ProbePlugin::renderFormat<float, 1, 1>},
    };
    for (const Entry &entry : kRenderers)
      if (entry.depth == depth && entry.components == components)
        return entry.renderer;
    return nullptr;
  }

  template <class PIX, int nComponents, int maxValue>
  void renderFormat(const OFX::RenderArguments &args) {
    ProbeProcessor<PIX, nComponents, maxValue> processor(*this);
    setupAndProcess(processor, args);
  }

  void setupAndProcess(ProbeProcessorBase &processor,
                       const OFX::RenderArguments &args) {
    std::unique_ptr<OFX::Image> dst(dstClip_->fetchImage(args.time));
    if (!dst)
      OFX::throwSuiteStatusException(kOfxStatFailed);
    // The processor was picked from the clip; writing an image of another
    // layout with it would run past the image's memory.
    if (dst->getPixelDepth() != dstClip_->getPixelDepth() ||
        dst->getPixelComponents() != dstClip_->getPixelComponents())
      OFX::throwSuiteStatusException(kOfxStatErrFormat);
    std::unique_ptr<OFX::Image> src(srcClip_->fetchImage(args.time));
    if (src && (src->getPixelDepth() != dst->getPixelDepth() ||
                src->getPixelComponents() != dst->getPixelComponents()))
      OFX::throwSuiteStatusException(kOfxStatErrFormat);

    double r = 0, g = 0, b = 0, a = 0;
    tint_->getValueAtTime(args.time, r, g, b, a);
    processor.setDstImg(dst.get());
    processor.setSrcImg(src.get());
    processor.setRenderWindow(args.renderWindow);
    processor.setGain(gain_->getValueAtTime(args.time));
    processor.setTint(r, g, b, a);
    processor.setMode(mode_->getValueAtTime(args.time),
                      throwKind_->getValueAtTime(args.time),
                      throwWhere_->getValueAtTime(args.time),
                      throwStatus_->getValueAtTime(args.time));
    processor.process();
  }

  OFX::Clip *dstClip_ = nullptr;
  OFX::Clip *srcClip_ = nullptr;
  OFX::DoubleParam *gain_ = nullptr;
  OFX::RGBAParam *tint_ = nullptr;
  OFX::ChoiceParam *mode_ = nullptr;
  OFX::ChoiceParam *throwKind_ = nullptr;
  OFX::ChoiceParam *throwWhere_ = nullptr;
  OFX::IntParam *throwStatus_ = nullptr;
  OFX::DoubleParam *margin_ = nullptr;
  OFX::BooleanParam *answerRegions_ = nullptr;
  OFX::DoubleParam *holdSeconds_ = nullptr;
  OFX::BooleanParam *holdIgnoresAbort_ = nullptr;
};

class ProbePluginFactory : public OFX::PluginFactoryHelper<ProbePluginFactory> {
public:
  ProbePluginFactory()
      : OFX::PluginFactoryHelper<ProbePluginFactory>(kPluginId, kVersionMajor,
                                                     kVersionMinor) {}

  void describe(OFX::ImageEffectDescriptor &desc) override {
    desc.setLabels(kLabel, "Probe", "QFX Support Probe");
    desc.setPluginGrouping(kGrouping);
    desc.setPluginDescription(kDescription);
    desc.addSupportedContext(OFX::eContextFilter);
    desc.addSupportedContext(OFX::eContextGeneral);
    desc.addSupportedBitDepth(OFX::eBitDepthUByte);
    desc.addSupportedBitDepth(OFX::eBitDepthUShort);
    desc.addSupportedBitDepth(OFX::eBitDepthFloat);
    desc.setSingleInstance(false);
    desc.setHostFrameThreading(false);
    desc.setSupportsMultiResolution(true);
    desc.setSupportsTiles(true);
    desc.setTemporalClipAccess(false);
    desc.setRenderTwiceAlways(false);
    desc.setSupportsMultipleClipPARs(false);
    desc.setSupportsMultipleClipDepths(false);
  }

  void describeInContext(OFX::ImageEffectDescriptor &desc,
                         OFX::ContextEnum context) override {
    defineClips(desc, context);
    OFX::PageParamDescriptor *page = desc.definePageParam(kPage);

    OFX::DoubleParamDescriptor *gain = desc.defineDoubleParam(kGain);
    gain->setLabels("Gain", "Gain", "Source gain");
    gain->setHint("Multiplies the source");
    gain->setDefault(1.0);
    gain->setRange(0.0, 10.0);
    gain->setDisplayRange(0.0, 4.0);
    gain->setIncrement(0.05);
    gain->setDigits(3);
    gain->setDoubleType(OFX::eDoubleTypeScale);
    gain->setAnimates(true);
    page->addChild(*gain);

    OFX::RGBAParamDescriptor *tint = desc.defineRGBAParam(kTint);
    tint->setLabels("Tint", "Tint", "Tint added");
    tint->setHint("Added to each channel");
    tint->setDefault(0.0, 0.0, 0.0, 0.0);
    tint->setAnimates(true);
    page->addChild(*tint);

    OFX::ChoiceParamDescriptor *mode = desc.defineChoiceParam(kMode);
    mode->setLabels("Mode", "Mode", "Mode");
    mode->setHint(kModeHint);
    mode->appendOption("Normal", "Source times gain plus tint");
    mode->appendOption("Bands", "Band rows and thread index");
    mode->appendOption("Throw", "Throw the chosen exception");
    mode->appendOption("Inspect", "Source image properties");
    mode->setDefault(eModeNormal);
    mode->setAnimates(false);
    page->addChild(*mode);

    OFX::ChoiceParamDescriptor *kind = desc.defineChoiceParam(kThrowKind);
    kind->setLabels("Throw Kind", "Throw Kind", "Throw Kind");
    kind->setHint(kThrowKindHint);
    for (const char *option :
         {"Suite", "HostInadequate", "PropertyUnknownToHost", "bad_alloc",
          "runtime_error", "int"})
      kind->appendOption(option);
    kind->setDefault(eThrowSuite);
    page->addChild(*kind);

    OFX::ChoiceParamDescriptor *where = desc.defineChoiceParam(kThrowWhere);
    where->setLabels("Throw Where", "Throw Where", "Throw Where");
    for (const char *option : {"Render", "Bands", "BeginSequence", "Regions"})
      where->appendOption(option);
    where->setDefault(eThrowInRender);
    page->addChild(*where);

    OFX::IntParamDescriptor *status = desc.defineIntParam(kThrowStatus);
    status->setLabels("Throw Status", "Throw Status", "Throw Status");
    status->setDefault(kOfxStatFailed);
    status->setRange(0, 2000);
    status->setDisplayRange(0, 20);
    page->addChild(*status);

    OFX::DoubleParamDescriptor *margin = desc.defineDoubleParam(kMargin);
    margin->setLabels("Margin", "Margin", "Region margin");
    margin->setDefault(0.0);
    margin->setRange(-100.0, 100.0);
    margin->setAnimates(true);
    page->addChild(*margin);

    OFX::BooleanParamDescriptor *answer =
        desc.defineBooleanParam(kAnswerRegions);
    answer->setLabels("Answer Regions", "Answer Regions", "Answer Regions");
    answer->setDefault(true);
    page->addChild(*answer);

    OFX::DoubleParamDescriptor *holdSeconds =
        desc.defineDoubleParam(kHoldSeconds);
    holdSeconds->setLabels("Hold Seconds", "Hold Seconds", "Hold Seconds");
    holdSeconds->setDefault(0.0);
    holdSeconds->setRange(0.0, 600.0);
    page->addChild(*holdSeconds);

    OFX::BooleanParamDescriptor *ignoresAbort =
        desc.defineBooleanParam(kHoldIgnoresAbort);
    ignoresAbort->setLabels("Hold Ignores Abort", "Hold Ignores Abort",
                            "Hold Ignores Abort");
    ignoresAbort->setDefault(false);
    page->addChild(*ignoresAbort);
  }

  OFX::ImageEffect *createInstance(OfxImageEffectHandle handle,
                                   OFX::ContextEnum) override {
    return new ProbePlugin(handle);
  }

private:
  static void defineClips(OFX::ImageEffectDescriptor &desc,
                          OFX::ContextEnum context) {
    OFX::ClipDescriptor *src =
        desc.defineClip(kOfxImageEffectSimpleSourceClipName);
    src->addSupportedComponent(OFX::ePixelComponentRGBA);
    src->addSupportedComponent(OFX::ePixelComponentAlpha);
    src->setTemporalClipAccess(false);
    src->setSupportsTiles(true);
    src->setIsMask(false);
    src->setOptional(false);

    OFX::ClipDescriptor *dst = desc.defineClip(kOfxImageEffectOutputClipName);
    dst->addSupportedComponent(OFX::ePixelComponentRGBA);
    dst->addSupportedComponent(OFX::ePixelComponentAlpha);
    dst->setSupportsTiles(true);

    if (context != OFX::eContextGeneral)
      return;
    OFX::ClipDescriptor *matte = desc.defineClip(kMatteClip);
    matte->addSupportedComponent(OFX::ePixelComponentAlpha);
    matte->setIsMask(true);
    matte->setOptional(true);
  }
};

} // namespace probe

namespace OFX {
namespace Plugin {

void getPluginIDs(PluginFactoryArray &ids) {
  static probe::ProbePluginFactory factory;
  ids.push_back(&factory);
}

} // namespace Plugin
} // namespace OFX
