#include "OutlineFieldPipeline.h"

#include <algorithm>
#include <thread>

namespace rimlet {

namespace {

// Steps a thread walks between two looks at the run before it: long
// enough for the hand-offs to cost little (a few thousand cells), short
// enough against the row for the threads on the following runs to start
// soon after it and follow it closely.
std::int64_t stepsPerChunk(FieldExtent extent) {
  return std::clamp<std::int64_t>(extent.width / 8, 64, 512);
}

// Below these a field takes a millisecond or less on one thread, which
// handing it to other threads and their start one behind the other would
// mostly eat up (a small window's field, typically).
constexpr std::int64_t kFewestRowsToShare = 64;
constexpr std::int64_t kFewestCellsToShare = 512 * 512;

// A waiting thread first polls for a few microseconds, about as long as a
// chunk takes: the run it waits for is usually that close. Waiting longer
// means the thread it waits for is not running (the machine has more
// threads than free cores), and it goes to sleep.
constexpr int kPollsBeforeSleeping = 256;

inline void pauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

} // namespace

FieldBuildPipeline::FieldBuildPipeline(float *cells, FieldExtent extent,
                                       FieldSeeding seeding, RowSeeder seedRows,
                                       float settledAbove)
    : cells_(cells), extent_(extent), seedRows_(std::move(seedRows)),
      settledAbove_(settledAbove) {
  if (extent.isEmpty())
    return;
  auto add = [this](const FieldRowRun &run) { runs_.push_back(run); };
  if (seeding == FieldSeeding::Draft) {
    forEachRowRun(FieldPass::ForwardOnly, extent, 0, extent.height, add);
  } else {
    forEachRowRun(FieldPass::Forward, extent, 0, extent.height, add);
    forEachRowRun(FieldPass::Backward, extent, 0, extent.height, add);
  }
  progress_ = std::make_unique<Progress[]>(runs_.size());
}

bool FieldBuildPipeline::worthSharing(FieldExtent extent) {
  return extent.height >= kFewestRowsToShare &&
         extent.width >= kSideBySideWidth &&
         extent.cellCount() >= kFewestCellsToShare;
}

void FieldBuildPipeline::work() noexcept {
  for (;;) {
    const std::size_t index = nextRun_.fetch_add(1, std::memory_order_relaxed);
    if (index >= runs_.size())
      return;
    build(index);
  }
}

void FieldBuildPipeline::waitUntilBuilt() noexcept {
  waitFor(runs_.size(), extent_.width);
}

void FieldBuildPipeline::build(std::size_t index) noexcept {
  const FieldRowRun &run = runs_[index];
  const bool backward = run.pass == FieldPass::Backward;
  if (seedRows_ && !backward)
    seedRows_(run.first, run.first + run.rows);
  // The backward pass's first run reads cells the forward pass may still
  // change anywhere below it: it waits for the whole forward pass.
  const bool afterWholePass = backward && run.first == 0;
  const std::int64_t steps = run.steps(extent_);
  const std::int64_t chunk = stepsPerChunk(extent_);
  for (std::int64_t from = 0; from < steps;) {
    const std::int64_t to = std::min(steps, from + chunk);
    waitFor(index, afterWholePass ? extent_.width
                                  : run.cellsNeededBefore(to, extent_));
    sweepRunSteps(cells_, extent_, run, from, to, settledAbove_);
    publish(index, run.cellsDoneAfter(to, extent_));
    from = to;
  }
  // A run is finished only after the one before it, so that the last run
  // finished means every run finished, and the backward pass's wait for
  // the last forward run covers every forward cell.
  waitFor(index, extent_.width);
  publish(index, extent_.width);
}

// A thread that has polled for a while sleeps until the run it waits for
// has published what it needs, so that on a busy machine it leaves the core
// to the thread it waits for. The progress and the wish are both
// sequentially consistent: either the sleeper sees the progress before it
// sleeps, or the publisher sees its wish and wakes it (under the mutex, so
// not before it is asleep). The last publish of a run is the whole row,
// which satisfies every wish.
void FieldBuildPipeline::publish(std::size_t index,
                                 std::int64_t cells) noexcept {
  Progress &progress = progress_[index];
  progress.cellsDone.store(cells, std::memory_order_seq_cst);
  const std::int64_t wanted =
      progress.cellsWanted.load(std::memory_order_seq_cst);
  if (wanted == 0 || cells < wanted)
    return;
  { std::lock_guard<std::mutex> lock(progress.sleepMutex); }
  progress.published.notify_all();
}

void FieldBuildPipeline::waitFor(std::size_t index,
                                 std::int64_t cells) noexcept {
  if (index == 0 || cells <= 0)
    return;
  Progress &before = progress_[index - 1];
  for (int polls = 0; polls < kPollsBeforeSleeping; ++polls) {
    if (before.cellsDone.load(std::memory_order_acquire) >= cells)
      return;
    pauseBriefly();
  }
  std::unique_lock<std::mutex> lock(before.sleepMutex);
  before.cellsWanted.store(cells, std::memory_order_seq_cst);
  while (before.cellsDone.load(std::memory_order_seq_cst) < cells)
    before.published.wait(lock);
  before.cellsWanted.store(0, std::memory_order_relaxed);
}

} // namespace rimlet
