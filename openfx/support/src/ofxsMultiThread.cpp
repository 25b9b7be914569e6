#include "ofxsMultiThread.h"
#include "ofxsSuites.h"

#include <exception>
#include <mutex>

namespace OFX {
namespace MultiThread {

unsigned getNumCPUs() {
  const OfxMultiThreadSuiteV1 *suite = Private::suites().multiThread;
  if (!suite || !suite->multiThreadNumCPUs)
    return 1;
  unsigned n = 0;
  if (suite->multiThreadNumCPUs(&n) != kOfxStatOK || n == 0)
    return 1;
  return n;
}

unsigned getThreadIndex() {
  const OfxMultiThreadSuiteV1 *suite = Private::suites().multiThread;
  unsigned index = 0;
  if (!suite || !suite->multiThreadIndex ||
      suite->multiThreadIndex(&index) != kOfxStatOK)
    return 0;
  return index;
}

bool isSpawnedThread() {
  const OfxMultiThreadSuiteV1 *suite = Private::suites().multiThread;
  return suite && suite->multiThreadIsSpawnedThread &&
         suite->multiThreadIsSpawnedThread() != 0;
}

Processor::~Processor() = default;

namespace {

// What the host's thread function gets: the processor, and a slot for the
// first exception a thread throws, since none may unwind into the host.
struct ThreadCall {
  Processor *processor;
  std::mutex mutex;
  std::exception_ptr firstError;
};

void runOnHostThread(unsigned threadIndex, unsigned threadMax, void *arg) {
  ThreadCall *call = static_cast<ThreadCall *>(arg);
  try {
    call->processor->multiThreadFunction(threadIndex, threadMax);
  } catch (...) {
    std::lock_guard<std::mutex> lock(call->mutex);
    if (!call->firstError)
      call->firstError = std::current_exception();
  }
}

} // namespace

void Processor::multiThread(unsigned nCPUs) {
  if (nCPUs == 0)
    nCPUs = getNumCPUs();
  const OfxMultiThreadSuiteV1 *suite = Private::suites().multiThread;
  if (nCPUs <= 1 || !suite || !suite->multiThread) {
    multiThreadFunction(0, 1);
    return;
  }
  ThreadCall call{this, {}, nullptr};
  OfxStatus status = suite->multiThread(&runOnHostThread, nCPUs, &call);
  if (call.firstError)
    std::rethrow_exception(call.firstError);
  // A host that could not run the threads leaves the work undone; report
  // it rather than pretend the result is complete.
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "multiThread");
}

} // namespace MultiThread
} // namespace OFX
