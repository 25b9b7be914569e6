// The outline processor driven through the host library, by way of a small
// probe effect around it. Every render is compared, pixel for pixel, with a
// reference built directly from the field and the rules (tested on their
// own): so these tests are about what the processor adds: one field over
// the destination bounds, windows, bands, tiles, threads, abort, defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OutlineField.h"
#include "OutlinePixelRules.h"
#include "EffectHost.h"
#include "OutlineTestFormats.h"
#include "ofxMultiThread.h"
#include "ofxhost/Host.h"

namespace {

using namespace rimlet;
using namespace rimlet_test;

constexpr unsigned char kSentinelByte = 0x5A;

struct Settings {
  OutlineColor color{1.0, 1.0, 1.0};
  double width = 2.0;
  int quality = 1;
  // Leaves colour, width and quality at the processor's defaults.
  bool useDefaults = false;
  // Rows of the processor's strips; 0 lets it choose.
  int stripRows = 0;
};

using qfx_test::makeImage;

template <class F>
void setPixel(ofxhost::Image &image, int x, int y, double r, double g, double b,
              double a) {
  auto *p = image.template pixel<typename F::PIX>(x, y);
  if (F::kComponents == 1) {
    p[0] = F::fromUnit(a);
    return;
  }
  p[0] = F::fromUnit(r);
  p[1] = F::fromUnit(g);
  p[2] = F::fromUnit(b);
  p[3] = F::fromUnit(a);
}

// An opaque block of (x1, y1) to (x2, y2), just outside of which nothing is.
template <class F>
void paintBlock(ofxhost::Image &image, OfxRectI block, double alpha = 1.0) {
  for (int y = block.y1; y < block.y2; ++y)
    for (int x = block.x1; x < block.x2; ++x)
      setPixel<F>(image, x, y, 0.2 * alpha, 0.6 * alpha, 0.9 * alpha, alpha);
}

// Soft-edged discs of varying opacity: covered, semi-transparent and empty
// pixels, shapes on the image borders, and alphas over 1 for floats.
template <class F> void paintShapes(ofxhost::Image &image) {
  const OfxRectI b = image.bounds();
  struct Disc {
    double cx, cy, radius, alpha;
  };
  const double w = b.x2 - b.x1, h = b.y2 - b.y1;
  const Disc discs[] = {{0.2, 0.3, 0.08, 1.0},  {0.55, 0.5, 0.15, 0.7},
                        {0.85, 0.2, 0.05, 1.0}, {0.0, 0.9, 0.1, 1.0},
                        {1.0, 0.6, 0.07, 0.4},  {0.4, 0.85, 0.04, 1.0},
                        {0.7, 0.95, 0.06, 0.9}, {0.3, 0.05, 0.05, 1.0}};
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      double coverage = 0;
      for (const Disc &d : discs) {
        const double dx = (x - b.x1) - d.cx * w, dy = (y - b.y1) - d.cy * h;
        const double inside =
            d.radius * std::min(w, h) - std::sqrt(dx * dx + dy * dy);
        coverage =
            std::max(coverage, std::clamp(inside + 0.5, 0.0, 1.0) * d.alpha);
      }
      if (F::kIsFloat && coverage >= 1.0 && (x + y) % 17 == 0)
        coverage = 1.75; // a deep float seed below the transform's threshold
      if (coverage > 0)
        setPixel<F>(image, x, y, 0.9 * std::min(coverage, 1.0),
                    0.5 * std::min(coverage, 1.0), 0.1, coverage);
    }
}

