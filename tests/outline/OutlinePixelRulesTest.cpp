// The pixel rules and pixel operations, per format, with the worked values
// of the outline's design: rings around opaque shapes, the Draft and Best
// edges, the opacity threshold, float alphas outside [0, 1], 16-bit blends
// and the alpha-only pass-through.
#include "OutlinePixelRules.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "OutlineField.h"
#include "OutlineTestFormats.h"

namespace {

using namespace rimlet;
using namespace rimlet_test;

const AlphaTable &alphaTable() {
  static const AlphaTable table = makeAlphaTable();
  return table;
}

const FalloffTable &falloffTable() {
  static const FalloffTable table = makeFalloffTable();
  return table;
}

constexpr OutlineColor kRed{1.0, 0.0, 0.0};

template <class F> class RulesTest : public ::testing::Test {
public:
  using PIX = typename F::PIX;
  using Rules = OutlinePixelRules<PIX, F::kComponents, F::kMax>;
  using Pixel = std::array<PIX, 4>;

  static Rules rules(OutlineColor color = kRed) {
    return Rules(color, alphaTable(), falloffTable());
  }

  // A destination pixel that holds leftovers, so that a rule which forgets
  // to write a component is caught.
  static Pixel stale() { return {PIX(7), PIX(7), PIX(7), PIX(7)}; }

  // A value given as a fraction of full scale, stored as the format stores
  // it (integers truncated).
  static PIX unit(double fraction) { return F::fromUnit(fraction); }

  static Pixel units(double r, double g, double b, double a) {
    return {unit(r), unit(g), unit(b), unit(a)};
  }

  template <OutlineQuality quality>
  static Pixel render(const Rules &rules, const PIX *src, float f, float w) {
    Pixel dst = stale();
    rules.template renderPixel<quality>(src, dst.data(), f, w);
    return dst;
  }

  static Pixel renderAt(OutlineQuality quality, const Rules &rules,
                        const PIX *src, float f, float w) {
    switch (quality) {
    case OutlineQuality::Draft:
      return render<OutlineQuality::Draft>(rules, src, f, w);
    case OutlineQuality::Good:
      return render<OutlineQuality::Good>(rules, src, f, w);
    case OutlineQuality::Best:
      break;
    }
    return render<OutlineQuality::Best>(rules, src, f, w);
  }

  static void expectPixel(const Pixel &got, const Pixel &expected,
                          const std::string &what) {
    for (int i = 0; i < F::kComponents; ++i) {
      if (got[i] != expected[i]) {
        ADD_FAILURE() << F::name() << ", " << what << ": got "
                      << describePixel(got.data(), F::kComponents)
                      << ", expected "
                      << describePixel(expected.data(), F::kComponents);
        return;
      }
    }
  }
};

template <class F> class RgbaRules : public RulesTest<F> {};
TYPED_TEST_SUITE(RgbaRules, RgbaFormats, FormatNames);

// --- Good
// ----------------------------------------------------------------------

TYPED_TEST(RgbaRules, GoodKeepsAnOpaqueShape) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const auto white = T::units(1, 1, 1, 1);
  const float w = 2.0f;

  for (float f : {-2.0f, -1.0f})
    T::expectPixel(
        T::template render<OutlineQuality::Good>(rules, white.data(), f, w),
        white, "opaque shape pixel at f = " + std::to_string(f));
}

TYPED_TEST(RgbaRules, GoodCopiesCoveredPixelsOutsideTheWindow) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const auto src = T::units(0.25, 0.5, 0.125, 0.5);
  // Deep inside (f < -3) and far outside (f > w + 1): the source as it is.
  for (float f : {-3.5f, 4.0f})
    T::expectPixel(
        T::template render<OutlineQuality::Good>(rules, src.data(), f, 2.0f),
        src, "covered pixel at f = " + std::to_string(f));
}

