/* A small plug-in written directly against the C API, so that the host's
 * tests do not depend on the support library. It declares one parameter of
 * every type, copies its source to its output in any pixel format using the
 * host's threads, polls the abort switch once per row, grows its region of
 * definition by its "count" parameter and asks for the same margin around
 * the requested region on its source clip. */
#include <string.h>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxParam.h"
#include "ofxProperty.h"
#include "TestEffectDescription.h"

static OfxHost *host;
static const OfxPropertySuiteV1 *props;
static const OfxImageEffectSuiteV1 *effects;
static const OfxParameterSuiteV1 *params;
static const OfxMultiThreadSuiteV1 *threads;
static const OfxMessageSuiteV1 *messages;
static const OfxMemorySuiteV1 *memory;

static OfxStatus onLoad(void) {
  props = host->fetchSuite(host->host, kOfxPropertySuite, 1);
  effects = host->fetchSuite(host->host, kOfxImageEffectSuite, 1);
  params = host->fetchSuite(host->host, kOfxParameterSuite, 1);
  threads = host->fetchSuite(host->host, kOfxMultiThreadSuite, 1);
  messages = host->fetchSuite(host->host, kOfxMessageSuite, 1);
  memory = host->fetchSuite(host->host, kOfxMemorySuite, 1);
  if (!props || !effects || !params || !threads || !messages || !memory)
    return kOfxStatErrMissingHostFeature;
  return kOfxStatOK;
}

static const char *const kFilterAndGeneral[] = {kOfxImageEffectContextFilter,
                                                kOfxImageEffectContextGeneral};

static OfxStatus describe(OfxImageEffectHandle effect) {
  OfxPropertySetHandle p;
  effects->getPropertySet(effect, &p);
  describeTestEffect(props, p, "Host Probe", kFilterAndGeneral, 2);
  props->propSetInt(p, kOfxImageEffectPluginPropHostFrameThreading, 0, 0);
  return kOfxStatOK;
}

static void defineClip(OfxImageEffectHandle effect, const char *name,
                       int optional) {
  OfxPropertySetHandle clip = defineTestClip(effects, props, effect, name);
  props->propSetInt(clip, kOfxImageClipPropOptional, 0, optional);
}

static OfxPropertySetHandle defineParam(OfxParamSetHandle set, const char *type,
                                        const char *name) {
  OfxPropertySetHandle p = NULL;
  params->paramDefine(set, type, name, &p);
  return p;
}