// The output the processor must produce: a field over the destination
// bounds and the rules over window and bounds; elsewhere the output holds
// what it held before (the sentinel).
template <class F>
ofxhost::ImagePtr referenceRender(const ofxhost::Image *src, OfxRectI dstBounds,
                                  OfxRectI window, const Settings &settings) {
  using PIX = typename F::PIX;
  static const AlphaTable alphaTable = makeAlphaTable();
  static const FalloffTable falloffTable = makeFalloffTable();
  const Settings s = settings.useDefaults ? Settings{} : settings;
  const OutlineQuality quality = s.quality == 0   ? OutlineQuality::Draft
                                 : s.quality == 2 ? OutlineQuality::Best
                                                  : OutlineQuality::Good;
  const FieldExtent extent{dstBounds.x2 - dstBounds.x1,
                           dstBounds.y2 - dstBounds.y1};
  std::vector<float> cells(static_cast<std::size_t>(extent.cellCount()));
  auto lookup = [src](int x, int y) -> const PIX * {
    return src != nullptr ? src->template pixel<PIX>(x, y) : nullptr;
  };
  const auto seeding = quality == OutlineQuality::Draft ? FieldSeeding::Draft
                                                        : FieldSeeding::Smooth;
  seedField<PIX, F::kComponents, F::kMax>(cells.data(), extent, dstBounds.x1,
                                          dstBounds.y1, seeding, alphaTable,
                                          lookup);
  if (seeding == FieldSeeding::Draft)
    sweepForwardOnly(cells.data(), extent);
  else
    sweepTwoPass(cells.data(), extent);

  const OutlinePixelRules<PIX, F::kComponents, F::kMax> rules(
      s.color, alphaTable, falloffTable);
  const float w = static_cast<float>(s.width);
  auto out = makeImage<F>(dstBounds);
  out->fillBytes(kSentinelByte);
  for (int y = std::max(window.y1, dstBounds.y1);
       y < std::min(window.y2, dstBounds.y2); ++y)
    for (int x = std::max(window.x1, dstBounds.x1);
         x < std::min(window.x2, dstBounds.x2); ++x) {
      const int c = x - dstBounds.x1, r = y - dstBounds.y1;
      PIX *dst = out->template pixel<PIX>(x, y);
      switch (quality) {
      case OutlineQuality::Draft:
        rules.template renderPixel<OutlineQuality::Draft>(
            lookup(x, y), dst, fieldAt(cells.data(), extent, c, r), w);
        break;
      case OutlineQuality::Good:
        rules.template renderPixel<OutlineQuality::Good>(
            lookup(x, y), dst, fieldAt(cells.data(), extent, c, r), w);
        break;
      case OutlineQuality::Best:
        rules.template renderPixel<OutlineQuality::Best>(
            lookup(x, y), dst, fieldSmoothedAt(cells.data(), extent, c, r), w);
        break;
      }
    }
  return out;
}

// Compares every pixel bit for bit; reports the first difference with the
// format, the pixel and both values.
template <class F>
::testing::AssertionResult sameImage(const ofxhost::Image &got,
                                     const ofxhost::Image &expected) {
  using PIX = typename F::PIX;
  const OfxRectI b = expected.bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      const PIX *g = got.template pixel<PIX>(x, y);
      const PIX *e = expected.template pixel<PIX>(x, y);
      if (std::memcmp(g, e, sizeof(PIX) * F::kComponents) != 0)
        return ::testing::AssertionFailure()
               << F::name() << " pixel (" << x << ", " << y << "): got "
               << describePixel(g, F::kComponents) << ", expected "
               << describePixel(e, F::kComponents);
    }
  return ::testing::AssertionSuccess();
}

// One host and the probe for the whole test program.
struct ProbeHost {
  static qfx_test::EffectHost &get() {
    static qfx_test::EffectHost host(
        ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, "RimletCoreProbe"));
    return host;
  }
};

struct RenderJob {
  ofxhost::ImagePtr source; // may be null: no source image
  OfxRectI dstBounds{0, 0, 0, 0};
  OfxRectI window{0, 0, 0, 0};
  Settings settings;
  unsigned cpus = 1;
  std::function<void(ofxhost::Instance &)> beforeRender;
};

