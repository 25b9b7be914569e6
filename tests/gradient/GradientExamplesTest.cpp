// Worked examples of the gradient blend with hand-computed values: the
// columns of the default gradient, low and unusual alphas, degenerate and
// nearly degenerate positions, both gradient types at their edges. Each
// runs on one thread and on several, since the band split must not show.
#include "GradientTestSupport.h"

namespace gradient_test {
namespace {

class GradientExamplesTest : public ::testing::TestWithParam<unsigned> {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
    fixture_.host().setCpuCount(GetParam());
  }

  // Renders the whole of `source` with `settings` into a fresh output of the
  // same bounds and format.
  template <class F>
  ofxhost::ImagePtr render(const ofxhost::ImagePtr &source,
                           const GradientSettings &settings) {
    auto instance = fixture_.createFilter();
    if (!instance)
      return nullptr;
    ofxhost::ImagePtr output = makeImage<F>(source->bounds());
    output->fillBytes(0x5a);
    instance->setSource(source);
    instance->setOutput(output);
    applySettings(*instance, settings);
    const ofxhost::ActionResult result =
        instance->render(renderOf(source->bounds()));
    EXPECT_TRUE(result.ok()) << F::name() << ": " << result.message;
    return output;
  }

  template <class F>
  ofxhost::ImagePtr opaqueSource(OfxRectI bounds, double gray = 0.0) {
    ofxhost::ImagePtr source = makeImage<F>(bounds);
    fillConstant<F>(*source, {gray, gray, gray, 1.0});
    return source;
  }

  GradientHost fixture_;
};

using Byte4 = std::array<unsigned char, 4>;
using Float4 = std::array<float, 4>;

TEST_P(GradientExamplesTest, DefaultGradientColumnsOnOpaqueBytes) {
  const OfxRectI bounds{0, 0, 100, 6};
  auto output = render<ByteRGBA>(opaqueSource<ByteRGBA>(bounds), {});
  ASSERT_TRUE(output);
  for (int y = bounds.y1; y < bounds.y2; ++y) {
    const Byte4 first{255, 0, 0, 255}, middle{127, 0, 127, 255},
        last{2, 0, 252, 255};
    EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 0, y, first.data()));
    EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 50, y, middle.data()));
    EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 99, y, last.data()));
  }
}

TEST_P(GradientExamplesTest, ByteAlphasZeroAndSixtyFour) {
  ofxhost::ImagePtr source = makeImage<ByteRGBA>({0, 0, 2, 1});
  const Byte4 transparent{10, 20, 30, 0}, quarter{0, 0, 0, 64};
  std::copy(transparent.begin(), transparent.end(),
            source->pixel<unsigned char>(0, 0));
  std::copy(quarter.begin(), quarter.end(), source->pixel<unsigned char>(1, 0));
  // Both pixels at t = 0: the start colour only.
  GradientSettings atStart;
  atStart.endColor = atStart.startColor;
  auto output = render<ByteRGBA>(source, atStart);
  ASSERT_TRUE(output);
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 0, 0, transparent.data()));
  // 64 * sqrt(64 / 255) = 32.06: truncated, not rounded.
  const Byte4 expected{32, 0, 0, 64};
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 1, 0, expected.data()));
}

// At 16 bits an alpha below 66 is too small to recover the pixel's own
// colour from; such pixels blend with black.
TEST_P(GradientExamplesTest, ShortAlphasBelowSixtySixIgnoreOwnColour) {
  const OfxRectI bounds{0, 0, 1, 70};
  ofxhost::ImagePtr source = makeImage<ShortRGBA>(bounds);
  for (int alpha = 1; alpha <= 70; ++alpha) {
    auto *p = source->pixel<unsigned short>(0, alpha - 1);
    p[0] = p[1] = p[2] = p[3] = static_cast<unsigned short>(alpha);
  }
  auto output = render<ShortRGBA>(source, {});
  ASSERT_TRUE(output);
  for (int alpha = 1; alpha <= 70; ++alpha) {
    const auto *p = output->pixel<unsigned short>(0, alpha - 1);
    // Green is 0 in both colours; only the pixel's own colour can add it.
    if (alpha <= 65)
      EXPECT_EQ(p[1], 0) << "ShortRGBA alpha " << alpha << ": green " << p[1];
    else
      EXPECT_GT(p[1], 0) << "ShortRGBA alpha " << alpha << ": green " << p[1];
    EXPECT_EQ(p[3], alpha);
  }
  // Alpha 66 by hand: w = sqrt(66/65535), own colour 1.0 in each channel.
  const double a = 66.0 / 65535.0, w = std::sqrt(a);
  const auto *p66 = output->pixel<unsigned short>(0, 65);
  EXPECT_EQ(p66[0],
            static_cast<unsigned short>((1.0 * w + (1.0 - w)) * a * 65535));
  EXPECT_EQ(p66[1], static_cast<unsigned short>(((1.0 - w)) * a * 65535));
}