static OfxStatus describeInContext(OfxImageEffectHandle effect,
                                   OfxPropertySetHandle inArgs) {
  char *context = NULL;
  props->propGetString(inArgs, kOfxImageEffectPropContext, 0, &context);
  defineClip(effect, kOfxImageEffectSimpleSourceClipName, 0);
  if (context && strcmp(context, kOfxImageEffectContextGeneral) == 0)
    defineClip(effect, "Extra", 1);
  defineClip(effect, kOfxImageEffectOutputClipName, 0);

  OfxParamSetHandle set;
  effects->getParamSet(effect, &set);
  OfxPropertySetHandle p;

  p = defineParam(set, kOfxParamTypeInteger, "count");
  props->propSetInt(p, kOfxParamPropDefault, 0, 3);
  props->propSetInt(p, kOfxParamPropMin, 0, 0);
  props->propSetInt(p, kOfxParamPropMax, 0, 10);

  p = defineParam(set, kOfxParamTypeDouble, "amount");
  props->propSetDouble(p, kOfxParamPropDefault, 0, 0.5);
  props->propSetDouble(p, kOfxParamPropMin, 0, -1.0);
  props->propSetDouble(p, kOfxParamPropMax, 0, 1.0);

  p = defineParam(set, kOfxParamTypeBoolean, "flag");
  props->propSetInt(p, kOfxParamPropDefault, 0, 1);

  p = defineParam(set, kOfxParamTypeChoice, "mode");
  props->propSetString(p, kOfxParamPropChoiceOption, 0, "First");
  props->propSetString(p, kOfxParamPropChoiceOption, 1, "Second");
  props->propSetString(p, kOfxParamPropChoiceOption, 2, "Third");
  props->propSetInt(p, kOfxParamPropDefault, 0, 1);

  p = defineParam(set, kOfxParamTypeStrChoice, "flavour");
  props->propSetString(p, kOfxParamPropChoiceOption, 0, "Sweet");
  props->propSetString(p, kOfxParamPropChoiceEnum, 0, "sweet");
  props->propSetString(p, kOfxParamPropChoiceOption, 1, "Sour");
  props->propSetString(p, kOfxParamPropChoiceEnum, 1, "sour");
  props->propSetString(p, kOfxParamPropDefault, 0, "sour");

  p = defineParam(set, kOfxParamTypeRGBA, "colour");
  {
    const double def[4] = {1.0, 0.5, 0.25, 1.0};
    const double lo[4] = {0, 0, 0, 0}, hi[4] = {1, 1, 1, 1};
    props->propSetDoubleN(p, kOfxParamPropDefault, 4, def);
    props->propSetDoubleN(p, kOfxParamPropMin, 4, lo);
    props->propSetDoubleN(p, kOfxParamPropMax, 4, hi);
  }
  p = defineParam(set, kOfxParamTypeRGB, "tint");
  {
    const double def[3] = {0.1, 0.2, 0.3};
    props->propSetDoubleN(p, kOfxParamPropDefault, 3, def);
  }
  p = defineParam(set, kOfxParamTypeDouble2D, "offset");
  {
    const double def[2] = {0.25, 0.75};
    const double lo[2] = {0, -5}, hi[2] = {1, 5};
    props->propSetDoubleN(p, kOfxParamPropDefault, 2, def);
    props->propSetDoubleN(p, kOfxParamPropMin, 2, lo);
    props->propSetDoubleN(p, kOfxParamPropMax, 2, hi);
  }
  p = defineParam(set, kOfxParamTypeInteger2D, "size");
  {
    const int def[2] = {640, 480};
    const int lo[2] = {1, 1}, hi[2] = {4096, 2160};
    props->propSetIntN(p, kOfxParamPropDefault, 2, def);
    props->propSetIntN(p, kOfxParamPropMin, 2, lo);
    props->propSetIntN(p, kOfxParamPropMax, 2, hi);
  }
  p = defineParam(set, kOfxParamTypeDouble3D, "point");
  {
    const double def[3] = {1, 2, 3};
    props->propSetDoubleN(p, kOfxParamPropDefault, 3, def);
  }
  p = defineParam(set, kOfxParamTypeInteger3D, "cell");
  {
    const int def[3] = {4, 5, 6};
    const int lo[3] = {0, 0, 0}, hi[3] = {9, 9, 9};
    props->propSetIntN(p, kOfxParamPropDefault, 3, def);
    props->propSetIntN(p, kOfxParamPropMin, 3, lo);
    props->propSetIntN(p, kOfxParamPropMax, 3, hi);
  }
  p = defineParam(set, kOfxParamTypeString, "text");
  props->propSetString(p, kOfxParamPropDefault, 0, "hello");

  defineParam(set, kOfxParamTypeGroup, "group");
  defineParam(set, kOfxParamTypePushButton, "go");
  p = defineParam(set, kOfxParamTypePage, "Controls");
  props->propSetString(p, kOfxParamPropPageChild, 0, "count");
  props->propSetString(p, kOfxParamPropPageChild, 1, "amount");
  return kOfxStatOK;
}

static int paramInt(OfxImageEffectHandle effect, const char *name,
                    double time) {
  OfxParamSetHandle set;
  OfxParamHandle param;
  int value = 0;
  effects->getParamSet(effect, &set);
  params->paramGetHandle(set, name, &param, NULL);
  params->paramGetValueAtTime(param, time, &value);
  return value;
}

static OfxStatus regionOfDefinition(OfxImageEffectHandle effect,
                                    OfxPropertySetHandle inArgs,
                                    OfxPropertySetHandle outArgs) {
  OfxImageClipHandle source;
  OfxRectD rod;
  double time = 0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &source,
                         NULL);
  OfxStatus status = effects->clipGetRegionOfDefinition(source, time, &rod);
  if (status != kOfxStatOK)
    return status;
  const int grow = paramInt(effect, "count", time);
  const double r[4] = {rod.x1 - grow, rod.y1 - grow, rod.x2 + grow,
                       rod.y2 + grow};
  props->propSetDoubleN(outArgs, kOfxImageEffectPropRegionOfDefinition, 4, r);
  return kOfxStatOK;
}

static OfxStatus regionsOfInterest(OfxImageEffectHandle effect,
                                   OfxPropertySetHandle inArgs,
                                   OfxPropertySetHandle outArgs) {
  double roi[4], time = 0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  props->propGetDoubleN(inArgs, kOfxImageEffectPropRegionOfInterest, 4, roi);
  const int grow = paramInt(effect, "count", time);
  const double r[4] = {roi[0] - grow, roi[1] - grow, roi[2] + grow,
                       roi[3] + grow};
  /* Only the source's region is set: an "Extra" clip keeps the default. */
  return props->propSetDoubleN(outArgs, "OfxImageClipPropRoI_Source", 4, r);
}

