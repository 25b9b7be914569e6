// The field's sweeps are written for speed (rows walked side by side,
// candidates met in another order); these tests hold them to the plain
// cell-by-cell sweeps, bit for bit, on random fields: seeds of every
// depth (including those at or below the skip threshold), far cells, and
// every shape from one cell to fields wider and taller than the
// interleaved walk needs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "OutlineField.h"
#include "SimdPathTesting.h"

namespace {

using namespace rimlet;

float lowerOf(float current, float candidate) {
  return candidate < current ? candidate : current;
}

// The two-pass transform exactly as described: candidates in the stated
// order, one row after the other.
void plainTwoPass(std::vector<float> &f, std::int64_t W, std::int64_t H) {
  auto at = [&](std::int64_t c, std::int64_t r) -> float & {
    return f[r * W + c];
  };
  for (std::int64_t r = 0; r < H; ++r)
    for (std::int64_t c = 0; c < W; ++c) {
      float v = at(c, r);
      if (v <= -3.0f)
        continue;
      if (c > 0)
        v = lowerOf(v, at(c - 1, r) + 1.0f);
      if (c > 0 && r > 0)
        v = lowerOf(v, at(c - 1, r - 1) + 1.4142135f);
      if (r > 0)
        v = lowerOf(v, at(c, r - 1) + 1.0f);
      if (r > 0 && c < W - 1)
        v = lowerOf(v, at(c + 1, r - 1) + 1.4142135f);
      at(c, r) = v;
    }
  for (std::int64_t r = H - 1; r >= 0; --r)
    for (std::int64_t c = W - 1; c >= 0; --c) {
      float v = at(c, r);
      if (v <= -3.0f)
        continue;
      if (c < W - 1)
        v = lowerOf(v, at(c + 1, r) + 1.0f);
      if (c < W - 1 && r < H - 1)
        v = lowerOf(v, at(c + 1, r + 1) + 1.4142135f);
      if (r < H - 1)
        v = lowerOf(v, at(c, r + 1) + 1.0f);
      if (r < H - 1 && c > 0)
        v = lowerOf(v, at(c - 1, r + 1) + 1.4142135f);
      at(c, r) = v;
    }
}

void plainForwardOnly(std::vector<float> &f, std::int64_t W, std::int64_t H) {
  auto at = [&](std::int64_t c, std::int64_t r) -> float & {
    return f[r * W + c];
  };
  for (std::int64_t r = 1; r < H; ++r)
    for (std::int64_t c = 1; c < W; ++c) {
      const float v = at(c, r);
      if (!(v > 0.0f))
        continue;
      at(c, r) = lowerOf(v, lowerOf(at(c - 1, r) + 1.0f,
                                    lowerOf(at(c, r - 1) + 1.0f,
                                            at(c - 1, r - 1) + 1.4142135f)));
    }
}

// Sparse seeds: mostly far, some shallow, some exactly at the threshold,
// some deep; irrational-looking values so that additions round. A few are
// zeros of either sign, where which of two equal values a minimum keeps
// shows in the bits.
std::vector<float> randomSeeds(std::mt19937 &random, std::int64_t cells,
                               double density) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<float> f(static_cast<std::size_t>(cells), kFieldFar);
  for (float &v : f) {
    if (unit(random) >= density)
      continue;
    const double pick = unit(random);
    if (pick < 0.45)
      v = static_cast<float>(-2.0 * std::sqrt(unit(random)));
    else if (pick < 0.55)
      v = -3.0f;
    else if (pick < 0.75)
      v = static_cast<float>(-3.0 - 9.0 * unit(random));
    else if (pick < 0.85)
      v = -2.0f;
    else if (pick < 0.9)
      v = -1.0f; // its neighbours' candidates are exactly +0
    else if (pick < 0.95)
      v = 0.0f;
    else
      v = -0.0f;
  }
  return f;
}

