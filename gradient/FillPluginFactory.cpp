#include "FillPluginFactory.h"

#include "FillPlugin.h"
#include "GradientNames.h"

namespace tintrow {

namespace {

const unsigned int kVersionMajor = 1;
const unsigned int kVersionMinor = 0;

void setAllLabels(OFX::ParamDescriptor &param, const std::string &label) {
  param.setLabels(label, label, label);
}

void defineColorParam(OFX::ImageEffectDescriptor &desc,
                      OFX::PageParamDescriptor &page, const char *name,
                      const char *label, const char *hint, double r, double g,
                      double b) {
  OFX::RGBAParamDescriptor *param = desc.defineRGBAParam(name);
  setAllLabels(*param, label);
  param->setHint(hint);
  param->setDefault(r, g, b, 1.0);
  param->setAnimates(true);
  page.addChild(*param);
}

// Positions are fractions of the output image: the display range spans the
// image, the full range lets a point lie up to one image size outside it.
void definePositionParam(OFX::ImageEffectDescriptor &desc,
                         OFX::PageParamDescriptor &page, const char *name,
                         const char *label, const char *hint, double x,
                         double y) {
  OFX::Double2DParamDescriptor *param = desc.defineDouble2DParam(name);
  setAllLabels(*param, label);
  param->setHint(hint);
  param->setDefault(x, y);
  param->setRange(-1.0, -1.0, 2.0, 2.0);
  param->setDisplayRange(0.0, 0.0, 1.0, 1.0);
  param->setAnimates(true);
  page.addChild(*param);
}

void defineTypeParam(OFX::ImageEffectDescriptor &desc,
                     OFX::PageParamDescriptor &page) {
  OFX::ChoiceParamDescriptor *param =
      desc.defineChoiceParam(names::kGradientType);
  setAllLabels(*param, "Gradient Type");
  param->setHint("Type of gradient calculation");
  param->appendOption(names::kTypeLinear, "Linear gradient between two points");
  param->appendOption(names::kTypeRadial,
                      "Radial gradient from start to end position");
  param->setDefault(0);
  param->setAnimates(true);
  page.addChild(*param);
}

} // namespace

void FillPluginFactory::describe(OFX::ImageEffectDescriptor &desc) {
  desc.setLabels(names::kLabel, names::kLabel, names::kLabel);
  desc.setPluginGrouping("Filter");
  desc.setPluginDescription(
      "Fill RGB channels with advanced gradient while preserving alpha");
  OFX::describeFilter(desc);
}

void FillPluginFactory::describeInContext(OFX::ImageEffectDescriptor &desc,
                                          OFX::ContextEnum /*context*/) {
  OFX::defineFilterClips(desc);

  OFX::PageParamDescriptor *page = desc.definePageParam(names::kPage);
  defineColorParam(desc, *page, names::kStartColor, "Start Color",
                   "Gradient start color", 1.0, 0.0, 0.0);
  definePositionParam(desc, *page, names::kStartPosition, "Start Position",
                      "Position of the start color in the gradient", 0.0, 0.5);
  defineColorParam(desc, *page, names::kEndColor, "End Color",
                   "Gradient end color", 0.0, 0.0, 1.0);
  definePositionParam(desc, *page, names::kEndPosition, "End Position",
                      "Position of the end color in the gradient", 1.0, 0.5);
  defineTypeParam(desc, *page);
}

OFX::ImageEffect *
FillPluginFactory::createInstance(OfxImageEffectHandle handle,
                                  OFX::ContextEnum /*context*/) {
  return new FillPlugin(handle);
}

namespace {
// Built during the module's static initialisation, before the host can call
// either entry point, and destroyed when the module is unloaded.
FillPluginFactory gFactory(names::kPluginIdentifier, kVersionMajor,
                           kVersionMinor);
} // namespace

} // namespace tintrow

namespace OFX {
namespace Plugin {
void getPluginIDs(PluginFactoryArray &ids) {
  ids.push_back(&tintrow::gFactory);
}
} // namespace Plugin
} // namespace OFX