// The thresholds every form of the rules reads, at their worked values.
TEST(RuleThresholds, HoldTheWorkedValues) {
  EXPECT_EQ(rule::kWindowDepth, -3.0f);
  EXPECT_EQ(rule::kWindowBeyondWidth, 1.0f);
  EXPECT_EQ(rule::kEdgeWidth, 1.0f);
  EXPECT_EQ(rule::kVisibleAlpha, 0.001);
  EXPECT_EQ(rule::kOpaqueEnough, 0.98);
  EXPECT_EQ(rule::kBestSolidBeforeWidth, 0.5f);
  EXPECT_EQ(rule::kBestSolidDepth, -2.5f);
  EXPECT_EQ(rule::kFalloffSteps, 10.0f);
  EXPECT_EQ(rule::kFaintRingReach, 3.0f);
  EXPECT_EQ(rule::kFaintRingCoverage, 0.5);
  EXPECT_EQ(rule::kEdgeSourceWeight, 0.85);
}

TEST(GoodCoverage, NarrowWidthFallsLinearly) {
  using Rules = OutlinePixelRules<float, 4, 1>;
  EXPECT_NEAR(Rules::goodCoverage(0.2f, 0.5f), 0.3, 1e-6);
  EXPECT_EQ(Rules::goodCoverage(0.0f, 0.5f), 1.0);
  EXPECT_EQ(Rules::goodCoverage(-1.0f, 0.5f), 1.0);
  EXPECT_EQ(Rules::goodCoverage(0.5f, 0.5f), 0.0);
  EXPECT_EQ(Rules::goodCoverage(0.9f, 2.0f), 1.0);
  EXPECT_NEAR(Rules::goodCoverage(1.75f, 2.0f), 0.25, 1e-7);
}

// Alpha 245 is the first byte alpha whose square root passes 0.98.
TEST(GoodOpacity, ByteAlpha244IsBlendedAnd245Copied) {
  using T = RulesTest<ByteRGBA>;
  const auto rules = T::rules(kRed);
  const T::Pixel nearlyOpaque{100, 100, 100, 245};
  T::expectPixel(
      T::render<OutlineQuality::Good>(rules, nearlyOpaque.data(), -1.0f, 2.0f),
      nearlyOpaque, "alpha 245 over a solid outline");

  const T::Pixel lessOpaque{100, 100, 100, 244};
  const auto blended =
      T::render<OutlineQuality::Good>(rules, lessOpaque.data(), -1.0f, 2.0f);
  // 100 * 244/255 + 255 * 11/255 = 106.67, truncated; green and blue get
  // no outline.
  T::expectPixel(blended, T::Pixel{106, 95, 95, 255},
                 "alpha 244 over a solid outline");
}

TEST(GoodOpacity, ShortHalfAlphaBlendsOverAFullOutline) {
  using T = RulesTest<ShortRGBA>;
  const auto rules = T::rules(OutlineColor{1.0, 0.5, 0.0});
  const T::Pixel src{40000, 20000, 1000, 32768};
  const auto got =
      T::render<OutlineQuality::Good>(rules, src.data(), -1.0f, 2.0f);
  // The outline is (65535, 32767, 0, 65535); the source weighs 32768/65535.
  const double as = 32768.0 / 65535.0;
  const T::Pixel expected{
      static_cast<unsigned short>(40000 * as + 65535 * (1 - as)),
      static_cast<unsigned short>(20000 * as + 32767 * (1 - as)),
      static_cast<unsigned short>(1000 * as), 65535};
  T::expectPixel(got, expected, "alpha 32768 over a full outline");
  EXPECT_EQ(got[0], 52767);
  EXPECT_EQ(got[1], 26383);
  EXPECT_EQ(got[2], 500);
}

// --- Draft
// ---------------------------------------------------------------------

TYPED_TEST(RgbaRules, DraftLaysTheSourceOverTheOutline) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const auto white = T::units(1, 1, 1, 1);
  T::expectPixel(T::template render<OutlineQuality::Draft>(rules, white.data(),
                                                           -2.0f, 2.0f),
                 white, "opaque source inside the shape");
  // Over a transparent outline the source is copied whatever its alpha.
  const auto faint = T::units(0.25, 0.25, 0.25, 0.25);
  T::expectPixel(T::template render<OutlineQuality::Draft>(rules, faint.data(),
                                                           2.0f, 2.0f),
                 faint, "source over a zero-coverage outline");
  // Over a solid outline a half-transparent white source lets half the red
  // through: (0.5 * 0.5 + 1 * 0.5) / 1.
  const auto half = T::units(0.5, 0.5, 0.5, 0.5);
  const auto got = T::template render<OutlineQuality::Draft>(rules, half.data(),
                                                             -2.0f, 2.0f);
  T::expectPixel(got, T::units(0.75, 0.25, 0.25, 1.0),
                 "half source over a solid outline");
}

