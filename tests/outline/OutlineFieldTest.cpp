// The distance field: seeding by format and quality, the Draft pass, the
// two-pass transform and the two reads, checked against hand-worked values
// and against a brute-force chamfer distance on random pictures.
#include "OutlineField.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "OutlineTestFormats.h"

namespace {

using namespace rimlet;
using namespace rimlet_test;

const AlphaTable &alphaTable() {
  static const AlphaTable table = makeAlphaTable();
  return table;
}

// A field over the given destination bounds, seeded from src and swept as
// the quality asks.
struct Field {
  FieldExtent extent;
  std::vector<float> cells;

  float at(int c, int r) const { return fieldAt(cells.data(), extent, c, r); }
  float smoothedAt(int c, int r) const {
    return fieldSmoothedAt(cells.data(), extent, c, r);
  }
};

template <class F, class Lookup>
Field buildField(OfxRectI bounds, FieldSeeding seeding, Lookup &&lookup) {
  Field field;
  field.extent = {bounds.x2 - bounds.x1, bounds.y2 - bounds.y1};
  field.cells.assign(static_cast<std::size_t>(field.extent.cellCount()), 0.0f);
  seedField<typename F::PIX, F::kComponents, F::kMax>(
      field.cells.data(), field.extent, bounds.x1, bounds.y1, seeding,
      alphaTable(), lookup);
  if (seeding == FieldSeeding::Draft)
    sweepForwardOnly(field.cells.data(), field.extent);
  else
    sweepTwoPass(field.cells.data(), field.extent);
  return field;
}

template <class F>
Field buildField(const TestImage<F> &src, OfxRectI bounds,
                 FieldSeeding seeding) {
  return buildField<F>(bounds, seeding, src.lookup());
}

constexpr OfxRectI kBounds9{0, 0, 9, 9};
constexpr float kDiagonalFromSeed = -2.0f + 1.4142135f;

// One opaque pixel at (4, 4) of a 9 x 9 byte image.
TestImage<ByteRGBA> singleOpaquePixel() {
  TestImage<ByteRGBA> src(kBounds9);
  src.set(4, 4, 1, 1, 1, 1);
  return src;
}

// --- Seeding ---------------------------------------------------------------

template <class F> class FieldAllFormats : public ::testing::Test {};
TYPED_TEST_SUITE(FieldAllFormats, AllFormats, FormatNames);

// Transparent pixels, a missing source and any alpha-only source leave
// nothing to outline: every cell is far, at every quality.
TYPED_TEST(FieldAllFormats, NothingCoveredGivesFarEverywhere) {
  using F = TypeParam;
  TestImage<F> src({0, 0, 6, 5});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      src.set(x, y, 1, 1, 1, F::kComponents == 1 ? 1.0 : 0.0);
  const auto noSource = [](int, int) -> const typename F::PIX * {
    return nullptr;
  };

  for (FieldSeeding seeding : {FieldSeeding::Draft, FieldSeeding::Smooth}) {
    const Field fromImage = buildField(src, src.bounds(), seeding);
    const Field fromNothing = buildField<F>(src.bounds(), seeding, noSource);
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(fromImage.at(c, r), kFieldFar)
            << F::name() << " cell (" << c << ", " << r << ")";
        EXPECT_EQ(fromNothing.at(c, r), kFieldFar)
            << F::name() << " cell (" << c << ", " << r << ")";
      }
  }
}

template <class F> class FieldRgbaFormats : public ::testing::Test {};
TYPED_TEST_SUITE(FieldRgbaFormats, RgbaFormats, FormatNames);

