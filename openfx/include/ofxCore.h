#ifndef OFX_OFXCORE_H_INCLUDED
#define OFX_OFXCORE_H_INCLUDED

/* ofxCore.h: part of this project's OpenFX C API, written from the published
 * standard. Names, values and layouts are binary compatible with it; the
 * comments are ours. Usable from C and C++. */

#ifdef __cplusplus
extern "C" {
#endif

#include <stddef.h>

/* Status codes, property names and plug-in record shared by every suite. */
typedef int OfxStatus;
typedef double OfxTime;

/* Opaque handle to a set of named, typed, multi-dimensional properties. */
typedef struct OfxPropertySetStruct *OfxPropertySetHandle;

/* What a host hands a plug-in through setHost. */
typedef struct OfxHost {
  OfxPropertySetHandle host; /* the host's own properties */
  /* Returns the suite's function table, or NULL if the host lacks it. */
  const void *(*fetchSuite)(OfxPropertySetHandle host, const char *suiteName,
                            int suiteVersion);
} OfxHost;

typedef OfxStatus(OfxPluginEntryPoint)(const char *action, const void *handle,
                                       OfxPropertySetHandle inArgs,
                                       OfxPropertySetHandle outArgs);

/* One record per plug-in, returned by OfxGetPlugin. */
typedef struct OfxPlugin {
  const char *pluginApi;        /* e.g. kOfxImageEffectPluginApi */
  int apiVersion;               /* version of that API */
  const char *pluginIdentifier; /* reverse-domain unique identifier */
  unsigned int pluginVersionMajor;
  unsigned int pluginVersionMinor;
  void (*setHost)(OfxHost *host); /* called before the load action */
  OfxPluginEntryPoint *mainEntry; /* receives every action */
} OfxPlugin;

typedef struct OfxRangeI {
  int min, max;
} OfxRangeI;
typedef struct OfxRangeD {
  double min, max;
} OfxRangeD;
typedef struct OfxPointI {
  int x, y;
} OfxPointI;
typedef struct OfxPointD {
  double x, y;
} OfxPointD;
/* Rectangles: (x1, y1) inside, (x2, y2) just outside; y grows upwards. */
typedef struct OfxRectI {
  int x1, y1, x2, y2;
} OfxRectI;
typedef struct OfxRectD {
  double x1, y1, x2, y2;
} OfxRectD;

/* Visibility of the two functions a plug-in binary exports. */
#if defined(_WIN32)
#define OfxExport __declspec(dllexport)
#else
#define OfxExport __attribute__((visibility("default")))
#endif

/* Actions, generic properties, bit depths and status codes. */
#define kOfxActionLoad "OfxActionLoad"
#define kOfxActionDescribe "OfxActionDescribe"
#define kOfxActionUnload "OfxActionUnload"
#define kOfxActionPurgeCaches "OfxActionPurgeCaches"
#define kOfxActionSyncPrivateData "OfxActionSyncPrivateData"
#define kOfxActionCreateInstance "OfxActionCreateInstance"
#define kOfxActionDestroyInstance "OfxActionDestroyInstance"
#define kOfxActionInstanceChanged "OfxActionInstanceChanged"
#define kOfxActionBeginInstanceChanged "OfxActionBeginInstanceChanged"
#define kOfxActionEndInstanceChanged "OfxActionEndInstanceChanged"
#define kOfxActionBeginInstanceEdit "OfxActionBeginInstanceEdit"
#define kOfxActionEndInstanceEdit "OfxActionEndInstanceEdit"
#define kOfxPropAPIVersion "OfxPropAPIVersion"
#define kOfxPropTime "OfxPropTime"
#define kOfxPropIsInteractive "OfxPropIsInteractive"
#define kOfxPluginPropFilePath "OfxPluginPropFilePath"
#define kOfxPropInstanceData "OfxPropInstanceData"
#define kOfxPropType "OfxPropType"
#define kOfxPropName "OfxPropName"
#define kOfxPropVersion "OfxPropVersion"
#define kOfxPropVersionLabel "OfxPropVersionLabel"
#define kOfxPropPluginDescription "OfxPropPluginDescription"
#define kOfxPropLabel "OfxPropLabel"
#define kOfxPropIcon "OfxPropIcon"
#define kOfxPropShortLabel "OfxPropShortLabel"
#define kOfxPropLongLabel "OfxPropLongLabel"
#define kOfxPropChangeReason "OfxPropChangeReason"
#define kOfxPropEffectInstance "OfxPropEffectInstance"
#define kOfxPropHostOSHandle "OfxPropHostOSHandle"
#define kOfxChangeUserEdited "OfxChangeUserEdited"
#define kOfxChangePluginEdited "OfxChangePluginEdited"
#define kOfxChangeTime "OfxChangeTime"
#define kOfxFlagInfiniteMax ((int)2147483647)
#define kOfxFlagInfiniteMin (-kOfxFlagInfiniteMax - 1)
#define kOfxBitDepthNone "OfxBitDepthNone"
#define kOfxBitDepthByte "OfxBitDepthByte"
#define kOfxBitDepthShort "OfxBitDepthShort"
#define kOfxBitDepthHalf "OfxBitDepthHalf"
#define kOfxBitDepthFloat "OfxBitDepthFloat"
#define kOfxStatOK ((OfxStatus)0)
#define kOfxStatFailed ((OfxStatus)1)
#define kOfxStatErrFatal ((OfxStatus)2)
#define kOfxStatErrUnknown ((OfxStatus)3)
#define kOfxStatErrMissingHostFeature ((OfxStatus)4)
#define kOfxStatErrUnsupported ((OfxStatus)5)
#define kOfxStatErrExists ((OfxStatus)6)
#define kOfxStatErrFormat ((OfxStatus)7)
#define kOfxStatErrMemory ((OfxStatus)8)
#define kOfxStatErrBadHandle ((OfxStatus)9)
#define kOfxStatErrBadIndex ((OfxStatus)10)
#define kOfxStatErrValue ((OfxStatus)11)
#define kOfxStatReplyYes ((OfxStatus)12)
#define kOfxStatReplyNo ((OfxStatus)13)
#define kOfxStatReplyDefault ((OfxStatus)14)
#define kOfxStatUnlicensed ((OfxStatus)15)

/* Status codes are ints: a host compares with these values, never with a
 * boolean test other than against kOfxStatOK. */

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXCORE_H_INCLUDED */
