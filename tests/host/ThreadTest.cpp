// The multi-thread suite: the pool behind multiThread, thread indices,
// nested calls, the CPU count and the recursive mutexes.
#include "HostTestSupport.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using ofxhost::Host;
using ofxhost::HostOptions;

HostOptions withCpus(unsigned n) {
  HostOptions options;
  options.cpuCount = n;
  return options;
}

const OfxMultiThreadSuiteV1 *threadSuite(Host &host) {
  return hosttest::suite<OfxMultiThreadSuiteV1>(host, kOfxMultiThreadSuite);
}

struct Tally {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> wrongMax{0};
  unsigned expectedMax;
  explicit Tally(unsigned n) : runs(n), expectedMax(n) {}
};

void countRun(unsigned index, unsigned max, void *arg) {
  auto *tally = static_cast<Tally *>(arg);
  if (max != tally->expectedMax)
    ++tally->wrongMax;
  ++tally->runs[index];
}

TEST(ThreadPoolTest, EveryIndexRunsExactlyOnceEvenBeyondThePoolSize) {
  Host host(withCpus(3));
  const OfxMultiThreadSuiteV1 *mt = threadSuite(host);
  for (unsigned n : {1u, 3u, 50u}) {
    Tally tally(n);
    ASSERT_EQ(mt->multiThread(countRun, n, &tally), kOfxStatOK);
    for (unsigned i = 0; i < n; ++i)
      EXPECT_EQ(tally.runs[i].load(), 1) << "index " << i << " of " << n;
    EXPECT_EQ(tally.wrongMax.load(), 0);
  }
}

TEST(ThreadPoolTest, NoThreadsRequestedRunsNothing) {
  Host host(withCpus(2));
  Tally tally(1);
  EXPECT_EQ(threadSuite(host)->multiThread(countRun, 0, &tally), kOfxStatOK);
  EXPECT_EQ(tally.runs[0].load(), 0);
  EXPECT_EQ(threadSuite(host)->multiThread(nullptr, 2, &tally),
            kOfxStatErrValue);
}

// Every task waits until all have started: this only finishes when the
// pool really runs them at the same time.
struct Meeting {
  std::atomic<unsigned> arrived{0};
  std::atomic<int> missed{0};
  unsigned expected;
};

void meet(unsigned, unsigned, void *arg) {
  auto *meeting = static_cast<Meeting *>(arg);
  ++meeting->arrived;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (meeting->arrived.load() < meeting->expected) {
    if (std::chrono::steady_clock::now() > deadline) {
      ++meeting->missed;
      return;
    }
    std::this_thread::yield();
  }
}

TEST(ThreadPoolTest, TasksRunConcurrentlyOnThePoolsThreads) {
  Host host(withCpus(4));
  Meeting meeting;
  meeting.expected = 4;
  ASSERT_EQ(threadSuite(host)->multiThread(meet, 4, &meeting), kOfxStatOK);
  EXPECT_EQ(meeting.missed.load(), 0);

  // Grown afterwards, the pool takes more at once.
  host.setCpuCount(6);
  unsigned cpus = 0;
  ASSERT_EQ(threadSuite(host)->multiThreadNumCPUs(&cpus), kOfxStatOK);
  EXPECT_EQ(cpus, 6u);
  Meeting six;
  six.expected = 6;
  ASSERT_EQ(threadSuite(host)->multiThread(meet, 6, &six), kOfxStatOK);
  EXPECT_EQ(six.missed.load(), 0);
}

struct Nesting {
  const OfxMultiThreadSuiteV1 *mt;
  std::mutex mutex;
  std::vector<std::string> problems;
  std::atomic<int> innerRuns{0};
  void problem(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex);
    problems.push_back(text);
  }
};

thread_local std::thread::id outerThread;

void inner(unsigned index, unsigned, void *arg) {
  auto *nesting = static_cast<Nesting *>(arg);
  unsigned reported = 99;
  nesting->mt->multiThreadIndex(&reported);
  if (reported != index)
    nesting->problem("inner index " + std::to_string(reported) + " for " +
                     std::to_string(index));
  if (std::this_thread::get_id() != outerThread)
    nesting->problem("inner task left its outer thread");
  ++nesting->innerRuns;
}

