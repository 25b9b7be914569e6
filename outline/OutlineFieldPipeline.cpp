#include "OutlineFieldPipeline.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace rimlet {

namespace {

// Steps a thread walks between two looks at the run before it: a few
// thousand cells, long enough for the hand-off to cost little, short
// enough for the next thread to follow closely.
constexpr std::int64_t kStepsPerChunk = 256;

// Below these a field is built in well under a millisecond on one thread.
constexpr std::int64_t kFewestRowsToShare = 64;
constexpr std::int64_t kFewestCellsToShare = 256 * 256;

// A waiting thread gives its core away at once, as the run it waits for
// is usually a chunk away from done. If it is still waiting after this
// many turns the host has more threads than cores, and it sleeps instead
// so as not to steal time from the threads it waits for.
constexpr int kYieldsBeforeSleeping = 1000;

} // namespace

FieldBuildPipeline::FieldBuildPipeline(float* cells, FieldExtent extent, FieldSeeding seeding,
                                       RowSeeder seedRows)
    : cells_(cells), extent_(extent), seedRows_(std::move(seedRows)) {
  if (extent.isEmpty())
    return;
  auto add = [this](const FieldRowRun& run) { runs_.push_back(run); };
  if (seeding == FieldSeeding::Draft) {
    forEachRowRun(FieldPass::ForwardOnly, extent, 0, extent.height, add);
  } else {
    forEachRowRun(FieldPass::Forward, extent, 0, extent.height, add);
    forEachRowRun(FieldPass::Backward, extent, 0, extent.height, add);
  }
  progress_ = std::make_unique<Progress[]>(runs_.size());
}

bool FieldBuildPipeline::worthSharing(FieldExtent extent) {
  return extent.height >= kFewestRowsToShare && extent.width >= kSideBySideWidth &&
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

void FieldBuildPipeline::waitUntilBuilt() const noexcept {
  waitFor(runs_.size(), extent_.width);
}

void FieldBuildPipeline::build(std::size_t index) noexcept {
  const FieldRowRun& run = runs_[index];
  const bool backward = run.pass == FieldPass::Backward;
  if (seedRows_ && !backward)
    seedRows_(run.first, run.first + run.rows);
  // The backward pass's first run reads cells the forward pass may still
  // change anywhere below it: it waits for the whole forward pass.
  const bool afterWholePass = backward && run.first == 0;
  const std::int64_t steps = run.steps(extent_);
  Progress& progress = progress_[index];
  for (std::int64_t from = 0; from < steps;) {
    const std::int64_t to = std::min(steps, from + kStepsPerChunk);
    waitFor(index, afterWholePass ? extent_.width : run.cellsNeededBefore(to, extent_));
    sweepRunSteps(cells_, extent_, run, from, to);
    progress.cellsDone.store(run.cellsDoneAfter(to, extent_), std::memory_order_release);
    from = to;
  }
  // A run is finished only after the one before it, so that the last run
  // finished means every run finished, and the backward pass's wait for
  // the last forward run covers every forward cell.
  waitFor(index, extent_.width);
  progress.cellsDone.store(extent_.width, std::memory_order_release);
}

void FieldBuildPipeline::waitFor(std::size_t index, std::int64_t cells) const noexcept {
  if (index == 0 || cells <= 0)
    return;
  const std::atomic<std::int64_t>& before = progress_[index - 1].cellsDone;
  for (int turns = 0; before.load(std::memory_order_acquire) < cells; ++turns) {
    if (turns < kYieldsBeforeSleeping)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

} // namespace rimlet
