// The thread pool behind the multi-thread suite. Internal to the host library.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ofxMultiThread.h"
#include "ofxhost/Host.h"

namespace ofxhost {

class ThreadPool {
public:
  ThreadPool(Host::Impl *host, unsigned threads);
  ~ThreadPool();
  void resize(unsigned threads);
  unsigned size() const;
  // Runs func(i, n, arg) for every i in 0..n-1 and waits for all.
  OfxStatus run(OfxThreadFunctionV1 *func, unsigned n, void *arg);

private:
  struct Batch;
  void startIfIdle();
  void stop();
  void work();

  Host::Impl *host_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::shared_ptr<Batch>, unsigned>> queue_;
  std::vector<std::thread> threads_;
  unsigned wanted_;
  bool stopping_ = false;
};

// True on a thread of a pool while it runs a task; the task's index.
bool onSpawnedThread();
unsigned spawnedThreadIndex();

} // namespace ofxhost
