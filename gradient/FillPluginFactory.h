// Tells the host what the gradient effect is and creates its instances.
#pragma once

#include "ofxsImageEffect.h"

namespace tintrow {

class FillPluginFactory : public OFX::PluginFactoryHelper<FillPluginFactory> {
public:
  FillPluginFactory(const std::string &id, unsigned int majorVersion,
                    unsigned int minorVersion)
      : OFX::PluginFactoryHelper<FillPluginFactory>(id, majorVersion,
                                                    minorVersion) {}

  void describe(OFX::ImageEffectDescriptor &desc) override;
  void describeInContext(OFX::ImageEffectDescriptor &desc,
                         OFX::ContextEnum context) override;
  OFX::ImageEffect *createInstance(OfxImageEffectHandle handle,
                                   OFX::ContextEnum context) override;
};

} // namespace tintrow
