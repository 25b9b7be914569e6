/* Plug-ins as strict as the support libraries hosts meet in the field: such
 * a library looks its descriptor up on unload without checking, so a host
 * that loads a plug-in and unloads it without describing it in between
 * crashes there. These abort instead, on any action out of order: a load
 * twice, describe or instances before load, unload without describe, an
 * unload twice. Written against the C API alone. The variant macro picks
 * what the binary holds:
 *   STRICT_PAIR     two filters in one binary, each copying its source
 *   GENERATOR_ONLY  one plug-in with only the generator context
 *   DESCRIBE_FAILS  one plug-in whose describe action fails */
#include <stdlib.h>
#include <string.h>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxProperty.h"
#include "TestEffectDescription.h"

static OfxHost *host;
static const OfxPropertySuiteV1 *props;
static const OfxImageEffectSuiteV1 *effects;

/* What a support library keeps per plug-in between load and unload. */
typedef struct {
  int loaded;
  int *descriptor; /* made by describe, freed by unload */
} PluginState;

static void setHost(OfxHost *h) { host = h; }

static OfxStatus load(PluginState *state) {
  if (state->loaded)
    abort();
  state->loaded = 1;
  props = host->fetchSuite(host->host, kOfxPropertySuite, 1);
  effects = host->fetchSuite(host->host, kOfxImageEffectSuite, 1);
  return props && effects ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

static OfxStatus unload(PluginState *state) {
  if (!state->loaded || !state->descriptor)
    abort();
  free(state->descriptor);
  state->descriptor = NULL;
  state->loaded = 0;
  return kOfxStatOK;
}

static OfxStatus describe(PluginState *state, OfxImageEffectHandle effect,
                          const char *label, const char *context) {
  OfxPropertySetHandle p;
  if (!state->loaded)
    abort();
  if (!state->descriptor)
    state->descriptor = calloc(1, sizeof(int));
  effects->getPropertySet(effect, &p);
  describeTestEffect(props, p, label, &context, 1);
  return kOfxStatOK;
}

static OfxStatus describeInContext(PluginState *state,
                                   OfxImageEffectHandle effect,
                                   OfxPropertySetHandle inArgs) {
  char *context = NULL;
  if (!state->descriptor)
    abort();
  props->propGetString(inArgs, kOfxImageEffectPropContext, 0, &context);
  if (context && strcmp(context, kOfxImageEffectContextGenerator) != 0)
    defineTestClip(effects, props, effect, kOfxImageEffectSimpleSourceClipName);
  defineTestClip(effects, props, effect, kOfxImageEffectOutputClipName);
  return kOfxStatOK;
}

static int bytesPerPixel(OfxPropertySetHandle image) {
  char *depth = NULL, *components = NULL;
  props->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth);
  props->propGetString(image, kOfxImageEffectPropComponents, 0, &components);
  if (!depth || !components)
    return 0;
  const int size = strcmp(depth, kOfxBitDepthByte) == 0    ? 1
                   : strcmp(depth, kOfxBitDepthShort) == 0 ? 2
                                                           : 4;
  return strcmp(components, kOfxImageComponentAlpha) == 0 ? size : 4 * size;
}

/* Copies the source's rows over the render window into the output. */
static OfxStatus render(OfxImageEffectHandle effect,
                        OfxPropertySetHandle inArgs) {
  OfxImageClipHandle source, output;
  OfxPropertySetHandle from = NULL, to = NULL;
  OfxTime time = 0;
  OfxRectI window, in, out;
  int inRowBytes = 0, outRowBytes = 0, pixel, y;
  char *inData = NULL, *outData = NULL;
  OfxStatus status = kOfxStatFailed;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, &window.x1);
  if (effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName,
                             &source, NULL) != kOfxStatOK ||
      effects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &output,
                             NULL) != kOfxStatOK ||
      effects->clipGetImage(output, time, NULL, &to) != kOfxStatOK)
    return kOfxStatFailed;
  if (effects->clipGetImage(source, time, NULL, &from) != kOfxStatOK)
    goto done;
  props->propGetIntN(from, kOfxImagePropBounds, 4, &in.x1);
  props->propGetIntN(to, kOfxImagePropBounds, 4, &out.x1);
  props->propGetInt(from, kOfxImagePropRowBytes, 0, &inRowBytes);
  props->propGetInt(to, kOfxImagePropRowBytes, 0, &outRowBytes);
  props->propGetPointer(from, kOfxImagePropData, 0, (void **)&inData);
  props->propGetPointer(to, kOfxImagePropData, 0, (void **)&outData);
  pixel = bytesPerPixel(to);
  if (!inData || !outData || pixel == 0 || pixel != bytesPerPixel(from))
    goto done;
