// Renders of the gradient effect in all six pixel formats, through the C
// interface of a real host: whole images against the reference formula, the
// threading and tiling of a render, missing or short sources, windows that
// reach past the output, abort polling and the statuses of a render.
#include "GradientTestSupport.h"

namespace gradient_test {
namespace {

// Image bounds deliberately off the origin and not square, so the tests
// notice a gradient laid out in the wrong coordinates.
const OfxRectI kBounds{-7, 3, 33, 28};

GradientSettings radialSettings() {
  GradientSettings s;
  s.type = 1;
  s.startColor = {0.2, 0.9, 0.1, 0.3};
  s.endColor = {0.8, 0.05, 0.6, 1.0};
  s.startPosition = {0.4, 0.6};
  s.endPosition = {0.9, 0.1};
  return s;
}

GradientSettings diagonalLinearSettings() {
  GradientSettings s;
  s.startColor = {0.0, 1.0, 0.5, 1.0};
  s.endColor = {1.0, 0.25, 0.0, 1.0};
  s.startPosition = {0.1, 0.9};
  s.endPosition = {0.7, 0.2};
  return s;
}

template <class F> class GradientRenderTest : public ::testing::Test {
protected:
  using Pix = typename F::PIX;

  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
  }

  // Renders `window` of a kBounds-sized image filled from `seed` and
  // returns the output; the source goes to *sourceOut when given.
  ofxhost::ImagePtr renderRandom(const GradientSettings &settings,
                                 unsigned cpuCount, OfxRectI window,
                                 unsigned seed,
                                 ofxhost::ImagePtr *sourceOut = nullptr) {
    fixture_.host().setCpuCount(cpuCount);
    auto instance = fixture_.createFilter();
    if (!instance)
      return nullptr;
    ofxhost::ImagePtr source = makeImage<F>(kBounds);
    fillRandom<F>(*source, seed);
    ofxhost::ImagePtr output = makeImage<F>(kBounds);
    instance->setSource(source);
    instance->setOutput(output);
    applySettings(*instance, settings);
    const ofxhost::ActionResult result = instance->render(renderOf(window));
    EXPECT_TRUE(result.ok()) << F::name() << ": " << result.message;
    EXPECT_EQ(instance->clip(names::kSourceClip).imagesOutstanding(), 0);
    EXPECT_EQ(instance->clip(names::kOutputClip).imagesOutstanding(), 0);
    if (sourceOut)
      *sourceOut = source;
    return output;
  }

  // Every pixel of window matches the reference; every pixel outside it is
  // still zero.
  void expectMatchesReference(const ofxhost::Image &output,
                              const ofxhost::Image &source,
                              const GradientSettings &s, OfxRectI window) {
    const OfxRectI b = output.bounds();
    int failures = 0;
    for (int y = b.y1; y < b.y2 && failures < 10; ++y) {
      for (int x = b.x1; x < b.x2 && failures < 10; ++x) {
        const bool inside =
            x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
        std::array<Pix, F::kComponents> expected{};
        if (inside)
          expected = referencePixel<F>(s, x, y, b, source.pixel<Pix>(x, y));
        const ::testing::AssertionResult same =
            pixelEquals<F>(output, x, y, expected.data());
        if (!same) {
          ++failures;
          ADD_FAILURE() << same.message()
                        << (inside ? "" : " (outside window)");
        }
      }
    }
  }

