#ifndef OFX_OFXPROGRESS_H_INCLUDED
#define OFX_OFXPROGRESS_H_INCLUDED

/* ofxProgress.h: part of this project's OpenFX C API, written from the
 * published standard. Names, values and layouts are binary compatible with it;
 * the comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxProgressSuite "OfxProgressSuite"

/* effectInstance is an OfxImageEffectHandle of an instance. progressUpdate
 * takes a fraction from 0 to 1 and answers kOfxStatReplyNo when the user
 * asked to stop the task. */
typedef struct OfxProgressSuiteV1 {
  OfxStatus (*progressStart)(void *effectInstance, const char *label);
  OfxStatus (*progressUpdate)(void *effectInstance, double progress);
  OfxStatus (*progressEnd)(void *effectInstance);
} OfxProgressSuiteV1;

/* As version 1; the start also names the message for translation. */
typedef struct OfxProgressSuiteV2 {
  OfxStatus (*progressStart)(void *effectInstance, const char *message,
                             const char *messageid);
  OfxStatus (*progressUpdate)(void *effectInstance, double progress);
  OfxStatus (*progressEnd)(void *effectInstance);
} OfxProgressSuiteV2;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXPROGRESS_H_INCLUDED */
