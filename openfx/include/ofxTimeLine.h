#ifndef OFX_OFXTIMELINE_H_INCLUDED
#define OFX_OFXTIMELINE_H_INCLUDED

/* ofxTimeLine.h: part of this project's OpenFX C API, written from the
 * published standard. Names, values and layouts are binary compatible with it;
 * the comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxTimeLineSuite "OfxTimeLineSuite"

/* instance is an OfxImageEffectHandle of an instance; times are in frames. */
typedef struct OfxTimeLineSuiteV1 {
  OfxStatus (*getTime)(void *instance, double *time);
  OfxStatus (*gotoTime)(void *instance, double time);
  OfxStatus (*getTimeBounds)(void *instance, double *firstTime,
                             double *lastTime);
} OfxTimeLineSuiteV1;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXTIMELINE_H_INCLUDED */
