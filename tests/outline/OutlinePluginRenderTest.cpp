// Renders and region answers of the outline effect through the C interface
// of a real host: every format against the reference on one thread and on
// several, what reaches the processor (colour without its alpha, the width
// at the render time and at the render scale), the statuses of a render,
// and the regions the host is told about.
#include "OutlinePluginTestSupport.h"

#include <map>
#include <set>

namespace outline_plugin_test {
namespace {

// Off the origin, not square and wider than one 256-pixel tile, so that a
// picture laid out in the wrong coordinates or cut into the wrong tiles
// shows.
const OfxRectI kBounds{-30, 7, 290, 97};

OutlineSettings tintedSettings(int quality) {
  OutlineSettings s;
  s.color = {0.2, 0.7, 1.0, 0.5};
  s.width = 3.5;
  s.quality = quality;
  return s;
}

template <class F> class OutlineRenderTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
  }

  struct Job {
    ofxhost::ImagePtr source;
    OutlineSettings settings;
    OfxRectI window = kBounds;
    unsigned cpus = 1;
    double scale = 1.0;
  };

  // Renders `job` into a sentinel-filled output of the source's bounds.
  ofxhost::ImagePtr render(const Job &job) {
    fixture_.host().setCpuCount(job.cpus);
    auto instance = fixture_.createFilter();
    if (!instance)
      return nullptr;
    auto output = makeImage<F>(job.source->bounds());
    output->fillBytes(kSentinelByte);
    output->renderScale = job.source->renderScale;
    instance->setSource(job.source);
    instance->setOutput(output);
    applySettings(*instance, job.settings);
    const ofxhost::ActionResult result =
        instance->render(renderOf(job.window, 0.0, job.scale));
    EXPECT_TRUE(result.ok()) << F::name() << ": " << result.message;
    EXPECT_EQ(instance->clip(names::kSourceClip).imagesOutstanding(), 0);
    EXPECT_EQ(instance->clip(names::kOutputClip).imagesOutstanding(), 0);
    return result.ok() ? output : nullptr;
  }

  static ofxhost::ImagePtr shapes(OfxRectI bounds) {
    auto source = makeImage<F>(bounds);
    paintShapes<F>(*source);
    return source;
  }

  OutlineHost fixture_;
};

TYPED_TEST_SUITE(OutlineRenderTest, AllFormats, FormatNames);

// The quality choice, colour and width reach the processor, and the bands
// a render is cut into do not show in the result.
TYPED_TEST(OutlineRenderTest, EveryQualityMatchesReferenceOnOneAndManyThreads) {
  using F = TypeParam;
  typename TestFixture::Job job;
  job.source = this->shapes(kBounds);
  for (int quality : {0, 1, 2}) {
    SCOPED_TRACE("quality " + std::to_string(quality));
    job.settings = tintedSettings(quality);
    job.cpus = 1;
    const auto single = this->render(job);
    ASSERT_TRUE(single);
    const auto expected = referenceRender<F>(job.source.get(), kBounds, kBounds,
                                             job.settings, job.settings.width);
    EXPECT_TRUE(sameImage<F>(*single, *expected));
    for (unsigned cpus : {2u, 3u, 8u}) {
      job.cpus = cpus;
      const auto many = this->render(job);
      ASSERT_TRUE(many);
      EXPECT_TRUE(sameImage<F>(*many, *single)) << cpus << " threads";
    }
  }
}

TYPED_TEST(OutlineRenderTest, OnlyTheRenderWindowIsWritten) {
  using F = TypeParam;
  typename TestFixture::Job job;
  job.source = this->shapes(kBounds);
  job.settings = tintedSettings(2);
  job.window = {-5, 20, 120, 61};
  job.cpus = 3;
  const auto got = this->render(job);
  ASSERT_TRUE(got);
  const auto expected = referenceRender<F>(
      job.source.get(), kBounds, job.window, job.settings, job.settings.width);
  EXPECT_TRUE(sameImage<F>(*got, *expected));
}

// The outline's alpha is its coverage: the colour's alpha must not reach
// any output pixel.
TYPED_TEST(OutlineRenderTest, ColourAlphaChangesNothing) {
  using F = TypeParam;
  typename TestFixture::Job job;
  job.source = this->shapes(kBounds);
  for (int quality : {0, 1, 2}) {
    job.settings = tintedSettings(quality);
    job.settings.color[3] = 1.0;
    const auto opaque = this->render(job);
    ASSERT_TRUE(opaque);
    for (double alpha : {0.0, 0.37}) {
      job.settings.color[3] = alpha;
      const auto got = this->render(job);
      ASSERT_TRUE(got);
      EXPECT_TRUE(sameImage<F>(*got, *opaque))
          << "quality " << quality << ", colour alpha " << alpha;
    }
  }
}

