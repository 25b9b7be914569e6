// The outline effect's instance: binds the parameters that the factory
// declares, answers the region queries and runs each render through the
// processor for the output's pixel format.
#pragma once

#include "ofxsFilter.h"

#include "OutlineField.h"

class FastOutlineProcessorBase;

namespace rimlet {

class FastOutlinePlugin : public OFX::FilterEffect {
public:
  explicit FastOutlinePlugin(OfxImageEffectHandle handle);
  ~FastOutlinePlugin() override = default;

  bool getRegionOfDefinition(const OFX::RegionOfDefinitionArguments &args,
                             OfxRectD &rod) override;
  void getRegionsOfInterest(const OFX::RegionsOfInterestArguments &args,
                            OFX::RegionOfInterestSetter &setter) override;
  // Frees the field blocks of the module's renders that are not running.
  void purgeCaches() override;

private:
  void renderImages(const OFX::RenderArguments &args,
                    OFX::FilterImages &images) override;
  void setupAndProcess(FastOutlineProcessorBase &processor,
                       const OFX::RenderArguments &args,
                       OFX::FilterImages &images);

  // Owned by the ImageEffect base; never deleted here.
  OFX::RGBAParam *outlineColor_ = nullptr;
  OFX::DoubleParam *outlineWidth_ = nullptr;
  OFX::ChoiceParam *quality_ = nullptr;
};

} // namespace rimlet
