// The thread pool behind the multi-thread suite, and the suite itself.
#include "Handles.h"
#include "HostState.h"
#include "Messages.h"
#include "Suites.h"
#include "Threads.h"

namespace ofxhost {
namespace {

thread_local bool spawned = false;
thread_local unsigned taskIndex = 0;

// Marks the current thread as running task index for the guard's lifetime.
class TaskScope {
public:
  explicit TaskScope(unsigned index)
      : wasSpawned_(spawned), previousIndex_(taskIndex) {
    spawned = true;
    taskIndex = index;
  }
  ~TaskScope() {
    spawned = wasSpawned_;
    taskIndex = previousIndex_;
  }

private:
  bool wasSpawned_;
  unsigned previousIndex_;
};

bool runTask(OfxThreadFunctionV1 *func, unsigned index, unsigned count,
             void *arg) {
  TaskScope scope(index);
  try {
    func(index, count, arg);
    return true;
  } catch (...) {
    // An exception must not unwind through a pool thread; the caller of
    // multiThread learns of it through the status.
    return false;
  }
}

} // namespace

bool onSpawnedThread() { return spawned; }
unsigned spawnedThreadIndex() { return taskIndex; }

// ---------------------------------------------------------------- pool

struct ThreadPool::Batch {
  OfxThreadFunctionV1 *func;
  unsigned count;
  void *arg;
  // The errors of the action that asked for the batch: what a task posts
  // explains that action's failure. The action outlives the batch.
  PostedErrors *errors = nullptr;
  std::mutex mutex;
  std::condition_variable finished;
  unsigned done = 0;
  bool failed = false;
};

// The workers start with the first batch: a host that only scans never
// has any, and a probe forked before then inherits no lock a worker held.
ThreadPool::ThreadPool(Host::Impl *host, unsigned threads)
    : host_(host), wanted_(threads > 0 ? threads : 1) {}

ThreadPool::~ThreadPool() { stop(); }

void ThreadPool::startIfIdle() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!threads_.empty())
    return;
  stopping_ = false;
  for (unsigned i = 0; i < wanted_; ++i)
    threads_.emplace_back([this] { work(); });
}

void ThreadPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread &thread : threads_)
    thread.join();
  threads_.clear();
}

void ThreadPool::resize(unsigned threads) {
  // Workers drain the queue before they leave, so work in flight finishes
  // on the old threads.
  stop();
  std::lock_guard<std::mutex> lock(mutex_);
  wanted_ = threads > 0 ? threads : 1;
}

unsigned ThreadPool::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wanted_;
}

void ThreadPool::work() {
  setThreadHost(host_);
  for (;;) {
    std::pair<std::shared_ptr<Batch>, unsigned> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty())
        return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    Batch &batch = *task.first;
    bool ok = false;
    {
      PostedErrorsScope errors(batch.errors);
      ok = runTask(batch.func, task.second, batch.count, batch.arg);
    }
    std::lock_guard<std::mutex> lock(batch.mutex);
    batch.failed = batch.failed || !ok;
    if (++batch.done == batch.count)
      batch.finished.notify_all();
  }
}

OfxStatus ThreadPool::run(OfxThreadFunctionV1 *func, unsigned n, void *arg) {
  // A call from inside a task runs its work on the calling thread: waiting
  // for the pool from one of its own threads could wait forever.
  if (onSpawnedThread()) {
    bool ok = true;
    for (unsigned i = 0; i < n; ++i)
      ok = runTask(func, i, n, arg) && ok;
    return ok ? kOfxStatOK : kOfxStatFailed;
  }
  startIfIdle();
  auto batch = std::make_shared<Batch>();
  batch->func = func;
  batch->count = n;
  batch->arg = arg;
  batch->errors = postedErrors();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (unsigned i = 0; i < n; ++i)
      queue_.emplace_back(batch, i);
  }
  wake_.notify_all();
  std::unique_lock<std::mutex> lock(batch->mutex);
  batch->finished.wait(lock, [&] { return batch->done == batch->count; });
  return batch->failed ? kOfxStatFailed : kOfxStatOK;
}

// ---------------------------------------------------------------- suite