// A proxy render is the full render at that scale: at render scale 0.5 the
// picture's pixels are halved and so must the outline's width be.
TYPED_TEST(OutlineRenderTest, HalfScaleRenderEqualsFullScaleWithHalfTheWidth) {
  using F = TypeParam;
  const OfxRectI halfSize{0, 0, 96, 64};
  for (int quality : {0, 1, 2}) {
    SCOPED_TRACE("quality " + std::to_string(quality));
    typename TestFixture::Job full;
    full.source = this->shapes(halfSize);
    full.window = halfSize;
    full.settings = tintedSettings(quality);
    full.settings.width = 3.0;
    const auto expected = this->render(full);
    ASSERT_TRUE(expected);

    typename TestFixture::Job proxy = full;
    proxy.source = this->shapes(halfSize);
    proxy.source->renderScale = {0.5, 0.5};
    proxy.settings.width = 6.0;
    proxy.scale = 0.5;
    const auto got = this->render(proxy);
    ASSERT_TRUE(got);
    EXPECT_TRUE(sameImage<F>(*got, *expected));
  }
}

// ------------------------------------------------------------ time

class OutlineTimeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
    instance_ = fixture_.createFilter();
    ASSERT_TRUE(instance_);
    // Width 1 at time 0 growing to 5 at time 10.
    instance_->param(names::kOutlineWidth).setKey(0.0, {1.0});
    instance_->param(names::kOutlineWidth).setKey(10.0, {5.0});
  }

  OutlineHost fixture_;
  std::unique_ptr<ofxhost::Instance> instance_;
};

TEST_F(OutlineTimeTest, EachRenderUsesTheValuesAtItsTime) {
  instance_->param(names::kOutlineColor).setKey(0.0, {1.0, 0.0, 0.0, 1.0});
  instance_->param(names::kOutlineColor).setKey(10.0, {0.0, 0.0, 1.0, 1.0});
  const OfxRectI bounds{0, 0, 64, 48};
  auto source = makeImage<ByteRGBA>(bounds);
  paintShapes<ByteRGBA>(*source);
  instance_->setSource(source);
  struct Case {
    double time;
    OutlineSettings settings;
  };
  for (const Case &c : {Case{0.0, {{1.0, 0.0, 0.0, 1.0}, 1.0, 1}},
                        Case{5.0, {{0.5, 0.0, 0.5, 1.0}, 3.0, 1}},
                        Case{10.0, {{0.0, 0.0, 1.0, 1.0}, 5.0, 1}}}) {
    SCOPED_TRACE("time " + std::to_string(c.time));
    auto output = makeImage<ByteRGBA>(bounds);
    output->fillBytes(kSentinelByte);
    instance_->setOutput(output);
    const ofxhost::ActionResult result =
        instance_->render(renderOf(bounds, c.time));
    ASSERT_TRUE(result.ok()) << result.message;
    const auto expected = referenceRender<ByteRGBA>(
        source.get(), bounds, bounds, c.settings, c.settings.width);
    EXPECT_TRUE(sameImage<ByteRGBA>(*output, *expected));
  }
}

TEST_F(OutlineTimeTest, EachTimeGetsItsOwnRegions) {
  instance_->setSource(makeImage<ByteRGBA>({0, 0, 8, 8}));
  instance_->clip(names::kSourceClip)
      .setRegionOfDefinition({10.0, 20.0, 110.0, 70.0});
  const OfxRectD roi{30.0, 30.0, 60.0, 50.0};
  for (auto [time, width] : {std::pair{0.0, 1.0}, {5.0, 3.0}, {10.0, 5.0}}) {
    SCOPED_TRACE("time " + std::to_string(time));
    OfxRectD rod{0, 0, 0, 0};
    ASSERT_EQ(instance_->regionOfDefinition(time, {1.0, 1.0}, rod).status,
              kOfxStatOK);
    EXPECT_EQ(rod.x1, 10.0 - width);
    EXPECT_EQ(rod.y1, 20.0 - width);
    EXPECT_EQ(rod.x2, 110.0 + width);
    EXPECT_EQ(rod.y2, 70.0 + width);

    std::map<std::string, OfxRectD> rois;
    ASSERT_TRUE(instance_->regionsOfInterest(time, {1.0, 1.0}, roi, rois).ok());
    // At Good a seed of -2 reaches width + 2 pixels.
    const OfxRectD &got = rois[names::kSourceClip];
    const double reach = width + 2.0;
    EXPECT_EQ(got.x1, 30.0 - reach);
    EXPECT_EQ(got.y1, 30.0 - reach);
    EXPECT_EQ(got.x2, 60.0 + reach);
    EXPECT_EQ(got.y2, 50.0 + reach);
  }
}