/* One render's shared state, read by every band. */
typedef struct Copy {
  OfxImageEffectHandle effect;
  OfxRectI window;
  const char *src, *dst;
  OfxRectI srcBounds, dstBounds;
  int srcRowBytes, dstRowBytes, pixelBytes;
  int aborted;
} Copy;

static void copyBand(unsigned int index, unsigned int count, void *arg) {
  Copy *c = (Copy *)arg;
  const int rows = c->window.y2 - c->window.y1;
  const int y1 = c->window.y1 + (int)((long long)rows * index / count);
  const int y2 = c->window.y1 + (int)((long long)rows * (index + 1) / count);
  for (int y = y1; y < y2; ++y) {
    if (effects->abort(c->effect)) {
      c->aborted = 1;
      return;
    }
    const char *from =
        c->src + (ptrdiff_t)(y - c->srcBounds.y1) * c->srcRowBytes +
        (ptrdiff_t)(c->window.x1 - c->srcBounds.x1) * c->pixelBytes;
    char *to = (char *)c->dst +
               (ptrdiff_t)(y - c->dstBounds.y1) * c->dstRowBytes +
               (ptrdiff_t)(c->window.x1 - c->dstBounds.x1) * c->pixelBytes;
    memcpy(to, from, (size_t)(c->window.x2 - c->window.x1) * c->pixelBytes);
  }
}

static int pixelBytes(const char *depth, const char *components) {
  int bytes = strcmp(depth, kOfxBitDepthByte) == 0    ? 1
              : strcmp(depth, kOfxBitDepthShort) == 0 ? 2
              : strcmp(depth, kOfxBitDepthFloat) == 0 ? 4
                                                      : 0;
  return bytes * (strcmp(components, kOfxImageComponentRGBA) == 0 ? 4 : 1);
}

/* Answers kOfxStatErrValue unless every named property is present with
 * the given type letter (i, d, s) and dimension. */
typedef struct Expected {
  const char *name;
  char type;
  int dimension;
} Expected;

static OfxStatus checkArgs(OfxPropertySetHandle args, const Expected *list,
                           int count) {
  for (int i = 0; i < count; ++i) {
    int dimension = -1;
    if (props->propGetDimension(args, list[i].name, &dimension) != kOfxStatOK ||
        dimension != list[i].dimension)
      return kOfxStatErrValue;
    int n;
    double d;
    char *s;
    OfxStatus status =
        list[i].type == 'i'   ? props->propGetInt(args, list[i].name, 0, &n)
        : list[i].type == 'd' ? props->propGetDouble(args, list[i].name, 0, &d)
                              : props->propGetString(args, list[i].name, 0, &s);
    if (status != kOfxStatOK)
      return kOfxStatErrValue;
  }
  return kOfxStatOK;
}

static OfxStatus checkSequenceArgs(OfxPropertySetHandle inArgs) {
  static const Expected expected[] = {
      {kOfxImageEffectPropFrameRange, 'd', 2},
      {kOfxImageEffectPropFrameStep, 'd', 1},
      {kOfxPropIsInteractive, 'i', 1},
      {kOfxImageEffectPropRenderScale, 'd', 2},
      {kOfxImageEffectPropSequentialRenderStatus, 'i', 1},
      {kOfxImageEffectPropInteractiveRenderStatus, 'i', 1},
  };
  return checkArgs(inArgs, expected, sizeof expected / sizeof expected[0]);
}