// Good/Best seeds scale with alpha (through the square-root table for
// bytes); Draft seeds -2 whatever the alpha.
TYPED_TEST(FieldRgbaFormats, SeedsFollowAlphaAtGoodButNotAtDraft) {
  using F = TypeParam;
  using PIX = typename F::PIX;
  TestImage<F> src({0, 0, 2, 1});
  src.set(0, 0, 1, 1, 1, 1.0);
  PIX *half = src.at(1, 0);
  half[3] = std::is_same_v<PIX, float> ? PIX(0.5f) : PIX(F::kMax / 2 + 1);

  float expectedHalfSeed = 0;
  if constexpr (std::is_same_v<PIX, unsigned char>)
    expectedHalfSeed = -2.0f * std::pow(128.0f / 255.0f, 0.5f);
  else if constexpr (std::is_same_v<PIX, unsigned short>)
    expectedHalfSeed = static_cast<float>(-2.0 * (32768 / 65535.0));
  else
    expectedHalfSeed = -1.0f;

  const auto seedOnly = [&](FieldSeeding seeding) {
    Field field;
    field.extent = {2, 1};
    field.cells.assign(2, 0.0f);
    seedField<PIX, 4, F::kMax>(field.cells.data(), field.extent, 0, 0, seeding,
                               alphaTable(), src.lookup());
    return field;
  };
  const Field smooth = seedOnly(FieldSeeding::Smooth);
  EXPECT_EQ(smooth.at(0, 0), -2.0f) << F::name();
  EXPECT_EQ(smooth.at(1, 0), expectedHalfSeed) << F::name();
  const Field draft = seedOnly(FieldSeeding::Draft);
  EXPECT_EQ(draft.at(0, 0), -2.0f) << F::name();
  EXPECT_EQ(draft.at(1, 0), -2.0f) << F::name();
}

TEST(FieldSeeding, FloatAlphaIsNotClampedAndNaNIsNotCovered) {
  TestImage<FloatRGBA> src({0, 0, 3, 1});
  src.at(0, 0)[3] = 2.0f;
  src.at(1, 0)[3] = 0.5f;
  src.at(2, 0)[3] = std::nanf("");
  Field field;
  field.extent = {3, 1};
  field.cells.assign(3, 0.0f);
  seedField<float, 4, 1>(field.cells.data(), field.extent, 0, 0,
                         FieldSeeding::Smooth, alphaTable(), src.lookup());
  EXPECT_EQ(field.at(0, 0), -4.0f);
  EXPECT_EQ(field.at(1, 0), -1.0f);
  EXPECT_EQ(field.at(2, 0), kFieldFar);
}

// --- Two-pass transform ------------------------------------------------------

TEST(FieldTwoPass, SingleOpaquePixelGivesChamferRings) {
  const Field field =
      buildField(singleOpaquePixel(), kBounds9, FieldSeeding::Smooth);
  EXPECT_EQ(field.at(4, 4), -2.0f);
  for (auto [c, r] : {std::pair{3, 4}, {5, 4}, {4, 3}, {4, 5}})
    EXPECT_EQ(field.at(c, r), -1.0f)
        << "orthogonal cell (" << c << ", " << r << ")";
  for (auto [c, r] : {std::pair{3, 3}, {5, 3}, {3, 5}, {5, 5}}) {
    EXPECT_EQ(field.at(c, r), kDiagonalFromSeed)
        << "diagonal cell (" << c << ", " << r << ")";
    EXPECT_FLOAT_EQ(field.at(c, r), -0.5857865f);
  }
  EXPECT_EQ(field.at(6, 4), 0.0f);
  EXPECT_EQ(field.at(2, 4), 0.0f);
  EXPECT_FLOAT_EQ(field.at(6, 5), 0.4142135f);
  EXPECT_FLOAT_EQ(field.at(2, 3), 0.4142135f);
  // The corners are four diagonal steps away.
  EXPECT_NEAR(field.at(0, 0), -2.0f + 4 * 1.4142135f, 1e-5f);
}

TEST(FieldTwoPass, DeepSeedIsSkippedAndItsNeighbourKept) {
  TestImage<FloatRGBA> src({0, 0, 5, 5});
  src.at(2, 2)[3] = 2.0f;
  const Field field = buildField(src, src.bounds(), FieldSeeding::Smooth);
  EXPECT_EQ(field.at(2, 2), -4.0f);
  EXPECT_EQ(field.at(1, 2), -3.0f);
  EXPECT_EQ(field.at(3, 2), -3.0f);
  EXPECT_EQ(field.at(2, 1), -3.0f);
  EXPECT_EQ(field.at(2, 3), -3.0f);
  // Two steps from the seed: through a -3 cell, not further down.
  EXPECT_EQ(field.at(0, 2), -2.0f);
}

TEST(FieldTwoPass, HalfAlphaFloatSeedsMinusOne) {
  TestImage<FloatRGBA> src({0, 0, 5, 5});
  src.at(2, 2)[3] = 0.5f;
  const Field smooth = buildField(src, src.bounds(), FieldSeeding::Smooth);
  EXPECT_EQ(smooth.at(2, 2), -1.0f);
  EXPECT_EQ(smooth.at(3, 2), 0.0f);
  const Field draft = buildField(src, src.bounds(), FieldSeeding::Draft);
  EXPECT_EQ(draft.at(2, 2), -2.0f);
  EXPECT_EQ(draft.at(3, 2), -1.0f);
}