// ------------------------------------------------------------ missing source

const OfxRectI kSmall{0, 0, 8, 6};

ofxhost::ImagePtr imageOf(BitDepth depth, Components layout) {
  return std::make_shared<ofxhost::Image>(kSmall, depth, layout);
}

// The statuses of a render the host gets wrong are the same for every
// effect: tests/reliability/ActionContractTest.cpp holds them.
class OutlineActionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
    instance_ = fixture_.createFilter();
    ASSERT_TRUE(instance_);
  }

  ofxhost::Clip &source() { return instance_->clip(names::kSourceClip); }
  ofxhost::Clip &output() { return instance_->clip(names::kOutputClip); }

  OutlineHost fixture_;
  std::unique_ptr<ofxhost::Instance> instance_;
};

TEST_F(OutlineActionTest, MissingSourceClearsTheWindow) {
  source().setFormat(BitDepth::Byte, Components::RGBA);
  output().setFormat(BitDepth::Byte, Components::RGBA);
  source().setConnected(false);
  auto out = imageOf(BitDepth::Byte, Components::RGBA);
  out->fillBytes(kSentinelByte);
  instance_->setOutput(out);
  const ofxhost::ActionResult result = instance_->render(renderOf(kSmall));
  ASSERT_TRUE(result.ok()) << result.message;
  const std::array<unsigned char, 4> zero{};
  for (int y = kSmall.y1; y < kSmall.y2; ++y)
    for (int x = kSmall.x1; x < kSmall.x2; ++x)
      ASSERT_EQ(std::memcmp(out->pixel<unsigned char>(x, y), zero.data(), 4), 0)
          << "ByteRGBA pixel (" << x << ", " << y << "): got "
          << rimlet_test::describePixel(out->pixel<unsigned char>(x, y), 4)
          << ", expected (0, 0, 0, 0)";
}

// ------------------------------------------------------------ regions

TEST_F(OutlineActionTest, RegionOfDefinitionGrowsByTheWidthAtEveryScale) {
  instance_->setSource(imageOf(BitDepth::Byte, Components::RGBA));
  source().setRegionOfDefinition({0.0, 0.0, 1920.0, 1080.0});
  for (double scale : {1.0, 0.5}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    OfxRectD rod{0, 0, 0, 0};
    const ofxhost::ActionResult result =
        instance_->regionOfDefinition(0.0, {scale, scale}, rod);
    ASSERT_EQ(result.status, kOfxStatOK) << result.message;
    EXPECT_EQ(rod.x1, -2.0);
    EXPECT_EQ(rod.y1, -2.0);
    EXPECT_EQ(rod.x2, 1922.0);
    EXPECT_EQ(rod.y2, 1082.0);
  }
}

// The source region asked for is the window grown by every pixel that can
// change it, in whole pixels of the render: at Good the width plus the
// deepest seed's 2, so 4 pixels at width 2.5 and 3 at width 1.25 (scale
// 0.5). Best reads a 2x2 block and fades out a pixel beyond the width: its
// reach is little more than the width, and one pixel more towards larger x
// and y for the block (at width 12, 16 and 17 pixels, where a bound from
// one deep cell of the block alone would ask for 61).
TEST_F(OutlineActionTest, RegionOfInterestOfTheSourceGrowsByTheOutlinesReach) {
  instance_->setSource(imageOf(BitDepth::Byte, Components::RGBA));
  struct Case {
    int quality;
    double width;
    double scale;
    double lower, upper;
  };
  for (const Case &c :
       {Case{1, 2.5, 1.0, 4.0, 4.0}, Case{1, 2.5, 0.5, 6.0, 6.0},
        Case{2, 12.0, 1.0, 16.0, 17.0}}) {
    SCOPED_TRACE("quality " + std::to_string(c.quality) + ", width " +
                 std::to_string(c.width) + ", scale " +
                 std::to_string(c.scale));
    instance_->param(names::kOutlineWidth).setValue({c.width});
    instance_->param(names::kQuality).setValue({double(c.quality)});
    std::map<std::string, OfxRectD> rois;
    std::set<std::string> setByPlugin;
    const ofxhost::ActionResult result = instance_->regionsOfInterest(
        0.0, {c.scale, c.scale}, {100.0, 100.0, 200.0, 200.0}, rois,
        &setByPlugin);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(setByPlugin, std::set<std::string>{names::kSourceClip});
    const OfxRectD &got = rois[names::kSourceClip];
    EXPECT_EQ(got.x1, 100.0 - c.lower);
    EXPECT_EQ(got.y1, 100.0 - c.lower);
    EXPECT_EQ(got.x2, 200.0 + c.upper);
    EXPECT_EQ(got.y2, 200.0 + c.upper);
  }
}

} // namespace
} // namespace outline_plugin_test