  GradientHost fixture_;
};

TYPED_TEST_SUITE(GradientRenderTest, AllFormats, FormatNames);

TYPED_TEST(GradientRenderTest, WholeImageMatchesReference) {
  for (const GradientSettings &settings :
       {GradientSettings{}, radialSettings(), diagonalLinearSettings()}) {
    SCOPED_TRACE("gradient type " + std::to_string(settings.type));
    ofxhost::ImagePtr source;
    auto output = this->renderRandom(settings, 1, kBounds, 11, &source);
    ASSERT_TRUE(output);
    this->expectMatchesReference(*output, *source, settings, kBounds);
  }
}

// The bands a render is cut into, and the tiles a host asks for, must not
// show in the result.
TYPED_TEST(GradientRenderTest, ResultDoesNotDependOnThreadsOrTiles) {
  const GradientSettings settings = radialSettings();
  for (unsigned cpus : {2u, 3u, 7u, 64u}) {
    SCOPED_TRACE(std::to_string(cpus) + " threads");
    ofxhost::ImagePtr source;
    auto output = this->renderRandom(settings, cpus, kBounds, 23, &source);
    ASSERT_TRUE(output);
    this->expectMatchesReference(*output, *source, settings, kBounds);
  }

  this->fixture_.host().setCpuCount(3);
  auto instance = this->fixture_.createFilter();
  ASSERT_TRUE(instance);
  ofxhost::ImagePtr source = makeImage<TypeParam>(kBounds);
  fillRandom<TypeParam>(*source, 23);
  ofxhost::ImagePtr output = makeImage<TypeParam>(kBounds);
  instance->setSource(source);
  instance->setOutput(output);
  applySettings(*instance, settings);
  for (int y = kBounds.y1; y < kBounds.y2; y += 9) {
    for (int x = kBounds.x1; x < kBounds.x2; x += 16) {
      const OfxRectI tile{x, y, std::min(x + 16, kBounds.x2),
                          std::min(y + 9, kBounds.y2)};
      ASSERT_TRUE(instance->render(renderOf(tile)).ok());
    }
  }
  this->expectMatchesReference(*output, *source, settings, kBounds);
}

TYPED_TEST(GradientRenderTest, OnlyTheRenderWindowIsWritten) {
  const OfxRectI window{0, 10, 21, 17};
  ofxhost::ImagePtr source;
  auto output = this->renderRandom(GradientSettings{}, 2, window, 5, &source);
  ASSERT_TRUE(output);
  this->expectMatchesReference(*output, *source, GradientSettings{}, window);
}

TYPED_TEST(GradientRenderTest, MissingSourceGivesZeros) {
  using F = TypeParam;
  auto instance = this->fixture_.createFilter();
  ASSERT_TRUE(instance);
  instance->clip(names::kSourceClip).setFormat(F::kDepth, F::kLayout);
  instance->clip(names::kOutputClip).setFormat(F::kDepth, F::kLayout);
  instance->clip(names::kSourceClip).setConnected(false);
  ofxhost::ImagePtr output = makeImage<F>(kBounds);
  output->fillBytes(0x5a);
  instance->setOutput(output);
  const ofxhost::ActionResult result = instance->render(renderOf(kBounds));
  ASSERT_TRUE(result.ok()) << result.message;
  const std::array<typename F::PIX, F::kComponents> zero{};
  for (int y = kBounds.y1; y < kBounds.y2; ++y)
    for (int x = kBounds.x1; x < kBounds.x2; ++x)
      ASSERT_TRUE(pixelEquals<F>(*output, x, y, zero.data()));
}

// A source smaller than the window (a host may hand out only what exists):
// the uncovered pixels are zero, the covered ones rendered.
TYPED_TEST(GradientRenderTest, SourceSmallerThanWindowZeroesTheRest) {
  using F = TypeParam;
  using Pix = typename F::PIX;
  auto instance = this->fixture_.createFilter();
  ASSERT_TRUE(instance);
  const OfxRectI sourceBounds{0, 5, 12, 20};
  ofxhost::ImagePtr source = makeImage<F>(sourceBounds);
  fillRandom<F>(*source, 3);
  ofxhost::ImagePtr output = makeImage<F>(kBounds);
  output->fillBytes(0x5a);
  instance->setSource(source);
  instance->setOutput(output);
  ASSERT_TRUE(instance->render(renderOf(kBounds)).ok());
  for (int y = kBounds.y1; y < kBounds.y2; ++y) {
    for (int x = kBounds.x1; x < kBounds.x2; ++x) {
      const auto expected = referencePixel<F>(GradientSettings{}, x, y, kBounds,
                                              source->pixel<Pix>(x, y));
      ASSERT_TRUE(pixelEquals<F>(*output, x, y, expected.data()));
    }
  }
}

// A window reaching past the output image must leave everything outside
// the image alone: row padding stays as it was, and nothing is written
// before or after the pixel rows.
TYPED_TEST(GradientRenderTest, WindowBeyondOutputWritesNothingOutsideIt) {
  using F = TypeParam;
  using Pix = typename F::PIX;
  for (bool topRowFirst : {false, true}) {
    SCOPED_TRACE(topRowFirst ? "negative row bytes" : "positive row bytes");
    auto instance = this->fixture_.createFilter();
    ASSERT_TRUE(instance);
    const OfxRectI outputBounds{2, 4, 14, 12};
    ofxhost::ImageLayout layout;
    layout.rowPaddingBytes = 16 * int(sizeof(Pix)) * F::kComponents;
    layout.negativeRowBytes = topRowFirst;
    ofxhost::ImagePtr source = makeImage<F>(kBounds);
    fillRandom<F>(*source, 9);
    ofxhost::ImagePtr output = makeImage<F>(outputBounds, layout);
    instance->setSource(source);
    instance->setOutput(output);
    const OfxRectI window{-3, 0, 30, 20};
    const ofxhost::ActionResult result = instance->render(renderOf(window));
    ASSERT_TRUE(result.ok()) << result.message;

    for (int y = outputBounds.y1; y < outputBounds.y2; ++y) {
      const auto *row = static_cast<const unsigned char *>(
          output->pixelAddress(outputBounds.x1, y));
      const auto *padding = row + output->width() * output->pixelBytes();
      for (int i = 0; i < layout.rowPaddingBytes; ++i)
        ASSERT_EQ(padding[i], 0) << F::name() << ": padding byte " << i
                                 << " after row " << y << " was written";
      for (int x = outputBounds.x1; x < outputBounds.x2; ++x) {
        const auto expected = referencePixel<F>(
            GradientSettings{}, x, y, outputBounds, source->pixel<Pix>(x, y));
        ASSERT_TRUE(pixelEquals<F>(*output, x, y, expected.data()));
      }
    }
  }
}

TYPED_TEST(GradientRenderTest, AbortIsPolledOncePerRowAndStopsTheRender) {
  using F = TypeParam;
  auto instance = this->fixture_.createFilter();
  ASSERT_TRUE(instance);
  ofxhost::ImagePtr source = makeImage<F>(kBounds);
  fillConstant<F>(*source, {0.5, 0.5, 0.5, 1.0});
  ofxhost::ImagePtr output = makeImage<F>(kBounds);
  output->fillBytes(0x5a);
  instance->setSource(source);
  instance->setOutput(output);

  instance->setAbortAfterPolls(-1);
  ASSERT_TRUE(instance->render(renderOf(kBounds)).ok());
  EXPECT_EQ(instance->abortPolls(), kBounds.y2 - kBounds.y1);

  // With one thread the rows run bottom to top: after three polls that
  // answered "go on", the fourth stops the render.
  output->fillBytes(0x5a);
  ofxhost::ImagePtr untouched = makeImage<F>(kBounds);
  untouched->fillBytes(0x5a);
  auto fresh = this->fixture_.createFilter();
  fresh->setSource(source);
  fresh->setOutput(output);
  fresh->setAbortAfterPolls(3);
  ASSERT_TRUE(fresh->render(renderOf(kBounds)).ok());
  EXPECT_EQ(fresh->abortPolls(), 4);
  for (int y = kBounds.y1; y < kBounds.y2; ++y) {
    const int x = kBounds.x1 + 5;
    const bool done = y < kBounds.y1 + 3;
    const auto *expected = untouched->pixel<typename F::PIX>(x, y);
    const bool written =
        !static_cast<bool>(pixelEquals<F>(*output, x, y, expected));
    EXPECT_EQ(written, done)
        << F::name() << ": row " << y << (done ? " not rendered" : " rendered");
  }
}

TYPED_TEST(GradientRenderTest, ParametersAreReadAtTheRenderTime) {
  using F = TypeParam;
  using Pix = typename F::PIX;
  auto instance = this->fixture_.createFilter();
  ASSERT_TRUE(instance);
  ofxhost::ImagePtr source = makeImage<F>(kBounds);
  fillConstant<F>(*source, {0.0, 0.0, 0.0, 1.0});
  ofxhost::ImagePtr output = makeImage<F>(kBounds);
  instance->setSource(source);
  instance->setOutput(output);
  instance->param(names::kStartColor).setKey(0.0, {1.0, 0.0, 0.0, 1.0});
  instance->param(names::kStartColor).setKey(10.0, {0.0, 1.0, 0.0, 1.0});
  ASSERT_TRUE(instance->render(renderOf(kBounds, 10.0)).ok());

  GradientSettings atTen;
  atTen.startColor = {0.0, 1.0, 0.0, 1.0};
  const auto expected =
      referencePixel<F>(atTen, kBounds.x1, kBounds.y1, kBounds,
                        source->pixel<Pix>(kBounds.x1, kBounds.y1));
  EXPECT_TRUE(pixelEquals<F>(*output, kBounds.x1, kBounds.y1, expected.data()));
}

// ------------------------------------------------------------ regions

// The statuses of a render the host gets wrong are the same for every
// effect: tests/reliability/ActionContractTest.cpp holds them.
class GradientActionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
    instance_ = fixture_.createFilter();
    ASSERT_TRUE(instance_);
  }

  ofxhost::Clip &source() { return instance_->clip(names::kSourceClip); }

  GradientHost fixture_;
  std::unique_ptr<ofxhost::Instance> instance_;
};