TEST_P(GradientExamplesTest, FloatNegativeNanAndTinyAlphas) {
  ofxhost::ImagePtr source = makeImage<FloatRGBA>({0, 0, 3, 1});
  const Float4 negative{0.3f, 0.2f, 0.1f, -0.5f};
  const Float4 notANumber{0.4f, 0.5f, 0.6f, std::nanf("")};
  const Float4 tiny{0.0005f, 0.0005f, 0.0005f, 0.0005f};
  std::copy(negative.begin(), negative.end(), source->pixel<float>(0, 0));
  std::copy(notANumber.begin(), notANumber.end(), source->pixel<float>(1, 0));
  std::copy(tiny.begin(), tiny.end(), source->pixel<float>(2, 0));
  GradientSettings startOnly;
  startOnly.endColor = startOnly.startColor;
  auto output = render<FloatRGBA>(source, startOnly);
  ASSERT_TRUE(output);
  EXPECT_TRUE(pixelEquals<FloatRGBA>(*output, 0, 0, negative.data()));
  EXPECT_TRUE(pixelEquals<FloatRGBA>(*output, 1, 0, notANumber.data()));
  // Alpha 0.0005 is visible but too small for its own colour to count.
  const double a = double(0.0005f);
  const Float4 expected{float(std::sqrt(a) * a), 0.0f, 0.0f, 0.0005f};
  EXPECT_TRUE(pixelEquals<FloatRGBA>(*output, 2, 0, expected.data()));
}

TEST_P(GradientExamplesTest, EqualPositionsGiveTheStartColour) {
  const OfxRectI bounds{0, 0, 20, 10};
  for (int type : {0, 1}) {
    SCOPED_TRACE(type == 0 ? "linear" : "radial");
    GradientSettings s;
    s.type = type;
    s.startPosition = s.endPosition = {0.3, 0.7};
    auto output = render<ByteRGBA>(opaqueSource<ByteRGBA>(bounds), s);
    ASSERT_TRUE(output);
    const Byte4 red{255, 0, 0, 255};
    for (int y = bounds.y1; y < bounds.y2; ++y)
      for (int x = bounds.x1; x < bounds.x2; ++x)
        ASSERT_TRUE(pixelEquals<ByteRGBA>(*output, x, y, red.data()));
  }
}

// 0.005 apart: too close for a line (squared length 0.000025), far enough
// for a circle (radius 0.005).
TEST_P(GradientExamplesTest, NearlyEqualPositions) {
  const OfxRectI bounds{0, 0, 400, 2}; // row 1 has ny = 0.5
  GradientSettings s;
  s.startColor = {0.0, 0.0, 0.0, 1.0};
  s.endColor = {1.0, 1.0, 1.0, 1.0};
  s.startPosition = {0.5, 0.5};
  s.endPosition = {0.505, 0.5};

  auto linear = render<FloatRGBA>(opaqueSource<FloatRGBA>(bounds), s);
  ASSERT_TRUE(linear);
  const Float4 black{0.0f, 0.0f, 0.0f, 1.0f}, white{1.0f, 1.0f, 1.0f, 1.0f};
  for (int x = bounds.x1; x < bounds.x2; ++x)
    ASSERT_TRUE(pixelEquals<FloatRGBA>(*linear, x, 1, black.data()));

  s.type = 1;
  auto radial = render<FloatRGBA>(opaqueSource<FloatRGBA>(bounds), s);
  ASSERT_TRUE(radial);
  EXPECT_TRUE(pixelEquals<FloatRGBA>(*radial, 200, 1, black.data()));
  // x = 201 is 0.0025 from the start: halfway.
  EXPECT_NEAR(radial->pixel<float>(201, 1)[0], 0.5f, 1e-6f);
  for (int x : {0, 100, 197, 203, 399})
    EXPECT_TRUE(pixelEquals<FloatRGBA>(*radial, x, 1, white.data()));
}

TEST_P(GradientExamplesTest, LinearBeforeStartAndBeyondEnd) {
  const OfxRectI bounds{0, 0, 100, 3};
  GradientSettings s;
  s.startPosition = {0.25, 0.5};
  s.endPosition = {0.75, 0.5};
  auto output = render<ByteRGBA>(opaqueSource<ByteRGBA>(bounds), s);
  ASSERT_TRUE(output);
  const Byte4 red{255, 0, 0, 255}, blue{0, 0, 255, 255};
  for (int y = bounds.y1; y < bounds.y2; ++y) {
    for (int x = 0; x <= 25; ++x)
      ASSERT_TRUE(pixelEquals<ByteRGBA>(*output, x, y, red.data()));
    for (int x = 75; x < 100; ++x)
      ASSERT_TRUE(pixelEquals<ByteRGBA>(*output, x, y, blue.data()));
    const Byte4 middle{127, 0, 127, 255};
    EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 50, y, middle.data()));
  }
}

