// Rendering through the support library in the six pixel formats: image
// addressing, parameter reads at a time, threading and abort.

#include "ProbeTestSupport.h"

#include <array>
#include <cstring>

namespace probetest {
namespace {

constexpr OfxRectI kBounds{-3, -2, 13, 10}; // origin off zero on purpose

struct Tint {
  double r, g, b, a;
  double operator[](int c) const {
    return c == 0 ? r : c == 1 ? g : c == 2 ? b : a;
  }
};

template <class F> class SupportRender : public ::testing::Test {
protected:
  using Pix = typename F::PIX;

  // A fresh session whose source holds the pattern and whose output is
  // pre-filled with a sentinel byte, so untouched pixels are visible.
  ofxhost::Instance &start(unsigned cpus, ofxhost::ImageLayout layout = {}) {
    session_ = std::make_unique<ProbeSession>(isolatedOptions(cpus));
    ofxhost::Instance &instance = session_->createInstance();
    src_ = makeImage<F>(kBounds, layout);
    fillPattern<F>(*src_);
    dst_ = makeImage<F>(kBounds, layout);
    dst_->fillBytes(kSentinel);
    instance.setSource(src_);
    instance.setOutput(dst_);
    return instance;
  }

  void setGainAndTint(double gain, Tint tint) {
    session_->param(probe::kGain).setValue({gain});
    session_->param(probe::kTint).setValue({tint.r, tint.g, tint.b, tint.a});
  }

  // Alpha-only images carry their one channel in the tint's alpha slot.
  static double tintFor(const Tint &tint, int c) {
    return F::kComponents == 1 ? tint.a : tint[c];
  }

  auto normalPixels(double gain, Tint tint) {
    return [this, gain, tint](int x, int y, int c) {
      return expectedNormal<F>(src_->pixel<Pix>(x, y)[c], gain,
                               tintFor(tint, c));
    };
  }

  Pix sentinelValue() const {
    Pix value;
    std::memset(&value, kSentinel, sizeof value);
    return value;
  }

  static constexpr unsigned char kSentinel = 0x5a;
  std::unique_ptr<ProbeSession> session_;
  ofxhost::ImagePtr src_;
  ofxhost::ImagePtr dst_;
};

TYPED_TEST_SUITE(SupportRender, AllFormats, FormatNames);

TYPED_TEST(SupportRender, SameResultOnOneAndOnSeveralThreads) {
  const Tint tint{0.1, -0.05, 0.2, 0.05};
  ofxhost::ImagePtr single;
  for (unsigned cpus : {1u, 3u, 4u}) {
    ofxhost::Instance &instance = this->start(cpus);
    this->setGainAndTint(1.5, tint);
    ofxhost::ActionResult result = instance.render({0.0, kBounds});
    ASSERT_EQ(result.status, kOfxStatOK) << result.message;
    const std::string what = std::to_string(cpus) + " threads";
    expectPixels<TypeParam>(*this->dst_, kBounds, this->normalPixels(1.5, tint),
                            what);
    if (!single)
      single = this->dst_;
    else
      expectSameImages<TypeParam>(*single, *this->dst_, kBounds,
                                  what + " vs one thread");
  }
}

TYPED_TEST(SupportRender, OnlyTheRenderWindowIsWritten) {
  ofxhost::Instance &instance = this->start(2);
  this->setGainAndTint(1.0, {0.0, 0.0, 0.0, 0.0});
  const OfxRectI window{0, 1, 7, 6};
  ASSERT_EQ(instance.render({0.0, window}).status, kOfxStatOK);
  auto expected = [&](int x, int y, int c) {
    const bool inside =
        x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
    return inside ? this->src_->template pixel<typename TypeParam::PIX>(x, y)[c]
                  : this->sentinelValue();
  };
  expectPixels<TypeParam>(*this->dst_, kBounds, expected, "window");
}

TYPED_TEST(SupportRender, HonoursPaddedAndNegativeRowBytes) {
  const Tint tint{0.0, 0.25, 0.0, 0.125};
  const std::array<ofxhost::ImageLayout, 3> layouts{
      {{12, false}, {0, true}, {8, true}}}; // padding keeps rows aligned
  for (const ofxhost::ImageLayout &layout : layouts) {
    ofxhost::Instance &instance = this->start(3, layout);
    this->setGainAndTint(0.75, tint);
    ASSERT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);
    const std::string what = "padding " +
                             std::to_string(layout.rowPaddingBytes) +
                             (layout.negativeRowBytes ? " negative rows" : "");
    expectPixels<TypeParam>(*this->dst_, kBounds,
                            this->normalPixels(0.75, tint), what);
  }
}

TYPED_TEST(SupportRender, ReadsAnimatedParametersAtTheRenderTime) {
  ofxhost::Instance &instance = this->start(2);
  ofxhost::Param &gain = this->session_->param(probe::kGain);
  ofxhost::Param &tint = this->session_->param(probe::kTint);
  gain.setKey(0.0, {0.5});
  gain.setKey(10.0, {2.0});
  tint.setKey(0.0, {0.0, 0.0, 0.0, 0.0});
  tint.setKey(10.0, {0.2, 0.4, 0.6, 0.8});

  struct Case {
    double time, gain;
    Tint tint;
  };
  for (const Case &c : {Case{0.0, 0.5, {0.0, 0.0, 0.0, 0.0}},
                        Case{10.0, 2.0, {0.2, 0.4, 0.6, 0.8}},
                        Case{5.0, 1.25, {0.1, 0.2, 0.3, 0.4}}}) {
    ASSERT_EQ(instance.render({c.time, kBounds}).status, kOfxStatOK);
    expectPixels<TypeParam>(*this->dst_, kBounds,
                            this->normalPixels(c.gain, c.tint),
                            "time " + std::to_string(c.time));
  }
}

TYPED_TEST(SupportRender, AbortLeavesTheRemainingRowsUntouched) {
  ofxhost::Instance &instance = this->start(1);
  this->setGainAndTint(1.0, {0.0, 0.0, 0.0, 0.0});
  const int rowsBeforeAbort = 4;
  instance.setAbortAfterPolls(rowsBeforeAbort);
  ASSERT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);
  auto expected = [&](int x, int y, int c) {
    return y < kBounds.y1 + rowsBeforeAbort
               ? this->src_->template pixel<typename TypeParam::PIX>(x, y)[c]
               : this->sentinelValue();
  };
  expectPixels<TypeParam>(*this->dst_, kBounds, expected, "after abort");
  // Polled once per row, never per pixel.
  EXPECT_EQ(instance.abortPolls(), kBounds.y2 - kBounds.y1);
}