TEST(FieldTwoPass, OneRowAndOneColumnUseOnlyExistingNeighbours) {
  TestImage<ByteRGBA> row({0, 0, 5, 1});
  row.set(1, 0, 1, 1, 1, 1);
  const Field rowField = buildField(row, row.bounds(), FieldSeeding::Smooth);
  const float expectedRow[] = {-1, -2, -1, 0, 1};
  for (int c = 0; c < 5; ++c)
    EXPECT_EQ(rowField.at(c, 0), expectedRow[c]) << "row cell " << c;

  TestImage<ByteRGBA> column({0, 0, 1, 5});
  column.set(0, 3, 1, 1, 1, 1);
  const Field columnField =
      buildField(column, column.bounds(), FieldSeeding::Smooth);
  const float expectedColumn[] = {1, 0, -1, -2, -1};
  for (int r = 0; r < 5; ++r)
    EXPECT_EQ(columnField.at(0, r), expectedColumn[r]) << "column cell " << r;
}

TEST(FieldTwoPass, EmptyBoundsDoNothing) {
  sweepTwoPass(nullptr, FieldExtent{0, 7});
  sweepTwoPass(nullptr, FieldExtent{7, 0});
  sweepForwardOnly(nullptr, FieldExtent{0, 7});
  sweepForwardOnly(nullptr, FieldExtent{7, 0});
}

// Cell (c, r) stands for pixel (x1 + c, y1 + r), and only source pixels
// inside the destination bounds reach the field.
TEST(FieldTwoPass, FieldFollowsDestinationBoundsNotSource) {
  TestImage<ByteRGBA> src({-10, -10, 10, 10});
  src.set(-3, 4, 1, 1, 1, 1); // inside the destination, at cell (2, 1)
  src.set(-6, 4, 1, 1, 1, 1); // just left of the destination
  const OfxRectI bounds{-5, 3, 1, 6};
  const Field field = buildField(src, bounds, FieldSeeding::Smooth);
  EXPECT_EQ(field.at(2, 1), -2.0f);
  EXPECT_EQ(field.at(1, 1), -1.0f);
  // Column 0 is one step from the shape outside the bounds, but two from
  // the one inside: the outside shape casts nothing.
  EXPECT_EQ(field.at(0, 1), 0.0f);
}

// Smallest seed + 8-connected chamfer distance, summed in double; the
// transform's single-precision sums agree to well within 1e-4 here.
std::vector<double> bruteForceChamfer(const std::vector<float> &seeds, int w,
                                      int h, bool forwardOnly) {
  std::vector<double> out(seeds.size(), kFieldFar);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      double best = seeds[r * w + c];
      const bool visited = !forwardOnly || (r > 0 && c > 0 && best > 0);
      if (visited) {
        for (int sr = 0; sr < h; ++sr)
          for (int sc = 0; sc < w; ++sc) {
            const float seed = seeds[sr * w + sc];
            if (seed >= kFieldFar)
              continue;
            if (forwardOnly && (sc > c || sr > r))
              continue;
            const int dx = std::abs(c - sc), dy = std::abs(r - sr);
            const double distance = std::max(dx, dy) - std::min(dx, dy) +
                                    std::min(dx, dy) * double(kDiagonalStep);
            best = std::min(best, seed + distance);
          }
      }
      out[r * w + c] = best;
    }
  return out;
}

void expectMatchesBruteForce(FieldSeeding seeding, unsigned seedValue) {
  std::mt19937 random(seedValue);
  const int w = 3 + random() % 14, h = 3 + random() % 14;
  TestImage<ByteRGBA> src({0, 0, w, h});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (random() % 9 == 0)
        src.at(x, y)[3] = static_cast<unsigned char>(1 + random() % 255);
  Field seedsOnly;
  seedsOnly.extent = {w, h};
  seedsOnly.cells.assign(static_cast<std::size_t>(w) * h, 0.0f);
  seedField<unsigned char, 4, 255>(seedsOnly.cells.data(), seedsOnly.extent, 0,
                                   0, seeding, alphaTable(), src.lookup());
  const Field field = buildField(src, src.bounds(), seeding);
  const auto expected =
      bruteForceChamfer(seedsOnly.cells, w, h, seeding == FieldSeeding::Draft);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      ASSERT_NEAR(field.at(c, r), expected[r * w + c], 1e-4)
          << "picture " << seedValue << " (" << w << " x " << h << ") cell ("
          << c << ", " << r << ")";
}