const OfxRectI kSmall{0, 0, 8, 6};

ofxhost::ImagePtr imageOf(BitDepth depth, Components layout) {
  return std::make_shared<ofxhost::Image>(kSmall, depth, layout);
}

TEST_F(GradientActionTest, RegionOfDefinitionIsTheSources) {
  instance_->setSource(imageOf(BitDepth::Byte, Components::RGBA));
  const OfxRectD sourceRod{-12.5, 3.0, 250.0, 100.25};
  source().setRegionOfDefinition(sourceRod);
  // Positions far outside the image do not widen the output.
  instance_->param(names::kStartPosition).setValue({-1.0, -1.0});
  instance_->param(names::kEndPosition).setValue({2.0, 2.0});
  for (double time : {0.0, 4.0}) {
    OfxRectD rod{0, 0, 0, 0};
    const ofxhost::ActionResult result =
        instance_->regionOfDefinition(time, {1.0, 1.0}, rod);
    ASSERT_EQ(result.status, kOfxStatOK) << result.message;
    EXPECT_EQ(rod.x1, sourceRod.x1);
    EXPECT_EQ(rod.y1, sourceRod.y1);
    EXPECT_EQ(rod.x2, sourceRod.x2);
    EXPECT_EQ(rod.y2, sourceRod.y2);
  }
}

TEST_F(GradientActionTest, RegionOfInterestIsTheRegionRendered) {
  instance_->setSource(imageOf(BitDepth::Byte, Components::RGBA));
  const OfxRectD roi{3.0, -4.5, 61.0, 17.0};
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> setByPlugin;
  const ofxhost::ActionResult result =
      instance_->regionsOfInterest(0.0, {0.5, 0.5}, roi, rois, &setByPlugin);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(setByPlugin, std::set<std::string>{names::kSourceClip});
  ASSERT_EQ(rois.count(names::kSourceClip), 1u);
  const OfxRectD &got = rois[names::kSourceClip];
  EXPECT_EQ(got.x1, roi.x1);
  EXPECT_EQ(got.y1, roi.y1);
  EXPECT_EQ(got.x2, roi.x2);
  EXPECT_EQ(got.y2, roi.y2);
}

} // namespace
} // namespace gradient_test