namespace {

OfxStatus multiThread(OfxThreadFunctionV1 func, unsigned int nThreads,
                      void *customArg) {
  return guarded([&]() -> OfxStatus {
    if (!func)
      return kOfxStatErrValue;
    // Asking for no threads runs nothing; that is what was asked for.
    if (nThreads == 0)
      return kOfxStatOK;
    Host::Impl *host = hostForUnnamedCall();
    if (!host || !host->pool) {
      bool ok = true;
      for (unsigned i = 0; i < nThreads; ++i)
        ok = runTask(func, i, nThreads, customArg) && ok;
      return ok ? kOfxStatOK : kOfxStatFailed;
    }
    return host->pool->run(func, nThreads, customArg);
  });
}

OfxStatus multiThreadNumCPUs(unsigned int *count) {
  if (!count)
    return kOfxStatErrValue;
  Host::Impl *host = hostForUnnamedCall();
  if (!host) {
    *count = 1;
    return kOfxStatOK;
  }
  if (host->options.numCpusStatus != kOfxStatOK)
    return host->options.numCpusStatus;
  *count = host->options.cpuCount;
  return kOfxStatOK;
}

OfxStatus multiThreadIndex(unsigned int *index) {
  if (!index)
    return kOfxStatErrValue;
  *index = onSpawnedThread() ? spawnedThreadIndex() : 0;
  return kOfxStatOK;
}

int multiThreadIsSpawnedThread() { return onSpawnedThread() ? 1 : 0; }

// A recursive mutex that knows its owner, so that an unlock by a thread
// that does not hold it is refused instead of corrupting the lock.
struct HostMutex {
  std::mutex mutex;
  std::condition_variable released;
  std::thread::id owner;
  int count = 0;
};

HostMutex *toMutex(OfxMutexHandle handle) {
  if (!isHandle(handle, HandleKind::Mutex))
    return nullptr;
  return reinterpret_cast<HostMutex *>(handle);
}

OfxStatus mutexCreate(OfxMutexHandle *handle, int lockCount) {
  if (!handle || lockCount < 0)
    return kOfxStatErrValue;
  auto *mutex = new HostMutex;
  if (lockCount > 0) {
    mutex->owner = std::this_thread::get_id();
    mutex->count = lockCount;
  }
  registerHandle(mutex, HandleKind::Mutex);
  *handle = reinterpret_cast<OfxMutexHandle>(mutex);
  return kOfxStatOK;
}

OfxStatus mutexDestroy(const OfxMutexHandle handle) {
  HostMutex *mutex = toMutex(handle);
  if (!mutex)
    return kOfxStatErrBadHandle;
  unregisterHandle(mutex);
  delete mutex;
  return kOfxStatOK;
}

OfxStatus mutexLock(const OfxMutexHandle handle) {
  HostMutex *mutex = toMutex(handle);
  if (!mutex)
    return kOfxStatErrBadHandle;
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex->mutex);
  mutex->released.wait(
      lock, [&] { return mutex->count == 0 || mutex->owner == self; });
  mutex->owner = self;
  ++mutex->count;
  return kOfxStatOK;
}

OfxStatus mutexUnLock(const OfxMutexHandle handle) {
  HostMutex *mutex = toMutex(handle);
  if (!mutex)
    return kOfxStatErrBadHandle;
  std::lock_guard<std::mutex> lock(mutex->mutex);
  if (mutex->count == 0 || mutex->owner != std::this_thread::get_id())
    return kOfxStatErrValue;
  if (--mutex->count == 0) {
    mutex->owner = std::thread::id();
    mutex->released.notify_one();
  }
  return kOfxStatOK;
}

OfxStatus mutexTryLock(const OfxMutexHandle handle) {
  HostMutex *mutex = toMutex(handle);
  if (!mutex)
    return kOfxStatErrBadHandle;
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mutex->mutex);
  if (mutex->count > 0 && mutex->owner != self)
    return kOfxStatFailed;
  mutex->owner = self;
  ++mutex->count;
  return kOfxStatOK;
}

const OfxMultiThreadSuiteV1 suite = {
    multiThread,      multiThreadNumCPUs,
    multiThreadIndex, multiThreadIsSpawnedThread,
    mutexCreate,      mutexDestroy,
    mutexLock,        mutexUnLock,
    mutexTryLock};

} // namespace

const OfxMultiThreadSuiteV1 *multiThreadSuite() { return &suite; }

} // namespace ofxhost