// --- Best
// ----------------------------------------------------------------------

// The outline alone (no source pixel) at each quality: field value f,
// width w, and the premultiplied red expected, as a fraction of full
// scale.
struct OutlineAlone {
  OutlineQuality quality;
  float f;
  float w;
  double red; // and alpha; green and blue are 0
  const char *what;
};

const OutlineAlone kOutlineAlone[] = {
    // Good: solid rings up to one below the width, an edge, nothing beyond.
    {OutlineQuality::Good, -1.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Good, 0.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Good, 1.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Good, 1.5f, 2.0f, 0.5, "edge"},
    {OutlineQuality::Good, 2.0f, 2.0f, 0.0, "beyond the outline"},
    {OutlineQuality::Good, 2.5f, 2.0f, 0.0, "beyond the outline"},
    {OutlineQuality::Good, 3.5f, 2.0f, 0.0, "beyond the outline"},
    {OutlineQuality::Good, kFieldFar, 2.0f, 0.0, "beyond the outline"},
    // Draft: the same rings, from as deep as its seeds.
    {OutlineQuality::Draft, -2.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Draft, -1.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Draft, 0.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Draft, 1.0f, 2.0f, 1.0, "ring"},
    {OutlineQuality::Draft, 1.5f, 2.0f, 0.5, "edge"},
    {OutlineQuality::Draft, 2.0f, 2.0f, 0.0, "zero-coverage ring"},
    {OutlineQuality::Draft, 2.5f, 2.0f, 0.0, "cleared"},
    // Best: a half-strength ring only around thin outlines (w < 3)...
    {OutlineQuality::Best, 2.6f, 2.0f, 0.5, "faint ring"},
    {OutlineQuality::Best, 3.2f, 2.0f, 0.0, "past the faint ring"},
    {OutlineQuality::Best, 2.95f, 2.9f, 0.5, "faint ring"},
    {OutlineQuality::Best, 3.01f, 3.0f, 0.0, "no faint ring"},
    {OutlineQuality::Best, 3.5f, 3.0f, 0.0, "no faint ring"},
    {OutlineQuality::Best, 3.9f, 3.0f, 0.0, "no faint ring"},
    // ...and an edge falling off over one pixel.
    {OutlineQuality::Best, 1.4f, 2.0f, 1.0, "solid part"},
    {OutlineQuality::Best, 2.0f, 2.0f, 0.25, "f = w"},
    {OutlineQuality::Best, kFieldFar, 2.0f, 0.0, "far"},
};

TYPED_TEST(RgbaRules, OutlineAloneHoldsItsWorkedValues) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const char *const qualityNames[] = {"Draft", "Good", "Best"};
  for (const OutlineAlone &c : kOutlineAlone)
    T::expectPixel(T::renderAt(c.quality, rules, nullptr, c.f, c.w),
                   T::units(c.red, 0, 0, c.red),
                   std::string(qualityNames[static_cast<int>(c.quality)]) +
                       " " + c.what + " at f = " + std::to_string(c.f) +
                       ", w = " + std::to_string(c.w));
}

