/* What every C-only test plug-in says about itself on describe: a label,
 * the "Test" group, its contexts and the three depths the host renders; and
 * its clips, each taking RGBA and alpha. */
#pragma once

#include "ofxImageEffect.h"
#include "ofxProperty.h"

static inline void describeTestEffect(const OfxPropertySuiteV1 *props,
                                      OfxPropertySetHandle p, const char *label,
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

/* Defines a clip taking RGBA and alpha and returns its descriptor. */
static inline OfxPropertySetHandle
defineTestClip(const OfxImageEffectSuiteV1 *effects,
               const OfxPropertySuiteV1 *props, OfxImageEffectHandle effect,
               const char *name) {
  OfxPropertySetHandle clip = NULL;
  effects->clipDefine(effect, name, &clip);
  props->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0,
                       kOfxImageComponentRGBA);
  props->propSetString(clip, kOfxImageEffectPropSupportedComponents, 1,
                       kOfxImageComponentAlpha);
  return clip;
}
