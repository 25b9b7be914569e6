// The row rules on every vector path, against the plain
// per-pixel rules, bit for bit: one sweep over paths x formats x
// qualities, on field values at and beside every threshold and random
// ones, NaN and infinities, and sources whose alphas are transparent,
// opaque, at the opacity threshold or, for floats, NaN, infinite,
// negative or above one.
#include "OutlineRowRules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "OutlineField.h"
#include "OutlineTestFormats.h"
#include "SimdPathTesting.h"

namespace {

using namespace rimlet;
using namespace rimlet_test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

const char *qualityName(OutlineQuality q) {
  return q == OutlineQuality::Draft  ? "Draft"
         : q == OutlineQuality::Good ? "Good"
                                     : "Best";
}

// Field values a rule turns on for width w, each with its neighbours one
// float step away, and values no field holds but a rule must survive.
std::vector<float> thresholdValues(float w) {
  const float marks[] = {rule::kWindowDepth,
                         rule::kBestSolidDepth,
                         0.0f,
                         rule::kFaintRingReach,
                         w - rule::kEdgeWidth,
                         w - rule::kBestSolidBeforeWidth,
                         w,
                         w + rule::kBestSolidBeforeWidth,
                         w + rule::kWindowBeyondWidth,
                         w - 0.999f};
  std::vector<float> values = {kNaN, kInf, -kInf, kFieldFar, -kFieldFar, -0.0f};
  for (float m : marks)
    for (float v : {std::nextafter(m, -kInf), m, std::nextafter(m, kInf)})
      values.push_back(v);
  return values;
}

// A field of two rows: mostly values near the thresholds, the rest random
// over the range where the rules draw.
std::vector<float> makeField(std::mt19937 &rng, std::int64_t width, float w) {
  const std::vector<float> marks = thresholdValues(w);
  std::uniform_real_distribution<float> spread(
      -5.0f, (std::isfinite(w) ? w : 2.0f) + 4.0f);
  std::vector<float> cells(static_cast<std::size_t>(width) * 2);
  for (float &cell : cells)
    cell = rng() % 3 == 0 ? spread(rng) : marks[rng() % marks.size()];
  return cells;
}

template <class F> typename F::PIX randomAlpha(std::mt19937 &rng) {
  using PIX = typename F::PIX;
  if constexpr (F::kIsFloat) {
    const float alphas[] = {
        0.0f,  -0.0f,  1.0f,    0.98f, std::nextafter(0.98f, 2.0f),
        0.5f,  1.75f,  -0.25f,  kNaN,  kInf,
        -kInf, 1e-30f, 3.4e38f, 1e-45f};
    if (rng() % 2 == 0)
      return alphas[rng() % std::size(alphas)];
    return std::uniform_real_distribution<float>(-0.5f, 1.5f)(rng);
  } else {
    // Bytes: 244 is blended, 245 copied; shorts likewise around 0.98.
    const PIX alphas[] = {0,
                          1,
                          PIX(F::kMax),
                          PIX(F::kMax - 1),
                          PIX(F::kMax * 0.98),
                          PIX(F::kMax * 0.98 + 1),
                          244,
                          245};
    if (rng() % 2 == 0)
      return alphas[rng() % std::size(alphas)];
    return static_cast<PIX>(rng() % (F::kMax + 1));
  }
}

template <class F>
std::vector<typename F::PIX> makeSource(std::mt19937 &rng, std::int64_t width) {
  using PIX = typename F::PIX;
  std::vector<PIX> pixels(static_cast<std::size_t>(width) * 4);
  for (std::int64_t i = 0; i < width; ++i) {
    PIX *p = &pixels[i * 4];
    for (int c = 0; c < 3; ++c) {
      if constexpr (F::kIsFloat)
        p[c] = rng() % 8 == 0 ? kNaN
               : rng() % 8 == 0
                   ? 3.4e38f
                   : std::uniform_real_distribution<float>(-0.5f, 2.0f)(rng);
      else
        p[c] = static_cast<PIX>(rng() % (F::kMax + 1));
    }
    p[3] = randomAlpha<F>(rng);
  }
  return pixels;
}

// One run as the processor hands it over: the run's first and last
// pixel, where Best's blocks stop, and whether there is a source and a
// row above.
struct Run {
  std::int64_t first, last, lastBlock;
  bool withSource, withAbove;
};

template <class F, OutlineQuality quality>
::testing::AssertionResult sameRun(const std::string &path, const Run &run,
                                   float w, OutlineColor color,
                                   std::mt19937 &rng) {
  using PIX = typename F::PIX;
  static const AlphaTable alphaTable = makeAlphaTable();
  static const FalloffTable falloffTable = makeFalloffTable();
  const std::int64_t width = run.last + 3;
  const std::vector<float> field = makeField(rng, width, w);
  const std::vector<PIX> source = makeSource<F>(rng, width);
  const OutlinePixelRules<PIX, 4, F::kMax> rules(color, alphaTable,
                                                 falloffTable);
  const RowRules<PIX, F::kMax> rowRules(rules, alphaTable, falloffTable, color,
                                        w);

  RowCells cells;
  cells.row = field.data();
  cells.above = quality == OutlineQuality::Best && run.withAbove
                    ? field.data() + width
                    : nullptr;
  cells.lastBlock = run.lastBlock;
  const FieldExtent extent{width, 2};
  std::vector<PIX> got(static_cast<std::size_t>(width) * 4, PIX(7));
  std::vector<PIX> expected = got;
  const PIX *src = run.withSource ? source.data() + run.first * 4 : nullptr;
  renderRow<quality>(rowRules, cells, src, got.data(), run.first, run.last);

  for (std::int64_t i = run.first; i < run.last; ++i) {
    const bool block = cells.above != nullptr && i < run.lastBlock;
    const float f =
        block ? fieldSmoothedAt(field.data(), extent, i, 0) : field[i];
    const PIX *pixel = run.withSource ? source.data() + i * 4 : nullptr;
    rules.template renderPixel<quality>(pixel, expected.data() + i * 4, f, w);
    if (std::memcmp(&got[i * 4], &expected[i * 4], 4 * sizeof(PIX)) != 0)
      return ::testing::AssertionFailure()
             << path << ", " << F::name() << ", " << qualityName(quality)
             << ", w " << w << ", pixel " << i << " of run " << run.first
             << ".." << run.last << " (f " << f << ", source "
             << (pixel ? describePixel(pixel, 4) : std::string("none"))
             << "): got " << describePixel(&got[i * 4], 4) << ", expected "
             << describePixel(&expected[i * 4], 4);
  }
  for (std::int64_t i = 0; i < width * 4; ++i)
    if ((i < run.first * 4 || i >= run.last * 4) && got[i] != PIX(7))
      return ::testing::AssertionFailure()
             << path << ", " << F::name() << ", " << qualityName(quality)
             << ": wrote component " << i << " outside the run " << run.first
             << ".." << run.last;
  return ::testing::AssertionSuccess();
}

template <class F, OutlineQuality quality>
void sweepQuality(const std::string &path, std::mt19937 &rng) {
  // Runs of every length up to a few vectors, at odd starts, with Best's
  // blocks stopping inside, at or past the run's end.
  const std::vector<Run> runs = {
      {0, 67, 66, true, true},   {3, 70, 40, true, true},
      {0, 67, 66, false, true},  {5, 69, 68, true, false},
      {1, 2, 1, true, true},     {0, 16, 16, true, true},
      {2, 35, 100, false, true}, {0, 0, 0, true, true}};
  // Huge widths and colours take coverages and components past the
  // largest float.
  const float widths[] = {2.0f,  0.5f,  1.0f,  2.5f, 4.7f, 0.0f,
                          -1.0f, 40.0f, 1e30f, kNaN, kInf};
  const OutlineColor colors[] = {{1.0, 1.0, 1.0},
                                 {0.2, 0.6, 0.9},
                                 {1.5, -0.25, 0.5},
                                 {1e300, -1e300, 0.0}};
  for (float w : widths)
    for (const OutlineColor &color : colors)
      for (const Run &run : runs)
        for (int repeat = 0; repeat < 4; ++repeat)
          ASSERT_TRUE((sameRun<F, quality>(path, run, w, color, rng)));
}

template <class F> void sweepFormat(const std::string &path) {
  std::mt19937 rng(20261208);
  sweepQuality<F, OutlineQuality::Draft>(path, rng);
  sweepQuality<F, OutlineQuality::Good>(path, rng);
  sweepQuality<F, OutlineQuality::Best>(path, rng);
}

class RowRulesOnEveryPath : public ::testing::TestWithParam<simd_test::Path> {};

TEST_P(RowRulesOnEveryPath, GivesThePlainRulesBitForBit) {
  SIMD_TEST_SKIP_IF_MISSING(GetParam());
  const simd_test::ScopedSimdPath onPath(GetParam());
  const std::string path = qfx::simd::pathName(GetParam());
  sweepFormat<ByteRGBA>(path);
  sweepFormat<ShortRGBA>(path);
  sweepFormat<FloatRGBA>(path);
}

INSTANTIATE_TEST_SUITE_P(Paths, RowRulesOnEveryPath, simd_test::allPaths(),
                         simd_test::PathNames());

// The opacity threshold, as the row rules derive it from the rule.
TEST(RowRules, OpaqueEnoughStartsAtTheWorkedAlphas) {
  const AlphaTable alphaTable = makeAlphaTable();
  const FalloffTable falloffTable = makeFalloffTable();
  const OutlineColor white{};
  const OutlinePixelRules<unsigned char, 4, 255> byteRules(white, alphaTable,
                                                           falloffTable);
  EXPECT_EQ((RowRules<unsigned char, 255>(byteRules, alphaTable, falloffTable,
                                          white, 2.0f)
                 .opaqueAbove),
            244.0f);
  const OutlinePixelRules<unsigned short, 4, 65535> shortRules(
      white, alphaTable, falloffTable);
  EXPECT_EQ((RowRules<unsigned short, 65535>(shortRules, alphaTable,
                                             falloffTable, white, 2.0f)
                 .opaqueAbove),
            64224.0f); // 64224 / 65535 = 0.97999..., 64225 / 65535 = 0.98001...
  const OutlinePixelRules<float, 4, 1> floatRules(white, alphaTable,
                                                  falloffTable);
  const float floatAbove =
      RowRules<float, 1>(floatRules, alphaTable, falloffTable, white, 2.0f)
          .opaqueAbove;
  EXPECT_LE(static_cast<double>(floatAbove), 0.98);
  EXPECT_GT(static_cast<double>(std::nextafter(floatAbove, 2.0f)), 0.98);
}

} // namespace