static OfxStatus render(OfxImageEffectHandle effect,
                        OfxPropertySetHandle inArgs) {
  static const Expected expected[] = {
      {kOfxPropTime, 'd', 1},
      {kOfxImageEffectPropFieldToRender, 's', 1},
      {kOfxImageEffectPropRenderWindow, 'i', 4},
      {kOfxImageEffectPropRenderScale, 'd', 2},
      {kOfxImageEffectPropSequentialRenderStatus, 'i', 1},
      {kOfxImageEffectPropInteractiveRenderStatus, 'i', 1},
      {kOfxImageEffectPropRenderQualityDraft, 'i', 1},
  };
  if (checkArgs(inArgs, expected, sizeof expected / sizeof expected[0]) !=
      kOfxStatOK)
    return kOfxStatErrValue;
  OfxImageClipHandle sourceClip, outputClip;
  OfxPropertySetHandle src = NULL, dst = NULL;
  double time = 0;
  Copy c;
  memset(&c, 0, sizeof c);
  c.effect = effect;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, &c.window.x1);
  effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName,
                         &sourceClip, NULL);
  effects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &outputClip,
                         NULL);
  OfxStatus status = effects->clipGetImage(outputClip, time, NULL, &dst);
  if (status != kOfxStatOK)
    return status;
  status = effects->clipGetImage(sourceClip, time, NULL, &src);
  if (status != kOfxStatOK) {
    effects->clipReleaseImage(dst);
    return status;
  }
  char *srcDepth, *dstDepth, *srcComps, *dstComps;
  props->propGetString(src, kOfxImageEffectPropPixelDepth, 0, &srcDepth);
  props->propGetString(dst, kOfxImageEffectPropPixelDepth, 0, &dstDepth);
  props->propGetString(src, kOfxImageEffectPropComponents, 0, &srcComps);
  props->propGetString(dst, kOfxImageEffectPropComponents, 0, &dstComps);
  if (strcmp(srcDepth, dstDepth) != 0 || strcmp(srcComps, dstComps) != 0) {
    status = kOfxStatErrFormat;
  } else {
    unsigned int cpus = 1;
    if (threads->multiThreadNumCPUs(&cpus) != kOfxStatOK || cpus == 0)
      cpus = 1;
    c.pixelBytes = pixelBytes(srcDepth, srcComps);
    props->propGetPointer(src, kOfxImagePropData, 0, (void **)&c.src);
    props->propGetPointer(dst, kOfxImagePropData, 0, (void **)&c.dst);
    props->propGetIntN(src, kOfxImagePropBounds, 4, &c.srcBounds.x1);
    props->propGetIntN(dst, kOfxImagePropBounds, 4, &c.dstBounds.x1);
    props->propGetInt(src, kOfxImagePropRowBytes, 0, &c.srcRowBytes);
    props->propGetInt(dst, kOfxImagePropRowBytes, 0, &c.dstRowBytes);
    status = threads->multiThread(copyBand, cpus, &c);
    if (status == kOfxStatOK && c.aborted)
      messages->message(effect, kOfxMessageLog, NULL, "render aborted at %g",
                        time);
  }
  effects->clipReleaseImage(src);
  effects->clipReleaseImage(dst);
  return status;
}

static OfxStatus mainEntry(const char *action, const void *handle,
                           OfxPropertySetHandle inArgs,
                           OfxPropertySetHandle outArgs) {
  OfxImageEffectHandle effect = (OfxImageEffectHandle)handle;
  if (strcmp(action, kOfxActionLoad) == 0)
    return onLoad();
  if (strcmp(action, kOfxActionDescribe) == 0)
    return describe(effect);
  if (strcmp(action, kOfxImageEffectActionDescribeInContext) == 0)
    return describeInContext(effect, inArgs);
  if (strcmp(action, kOfxActionCreateInstance) == 0) {
    OfxPropertySetHandle p;
    effects->getPropertySet(effect, &p);
    return props->propSetPointer(p, kOfxPropInstanceData, 0, (void *)effect);
  }
  if (strcmp(action, kOfxActionDestroyInstance) == 0) {
    messages->message(effect, kOfxMessageLog, NULL, "destroyed");
    return kOfxStatOK;
  }
  if (strcmp(action, kOfxActionUnload) == 0) {
    messages->message(NULL, kOfxMessageLog, NULL, "unloaded");
    return kOfxStatOK;
  }
  if (strcmp(action, kOfxImageEffectActionGetRegionOfDefinition) == 0)
    return regionOfDefinition(effect, inArgs, outArgs);
  if (strcmp(action, kOfxImageEffectActionGetRegionsOfInterest) == 0)
    return regionsOfInterest(effect, inArgs, outArgs);
  if (strcmp(action, kOfxImageEffectActionRender) == 0)
    return render(effect, inArgs);
  if (strcmp(action, kOfxImageEffectActionBeginSequenceRender) == 0 ||
      strcmp(action, kOfxImageEffectActionEndSequenceRender) == 0)
    return checkSequenceArgs(inArgs);
  return kOfxStatReplyDefault;
}

static void setHost(OfxHost *h) { host = h; }

static OfxPlugin probe = {kOfxImageEffectPluginApi,
                          1,
                          "net.qeffects.test.HostProbe",
                          1,
                          2,
                          setHost,
                          mainEntry};

OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &probe : NULL; }