TEST(BestCoverage, FalloffIsReadInTenthsBeyondWidthMinusOne) {
  using Rules = OutlinePixelRules<float, 4, 1>;
  const Rules rules(kRed, alphaTable(), falloffTable());
  EXPECT_EQ(rules.bestCoverage(-2.6f, 0.1f), 1.0);
  EXPECT_EQ(rules.bestCoverage(1.49f, 2.0f), 1.0);
  EXPECT_EQ(rules.bestCoverage(1.5f, 2.0f), 1.0);          // index 5
  EXPECT_EQ(rules.bestCoverage(2.0f, 2.0f), 0.25);         // index 10
  EXPECT_NEAR(rules.bestCoverage(2.3f, 2.0f), 0.04, 1e-6); // index 13
  EXPECT_EQ(rules.bestCoverage(2.5f, 2.0f), 0.0);          // index 15
  EXPECT_EQ(rules.bestCoverage(3.0f, 2.0f), 0.0);          // index 20
  // Beyond the table (index above 200) the square of w - f is used.
  EXPECT_EQ(rules.bestCoverage(25.0f, 2.0f), 529.0);
}

TEST(BestCoverage, FalloffTableIsFullThenFallsQuadratically) {
  const FalloffTable &table = falloffTable();
  for (int i = 0; i <= 5; ++i)
    EXPECT_EQ(table[i], 1.0f) << "entry " << i;
  for (int i = 15; i <= 200; ++i)
    EXPECT_EQ(table[i], 0.0f) << "entry " << i;
  for (int i = 6; i < 15; ++i) {
    const double remaining = 1.0 - (i / 10.0 - 0.5);
    EXPECT_NEAR(table[i], remaining * remaining, 1e-6) << "entry " << i;
    EXPECT_LT(table[i], table[i - 1]) << "entry " << i;
  }
}

TEST(BestFloat, DeepAlphaIsCopiedAndSubUnitAlphaIsBlendedAndClamped) {
  using T = RulesTest<FloatRGBA>;
  // A 5 x 5 region of alpha 2.0 and one of alpha 0.9, each in its own
  // 9 x 9 image; the centre pixel is read through the field as the
  // processor reads it.
  for (float alpha : {2.0f, 0.9f}) {
    TestImage<FloatRGBA> src({0, 0, 9, 9});
    for (int y = 2; y < 7; ++y)
      for (int x = 2; x < 7; ++x) {
        float *p = src.at(x, y);
        p[0] = 1.5f, p[1] = 0.2f, p[2] = -0.3f, p[3] = alpha;
      }
    const FieldExtent extent{9, 9};
    std::vector<float> cells(81);
    seedField<float, 4, 1>(cells.data(), extent, 0, 0, FieldSeeding::Smooth,
                           alphaTable(), src.lookup());
    sweepTwoPass(cells.data(), extent);
    const float f = fieldSmoothedAt(cells.data(), extent, 4, 4);
    const float good = fieldAt(cells.data(), extent, 4, 4);
    const auto rules = T::rules(kRed);
    const T::Pixel source{1.5f, 0.2f, -0.3f, alpha};

    if (alpha == 2.0f) {
      EXPECT_EQ(f, -4.0f);
      T::expectPixel(
          T::render<OutlineQuality::Best>(rules, src.at(4, 4), f, 2.0f), source,
          "Best inside alpha 2.0");
      T::expectPixel(
          T::render<OutlineQuality::Good>(rules, src.at(4, 4), good, 2.0f),
          source, "Good inside alpha 2.0");
      continue;
    }
    EXPECT_LT(f, 0.0f);
    // Over the solid red outline with weight 1: ao = 0.9 + 0.1 = 1;
    // red 1.5 * 0.9 + 0.1 clamps to 1, blue -0.27 clamps to 0.
    const auto got =
        T::render<OutlineQuality::Best>(rules, src.at(4, 4), f, 2.0f);
    EXPECT_EQ(got[0], 1.0f);
    EXPECT_FLOAT_EQ(got[1], 0.18f);
    EXPECT_EQ(got[2], 0.0f);
    EXPECT_FLOAT_EQ(got[3], 1.0f);
  }
}

TYPED_TEST(RgbaRules, BestLetsTheOutlineShowThroughEdgePixels) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const auto white = T::units(1, 1, 1, 1);
  // f >= 0: the opaque source is weighted 0.85, so 15 % of the red shows.
  const auto edge =
      T::template render<OutlineQuality::Best>(rules, white.data(), 0.0f, 2.0f);
  T::expectPixel(edge, T::units(1, 0.85, 0.85, 1), "opaque white at f = 0");
  // f < 0: weight 1, the opaque source covers the outline.
  const auto inside = T::template render<OutlineQuality::Best>(
      rules, white.data(), -1.0f, 2.0f);
  T::expectPixel(inside, white, "opaque white at f = -1");
}

