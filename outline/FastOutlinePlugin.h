// The outline effect's instance: binds the clips and parameters that the
// factory declares, answers the region queries and runs each render through
// the processor for the output's pixel format.
#pragma once

#include "ofxsImageEffect.h"
#include "ofxsPixelFormat.h"

#include "OutlineField.h"

class FastOutlineProcessorBase;

namespace rimlet {

class FastOutlinePlugin : public OFX::ImageEffect {
public:
  explicit FastOutlinePlugin(OfxImageEffectHandle handle);
  ~FastOutlinePlugin() override = default;

  void render(const OFX::RenderArguments &args) override;
  bool getRegionOfDefinition(const OFX::RegionOfDefinitionArguments &args,
                             OfxRectD &rod) override;
  void getRegionsOfInterest(const OFX::RegionsOfInterestArguments &args,
                            OFX::RegionOfInterestSetter &setter) override;
  // Frees the field blocks of the module's renders that are not running.
  void purgeCaches() override;

private:
  void setupAndProcess(FastOutlineProcessorBase &processor,
                       const OFX::RenderArguments &args,
                       OFX::PixelFormat format);

  // Owned by the ImageEffect base; never deleted here.
  OFX::Clip *dstClip_ = nullptr;
  OFX::Clip *srcClip_ = nullptr;
  OFX::RGBAParam *outlineColor_ = nullptr;
  OFX::DoubleParam *outlineWidth_ = nullptr;
  OFX::ChoiceParam *quality_ = nullptr;
};

} // namespace rimlet