// Renders with the host's thread count as it is (job.cpus is not applied:
// the count cannot change from one of the host's own threads).
template <class F>
ofxhost::ImagePtr renderWithTheHostsCpus(const RenderJob &job) {
  qfx_test::EffectHost &probe = ProbeHost::get();
  if (probe.plugin() == nullptr) {
    ADD_FAILURE() << "the probe bundle did not load: " << probe.error();
    return nullptr;
  }
  ofxhost::ActionResult created;
  auto instance =
      probe.plugin()->createInstance(kOfxImageEffectContextFilter, &created);
  if (!instance) {
    ADD_FAILURE() << created.message;
    return nullptr;
  }
  if (job.source)
    instance->setSource(job.source);
  instance->clip(kOfxImageEffectOutputClipName)
      .setFormat(F::kDepth, F::kLayout);
  auto output = makeImage<F>(job.dstBounds);
  output->fillBytes(kSentinelByte);
  instance->setOutput(output);

  const Settings &s = job.settings;
  instance->param("outlineColor")
      .setValue({s.color.red, s.color.green, s.color.blue, 1.0});
  instance->param("outlineWidth").setValue({s.width});
  instance->param("quality").setValue({static_cast<double>(s.quality)});
  instance->param("useDefaults").setValue({s.useDefaults ? 1.0 : 0.0});
  instance->param("stripRows").setValue({static_cast<double>(s.stripRows)});
  if (job.beforeRender)
    job.beforeRender(*instance);

  ofxhost::RenderRequest request;
  request.window = job.window;
  const ofxhost::ActionResult rendered = instance->render(request);
  if (!rendered.ok()) {
    ADD_FAILURE() << F::name() << ": " << rendered.message;
    return nullptr;
  }
  return output;
}

template <class F> ofxhost::ImagePtr renderThroughHost(const RenderJob &job) {
  ProbeHost::get().host().setCpuCount(job.cpus);
  return renderWithTheHostsCpus<F>(job);
}

template <class F>
::testing::AssertionResult rendersAsReference(const RenderJob &job) {
  const auto got = renderThroughHost<F>(job);
  if (!got)
    return ::testing::AssertionFailure() << F::name() << ": no render";
  const auto expected = referenceRender<F>(job.source.get(), job.dstBounds,
                                           job.window, job.settings);
  return sameImage<F>(*got, *expected);
}

// --- Every format
// ----------------------------------------------------------------

template <class F> class ProcessorAllFormats : public ::testing::Test {};
TYPED_TEST_SUITE(ProcessorAllFormats, AllFormats, FormatNames);

// Offset, unequal source and destination bounds larger than one tile, at
// each quality, on one thread and on three (uneven bands), in strips of the
// processor's choice, of one row, of fewer rows than the field's reach
// (about 6 here), of a few more, and of more rows than a band has.
TYPED_TEST(ProcessorAllFormats, MatchesReferenceAtEveryQualityAndThreadCount) {
  using F = TypeParam;
  auto source = makeImage<F>({-60, 0, 500, 360});
  paintShapes<F>(*source);
  struct Case {
    unsigned cpus;
    int stripRows;
  };
  for (int quality : {0, 1, 2})
    for (const Case &c : {Case{1, 0}, Case{3, 0}, Case{1, 1}, Case{3, 3},
                          Case{2, 13}, Case{3, 200}}) {
      RenderJob job;
      job.source = source;
      job.dstBounds = {-40, -20, 560, 330};
      job.window = job.dstBounds;
      job.settings = {{1.0, 0.25, 0.0}, 3.5, quality, false, c.stripRows};
      job.cpus = c.cpus;
      EXPECT_TRUE(rendersAsReference<F>(job))
          << "quality " << quality << ", " << c.cpus << " CPUs, strips of "
          << c.stripRows << " rows";
    }
}

