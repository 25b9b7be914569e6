#include "FastOutlinePluginFactory.h"

#include "FastOutlinePlugin.h"

namespace rimlet {

namespace {

const char *const kPluginIdentifier = "net.qfx.qoutline";
const unsigned int kVersionMajor = 1;
const unsigned int kVersionMinor = 0;

const char *const kPageName = "Controls";

void setAllLabels(OFX::ParamDescriptor &param, const std::string &label) {
  param.setLabels(label, label, label);
}

void defineColorParam(OFX::ImageEffectDescriptor &desc,
                      OFX::PageParamDescriptor &page) {
  OFX::RGBAParamDescriptor *param = desc.defineRGBAParam("outlineColor");
  setAllLabels(*param, "Outline Color");
  param->setHint("Color of the outline");
  param->setDefault(1.0, 1.0, 1.0, 1.0);
  param->setAnimates(true);
  page.addChild(*param);
}

// The width is a plain number of pixels: the instance scales it for proxy
// renders itself.
void defineWidthParam(OFX::ImageEffectDescriptor &desc,
                      OFX::PageParamDescriptor &page) {
  OFX::DoubleParamDescriptor *param = desc.defineDoubleParam("outlineWidth");
  setAllLabels(*param, "Outline Width");
  param->setHint("Width of the outline in pixels");
  param->setDefault(2.0);
  param->setRange(0.1, 20.0);
  param->setDisplayRange(0.1, 20.0);
  param->setIncrement(0.1);
  param->setDigits(1);
  param->setAnimates(true);
  page.addChild(*param);
}

// The option index is the quality level the processor takes, so the order
// of the options matters. Options carry no labels, which keeps the hint
// free of per-option lines.
void defineQualityParam(OFX::ImageEffectDescriptor &desc,
                        OFX::PageParamDescriptor &page) {
  OFX::ChoiceParamDescriptor *param = desc.defineChoiceParam("quality");
  setAllLabels(*param, "Quality");
  param->setHint("Processing quality and speed trade-off");
  param->appendOption("Draft (Fastest)");
  param->appendOption("Good (Balanced)");
  param->appendOption("Best (Highest Quality)");
  param->setDefault(1);
  param->setAnimates(false);
  page.addChild(*param);
}

} // namespace

void FastOutlinePluginFactory::describe(OFX::ImageEffectDescriptor &desc) {
  desc.setLabels("Q_Outline", "Q_Outline", "Q_Outline");
  desc.setPluginGrouping("Filter");
  desc.setPluginDescription(
      "Add fast high-quality outline to text/shapes (max 20px width)");
  desc.addSupportedContext(OFX::eContextFilter);
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

void FastOutlinePluginFactory::describeInContext(
    OFX::ImageEffectDescriptor &desc, OFX::ContextEnum /*context*/) {
  OFX::ClipDescriptor *source =
      desc.defineClip(kOfxImageEffectSimpleSourceClipName);
  source->addSupportedComponent(OFX::ePixelComponentRGBA);
  source->addSupportedComponent(OFX::ePixelComponentAlpha);
  source->setTemporalClipAccess(false);
  source->setSupportsTiles(true);
  source->setIsMask(false);
  source->setOptional(false);

  OFX::ClipDescriptor *output = desc.defineClip(kOfxImageEffectOutputClipName);
  output->addSupportedComponent(OFX::ePixelComponentRGBA);
  output->addSupportedComponent(OFX::ePixelComponentAlpha);
  output->setSupportsTiles(true);

  OFX::PageParamDescriptor *page = desc.definePageParam(kPageName);
  defineColorParam(desc, *page);
  defineWidthParam(desc, *page);
  defineQualityParam(desc, *page);
}

OFX::ImageEffect *
FastOutlinePluginFactory::createInstance(OfxImageEffectHandle handle,
                                         OFX::ContextEnum /*context*/) {
  return new FastOutlinePlugin(handle);
}

} // namespace rimlet

namespace OFX {
namespace Plugin {
// Built on the first call, which the support library makes when it first
// lists the module's plug-ins, and destroyed when the module is unloaded.
void getPluginIDs(PluginFactoryArray &ids) {
  static rimlet::FastOutlinePluginFactory factory(
      rimlet::kPluginIdentifier, rimlet::kVersionMajor, rimlet::kVersionMinor);
  ids.push_back(&factory);
}
} // namespace Plugin
} // namespace OFX
