#ifndef OFX_OFXMEMORY_H_INCLUDED
#define OFX_OFXMEMORY_H_INCLUDED

/* ofxMemory.h: part of this project's OpenFX C API, written from the published
 * standard. Names, values and layouts are binary compatible with it; the
 * comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxMemorySuite "OfxMemorySuite"

/* General purpose memory from the host; handle may be an effect instance. */
typedef struct OfxMemorySuiteV1 {
  OfxStatus (*memoryAlloc)(void *handle, size_t nBytes, void **allocatedData);
  OfxStatus (*memoryFree)(void *allocatedData);
} OfxMemorySuiteV1;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXMEMORY_H_INCLUDED */