TYPED_TEST(ProcessorAllFormats, NoSourceWritesZeroInsideTheWindow) {
  using F = TypeParam;
  for (int quality : {0, 1, 2}) {
    RenderJob job;
    job.dstBounds = {0, 0, 40, 30};
    job.window = {5, 5, 35, 25};
    job.settings.quality = quality;
    const auto got = renderThroughHost<F>(job);
    ASSERT_TRUE(got);
    const auto *inside = got->template pixel<typename F::PIX>(10, 10);
    for (int i = 0; i < F::kComponents; ++i)
      EXPECT_EQ(inside[i], 0)
          << F::name() << " quality " << quality << " component " << i;
    EXPECT_TRUE(rendersAsReference<F>(job)) << "quality " << quality;
  }
}

// --- Settings
// ----------------------------------------------------------------------

TEST(ProcessorSettings, QualityOutsideZeroToTwoIsGood) {
  auto source = makeImage<ByteRGBA>({0, 0, 64, 48});
  paintShapes<ByteRGBA>(*source);
  RenderJob job;
  job.source = source;
  job.dstBounds = source->bounds();
  job.window = job.dstBounds;
  job.settings.width = 4.0;
  job.settings.quality = 1;
  const auto good = renderThroughHost<ByteRGBA>(job);
  ASSERT_TRUE(good);
  for (int quality : {3, -1}) {
    job.settings.quality = quality;
    const auto got = renderThroughHost<ByteRGBA>(job);
    ASSERT_TRUE(got);
    EXPECT_TRUE(sameImage<ByteRGBA>(*got, *good)) << "quality " << quality;
  }
  job.settings.quality = 0;
  const auto draft = renderThroughHost<ByteRGBA>(job);
  ASSERT_TRUE(draft);
  EXPECT_FALSE(sameImage<ByteRGBA>(*draft, *good))
      << "Draft should differ from Good";
}

TEST(ProcessorSettings, UnsetSettersGiveAWhiteWidthTwoGoodOutline) {
  auto source = makeImage<ByteRGBA>({0, 0, 32, 32});
  paintBlock<ByteRGBA>(*source, {12, 12, 20, 20});
  RenderJob job;
  job.source = source;
  job.dstBounds = source->bounds();
  job.window = job.dstBounds;
  job.settings = {{1.0, 0.0, 0.0}, 6.0, 0, true};
  EXPECT_TRUE(rendersAsReference<ByteRGBA>(job));
  const auto got = renderThroughHost<ByteRGBA>(job);
  ASSERT_TRUE(got);
  const unsigned char *ring = got->pixel<unsigned char>(21, 15); // f = 0
  EXPECT_EQ(describePixel(ring, 4), "(255, 255, 255, 255)");
  const unsigned char *beyond = got->pixel<unsigned char>(23, 15); // f = 2
  EXPECT_EQ(describePixel(beyond, 4), "(0, 0, 0, 0)");
}

// --- Threads and bands
// --------------------------------------------------------------

TEST(ProcessorThreads, AnyBandSplitGivesTheSameImage) {
  auto source = makeImage<FloatRGBA>({0, 0, 300, 301});
  paintShapes<FloatRGBA>(*source);
  for (int quality : {0, 1, 2}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = source->bounds();
    job.window = {3, 1, 297, 300};
    job.settings.quality = quality;
    job.cpus = 1;
    const auto single = renderThroughHost<FloatRGBA>(job);
    ASSERT_TRUE(single);
    for (unsigned cpus : {2u, 5u, 16u}) {
      job.cpus = cpus;
      const auto many = renderThroughHost<FloatRGBA>(job);
      ASSERT_TRUE(many);
      EXPECT_TRUE(sameImage<FloatRGBA>(*many, *single))
          << "quality " << quality << ", " << cpus << " CPUs";
    }
  }
}

template <class F> class ProcessorRgbaFormats : public ::testing::Test {};
TYPED_TEST_SUITE(ProcessorRgbaFormats, RgbaFormats, FormatNames);

