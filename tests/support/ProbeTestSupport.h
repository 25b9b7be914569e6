#ifndef PROBE_TEST_SUPPORT_H
#define PROBE_TEST_SUPPORT_H

// Shared helpers of the support library tests: they load the probe bundle
// into the headless host and drive it through the real C interface.

#include "ProbeNames.h"
#include "TestFormats.h"
#include "TestHost.h"
#include "ofxhost/Host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace probetest {

using ofxhost::BitDepth;
using ofxhost::Components;

inline std::string probeBundlePath() {
  return ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, "QfxTestPlugin");
}

using qfx_test::isolatedOptions;

// The shared host with the probe bundle loaded and, once createInstance
// ran, one instance of it.
class ProbeSession : public qfx_test::TestHost {
public:
  explicit ProbeSession(ofxhost::HostOptions options = isolatedOptions())
      : TestHost(probeBundlePath(), std::move(options)) {
    EXPECT_NE(plugin(), nullptr) << "probe bundle not loaded: " << error();
  }

  ofxhost::Instance &
  createInstance(const std::string &context = kOfxImageEffectContextFilter) {
    ofxhost::ActionResult result;
    instance = plugin() ? plugin()->createInstance(context, &result) : nullptr;
    if (!instance)
      throw std::runtime_error("probe instance not created: " + result.message);
    return *instance;
  }

  ofxhost::Param &param(const char *name) { return instance->param(name); }

  std::unique_ptr<ofxhost::Instance> instance;
};

// The six pixel formats the probe renders: the shared list.
using qfx_test::AllFormats;
using qfx_test::ByteAlpha;
using qfx_test::ByteRGBA;
using qfx_test::FloatAlpha;
using qfx_test::FloatRGBA;
using qfx_test::FormatNames;
using qfx_test::makeImage;
using qfx_test::ShortAlpha;
using qfx_test::ShortRGBA;

// A source value per pixel and channel that differs between neighbours,
// channels and rows, and covers the whole range of the format.
template <class F> typename F::PIX patternValue(int x, int y, int c) {
  const int step = ((x * 7 + y * 13 + c * 29) % 256 + 256) % 256;
  if (F::kMax == 1)
    return static_cast<typename F::PIX>(step / 255.0f);
  return static_cast<typename F::PIX>(step * (F::kMax / 255));
}

template <class F> void fillPattern(ofxhost::Image &image) {
  const OfxRectI b = image.bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x)
      for (int c = 0; c < F::kComponents; ++c)
        image.pixel<typename F::PIX>(x, y)[c] = patternValue<F>(x, y, c);
}

// What the probe's normal mode writes for one channel value.
template <class F>
typename F::PIX expectedNormal(typename F::PIX src, double gain, double tint) {
  const double value =
      (static_cast<double>(src) / F::kMax * gain + tint) * F::kMax;
  if (F::kMax == 1)
    return static_cast<typename F::PIX>(value);
  return static_cast<typename F::PIX>(
      std::lround(std::min<double>(std::max(value, 0.0), F::kMax)));
}

// Compares every channel of `actual` inside `window` with expected(x, y, c);
// reports the format, the pixel, the channel and both values, and stops
// after a few mismatches so one fault does not flood the log.
template <class F, class Expected>
void expectPixels(const ofxhost::Image &actual, OfxRectI window,
                  Expected expected, const std::string &what = "") {
  int failures = 0;
  for (int y = window.y1; y < window.y2 && failures < 5; ++y) {
    for (int x = window.x1; x < window.x2 && failures < 5; ++x) {
      const typename F::PIX *pixel = actual.pixel<typename F::PIX>(x, y);
      ASSERT_NE(pixel, nullptr)
          << F::name() << " pixel (" << x << ", " << y << ") outside the image";
      for (int c = 0; c < F::kComponents; ++c) {
        const double want = static_cast<double>(expected(x, y, c));
        const double got = static_cast<double>(pixel[c]);
        if (want == got)
          continue;
        ADD_FAILURE() << F::name() << " " << what << " pixel (" << x << ", "
                      << y << ") channel " << c << ": expected " << want
                      << ", got " << got;
        ++failures;
      }
    }
  }
}

// Compares two images channel by channel over `window`.
template <class F>
void expectSameImages(const ofxhost::Image &expected,
                      const ofxhost::Image &actual, OfxRectI window,
                      const std::string &what) {
  expectPixels<F>(
      actual, window,
      [&](int x, int y, int c) {
        return expected.pixel<typename F::PIX>(x, y)[c];
      },
      what);
}

inline std::string rectText(const OfxRectD &r) {
  std::ostringstream out;
  out << "(" << r.x1 << ", " << r.y1 << ", " << r.x2 << ", " << r.y2 << ")";
  return out.str();
}

inline void expectRect(const OfxRectD &expected, const OfxRectD &actual,
                       const std::string &what) {
  EXPECT_TRUE(expected.x1 == actual.x1 && expected.y1 == actual.y1 &&
              expected.x2 == actual.x2 && expected.y2 == actual.y2)
      << what << ": expected " << rectText(expected) << ", got "
      << rectText(actual);
}

} // namespace probetest

#endif // PROBE_TEST_SUPPORT_H
