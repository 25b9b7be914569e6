// Wide renders against the plain per-pixel formula. The processor treats a
// row as runs: transparent pixels skipped in blocks and copied in bulk,
// visible pixels blended one by one, opaque 8- and 16-bit pixels on a
// shorter path, alphas looked up in a table. These pictures are laid out
// so that every run length around those block sizes, every alpha value of
// the integer formats, uncommon float alphas and colours, and sources
// narrower than the window all occur, and every pixel must equal the
// formula's value bit for bit.
#include "GradientTestSupport.h"

#include <limits>
#include <vector>

namespace gradient_test {
namespace {

// Off the origin, and wide enough that the 16-bit picture holds every
// alpha value at least once.
const OfxRectI kWide{-13, 4, 587, 304};

// Rows alternate runs of pass-through pixels (lengths 0 to 22, crossing
// any block size up to 16) and visible pixels (lengths 1 to 150). A
// visible run is opaque, or walks through the alpha values in turn, or
// mixes random alphas with opaque ones.
template <class F> class RunPicture {
public:
  using Pix = typename F::PIX;

  explicit RunPicture(unsigned seed) : rng_(seed) {}

  void paint(ofxhost::Image &image) {
    const OfxRectI b = image.bounds();
    for (int y = b.y1; y < b.y2; ++y) {
      int x = b.x1;
      for (int k = 0; x < b.x2; ++k) {
        const int clear = (y * 7 + k * 3) % 23;
        for (int i = 0; i < clear && x < b.x2; ++i, ++x)
          paintPassThrough(image.pixel<Pix>(x, y));
        const int visible = 1 + (y * 13 + k * 5) % 150;
        for (int i = 0; i < visible && x < b.x2; ++i, ++x)
          paintVisible(image.pixel<Pix>(x, y), k % 4);
      }
    }
  }

  // The integer alpha values 1 to kMax that the picture has shown.
  std::vector<bool> seenAlphas =
      std::vector<bool>(F::kIsFloat ? 0 : F::kMax + 1);

private:
  double unit() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
  }

  // A colour channel: any value of the format, with no regard to the
  // alpha, so unpremultiplied colours and clamped results occur too.
  Pix colour() {
    if constexpr (F::kIsFloat) {
      const double pick = unit();
      if (pick < 0.02)
        return std::numeric_limits<Pix>::quiet_NaN();
      if (pick < 0.04)
        return std::numeric_limits<Pix>::infinity();
      if (pick < 0.06)
        return -0.0f;
      return static_cast<Pix>(unit() * 2.0 - 0.5);
    } else {
      return static_cast<Pix>(unit() * (F::kMax + 1) * 0.999999);
    }
  }

  void paintPassThrough(Pix *p) {
    for (int c = 0; c < 3; ++c)
      p[c] = colour();
    p[3] = 0;
    if constexpr (F::kIsFloat) {
      const double pick = unit();
      if (pick < 0.2)
        p[3] = -0.0f;
      else if (pick < 0.4)
        p[3] = -0.25f;
      else if (pick < 0.5)
        p[3] = std::numeric_limits<Pix>::quiet_NaN();
    }
  }

  // Kind 0: opaque; 2: random; 1 and 3: the next alpha value.
  void paintVisible(Pix *p, int kind) {
    for (int c = 0; c < 3; ++c)
      p[c] = colour();
    p[3] = kind == 0 ? opaque() : kind == 2 ? randomAlpha() : nextAlpha();
    if constexpr (!F::kIsFloat)
      seenAlphas[p[3]] = true;
  }

  static Pix opaque() { return static_cast<Pix>(F::kMax); }

  Pix nextAlpha() {
    if constexpr (F::kIsFloat) {
      static const Pix kSpecial[] = {
          1.0f,   2.0f,   0.0005f,
          0.001f, 1e-30f, std::numeric_limits<Pix>::infinity()};
      const unsigned n = counter_++;
      if (n % 16 == 0)
        return kSpecial[(n / 16) % 6];
      return static_cast<Pix>((n % 4096 + 1) / 4096.0);
    } else {
      return static_cast<Pix>(1 + counter_++ % F::kMax);
    }
  }

  Pix randomAlpha() {
    if (unit() < 0.5)
      return opaque();
    if constexpr (F::kIsFloat)
      return static_cast<Pix>(unit() * 1.2 + 1e-6);
    else
      return static_cast<Pix>(1 + unit() * (F::kMax - 1));
  }

  std::mt19937 rng_;
  unsigned counter_ = 0;
};

std::vector<GradientSettings> settingsToCover() {
  GradientSettings linear; // the defaults

  GradientSettings radial;
  radial.type = 1;
  radial.startColor = {0.2, 0.9, 0.1, 1.0};
  radial.endColor = {0.8, 0.05, 0.6, 1.0};
  radial.startPosition = {0.4, 0.6};
  radial.endPosition = {0.9, 0.1};

  // Colours outside 0..1 and negative zeros, on a diagonal.
  GradientSettings unusual;
  unusual.startColor = {-0.0, 1.5, -0.3, 1.0};
  unusual.endColor = {0.0, -0.0, 2.0, 1.0};
  unusual.startPosition = {0.1, 0.9};
  unusual.endPosition = {0.7, 0.2};

  GradientSettings flat; // equal positions: the start colour everywhere
  flat.startPosition = {0.5, 0.5};
  flat.endPosition = {0.5, 0.5};

  GradientSettings smallRadial = flat; // short, but not too short for radial
  smallRadial.type = 1;
  smallRadial.endPosition = {0.505, 0.5};

  return {linear, radial, unusual, flat, smallRadial};
}

template <class F> class GradientRunsTest : public ::testing::Test {
protected:
  using Pix = typename F::PIX;

  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
  }