// A field big enough to be built on the host's threads, on one to eight of
// them: the same image as the reference, whose field is built on one. One
// field for the window (strips of -1 rows) is built by the threads
// together, strips each by its own thread.
TYPED_TEST(ProcessorRgbaFormats, FieldBuiltOnTheHostsThreadsGivesTheReference) {
  using F = TypeParam;
  auto source = makeImage<F>({-30, -10, 680, 430});
  paintShapes<F>(*source);
  for (int quality : {0, 1, 2})
    for (int stripRows : {-1, 0}) {
      RenderJob job;
      job.source = source;
      job.dstBounds = {-20, 0, 690, 420};
      job.window = job.dstBounds;
      job.settings = {{0.3, 1.0, 0.5}, 4.0, quality, false, stripRows};
      const auto expected = referenceRender<F>(job.source.get(), job.dstBounds,
                                               job.window, job.settings);
      for (unsigned cpus : {1u, 2u, 3u, 8u}) {
        job.cpus = cpus;
        const auto got = renderThroughHost<F>(job);
        ASSERT_TRUE(got);
        EXPECT_TRUE(sameImage<F>(*got, *expected))
            << "quality " << quality << ", " << cpus << " CPUs, strips of "
            << stripRows << " rows";
      }
    }
}

// A host may render on one of its own threads, where a multiThread call
// runs its functions one after another on that thread: the field's share
// of them must not wait for one that has not run yet.
TEST(ProcessorThreads, RenderOnAHostThreadWhereThreadsRunOneAfterAnother) {
  auto source = makeImage<ByteRGBA>({0, 0, 640, 480});
  paintShapes<ByteRGBA>(*source);
  ofxhost::Host &host = ProbeHost::get().host();
  const auto *threads =
      static_cast<const OfxMultiThreadSuiteV1 *>(host.ofxHost()->fetchSuite(
          host.ofxHost()->host, kOfxMultiThreadSuite, 1));
  ASSERT_NE(threads, nullptr);
  host.setCpuCount(4);
  for (int quality : {0, 1, 2}) {
    struct Call {
      RenderJob job;
      ofxhost::ImagePtr output;
    } call;
    call.job.source = source;
    call.job.dstBounds = source->bounds();
    call.job.window = source->bounds();
    call.job.settings.quality = quality;
    auto renderOnHostThread = [](unsigned, unsigned, void *arg) {
      auto *c = static_cast<Call *>(arg);
      c->output = renderWithTheHostsCpus<ByteRGBA>(c->job);
    };
    ASSERT_EQ(threads->multiThread(renderOnHostThread, 1, &call), kOfxStatOK);
    ASSERT_TRUE(call.output) << "quality " << quality;
    const auto expected = referenceRender<ByteRGBA>(
        source.get(), call.job.dstBounds, call.job.window, call.job.settings);
    EXPECT_TRUE(sameImage<ByteRGBA>(*call.output, *expected))
        << "quality " << quality;
  }
}

// --- Windows and bounds
// ---------------------------------------------------------------

// The field covers the whole destination, so a shape just outside a small
// window still outlines the window's pixels next to it.
TEST(ProcessorWindows, SmallWindowIsOutlinedByAShapeOutsideIt) {
  auto source = makeImage<ByteRGBA>({0, 0, 1920, 1080});
  paintBlock<ByteRGBA>(*source, {1010, 500, 1020, 510});
  for (int quality : {1, 2}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = source->bounds();
    job.window = {1000, 500, 1010, 510};
    job.settings = {{0.0, 1.0, 0.0}, 2.0, quality, false};
    EXPECT_TRUE(rendersAsReference<ByteRGBA>(job)) << "quality " << quality;
    const auto got = renderThroughHost<ByteRGBA>(job);
    ASSERT_TRUE(got);
    EXPECT_EQ(describePixel(got->pixel<unsigned char>(1009, 505), 4),
              "(0, 255, 0, 255)")
        << "quality " << quality;
    // Outside the window nothing is touched.
    EXPECT_EQ(got->pixel<unsigned char>(1010, 505)[0], kSentinelByte);
    EXPECT_EQ(got->pixel<unsigned char>(1009, 510)[3], kSentinelByte);
  }
}