TYPED_TEST(SupportRender, MissingSourceImageIsNotAnError) {
  ofxhost::Instance &instance = this->start(2);
  const Tint tint{0.5, 0.25, 0.0, 1.0};
  this->setGainAndTint(1.0, tint);
  instance.faults().imageFetch = kOfxStatFailed;
  instance.faults().imageFetchClip = "Source";
  ASSERT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);
  auto expected = [&](int, int, int c) {
    return expectedNormal<TypeParam>(0, 1.0, this->tintFor(tint, c));
  };
  expectPixels<TypeParam>(*this->dst_, kBounds, expected, "no source");
}

// ---------------------------------------------------------------------------
// The band split, seen through the probe's band mode: every pixel holds the
// first and end row of its band (relative to the window) and the index of
// the thread that wrote it.

struct BandCase {
  unsigned threads;
  int windowHeight;
};

class SupportBands : public ::testing::TestWithParam<BandCase> {};

TEST_P(SupportBands, RowsAreSplitAsDocumented) {
  const BandCase param = GetParam();
  ProbeSession session(isolatedOptions(param.threads));
  ofxhost::Instance &instance = session.createInstance();
  const OfxRectI bounds{0, -5, 3, 200};
  auto src = makeImage<FloatRGBA>(bounds);
  auto dst = makeImage<FloatRGBA>(bounds);
  dst->fillBytes(0xff); // NaN everywhere: unwritten pixels compare unequal
  instance.setSource(src);
  instance.setOutput(dst);
  session.param(probe::kMode).setValue({double(probe::eModeBands)});

  const OfxRectI window{0, 7, 3, 7 + param.windowHeight};
  ASSERT_EQ(instance.render({0.0, window}).status, kOfxStatOK);

  const long long dy = param.windowHeight, n = param.threads;
  for (unsigned i = 0; i < param.threads; ++i) {
    const long long first = i * dy / n;
    const long long last = std::min((i + 1) * dy / n, dy);
    for (long long row = first; row < last; ++row) {
      const float *pixel = dst->pixel<float>(1, window.y1 + int(row));
      EXPECT_EQ(pixel[0], float(first)) << "row " << row << " of band " << i;
      EXPECT_EQ(pixel[1], float(last)) << "row " << row << " of band " << i;
      EXPECT_EQ(pixel[2], float(i))
          << "row " << row << " ran on the wrong thread";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ThreadsAndHeights, SupportBands,
                         ::testing::Values(BandCase{1, 10}, BandCase{2, 10},
                                           BandCase{3, 10}, BandCase{4, 7},
                                           BandCase{3, 100}, BandCase{8, 5},
                                           BandCase{5, 193}),
                         [](const ::testing::TestParamInfo<BandCase> &info) {
                           return std::to_string(info.param.threads) +
                                  "threads_" +
                                  std::to_string(info.param.windowHeight) +
                                  "rows";
                         });

TEST(SupportBands, EmptyWindowWritesNothing) {
  ProbeSession session(isolatedOptions(4));
  ofxhost::Instance &instance = session.createInstance();
  const OfxRectI bounds{0, 0, 4, 4};
  auto src = makeImage<ByteRGBA>(bounds);
  auto dst = makeImage<ByteRGBA>(bounds);
  dst->fillBytes(0x33);
  instance.setSource(src);
  instance.setOutput(dst);
  for (const OfxRectI &window : {OfxRectI{0, 2, 4, 2}, OfxRectI{0, 3, 4, 1}}) {
    ASSERT_EQ(instance.render({0.0, window}).status, kOfxStatOK);
    expectPixels<ByteRGBA>(
        *dst, bounds, [](int, int, int) { return 0x33; }, "empty window");
  }
}

// The image getters the library reads from the host's image properties.
TEST(SupportImage, ReportsRenderScaleAspectRatioAndPremultiplication) {
  ProbeSession session(isolatedOptions(1));
  ofxhost::Instance &instance = session.createInstance();
  const OfxRectI bounds{0, 0, 2, 2};
  auto src = makeImage<FloatRGBA>(bounds);
  src->renderScale = {0.5, 0.25};
  src->pixelAspectRatio = 2.0;
  src->premultiplication = kOfxImageUnPreMultiplied;
  auto dst = makeImage<FloatRGBA>(bounds);
  instance.setSource(src);
  instance.setOutput(dst);
  session.param(probe::kMode).setValue({double(probe::eModeInspect)});
  ASSERT_EQ(instance.render({0.0, bounds, {0.5, 0.25}}).status, kOfxStatOK);
  const float *pixel = dst->pixel<float>(1, 1);
  EXPECT_EQ(pixel[0], 0.5f);
  EXPECT_EQ(pixel[1], 0.25f);
  EXPECT_EQ(pixel[2], 2.0f);
  EXPECT_EQ(pixel[3], 2.0f); // OFX::eImageUnPreMultiplied
}

} // namespace
} // namespace probetest
