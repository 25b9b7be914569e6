// The field's build shared by threads against the build on one thread, bit
// for bit, on random fields: Draft's pass and the two-pass transform, one
// to eight threads, fields narrower and wider than a chunk of steps, and
// hosts that run the threads at once, one after another, or only some.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "OutlineField.h"
#include "OutlineFieldPipeline.h"

namespace {

using namespace rimlet;

// Sparse seeds of every kind the builds meet: shallow, at the skip
// threshold, below it, and Draft's single seed; the rest far.
std::vector<float> randomSeeds(std::mt19937 &random, FieldExtent extent,
                               FieldSeeding seeding) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double density = 0.2 * unit(random);
  std::vector<float> f(static_cast<std::size_t>(extent.cellCount()), kFieldFar);
  for (float &v : f) {
    if (unit(random) >= density)
      continue;
    const double pick = unit(random);
    if (seeding == FieldSeeding::Draft)
      v = kDraftSeed;
    else if (pick < 0.6)
      v = static_cast<float>(-2.0 * std::sqrt(unit(random)));
    else if (pick < 0.7)
      v = kSkipThreshold;
    else
      v = static_cast<float>(-3.0 - 9.0 * unit(random));
  }
  return f;
}

std::vector<float> serialBuild(std::vector<float> cells, FieldExtent extent,
                               FieldSeeding seeding) {
  if (seeding == FieldSeeding::Draft)
    sweepForwardOnly(cells.data(), extent);
  else
    sweepTwoPass(cells.data(), extent);
  return cells;
}

std::string describe(FieldExtent extent, FieldSeeding seeding,
                     unsigned threads) {
  return std::string(seeding == FieldSeeding::Draft ? "Draft" : "two-pass") +
         " field " + std::to_string(extent.width) + " x " +
         std::to_string(extent.height) + " on " + std::to_string(threads) +
         " thread(s)";
}