void outer(unsigned index, unsigned, void *arg) {
  auto *nesting = static_cast<Nesting *>(arg);
  outerThread = std::this_thread::get_id();
  if (nesting->mt->multiThread(inner, 3, arg) != kOfxStatOK)
    nesting->problem("inner call failed");
  unsigned reported = 99;
  nesting->mt->multiThreadIndex(&reported);
  if (reported != index)
    nesting->problem("outer index not restored after the inner call");
}

TEST(ThreadPoolTest, CallsFromSpawnedThreadsRunSeriallyWithoutDeadlock) {
  Host host(withCpus(1)); // one worker: a nested wait would never end
  Nesting nesting;
  nesting.mt = threadSuite(host);
  ASSERT_EQ(nesting.mt->multiThread(outer, 2, &nesting), kOfxStatOK);
  EXPECT_EQ(nesting.innerRuns.load(), 6);
  EXPECT_TRUE(nesting.problems.empty()) << nesting.problems.front();
}

struct SpawnProbe {
  const OfxMultiThreadSuiteV1 *mt;
  std::atomic<int> spawned{0};
  std::mutex mutex;
  std::set<unsigned> indices;
};

void probeSpawn(unsigned, unsigned, void *arg) {
  auto *probe = static_cast<SpawnProbe *>(arg);
  probe->spawned += probe->mt->multiThreadIsSpawnedThread();
  unsigned index = 99;
  probe->mt->multiThreadIndex(&index);
  std::lock_guard<std::mutex> lock(probe->mutex);
  probe->indices.insert(index);
}

TEST(ThreadPoolTest, TasksKnowTheyAreSpawnedAndTheirIndex) {
  Host host(withCpus(2));
  SpawnProbe probe;
  probe.mt = threadSuite(host);
  EXPECT_EQ(probe.mt->multiThreadIsSpawnedThread(), 0);
  unsigned index = 99;
  EXPECT_EQ(probe.mt->multiThreadIndex(&index), kOfxStatOK);
  EXPECT_EQ(index, 0u);
  ASSERT_EQ(probe.mt->multiThread(probeSpawn, 5, &probe), kOfxStatOK);
  EXPECT_EQ(probe.spawned.load(), 5);
  EXPECT_EQ(probe.indices, (std::set<unsigned>{0, 1, 2, 3, 4}));
}

TEST(ThreadPoolTest, CpuCountComesFromTheOptionsOrFailsOnRequest) {
  Host host(withCpus(3));
  unsigned cpus = 0;
  ASSERT_EQ(threadSuite(host)->multiThreadNumCPUs(&cpus), kOfxStatOK);
  EXPECT_EQ(cpus, 3u);
  EXPECT_EQ(host.options().cpuCount, 3u);

  HostOptions failing = withCpus(3);
  failing.numCpusStatus = kOfxStatErrUnsupported;
  Host broken(failing);
  EXPECT_EQ(threadSuite(broken)->multiThreadNumCPUs(&cpus),
            kOfxStatErrUnsupported);

  Host automatic(withCpus(0));
  EXPECT_GE(automatic.options().cpuCount, 1u);
}

TEST(HostMutexTest, LocksAreRecursiveAndOwnedByOneThread) {
  Host host;
  const OfxMultiThreadSuiteV1 *mt = threadSuite(host);
  OfxMutexHandle mutex = nullptr;
  ASSERT_EQ(mt->mutexCreate(&mutex, 2), kOfxStatOK); // created held twice
  EXPECT_EQ(mt->mutexLock(mutex), kOfxStatOK);       // and once more

  OfxStatus otherTry = kOfxStatOK, otherUnlock = kOfxStatOK;
  std::thread other([&] {
    otherTry = mt->mutexTryLock(mutex);
    otherUnlock = mt->mutexUnLock(mutex);
  });
  other.join();
  EXPECT_EQ(otherTry, kOfxStatFailed);
  EXPECT_EQ(otherUnlock, kOfxStatErrValue);

  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(mt->mutexUnLock(mutex), kOfxStatOK) << "unlock " << i;
  EXPECT_EQ(mt->mutexUnLock(mutex), kOfxStatErrValue);

  std::thread taker([&] {
    otherTry = mt->mutexTryLock(mutex);
    mt->mutexUnLock(mutex);
  });
  taker.join();
  EXPECT_EQ(otherTry, kOfxStatOK);
  EXPECT_EQ(mt->mutexDestroy(mutex), kOfxStatOK);
  EXPECT_EQ(mt->mutexLock(mutex), kOfxStatErrBadHandle);
}

} // namespace