// The same bits wherever the plain sweep ends at or below `settled`, and
// above it on both sides elsewhere.
::testing::AssertionResult sameCells(const std::vector<float> &got,
                                     const std::vector<float> &want,
                                     std::int64_t W,
                                     float settled = kNothingSettled) {
  for (std::size_t i = 0; i < got.size(); ++i) {
    const bool same = want[i] <= settled
                          ? std::memcmp(&got[i], &want[i], sizeof(float)) == 0
                          : got[i] > settled;
    if (!same)
      return ::testing::AssertionFailure()
             << "cell (" << i % W << ", " << i / W << ") of a field " << W
             << " wide, settled above " << settled << ": got " << got[i]
             << ", expected " << want[i];
  }
  return ::testing::AssertionSuccess();
}

// On every vector path: the wider ones walk the side-by-side rows in lanes.
class FieldSweepPathTest : public ::testing::TestWithParam<simd_test::Path> {};

// A sweep under test: its plain form, the fast walk of a whole field, the
// passes of its runs, and how its seeds are drawn.
struct Sweep {
  const char *name;
  unsigned randomSeed;
  int trials;
  void (*plain)(std::vector<float> &, std::int64_t, std::int64_t);
  void (*whole)(float *, FieldExtent, float);
  std::vector<FieldPass> passes;
  bool draftSeeds; // every covered cell alike; zeros of either sign stay
};

const Sweep kSweeps[] = {
    {"two-pass",
     7,
     400,
     plainTwoPass,
     sweepTwoPass,
     {FieldPass::Forward, FieldPass::Backward},
     false},
    {"forward-only",
     11,
     300,
     plainForwardOnly,
     sweepForwardOnly,
     {FieldPass::ForwardOnly},
     true},
};

// Each sweep on random fields, walked whole and in runs of random pieces
// (as threads share them: a walk resumed at any step sees what the whole
// walk saw), against its plain form. Every fourth field is large enough
// for long side-by-side walks. Every third is swept with a settled value,
// below which the cells must still be the plain sweep's.
TEST_P(FieldSweepPathTest, SweepsMatchThePlainSweepsBitForBit) {
  SIMD_TEST_SKIP_IF_MISSING(GetParam());
  simd_test::ScopedSimdPath chosen(GetParam());
  for (const Sweep &sweep : kSweeps) {
    std::mt19937 random(sweep.randomSeed);
    std::uniform_int_distribution<int> size(1, 45);
    std::uniform_real_distribution<double> density(0.0, 0.3);
    std::uniform_real_distribution<float> settledValue(-1.0f, 6.0f);
    for (int trial = 0; trial < sweep.trials; ++trial) {
      const bool large = trial % 4 == 0;
      const float settled =
          trial % 3 == 1 ? settledValue(random) : kNothingSettled;
      const std::int64_t W = large ? 130 - trial % 7 : size(random);
      const std::int64_t H = large ? 97 - trial % 5 : size(random);
      std::vector<float> want = randomSeeds(random, W * H, density(random));
      if (sweep.draftSeeds)
        for (float &v : want)
          v = v < kFieldFar && v != 0.0f ? kDraftSeed : v;
      std::vector<float> got = want;
      std::vector<float> inPieces = want;
      sweep.plain(want, W, H);
      sweep.whole(got.data(), FieldExtent{W, H}, settled);
      const std::string what = std::string(qfx::simd::pathName(GetParam())) +
                               " path, " + sweep.name + ", " +
                               std::to_string(W) + " x " + std::to_string(H) +
                               ", trial " + std::to_string(trial);
      ASSERT_TRUE(sameCells(got, want, W, settled)) << what;
      const FieldExtent extent{W, H};
      std::uniform_int_distribution<std::int64_t> piece(1, 20);
      for (FieldPass pass : sweep.passes)
        forEachRowRun(pass, extent, 0, H, [&](const FieldRowRun &run) {
          for (std::int64_t step = 0, steps = run.steps(extent);
               step < steps;) {
            const std::int64_t end = std::min(steps, step + piece(random));
            sweepRunSteps(inPieces.data(), extent, run, step, end, settled);
            step = end;
          }
        });
      ASSERT_TRUE(sameCells(inPieces, want, W, settled))
          << what << ", in pieces";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, FieldSweepPathTest, simd_test::allPaths(),
                         simd_test::PathNames{});

} // namespace
