#include "FastOutlinePluginFactory.h"

#include "FastOutlinePlugin.h"
#include "OutlineNames.h"

namespace rimlet {

namespace {

const unsigned int kVersionMajor = 1;
const unsigned int kVersionMinor = 0;

void setAllLabels(OFX::ParamDescriptor &param, const std::string &label) {
  param.setLabels(label, label, label);
}

void defineColorParam(OFX::ImageEffectDescriptor &desc,
                      OFX::PageParamDescriptor &page) {
  OFX::RGBAParamDescriptor *param = desc.defineRGBAParam(names::kOutlineColor);
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
  OFX::DoubleParamDescriptor *param =
      desc.defineDoubleParam(names::kOutlineWidth);
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
  OFX::ChoiceParamDescriptor *param = desc.defineChoiceParam(names::kQuality);
  setAllLabels(*param, "Quality");
  param->setHint("Processing quality and speed trade-off");
  param->appendOption(names::kQualityDraft);
  param->appendOption(names::kQualityGood);
  param->appendOption(names::kQualityBest);
  param->setDefault(1);
  param->setAnimates(false);
  page.addChild(*param);
}

} // namespace

void FastOutlinePluginFactory::describe(OFX::ImageEffectDescriptor &desc) {
  desc.setLabels(names::kLabel, names::kLabel, names::kLabel);
  desc.setPluginGrouping("Filter");
  desc.setPluginDescription(
      "Add fast high-quality outline to text/shapes (max 20px width)");
  OFX::describeFilter(desc);
}

void FastOutlinePluginFactory::describeInContext(
    OFX::ImageEffectDescriptor &desc, OFX::ContextEnum /*context*/) {
  OFX::defineFilterClips(desc);

  OFX::PageParamDescriptor *page = desc.definePageParam(names::kPage);
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
      rimlet::names::kPluginIdentifier, rimlet::kVersionMajor,
      rimlet::kVersionMinor);
  ids.push_back(&factory);
}
} // namespace Plugin
} // namespace OFX
