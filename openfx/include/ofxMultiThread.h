#ifndef OFX_OFXMULTITHREAD_H_INCLUDED
#define OFX_OFXMULTITHREAD_H_INCLUDED

/* ofxMultiThread.h: part of this project's OpenFX C API, written from the
 * published standard. Names, values and layouts are binary compatible with it;
 * the comments are ours. Usable from C and C++. */

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxMultiThreadSuite "OfxMultiThreadSuite"

typedef struct OfxMutex *OfxMutexHandle;

/* Runs once on each of the threads of a multiThread call. */
typedef void(OfxThreadFunctionV1)(unsigned int threadIndex,
                                  unsigned int threadMax, void *customArg);

typedef struct OfxMultiThreadSuiteV1 {
  /* Runs func on nThreads threads and returns when all have finished. */
  OfxStatus (*multiThread)(OfxThreadFunctionV1 func, unsigned int nThreads,
                           void *customArg);
  OfxStatus (*multiThreadNumCPUs)(unsigned int *nCPUs);
  OfxStatus (*multiThreadIndex)(unsigned int *threadIndex);
  int (*multiThreadIsSpawnedThread)(void);
  OfxStatus (*mutexCreate)(OfxMutexHandle *mutex, int lockCount);
  OfxStatus (*mutexDestroy)(const OfxMutexHandle mutex);
  OfxStatus (*mutexLock)(const OfxMutexHandle mutex);
  OfxStatus (*mutexUnLock)(const OfxMutexHandle mutex);
  OfxStatus (*mutexTryLock)(const OfxMutexHandle mutex);
} OfxMultiThreadSuiteV1;

#ifdef __cplusplus
}
#endif

#endif /* OFX_OFXMULTITHREAD_H_INCLUDED */