TEST(ProcessorWindows,
     SourceSmallerThanDestinationIsOutlinedUpToTheDestinationEdges) {
  auto source = makeImage<ShortRGBA>({40, 40, 80, 80});
  paintBlock<ShortRGBA>(*source, source->bounds());
  for (int quality : {0, 1, 2}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = {0, 0, 120, 120};
    job.window = job.dstBounds;
    job.settings = {{1.0, 0.0, 0.0}, 3.0, quality, false};
    EXPECT_TRUE(rendersAsReference<ShortRGBA>(job)) << "quality " << quality;
    const auto got = renderThroughHost<ShortRGBA>(job);
    ASSERT_TRUE(got);
    // Right of the source: an outline pixel, at every quality (Draft's
    // distances run towards larger x).
    EXPECT_EQ(describePixel(got->pixel<unsigned short>(81, 60), 4),
              "(65535, 0, 0, 65535)")
        << "quality " << quality;
    // Far from the source: cleared.
    EXPECT_EQ(describePixel(got->pixel<unsigned short>(5, 5), 4),
              "(0, 0, 0, 0)")
        << "quality " << quality;
  }
}

TEST(ProcessorWindows, ShapeOutsideTheDestinationCastsNothing) {
  auto source = makeImage<ByteRGBA>({-20, -20, 140, 140});
  paintBlock<ByteRGBA>(*source, {-10, 10, 0, 90});   // left of the destination
  paintBlock<ByteRGBA>(*source, {10, 100, 90, 110}); // above it
  for (int quality : {0, 1, 2}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = {0, 0, 100, 100};
    job.window = job.dstBounds;
    job.settings.quality = quality;
    const auto got = renderThroughHost<ByteRGBA>(job);
    ASSERT_TRUE(got);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 100; ++x)
        ASSERT_EQ(describePixel(got->pixel<unsigned char>(x, y), 4),
                  "(0, 0, 0, 0)")
            << "quality " << quality << " pixel (" << x << ", " << y << ")";
  }
}

// A window reaching past the destination image writes only the part inside
// it; nothing is addressed from a pixel that does not exist.
TEST(ProcessorWindows, WindowBeyondTheDestinationIsClipped) {
  auto source = makeImage<FloatRGBA>({0, 0, 64, 64});
  paintShapes<FloatRGBA>(*source);
  for (int quality : {0, 1, 2}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = {0, 0, 64, 64};
    job.window = {-16, -16, 80, 40};
    job.settings.quality = quality;
    job.cpus = 3;
    EXPECT_TRUE(rendersAsReference<FloatRGBA>(job)) << "quality " << quality;
  }
}

TEST(ProcessorWindows, EmptyWindowWritesNothing) {
  auto source = makeImage<ByteRGBA>({0, 0, 16, 16});
  paintShapes<ByteRGBA>(*source);
  RenderJob job;
  job.source = source;
  job.dstBounds = source->bounds();
  job.window = {8, 8, 8, 12};
  EXPECT_TRUE(rendersAsReference<ByteRGBA>(job));
}

// Bounds whose cell count overflows any 32-bit (and even a signed 64-bit)
// product are refused as an allocation failure, not wrapped into a small
// field that rows would then overrun.
TEST(ProcessorBounds, HugeBoundsFailAsOutOfMemory) {
  qfx_test::EffectHost &probe = ProbeHost::get();
  ASSERT_NE(probe.plugin(), nullptr) << probe.error();
  auto instance = probe.plugin()->createInstance(kOfxImageEffectContextFilter);
  ASSERT_TRUE(instance);
  auto source = makeImage<ByteRGBA>({0, 0, 8, 8});
  instance->setSource(source);
  auto output = makeImage<ByteRGBA>({0, 0, 8, 8});
  instance->setOutput(output);
  instance->param("hugeBounds").setValue({1.0});
  ofxhost::RenderRequest request;
  request.window = {0, 0, 8, 8};
  const ofxhost::ActionResult result = instance->render(request);
  EXPECT_EQ(result.status, kOfxStatErrMemory) << result.message;
}

