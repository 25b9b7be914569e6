// The gradient on every vector path this processor has, in every pixel
// format, against the plain per-pixel reference, bit for bit. The pictures
// hold what vector code gets wrong most easily: NaN, infinite, negative and
// above-one float alphas and colours, alphas on either side of the 0.001
// threshold, unpremultiplied colours that clamp, transparent pixels with a
// colour left in them, and rows whose length is no multiple of any vector.
#include "GradientTestSupport.h"
#include "SimdPathTesting.h"

#include <limits>
#include <tuple>

namespace gradient_test {
namespace {

using simd_test::Path;

// 37 columns: whole vectors and a tail on every path. Off the origin so a
// wrong column term shows.
const OfxRectI kBounds{-5, 2, 32, 21};

template <class F> std::vector<typename F::PIX> specialComponents() {
  using Pix = typename F::PIX;
  if constexpr (F::kIsFloat) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    return {std::numeric_limits<float>::quiet_NaN(),
            inf,
            -inf,
            -0.0f,
            -0.25f,
            0.0009f,
            0.0011f,
            1.0f,
            1.5f,
            1e30f,
            3.4e38f,
            1e-40f};
  } else {
    // The alphas just below and above a = 0.001, and the extremes.
    const Pix threshold = static_cast<Pix>(0.001 * F::kMax);
    return {Pix(0),           Pix(1),      threshold, Pix(threshold + 1),
            Pix(F::kMax - 1), Pix(F::kMax)};
  }
}

// Random premultiplied pixels, about a third of them overwritten with
// special values in any channel, alpha included.
template <class F> void fillHostile(ofxhost::Image &image, unsigned seed) {
  using Pix = typename F::PIX;
  fillRandom<F>(image, seed);
  const std::vector<Pix> specials = specialComponents<F>();
  std::mt19937 rng(seed * 7919u + 1u);
  std::uniform_int_distribution<int> pick(
      0, static_cast<int>(specials.size()) * 3 - 1);
  std::uniform_int_distribution<int> anyInteger(0, F::kIsFloat ? 1 : F::kMax);
  fillImage<F>(image, [&](int, int, Pix *p) {
    for (int c = 0; c < F::kComponents; ++c) {
      const int choice = pick(rng);
      if (choice < static_cast<int>(specials.size()))
        p[c] = specials[choice];
      else if (!F::kIsFloat && choice < 2 * static_cast<int>(specials.size()))
        p[c] = static_cast<Pix>(anyInteger(rng)); // colour above its alpha
    }
  });
}

std::vector<GradientSettings> settingsSweep() {
  GradientSettings linear;
  GradientSettings radial;
  radial.type = 1;
  radial.startColor = {0.2, 0.9, 0.1, 1.0};
  radial.endColor = {0.8, 0.05, 0.6, 1.0};
  radial.startPosition = {0.4, 0.6};
  radial.endPosition = {0.9, 0.1};
  GradientSettings outOfRange; // colours that clamp, positions off the image
  outOfRange.startColor = {-0.5, 1.7, 0.3, 1.0};
  outOfRange.endColor = {2.0, -1.0, 1.0, 1.0};
  outOfRange.startPosition = {-0.3, 1.2};
  outOfRange.endPosition = {0.7, -0.2};
  GradientSettings flat; // t = 0 everywhere
  flat.startPosition = flat.endPosition = {0.5, 0.5};
  GradientSettings radialOutside = outOfRange;
  radialOutside.type = 1;
  return {linear, radial, outOfRange, flat, radialOutside};
}

// Renders each picture and setting on the current path and compares every
// pixel; reports the first few mismatches of each render.
template <class F>
void expectFormatMatches(GradientHost &fixture, const char *path) {
  using Pix = typename F::PIX;
  const std::vector<GradientSettings> sweep = settingsSweep();
  for (unsigned seed : {3u, 17u}) {
    ofxhost::ImagePtr source = makeImage<F>(kBounds);
    fillHostile<F>(*source, seed);
    for (std::size_t i = 0; i < sweep.size(); ++i) {
      auto instance = fixture.createFilter();
      ASSERT_TRUE(instance);
      ofxhost::ImagePtr output = makeImage<F>(kBounds);
      instance->setSource(source);
      instance->setOutput(output);
      applySettings(*instance, sweep[i]);
      const ofxhost::ActionResult result = instance->render(renderOf(kBounds));
      ASSERT_TRUE(result.ok())
          << path << " " << F::name() << ": " << result.message;
      int failures = 0;
      for (int y = kBounds.y1; y < kBounds.y2 && failures < 5; ++y) {
        for (int x = kBounds.x1; x < kBounds.x2 && failures < 5; ++x) {
          const auto expected = referencePixel<F>(sweep[i], x, y, kBounds,
                                                  source->pixel<Pix>(x, y));
          const ::testing::AssertionResult same =
              pixelEquals<F>(*output, x, y, expected.data());
          if (!same) {
            ++failures;
            ADD_FAILURE() << "path " << path << ", settings #" << i
                          << ", picture " << seed << ", source "
                          << channelsText(source->pixel<Pix>(x, y),
                                          F::kComponents)
                          << ": " << same.message();
          }
        }
      }
    }
  }
}

class GradientSimdPathTest : public ::testing::TestWithParam<Path> {};

TEST_P(GradientSimdPathTest, EveryFormatMatchesTheReferenceBitForBit) {
  SIMD_TEST_SKIP_IF_MISSING(GetParam());
  simd_test::ScopedSimdPath chosen(GetParam());
  GradientHost fixture(2);
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  const char *path = qfx::simd::pathName(GetParam());
  std::apply(
      [&](auto... format) {
        (expectFormatMatches<decltype(format)>(fixture, path), ...);
      },
      std::tuple<ByteRGBA, ShortRGBA, FloatRGBA, ByteAlpha, ShortAlpha,
                 FloatAlpha>{});
}

INSTANTIATE_TEST_SUITE_P(Paths, GradientSimdPathTest, simd_test::allPaths(),
                         simd_test::PathNames{});

} // namespace
} // namespace gradient_test
