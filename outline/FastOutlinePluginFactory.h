// Tells the host what the outline effect is and creates its instances.
#pragma once

#include "ofxsImageEffect.h"

namespace rimlet {

class FastOutlinePluginFactory
    : public OFX::PluginFactoryHelper<FastOutlinePluginFactory> {
public:
  FastOutlinePluginFactory(const std::string &id, unsigned int majorVersion,
                           unsigned int minorVersion)
      : OFX::PluginFactoryHelper<FastOutlinePluginFactory>(id, majorVersion,
                                                           minorVersion) {}

  void describe(OFX::ImageEffectDescriptor &desc) override;
  void describeInContext(OFX::ImageEffectDescriptor &desc,
                         OFX::ContextEnum context) override;
  OFX::ImageEffect *createInstance(OfxImageEffectHandle handle,
                                   OFX::ContextEnum context) override;
};

} // namespace rimlet
