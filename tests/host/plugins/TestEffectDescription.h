/* What every C-only test plug-in says about itself on describe: a label,
 * the "Test" group, its contexts and the three depths the host renders. */
#pragma once

#include "ofxImageEffect.h"
#include "ofxProperty.h"

static inline void describeTestEffect(const OfxPropertySuiteV1 *props,
                                      OfxPropertySetHandle p,
                                      const char *label,
                                      const char *const *contexts,
                                      int contextCount) {
  int i;
  props->propSetString(p, kOfxPropLabel, 0, label);
  props->propSetString(p, kOfxImageEffectPluginPropGrouping, 0, "Test");
  for (i = 0; i < contextCount; ++i)
    props->propSetString(p, kOfxImageEffectPropSupportedContexts, i,
                         contexts[i]);
  props->propSetString(p, kOfxImageEffectPropSupportedPixelDepths, 0,
                       kOfxBitDepthByte);
  props->propSetString(p, kOfxImageEffectPropSupportedPixelDepths, 1,
                       kOfxBitDepthShort);
  props->propSetString(p, kOfxImageEffectPropSupportedPixelDepths, 2,
                       kOfxBitDepthFloat);
}