TEST(FieldTwoPass, MatchesBruteForceChamferDistance) {
  for (unsigned seed = 1; seed <= 40; ++seed)
    expectMatchesBruteForce(FieldSeeding::Smooth, seed);
}

// --- Draft forward-only pass -----------------------------------------------

TEST(FieldDraft, DistancesTravelOnlyUpAndRight) {
  const Field field =
      buildField(singleOpaquePixel(), kBounds9, FieldSeeding::Draft);
  EXPECT_EQ(field.at(4, 4), -2.0f);
  EXPECT_EQ(field.at(5, 4), -1.0f);
  EXPECT_EQ(field.at(4, 5), -1.0f);
  EXPECT_EQ(field.at(5, 5), kDiagonalFromSeed);
  EXPECT_EQ(field.at(6, 4), 0.0f);
  for (auto [c, r] : {std::pair{3, 4}, {4, 3}, {3, 3}, {3, 5}, {5, 3}})
    EXPECT_EQ(field.at(c, r), kFieldFar) << "cell (" << c << ", " << r << ")";
}

TEST(FieldDraft, RowZeroAndColumnZeroKeepTheirSeeds) {
  TestImage<ByteRGBA> src({0, 0, 5, 5});
  src.set(2, 0, 1, 1, 1, 1); // in row 0
  src.set(0, 2, 1, 1, 1, 1); // in column 0
  const Field field = buildField(src, src.bounds(), FieldSeeding::Draft);
  EXPECT_EQ(field.at(2, 0), -2.0f);
  EXPECT_EQ(field.at(0, 2), -2.0f);
  // Far cells of row 0 and column 0 are never visited.
  EXPECT_EQ(field.at(3, 0), kFieldFar);
  EXPECT_EQ(field.at(0, 3), kFieldFar);
  // Cells beyond them are reached.
  EXPECT_EQ(field.at(2, 1), -1.0f);
  EXPECT_EQ(field.at(1, 2), -1.0f);
}

TEST(FieldDraft, MatchesBruteForceForwardDistance) {
  for (unsigned seed = 1; seed <= 40; ++seed)
    expectMatchesBruteForce(FieldSeeding::Draft, seed);
}

// --- Reads
// ---------------------------------------------------------------------

TEST(FieldReads, SmoothedReadAveragesTowardsLargerXAndY) {
  Field field;
  field.extent = {3, 2};
  field.cells = {1.0f, 2.0f, 4.0f, 8.0f, 16.0f, 32.0f};
  EXPECT_EQ(field.smoothedAt(0, 0), (1.0f + 2.0f + 8.0f + 16.0f) * 0.25f);
  EXPECT_EQ(field.smoothedAt(1, 0), (2.0f + 4.0f + 16.0f + 32.0f) * 0.25f);
  // Last column and last row read the raw cell.
  EXPECT_EQ(field.smoothedAt(2, 0), 4.0f);
  EXPECT_EQ(field.smoothedAt(0, 1), 8.0f);
  EXPECT_EQ(field.smoothedAt(2, 1), 32.0f);
}

TEST(FieldReads, FarNeighbourDominatesTheMean) {
  const Field field =
      buildField(singleOpaquePixel(), kBounds9, FieldSeeding::Smooth);
  EXPECT_EQ(field.smoothedAt(4, 4),
            (-2.0f + -1.0f + -1.0f + kDiagonalFromSeed) * 0.25f);
  Field sparse;
  sparse.extent = {2, 2};
  sparse.cells = {-2.0f, kFieldFar, -1.0f, -1.0f};
  EXPECT_GE(sparse.smoothedAt(0, 0), 2.5e19f);
}

TEST(FieldReads, AlphaTableIsSquareRootInSinglePrecision) {
  const AlphaTable &table = alphaTable();
  EXPECT_EQ(table[0], 0.0f);
  EXPECT_EQ(table[255], 1.0f);
  for (int i = 0; i < 256; ++i)
    EXPECT_NEAR(table[i], std::sqrt(i / 255.0), 1e-7) << "entry " << i;
  EXPECT_LT(table[244], 0.98f);
  EXPECT_GT(table[245], 0.98f);
}

} // namespace