::testing::AssertionResult sameCells(const std::vector<float> &got,
                                     const std::vector<float> &want,
                                     FieldExtent extent) {
  for (std::size_t i = 0; i < got.size(); ++i)
    if (std::memcmp(&got[i], &want[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "cell (" << i % extent.width << ", " << i / extent.width
             << "): got " << got[i] << ", the one-thread build " << want[i];
  return ::testing::AssertionSuccess();
}

// Builds from the seeds through the pipeline's seeder, which must be asked
// for every row exactly once; `run` decides how the threads are run.
template <class RunThreads>
::testing::AssertionResult
pipelineMatchesSerial(const std::vector<float> &seeds, FieldExtent extent,
                      FieldSeeding seeding, RunThreads &&run) {
  const std::vector<float> want = serialBuild(seeds, extent, seeding);
  std::vector<float> got(seeds.size(), std::nanf(""));
  std::vector<int> timesSeeded(static_cast<std::size_t>(extent.height), 0);
  FieldBuildPipeline pipeline(
      got.data(), extent, seeding,
      [&](std::int64_t firstRow, std::int64_t endRow) {
        for (std::int64_t r = firstRow; r < endRow; ++r) {
          ++timesSeeded[static_cast<std::size_t>(r)];
          std::memcpy(&got[extent.indexOf(0, r)], &seeds[extent.indexOf(0, r)],
                      sizeof(float) * static_cast<std::size_t>(extent.width));
        }
      });
  run(pipeline);
  pipeline.waitUntilBuilt();
  for (std::size_t r = 0; r < timesSeeded.size(); ++r)
    if (timesSeeded[r] != 1)
      return ::testing::AssertionFailure()
             << "row " << r << " seeded " << timesSeeded[r] << " times";
  return sameCells(got, want, extent);
}

void onThreads(FieldBuildPipeline &pipeline, unsigned count) {
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < count; ++i)
    threads.emplace_back([&pipeline] { pipeline.work(); });
  for (std::thread &thread : threads)
    thread.join();
}

constexpr FieldSeeding kSeedings[] = {FieldSeeding::Draft,
                                      FieldSeeding::Smooth};

TEST(FieldPipeline, OneToEightThreadsMatchTheOneThreadBuildBitForBit) {
  std::mt19937 random(2024);
  // Narrow fields (single rows only), fields just wide enough for rows
  // side by side, and fields several chunks of steps wide.
  std::uniform_int_distribution<int> width(1, 700), height(1, 90);
  for (int trial = 0; trial < 24; ++trial) {
    const FieldExtent extent{trial < 3 ? 1 + trial * 8 : width(random),
                             height(random)};
    for (FieldSeeding seeding : kSeedings) {
      const std::vector<float> seeds = randomSeeds(random, extent, seeding);
      for (unsigned threads = 1; threads <= 8; ++threads)
        ASSERT_TRUE(pipelineMatchesSerial(
            seeds, extent, seeding,
            [&](FieldBuildPipeline &p) { onThreads(p, threads); }))
            << describe(extent, seeding, threads);
    }
  }
}

TEST(FieldPipeline, LargeFieldOnTwoAndThreeThreads) {
  std::mt19937 random(99);
  const FieldExtent extent{1283, 301};
  for (FieldSeeding seeding : kSeedings) {
    const std::vector<float> seeds = randomSeeds(random, extent, seeding);
    for (unsigned threads : {2u, 3u})
      ASSERT_TRUE(pipelineMatchesSerial(
          seeds, extent, seeding,
          [&](FieldBuildPipeline &p) { onThreads(p, threads); }))
          << describe(extent, seeding, threads);
  }
}

// A host may run a multiThread call's functions one after another: the
// first must then build everything without waiting for a later one, and
// the others find nothing left.
TEST(FieldPipeline, ThreadsRunOneAfterAnotherBuildEverythingOnTheFirst) {
  std::mt19937 random(5);
  const FieldExtent extent{400, 70};
  for (FieldSeeding seeding : kSeedings) {
    const std::vector<float> seeds = randomSeeds(random, extent, seeding);
    ASSERT_TRUE(pipelineMatchesSerial(seeds, extent, seeding,
                                      [](FieldBuildPipeline &p) {
                                        for (int i = 0; i < 4; ++i)
                                          p.work();
                                      }))
        << describe(extent, seeding, 1) << ", one after another";
  }
}

// A host whose multiThread fails may have run some threads, or none; the
// calling thread then builds what is left.
TEST(FieldPipeline, CallingThreadFinishesWhatTheHostsThreadsLeft) {
  std::mt19937 random(6);
  const FieldExtent extent{333, 80};
  for (FieldSeeding seeding : kSeedings) {
    const std::vector<float> seeds = randomSeeds(random, extent, seeding);
    ASSERT_TRUE(pipelineMatchesSerial(seeds, extent, seeding,
                                      [](FieldBuildPipeline &p) {
                                        std::thread started([&p] { p.work(); });
                                        p.work();
                                        started.join();
                                      }))
        << describe(extent, seeding, 2) << ", one of them the caller";
    ASSERT_TRUE(pipelineMatchesSerial(seeds, extent, seeding,
                                      [](FieldBuildPipeline &p) { p.work(); }))
        << describe(extent, seeding, 1) << ", none of the host's";
  }
}

TEST(FieldPipeline, EmptyFieldsBuildNothing) {
  for (FieldSeeding seeding : kSeedings)
    for (FieldExtent extent : {FieldExtent{0, 5}, FieldExtent{7, 0}}) {
      bool seeded = false;
      FieldBuildPipeline pipeline(
          nullptr, extent, seeding,
          [&](std::int64_t, std::int64_t) { seeded = true; });
      onThreads(pipeline, 3);
      pipeline.waitUntilBuilt();
      EXPECT_FALSE(seeded) << describe(extent, seeding, 3);
    }
}

} // namespace
