#ifndef OFXS_MULTITHREAD_H
#define OFXS_MULTITHREAD_H

// Running work on the host's threads through its multi-thread suite.

#include "ofxsCore.h"

namespace OFX {
namespace MultiThread {

// Number of CPUs the host wants a plug-in to use; 1 when the host has no
// multi-thread suite or the query fails.
unsigned getNumCPUs();

// Index of the calling thread within a multiThread call (0 outside one or
// when the host cannot tell).
unsigned getThreadIndex();

// True on a thread the host spawned for a multiThread call.
bool isSpawnedThread();

// A piece of work split over threads. multiThread runs
// multiThreadFunction(i, n) for i in 0..n-1 and returns when all are done.
// An exception thrown by any of them does not reach the host's thread
// function: the first one is rethrown on the calling thread afterwards.
class Processor {
public:
  Processor() = default;
  virtual ~Processor();
  Processor(const Processor &) = delete;
  Processor &operator=(const Processor &) = delete;

  virtual void multiThreadFunction(unsigned threadId, unsigned nThreads) = 0;

  // nCPUs 0 asks the host how many to use. With one, the work runs on the
  // calling thread; otherwise the host's multiThread runs it.
  virtual void multiThread(unsigned nCPUs = 0);
};

} // namespace MultiThread
} // namespace OFX

#endif // OFXS_MULTITHREAD_H