// --- Abort
// ------------------------------------------------------------------------------

// Good and Best ask once per run of 256 rows; an aborted run keeps what the
// destination held and the later runs are still written.
// Strips shorter than a run (and not dividing it) are left or written with
// their run.
TEST(ProcessorAbort, AbortedFirstRunIsLeftAndLaterRunsAreWritten) {
  auto source = makeImage<ByteRGBA>({0, 0, 40, 600});
  paintShapes<ByteRGBA>(*source);
  for (int quality : {1, 2})
    for (int stripRows : {0, 1, 7}) {
      RenderJob job;
      job.source = source;
      job.dstBounds = source->bounds();
      job.window = job.dstBounds;
      job.settings.quality = quality;
      job.settings.stripRows = stripRows;
      job.beforeRender = [](ofxhost::Instance &instance) {
        instance.setAbortPredicate([](long poll) { return poll == 0; });
      };
      const auto got = renderThroughHost<ByteRGBA>(job);
      ASSERT_TRUE(got);
      auto expected = referenceRender<ByteRGBA>(source.get(), job.dstBounds,
                                                job.window, job.settings);
      for (int y = 0; y < 256; ++y)
        std::memset(expected->pixel<unsigned char>(0, y), kSentinelByte,
                    40 * 4);
      EXPECT_TRUE(sameImage<ByteRGBA>(*got, *expected))
          << "quality " << quality << ", strips of " << stripRows << " rows";
    }
}

TEST(ProcessorAbort, PolledOncePerRowAtDraftAndOncePerRunAtGoodAndBest) {
  auto source = makeImage<ByteRGBA>({0, 0, 40, 600});
  paintShapes<ByteRGBA>(*source);
  for (auto [quality, expectedPolls] : {std::pair{0, 600L}, {1, 3L}, {2, 3L}}) {
    long polls = -1;
    RenderJob job;
    job.source = source;
    job.dstBounds = source->bounds();
    job.window = job.dstBounds;
    job.settings.quality = quality;
    job.beforeRender = [&polls](ofxhost::Instance &instance) {
      polls = 0;
      instance.setAbortPredicate([&polls](long) {
        ++polls;
        return false;
      });
    };
    ASSERT_TRUE(renderThroughHost<ByteRGBA>(job));
    EXPECT_EQ(polls, expectedPolls) << "quality " << quality;
  }
}

TEST(ProcessorAbort, DraftSkipsOnlyTheAbortedRow) {
  auto source = makeImage<ByteRGBA>({0, 0, 30, 20});
  paintShapes<ByteRGBA>(*source);
  for (int stripRows : {0, 1, 7}) {
    RenderJob job;
    job.source = source;
    job.dstBounds = source->bounds();
    job.window = job.dstBounds;
    job.settings.quality = 0;
    job.settings.stripRows = stripRows;
    job.beforeRender = [](ofxhost::Instance &instance) {
      instance.setAbortPredicate(
          [](long poll) { return poll == 0 || poll == 7; });
    };
    const auto got = renderThroughHost<ByteRGBA>(job);
    ASSERT_TRUE(got);
    auto expected = referenceRender<ByteRGBA>(source.get(), job.dstBounds,
                                              job.window, job.settings);
    for (int y : {0, 7})
      std::memset(expected->pixel<unsigned char>(0, y), kSentinelByte, 30 * 4);
    EXPECT_TRUE(sameImage<ByteRGBA>(*got, *expected))
        << "strips of " << stripRows << " rows";
  }
}

} // namespace
