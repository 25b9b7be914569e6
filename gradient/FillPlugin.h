// The gradient effect's instance: binds the parameters that the factory
// declares, answers the region queries and runs each render through the
// processor for the output's pixel format.
#pragma once

#include "ofxsFilter.h"

namespace tintrow {

class FillProcessorBase;

class FillPlugin : public OFX::FilterEffect {
public:
  explicit FillPlugin(OfxImageEffectHandle handle);

  bool getRegionOfDefinition(const OFX::RegionOfDefinitionArguments &args,
                             OfxRectD &rod) override;
  void getRegionsOfInterest(const OFX::RegionsOfInterestArguments &args,
                            OFX::RegionOfInterestSetter &setter) override;

private:
  void renderImages(const OFX::RenderArguments &args,
                    OFX::FilterImages &images) override;
  void setupAndProcess(FillProcessorBase &processor,
                       const OFX::RenderArguments &args,
                       OFX::FilterImages &images);

  // Owned by the ImageEffect base; never deleted here.
  OFX::RGBAParam *startColor_ = nullptr;
  OFX::RGBAParam *endColor_ = nullptr;
  OFX::Double2DParam *startPosition_ = nullptr;
  OFX::Double2DParam *endPosition_ = nullptr;
  OFX::ChoiceParam *gradientType_ = nullptr;
};

} // namespace tintrow