// --- Pixel operations
// ------------------------------------------------------------

TYPED_TEST(RgbaRules, OutlineWriterClampsIntegersOnly) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(OutlineColor{2.0, -1.0, 0.5});
  typename T::Pixel dst = T::stale();
  rules.writeOutline(dst.data(), 1.0);
  if constexpr (TypeParam::kIsFloat)
    T::expectPixel(dst, {2.0f, -1.0f, 0.5f, 1.0f}, "colour out of range");
  else
    T::expectPixel(dst, T::units(1, 0, 0.5, 1), "colour out of range");
}

// Colours above 1 can push the source-over blend beyond full scale; integer
// formats saturate there instead of wrapping around.
template <class F> class IntegerRgbaRules : public RulesTest<F> {};
TYPED_TEST_SUITE(IntegerRgbaRules, IntegerRgbaFormats, FormatNames);

TYPED_TEST(IntegerRgbaRules, SourceOverSaturatesInsteadOfWrapping) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(OutlineColor{2.0, 2.0, 2.0});
  typename T::Pixel dst = T::stale();
  rules.writeOutline(dst.data(), 0.5); // (M, M, M, M/2)
  const auto src = T::units(0, 0, 0, 0.1);
  T::Rules::blendSourceOver(dst.data(), src.data());
  // Unclamped, red would be about 1.65 M.
  EXPECT_EQ(dst[0], TypeParam::kMax) << TypeParam::name();
  EXPECT_EQ(dst[1], TypeParam::kMax) << TypeParam::name();
  EXPECT_LT(dst[3], TypeParam::kMax) << TypeParam::name();
}

TEST(SourceOver, FloatNaNAlphaIsNotTransparent) {
  using T = RulesTest<FloatRGBA>;
  T::Pixel dst{0.5f, 0.5f, 0.5f, std::nanf("")};
  const T::Pixel src{0.1f, 0.2f, 0.3f, 0.5f};
  T::Rules::blendSourceOver(dst.data(), src.data());
  // Not copied; the blend's alpha is not a number, so dst stays.
  EXPECT_EQ(dst[0], 0.5f);
  EXPECT_TRUE(std::isnan(dst[3]));
}

// --- Alpha-only images
// ----------------------------------------------------------

template <class F> class AlphaRules : public RulesTest<F> {};
TYPED_TEST_SUITE(AlphaRules, AlphaFormats, FormatNames);

TYPED_TEST(AlphaRules, SourcePassesThroughAtEveryQuality) {
  using T = RulesTest<TypeParam>;
  const auto rules = T::rules(kRed);
  const typename T::Pixel src{T::unit(0.75), 0, 0, 0};
  for (float f : {-2.0f, 0.0f, 1.5f, kFieldFar}) {
    const std::string at = " at f = " + std::to_string(f);
    EXPECT_EQ(T::template render<OutlineQuality::Draft>(rules, src.data(), f,
                                                        2.0f)[0],
              src[0])
        << TypeParam::name() << " Draft" << at;
    EXPECT_EQ(
        T::template render<OutlineQuality::Good>(rules, src.data(), f, 2.0f)[0],
        src[0])
        << TypeParam::name() << " Good" << at;
    EXPECT_EQ(
        T::template render<OutlineQuality::Best>(rules, src.data(), f, 2.0f)[0],
        src[0])
        << TypeParam::name() << " Best" << at;
    EXPECT_EQ(
        T::template render<OutlineQuality::Good>(rules, nullptr, f, 2.0f)[0], 0)
        << TypeParam::name() << " no source" << at;
  }
  // Only the one component is written.
  const auto got =
      T::template render<OutlineQuality::Best>(rules, src.data(), 0.0f, 2.0f);
  EXPECT_EQ(got[1], T::stale()[1]) << TypeParam::name();
}

} // namespace
