// The gradient effect's instance: binds the clips and parameters that the
// factory declares, answers the region queries and runs each render through
// the processor for the output's pixel format.
#pragma once

#include "ofxsImageEffect.h"
#include "ofxsPixelFormat.h"

namespace tintrow {

class FillProcessorBase;

class FillPlugin : public OFX::ImageEffect {
public:
  explicit FillPlugin(OfxImageEffectHandle handle);

  void render(const OFX::RenderArguments &args) override;
  bool getRegionOfDefinition(const OFX::RegionOfDefinitionArguments &args,
                             OfxRectD &rod) override;
  void getRegionsOfInterest(const OFX::RegionsOfInterestArguments &args,
                            OFX::RegionOfInterestSetter &setter) override;

private:
  void setupAndProcess(FillProcessorBase &processor,
                       const OFX::RenderArguments &args,
                       OFX::PixelFormat format);

  // Owned by the ImageEffect base; never deleted here.
  OFX::Clip *dstClip_ = nullptr;
  OFX::Clip *srcClip_ = nullptr;
  OFX::RGBAParam *startColor_ = nullptr;
  OFX::RGBAParam *endColor_ = nullptr;
  OFX::Double2DParam *startPosition_ = nullptr;
  OFX::Double2DParam *endPosition_ = nullptr;
  OFX::ChoiceParam *gradientType_ = nullptr;
};

} // namespace tintrow