TEST_P(GradientExamplesTest, RadialReachesTheEndColourOnlyInRightCorners) {
  const OfxRectI bounds{0, 0, 100, 100};
  GradientSettings s;
  s.type = 1;
  auto output = render<ByteRGBA>(opaqueSource<ByteRGBA>(bounds), s);
  ASSERT_TRUE(output);
  const Byte4 blue{0, 0, 255, 255}, red{255, 0, 0, 255};
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 99, 0, blue.data()));
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 99, 99, blue.data()));
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 0, 50, red.data()));
  // On the row through the start, the last column is at t = 0.99.
  const Byte4 almost{2, 0, 252, 255};
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*output, 99, 50, almost.data()));
  // The left-hand corners lie within the radius.
  EXPECT_FALSE(pixelEquals<ByteRGBA>(*output, 0, 0, blue.data()));
  int pureEnd = 0;
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      if (pixelEquals<ByteRGBA>(*output, x, y, blue.data())) {
        ++pureEnd;
        const double nx = x / 100.0, ny = y / 100.0 - 0.5;
        EXPECT_GE(nx * nx + ny * ny, 1.0 - 1e-12)
            << "pixel (" << x << ", " << y << ")";
      }
  EXPECT_GT(pureEnd, 0);
}

// The colour parameters' alpha is shown to users but never used.
TEST_P(GradientExamplesTest, ColourAlphasHaveNoEffect) {
  const OfxRectI bounds{0, 0, 16, 8};
  ofxhost::ImagePtr source = makeImage<ShortRGBA>(bounds);
  fillRandom<ShortRGBA>(*source, 77);
  GradientSettings opaque, see_through;
  see_through.startColor[3] = 0.0;
  see_through.endColor[3] = 0.25;
  auto a = render<ShortRGBA>(source, opaque);
  auto b = render<ShortRGBA>(source, see_through);
  ASSERT_TRUE(a && b);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      ASSERT_TRUE(
          pixelEquals<ShortRGBA>(*b, x, y, a->pixel<unsigned short>(x, y)));
}

// Alpha-only images are copied, whatever the gradient.
TEST_P(GradientExamplesTest, AlphaOnlyIsACopy) {
  const OfxRectI bounds{-3, -2, 17, 9};
  GradientSettings s;
  s.type = 1;
  s.startColor = {0.5, 2.0, -1.0, 0.0};
  s.startPosition = {2.0, -1.0};
  auto byteSource = makeImage<ByteAlpha>(bounds);
  fillRandom<ByteAlpha>(*byteSource, 4);
  auto floatSource = makeImage<FloatAlpha>(bounds);
  fillRandom<FloatAlpha>(*floatSource, 4);
  floatSource->pixel<float>(0, 0)[0] = -2.5f;
  auto byteOut = render<ByteAlpha>(byteSource, s);
  auto floatOut = render<FloatAlpha>(floatSource, s);
  ASSERT_TRUE(byteOut && floatOut);
  for (int y = bounds.y1; y < bounds.y2; ++y) {
    for (int x = bounds.x1; x < bounds.x2; ++x) {
      ASSERT_TRUE(pixelEquals<ByteAlpha>(
          *byteOut, x, y, byteSource->pixel<unsigned char>(x, y)));
      ASSERT_TRUE(pixelEquals<FloatAlpha>(*floatOut, x, y,
                                          floatSource->pixel<float>(x, y)));
    }
  }
}

// Colours outside 0..1 are allowed by the parameters. Integers clamp to
// their range before truncating; floats keep the value.
TEST_P(GradientExamplesTest, ColoursOutsideTheUnitRange) {
  const OfxRectI bounds{0, 0, 1, 1};
  GradientSettings s;
  s.startColor = {2.0, -1.0, 0.5, 1.0};
  s.endColor = s.startColor;

  auto bytes = render<ByteRGBA>(opaqueSource<ByteRGBA>(bounds), s);
  ASSERT_TRUE(bytes);
  const Byte4 clamped{255, 0, 127, 255};
  EXPECT_TRUE(pixelEquals<ByteRGBA>(*bytes, 0, 0, clamped.data()));

  auto shorts = render<ShortRGBA>(opaqueSource<ShortRGBA>(bounds), s);
  ASSERT_TRUE(shorts);
  const std::array<unsigned short, 4> clampedShort{65535, 0, 32767, 65535};
  EXPECT_TRUE(pixelEquals<ShortRGBA>(*shorts, 0, 0, clampedShort.data()));

  auto floats = render<FloatRGBA>(opaqueSource<FloatRGBA>(bounds), s);
  ASSERT_TRUE(floats);
  const Float4 kept{2.0f, -1.0f, 0.5f, 1.0f};
  EXPECT_TRUE(pixelEquals<FloatRGBA>(*floats, 0, 0, kept.data()));
}

INSTANTIATE_TEST_SUITE_P(Threads, GradientExamplesTest,
                         ::testing::Values(1u, 4u),
                         [](const ::testing::TestParamInfo<unsigned> &info) {
                           return std::to_string(info.param) + "Threads";
                         });

} // namespace
} // namespace gradient_test
