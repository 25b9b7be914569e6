// The field's build shared by several threads, with every cell the same
// bits as the build on one thread.
//
// Each pass depends on itself: a cell needs cells of its own row behind it
// and of the row before it around it, so rows cannot be swept apart. But
// the row before is only read up to one cell ahead of the cell being
// swept, so a row can follow the row before it, a little behind, while
// that one is still being swept. The pipeline hands out the passes' runs
// of rows (see FieldRowRun) in sweep order; a thread walks its run in
// chunks of steps, and before each chunk waits until the run before it has
// published that the cells the chunk will read hold their final values.
//
// Why the cells are bit-identical: every cell is computed once, by the
// same code, from the same neighbour values as in the one-thread walk. The
// cells of its own run come from the same thread in the same order; the
// cells of the row before are final when read (their run published them
// with release ordering and the reader acquired that) and are not written
// again during the pass. The forward-only pass reads nothing else; the
// backward pass starts only once the whole forward pass has finished. So
// the values cannot depend on how the threads interleave.
//
// Why it cannot deadlock: runs are claimed from one counter, in order, and
// a run waits only for the run claimed just before it. A claimed run is
// held by a thread that is running, and the oldest unfinished run waits
// for nothing, so some thread always makes progress. A host that runs the
// threads one after another has the first do every run, in order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "OutlineField.h"

namespace rimlet {

class FieldBuildPipeline {
public:
  // Writes the seeds of field rows firstRow to endRow - 1. The pipeline
  // calls it exactly once for each row, on whichever thread claims the row,
  // just before that row is first swept; rows seeded at once by different
  // calls are disjoint. It must not throw. Empty: the cells are seeded
  // already.
  using RowSeeder =
      std::function<void(std::int64_t firstRow, std::int64_t endRow)>;

  // Draft seeding gives Draft's forward-only pass, Smooth the two-pass
  // transform. settledAbove as for the sweeps (OutlineField.h).
  FieldBuildPipeline(float *cells, FieldExtent extent, FieldSeeding seeding,
                     RowSeeder seedRows, float settledAbove = kNothingSettled);

  // Whether a field is big enough for the threads' hand-offs to pay.
  static bool worthSharing(FieldExtent extent);

  // One thread's share: claims runs and builds them until none is left to
  // claim. Any number of threads may call it, at once or one after another.
  void work() noexcept;

  // Waits until every run is built, by whichever thread claimed it. For
  // the thread that owns the pipeline.
  void waitUntilBuilt() noexcept;

private:
  // Progress of one run, alone on its cache lines so that threads
  // publishing neighbouring runs do not slow each other down. One thread
  // at most waits on it: the one building the next run (or, for the last
  // run, the one in waitUntilBuilt).
  struct alignas(64) Progress {
    // Leading cells (in sweep order) of the run's last row that hold their
    // final value; the field's width once the run is finished.
    std::atomic<std::int64_t> cellsDone{-1};
    // The cells the waiting thread needs while it sleeps, 0 when none does.
    std::atomic<std::int64_t> cellsWanted{0};
    std::mutex sleepMutex;
    std::condition_variable published;
  };

  void build(std::size_t index) noexcept;
  void publish(std::size_t index, std::int64_t cells) noexcept;
  // Returns once the run before `index` has published at least `cells`.
  void waitFor(std::size_t index, std::int64_t cells) noexcept;

  float *cells_;
  FieldExtent extent_;
  RowSeeder seedRows_;
  float settledAbove_;
  // Every run of every pass, in the order they are built.
  std::vector<FieldRowRun> runs_;
  std::unique_ptr<Progress[]> progress_;
  std::atomic<std::size_t> nextRun_{0};
};

} // namespace rimlet
