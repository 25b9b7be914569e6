/* Misbehaving plug-in binaries for the host's bundle tests. One source,
 * built several times; the variant macro picks the fault:
 *   BROKEN_LOAD   the load action fails with kOfxStatErrMissingHostFeature
 *   MIXED         four records: one good, wrong API, wrong API version, NULL
 *   NO_ENTRY      no OfxGetNumberOfPlugins / OfxGetPlugin at all
 *   ZERO_PLUGINS  reports that it holds no plug-ins
 *   CRASH_ENTRY   OfxGetNumberOfPlugins dies of a segmentation fault
 *                 (aborts, on Windows)
 *   CRASH_LOAD    the load action dies of a segmentation fault
 *                 (an access violation, on Windows)
 *   MISSING_DEPENDENCY  needs a library the loader cannot find
 *   HANG          OfxGetNumberOfPlugins never returns
 *   HANG_CLOSED   OfxGetNumberOfPlugins closes every descriptor it has (the
 *                 probe's answers among them), then never returns
 *   HELPER        OfxGetNumberOfPlugins starts a process that outlives the
 *                 probe by five seconds, then answers as a good plug-in
 *   REPEATED      one good record, reported 64 000 times */
#include <signal.h>
#include <string.h>

#include "ofxCore.h"
#include "ofxImageEffect.h"

#if defined(CRASH_ENTRY) || defined(CRASH_LOAD)
#include <stdlib.h>

/* On Windows a raised signal only ends the process with exit status 3, so
 * there the entry point aborts (the probe makes that a fail-fast, as newer
 * C runtimes do) and the load action faults for real, through a pointer the
 * compiler cannot see is null. */
static void crash(void) {
#if defined(_WIN32) && defined(CRASH_ENTRY)
  abort();
#elif defined(_WIN32)
  static int *volatile nowhere = NULL;
  *nowhere = 1;
#else
  raise(SIGSEGV);
#endif
}
#endif

#if defined(HANG) || defined(HANG_CLOSED)
#if defined(_WIN32)
#include <windows.h>
static void sleepForever(void) {
  for (;;)
    Sleep(INFINITE);
}
#else
#include <unistd.h>
static void sleepForever(void) {
  for (;;)
    pause();
}
#endif
#endif

#if defined(BROKEN_LOAD) || defined(MIXED) || defined(CRASH_LOAD) ||           \
    defined(HELPER) || defined(REPEATED)
static void setHost(OfxHost *host) { (void)host; }

static OfxStatus succeed(const char *action, const void *handle,
                         OfxPropertySetHandle inArgs,
                         OfxPropertySetHandle outArgs) {
  (void)action, (void)handle, (void)inArgs, (void)outArgs;
  return kOfxStatReplyDefault;
}
#endif

#if defined(BROKEN_LOAD)

static OfxStatus failLoad(const char *action, const void *handle,
                          OfxPropertySetHandle inArgs,
                          OfxPropertySetHandle outArgs) {
  if (strcmp(action, kOfxActionLoad) == 0)
    return kOfxStatErrMissingHostFeature;
  return succeed(action, handle, inArgs, outArgs);
}

static OfxPlugin record = {kOfxImageEffectPluginApi,
                           1,
                           "net.qeffects.test.BrokenLoad",
                           1,
                           0,
                           setHost,
                           failLoad};

OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &record : NULL; }

#elif defined(MIXED)

static OfxPlugin records[] = {
    {kOfxImageEffectPluginApi, 1, "net.qeffects.test.MixedGood", 1, 0, setHost,
     succeed},
    {"OfxSomethingElseAPI", 1, "net.qeffects.test.MixedOtherApi", 1, 0, setHost,
     succeed},
    {kOfxImageEffectPluginApi, 2, "net.qeffects.test.MixedApiTwo", 1, 0,
     setHost, succeed},
};

OfxExport int OfxGetNumberOfPlugins(void) { return 4; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  return nth >= 0 && nth < 3 ? &records[nth] : NULL;
}

#elif defined(NO_ENTRY)

OfxExport int notAnOfxEntryPoint(void) { return 42; }

#elif defined(ZERO_PLUGINS)

OfxExport int OfxGetNumberOfPlugins(void) { return 0; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  (void)nth;
  return NULL;
}

#elif defined(CRASH_ENTRY)

OfxExport int OfxGetNumberOfPlugins(void) {
  crash();
  return 1;
}
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  (void)nth;
  return NULL;
}

#elif defined(CRASH_LOAD)

static OfxStatus crashInLoad(const char *action, const void *handle,
                             OfxPropertySetHandle inArgs,
                             OfxPropertySetHandle outArgs) {
  if (strcmp(action, kOfxActionLoad) == 0)
    crash();
  return succeed(action, handle, inArgs, outArgs);
}

static OfxPlugin record = {kOfxImageEffectPluginApi,
                           1,
                           "net.qeffects.test.CrashLoad",
                           1,
                           0,
                           setHost,
                           crashInLoad};

OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
OfxExport OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &record : NULL; }

#elif defined(MISSING_DEPENDENCY)

int qfxVanishedDependency(void);

OfxExport int OfxGetNumberOfPlugins(void) { return qfxVanishedDependency(); }
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  (void)nth;
  return NULL;
}

#elif defined(HANG) || defined(HANG_CLOSED)

OfxExport int OfxGetNumberOfPlugins(void) {
#if defined(HANG_CLOSED) && !defined(_WIN32)
  for (int fd = 0; fd < 1024; ++fd)
    close(fd);
#endif
  sleepForever();
  return 1;
}
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  (void)nth;
  return NULL;
}

#elif defined(HELPER) || defined(REPEATED)

#if defined(HELPER) && !defined(_WIN32)
#include <unistd.h>
/* Started as a plug-in might start a licence daemon: it inherits every
 * descriptor not marked close-on-exec. */
static void startHelper(void) {
  if (fork() == 0) {
    execl("/bin/sh", "sh", "-c", "sleep 5", (char *)NULL);
    _exit(127);
  }
}
#elif defined(HELPER)
static void startHelper(void) {}
#endif

#if defined(HELPER)
#define RECORD_ID "net.qeffects.test.Helper"
#define RECORD_COUNT 1
#else
#define RECORD_ID "net.qeffects.test.Repeated"
#define RECORD_COUNT 64000
#endif

static OfxPlugin record = {
    kOfxImageEffectPluginApi, 1, RECORD_ID, 1, 0, setHost, succeed};

OfxExport int OfxGetNumberOfPlugins(void) {
#if defined(HELPER)
  startHelper();
#endif
  return RECORD_COUNT;
}
OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  return nth >= 0 && nth < RECORD_COUNT ? &record : NULL;
}

#else
#error "pick a variant"
#endif
