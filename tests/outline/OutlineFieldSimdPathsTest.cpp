// The row seeding on every vector path this processor has, in every pixel
// format and seeding, against the per-pixel seeding, bit for bit: rows of
// every length up to a few vectors (so every tail length occurs), alphas
// that are NaN, infinite, negative, tiny, above one and huge.
#include "OutlineField.h"
#include "OutlineTestFormats.h"
#include "SimdPathTesting.h"

#include <cstring>
#include <limits>
#include <random>
#include <tuple>

namespace rimlet_test {
namespace {

using namespace rimlet;
using simd_test::Path;

template <class F> typename F::PIX randomAlpha(std::mt19937 &rng) {
  using PIX = typename F::PIX;
  std::uniform_int_distribution<int> pick(0, 15);
  const int choice = pick(rng);
  if constexpr (F::kIsFloat) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              inf,
                              -inf,
                              -0.0f,
                              -0.5f,
                              1e-45f,
                              1.0f,
                              1.6f,
                              1.7e38f,
                              3.4e38f};
    if (choice < 10)
      return specials[choice];
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
  } else {
    if (choice < 3)
      return PIX(choice == 0 ? 0 : choice == 1 ? 1 : F::kMax);
    return static_cast<PIX>(
        std::uniform_int_distribution<int>(0, F::kMax)(rng));
  }
}

// Seeds rows of each length 1..40 with seedRow and compares every cell
// with seedField's.
template <class F> void expectSeedsMatch(const char *path) {
  using PIX = typename F::PIX;
  const AlphaTable alphas = makeAlphaTable();
  std::mt19937 rng(12345);
  for (FieldSeeding seeding : {FieldSeeding::Draft, FieldSeeding::Smooth}) {
    const ByteSeedTable byteSeeds = makeByteSeedTable(seeding, alphas);
    for (int width = 1; width <= 40; ++width) {
      TestImage<F> image(OfxRectI{0, 0, width, 1});
      for (int x = 0; x < width; ++x) {
        PIX *p = image.at(x, 0);
        for (int c = 0; c < F::kComponents; ++c)
          p[c] = randomAlpha<F>(rng);
      }
      const FieldExtent extent{width, 1};
      std::vector<float> expected(width), actual(width);
      seedField<PIX, F::kComponents, F::kMax>(expected.data(), extent, 0, 0,
                                              seeding, alphas, image.lookup());
      seedRow<PIX, F::kComponents, F::kMax>(actual.data(), image.at(0, 0),
                                            width, seeding, alphas, byteSeeds);
      for (int x = 0; x < width; ++x) {
        if (std::memcmp(&expected[x], &actual[x], sizeof(float)) != 0) {
          ADD_FAILURE() << "path " << path << ", " << F::name()
                        << (seeding == FieldSeeding::Draft ? " draft"
                                                           : " smooth")
                        << ", cell " << x << " of " << width << ", pixel "
                        << describePixel(image.at(x, 0), F::kComponents)
                        << ": expected " << expected[x] << ", got "
                        << actual[x];
          return;
        }
      }
    }
  }
}

class FieldSimdPathTest : public ::testing::TestWithParam<Path> {};

TEST_P(FieldSimdPathTest, RowSeedsMatchThePerPixelSeedsBitForBit) {
  SIMD_TEST_SKIP_IF_MISSING(GetParam());
  simd_test::ScopedSimdPath chosen(GetParam());
  const char *path = qfx::simd::pathName(GetParam());
  std::apply(
      [&](auto... format) { (expectSeedsMatch<decltype(format)>(path), ...); },
      std::tuple<ByteRGBA, ShortRGBA, FloatRGBA, ByteAlpha, ShortAlpha,
                 FloatAlpha>{});
}

INSTANTIATE_TEST_SUITE_P(Paths, FieldSimdPathTest, simd_test::allPaths(),
                         simd_test::PathNames{});

} // namespace
} // namespace rimlet_test