#define MAX(a, b) ((a) > (b) ? (a) : (b))
#define MIN(a, b) ((a) < (b) ? (a) : (b))
  window.x1 = MAX(window.x1, MAX(in.x1, out.x1));
  window.x2 = MIN(window.x2, MIN(in.x2, out.x2));
  window.y1 = MAX(window.y1, MAX(in.y1, out.y1));
  window.y2 = MIN(window.y2, MIN(in.y2, out.y2));
  for (y = window.y1; y < window.y2 && window.x1 < window.x2; ++y)
    memcpy(outData + (ptrdiff_t)(y - out.y1) * outRowBytes +
               (ptrdiff_t)(window.x1 - out.x1) * pixel,
           inData + (ptrdiff_t)(y - in.y1) * inRowBytes +
               (ptrdiff_t)(window.x1 - in.x1) * pixel,
           (size_t)(window.x2 - window.x1) * pixel);
  status = kOfxStatOK;
done:
  if (from)
    effects->clipReleaseImage(from);
  effects->clipReleaseImage(to);
  return status;
}

static OfxStatus entry(PluginState *state, const char *label,
                       const char *context, OfxStatus describeStatus,
                       const char *action, const void *handle,
                       OfxPropertySetHandle inArgs) {
  OfxImageEffectHandle effect = (OfxImageEffectHandle)handle;
  if (strcmp(action, kOfxActionLoad) == 0)
    return load(state);
  if (!state->loaded)
    abort();
  if (strcmp(action, kOfxActionUnload) == 0)
    return unload(state);
  if (strcmp(action, kOfxActionDescribe) == 0) {
    const OfxStatus described = describe(state, effect, label, context);
    return described == kOfxStatOK ? describeStatus : described;
  }
  if (!state->descriptor)
    abort();
  if (strcmp(action, kOfxImageEffectActionDescribeInContext) == 0)
    return describeInContext(state, effect, inArgs);
  if (strcmp(action, kOfxImageEffectActionRender) == 0)
    return render(effect, inArgs);
  return kOfxStatReplyDefault;
}

#define STRICT_PLUGIN(name, label, context, describeStatus)                    \
  static PluginState name##State;                                              \
  static OfxStatus name##Main(const char *action, const void *handle,          \
                              OfxPropertySetHandle inArgs,                     \
                              OfxPropertySetHandle outArgs) {                  \
    (void)outArgs;                                                             \
    return entry(&name##State, label, context, describeStatus, action, handle, \
                 inArgs);                                                      \
  }

#if defined(STRICT_PAIR)
STRICT_PLUGIN(First, "Strict First", kOfxImageEffectContextFilter, kOfxStatOK)
STRICT_PLUGIN(Second, "Strict Second", kOfxImageEffectContextFilter, kOfxStatOK)
static OfxPlugin records[] = {
    {kOfxImageEffectPluginApi, 1, "net.qeffects.test.StrictFirst", 1, 0,
     setHost, FirstMain},
    {kOfxImageEffectPluginApi, 1, "net.qeffects.test.StrictSecond", 1, 0,
     setHost, SecondMain},
};
#elif defined(GENERATOR_ONLY)
STRICT_PLUGIN(Generator, "Generator Only", kOfxImageEffectContextGenerator,
              kOfxStatOK)
static OfxPlugin records[] = {
    {kOfxImageEffectPluginApi, 1, "net.qeffects.test.GeneratorOnly", 1, 0,
     setHost, GeneratorMain},
};
#elif defined(DESCRIBE_FAILS)
STRICT_PLUGIN(Failing, "Describe Fails", kOfxImageEffectContextFilter,
              kOfxStatErrFatal)
static OfxPlugin records[] = {
    {kOfxImageEffectPluginApi, 1, "net.qeffects.test.DescribeFails", 1, 0,
     setHost, FailingMain},
};
#else
#error "pick a variant"
#endif

OfxExport int OfxGetNumberOfPlugins(void) {
  return (int)(sizeof records / sizeof records[0]);
}

OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  return nth >= 0 && nth < OfxGetNumberOfPlugins() ? &records[nth] : NULL;
}