  ofxhost::ImagePtr render(const ofxhost::ImagePtr &source,
                           OfxRectI outputBounds, OfxRectI window,
                           const GradientSettings &settings) {
    auto instance = fixture_.createFilter();
    if (!instance)
      return nullptr;
    ofxhost::ImagePtr output = makeImage<F>(outputBounds);
    instance->setSource(source);
    instance->setOutput(output);
    applySettings(*instance, settings);
    const ofxhost::ActionResult result = instance->render(renderOf(window));
    EXPECT_TRUE(result.ok()) << F::name() << ": " << result.message;
    return output;
  }

  // Window pixels equal the formula (zero where the source has no pixel);
  // the others keep the output's initial zeros.
  void expectFormula(const ofxhost::Image &output, const ofxhost::Image &source,
                     OfxRectI window, const GradientSettings &settings) {
    const OfxRectI b = output.bounds();
    int failures = 0;
    for (int y = b.y1; y < b.y2 && failures < 10; ++y) {
      for (int x = b.x1; x < b.x2 && failures < 10; ++x) {
        std::array<Pix, F::kComponents> expected{};
        if (x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2)
          expected =
              referencePixel<F>(settings, x, y, b, source.pixel<Pix>(x, y));
        const ::testing::AssertionResult same =
            sameUpToNanSign(output, x, y, expected.data());
        if (!same) {
          ++failures;
          ADD_FAILURE() << same.message();
        }
      }
    }
  }

  // Bit for bit, except that a NaN matches any NaN: with an infinite
  // alpha and a NaN colour, two NaNs meet in one sum, and which of them
  // comes out (its sign) is up to the order in which the compiler puts
  // the operands, not up to the formula.
  static ::testing::AssertionResult
  sameUpToNanSign(const ofxhost::Image &output, int x, int y,
                  const Pix *expected) {
    std::array<Pix, F::kComponents> actual{};
    std::memcpy(actual.data(), output.pixel<Pix>(x, y), sizeof(actual));
    if constexpr (F::kIsFloat) {
      bool nansAgree = true;
      for (int c = 0; c < F::kComponents; ++c) {
        if (std::isnan(actual[c]) != std::isnan(expected[c]))
          nansAgree = false;
        else if (std::isnan(actual[c]))
          actual[c] = expected[c];
      }
      if (nansAgree &&
          std::memcmp(actual.data(), expected, sizeof(actual)) == 0)
        return ::testing::AssertionSuccess();
    }
    return pixelEquals<F>(output, x, y, expected);
  }

  GradientHost fixture_{3};
};

TYPED_TEST_SUITE(GradientRunsTest, RGBAFormats, FormatNames);

TYPED_TEST(GradientRunsTest, EveryRunLengthAndAlphaMatchesTheFormula) {
  using F = TypeParam;
  ofxhost::ImagePtr source = makeImage<F>(kWide);
  RunPicture<F> picture(41);
  picture.paint(*source);
  for (int alpha = 1; alpha < int(picture.seenAlphas.size()); ++alpha)
    ASSERT_TRUE(picture.seenAlphas[alpha])
        << F::name() << ": the picture lacks alpha " << alpha;

  for (const GradientSettings &settings : settingsToCover()) {
    SCOPED_TRACE("type " + std::to_string(settings.type) + ", start (" +
                 std::to_string(settings.startPosition[0]) + ", " +
                 std::to_string(settings.startPosition[1]) + ")");
    auto output = this->render(source, kWide, kWide, settings);
    ASSERT_TRUE(output);
    this->expectFormula(*output, *source, kWide, settings);
  }
}

// The window's columns start and end away from the image's, and the source
// covers only a middle part of them: the per-column part of the factor
// must still belong to the right column, and the pixels beside the source
// must be zero.
TYPED_TEST(GradientRunsTest, PartialWindowAndNarrowSource) {
  using F = TypeParam;
  const OfxRectI sourceBounds{kWide.x1 + 61, kWide.y1 + 5, kWide.x2 - 77,
                              kWide.y2 - 9};
  ofxhost::ImagePtr source = makeImage<F>(sourceBounds);
  RunPicture<F>(43).paint(*source);
  const OfxRectI window{kWide.x1 + 37, kWide.y1 + 2, kWide.x2 - 11,
                        kWide.y2 - 3};
  for (const GradientSettings &settings : settingsToCover()) {
    SCOPED_TRACE("type " + std::to_string(settings.type));
    auto output = this->render(source, kWide, window, settings);
    ASSERT_TRUE(output);
    this->expectFormula(*output, *source, window, settings);
  }
}

} // namespace
} // namespace gradient_test
