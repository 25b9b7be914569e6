/* Filters that trouble ofxrender in the ways users' plug-ins do, written
 * against the C API alone. One source, built several times; the variant
 * macro picks the trouble:
 *   SEGFAULT_IN_RENDER  the render action writes through a null pointer
 *   ABORT_IN_RENDER     the render action aborts
 *   REPEATED            the binary reports one plug-in 500 times
 *   SLOW_LOAD           the load action takes 250 ms */
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxProperty.h"
#include "TestEffectDescription.h"

#if defined(SEGFAULT_IN_RENDER)
#define IDENTIFIER "net.qfx.test.SegfaultInRender"
#elif defined(ABORT_IN_RENDER)
#define IDENTIFIER "net.qfx.test.AbortInRender"
#elif defined(REPEATED)
#define IDENTIFIER "net.qfx.test.Repeated"
#elif defined(SLOW_LOAD)
#define IDENTIFIER "net.qfx.test.SlowLoad"
#else
#error "pick a variant"
#endif

static OfxHost *host;
static const OfxPropertySuiteV1 *props;
static const OfxImageEffectSuiteV1 *effects;

static void setHost(OfxHost *h) { host = h; }

static OfxStatus load(void) {
#if defined(SLOW_LOAD)
  const struct timespec wait = {0, 250 * 1000 * 1000};
  nanosleep(&wait, NULL);
#endif
  props = host->fetchSuite(host->host, kOfxPropertySuite, 1);
  effects = host->fetchSuite(host->host, kOfxImageEffectSuite, 1);
  return props && effects ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

static OfxStatus describe(OfxImageEffectHandle effect) {
  static const char *const filter = kOfxImageEffectContextFilter;
  OfxPropertySetHandle p;
  effects->getPropertySet(effect, &p);
  describeTestEffect(props, p, IDENTIFIER, &filter, 1);
  return kOfxStatOK;
}

static OfxStatus describeInContext(OfxImageEffectHandle effect) {
  defineTestClip(effects, props, effect, kOfxImageEffectSimpleSourceClipName);
  defineTestClip(effects, props, effect, kOfxImageEffectOutputClipName);
  return kOfxStatOK;
}

/* The fault is real, through a pointer the compiler cannot see is null;
 * the undefined-behaviour sanitizer is told to let it happen, so that the
 * sanitized build meets the same signal. */
__attribute__((no_sanitize("undefined"))) static OfxStatus render(void) {
#if defined(SEGFAULT_IN_RENDER)
  static int *volatile nowhere = NULL;
  *nowhere = 1;
#elif defined(ABORT_IN_RENDER)
  abort();
#endif
  return kOfxStatOK;
}

static OfxStatus mainEntry(const char *action, const void *handle,
                           OfxPropertySetHandle inArgs,
                           OfxPropertySetHandle outArgs) {
  OfxImageEffectHandle effect = (OfxImageEffectHandle)handle;
  (void)inArgs, (void)outArgs;
  if (strcmp(action, kOfxActionLoad) == 0)
    return load();
  if (strcmp(action, kOfxActionDescribe) == 0)
    return describe(effect);
  if (strcmp(action, kOfxImageEffectActionDescribeInContext) == 0)
    return describeInContext(effect);
  if (strcmp(action, kOfxImageEffectActionRender) == 0)
    return render();
  if (strcmp(action, kOfxActionCreateInstance) == 0 ||
      strcmp(action, kOfxActionDestroyInstance) == 0 ||
      strcmp(action, kOfxActionUnload) == 0)
    return kOfxStatOK;
  return kOfxStatReplyDefault;
}

static OfxPlugin record = {
    kOfxImageEffectPluginApi, 1, IDENTIFIER, 1, 0, setHost, mainEntry};

#if defined(REPEATED)
OfxExport int OfxGetNumberOfPlugins(void) { return 500; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  return nth >= 0 && nth < 500 ? &record : NULL;
}
#else
OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &record : NULL; }
#endif
