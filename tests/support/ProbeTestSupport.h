#ifndef PROBE_TEST_SUPPORT_H
#define PROBE_TEST_SUPPORT_H

// Shared helpers of the support library tests: they load the probe bundle
// into the headless host and drive it through the real C interface.

#include "ProbeNames.h"
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

// A host that only sees what a test gives it.
inline ofxhost::HostOptions isolatedOptions(unsigned cpuCount = 1) {
  ofxhost::HostOptions options;
  options.cpuCount = cpuCount;
  options.searchDefaultPath = false;
  options.searchEnvironmentPath = false;
  return options;
}

// A host with the probe bundle loaded and, once createInstance ran, one
// filter instance of it.
struct ProbeSession {
  std::unique_ptr<ofxhost::Host> host;
  ofxhost::Plugin *plugin = nullptr;
  std::unique_ptr<ofxhost::Instance> instance;

  explicit ProbeSession(ofxhost::HostOptions options = isolatedOptions()) {
    host = std::make_unique<ofxhost::Host>(std::move(options));
    std::string error;
    host->addBundle(probeBundlePath(), &error);
    plugin = host->find(probe::kPluginId, &error);
    EXPECT_NE(plugin, nullptr) << "probe bundle not loaded: " << error;
  }

  ofxhost::Instance &createInstance(const std::string &context = kOfxImageEffectContextFilter) {
    ofxhost::ActionResult result;
    instance = plugin ? plugin->createInstance(context, &result) : nullptr;
    if (!instance)
      throw std::runtime_error("probe instance not created: " + result.message);
    return *instance;
  }

  ofxhost::Param &param(const char *name) { return instance->param(name); }
};

// The six pixel formats the probe renders.
template <class PIX, int N, int MAX, BitDepth DEPTH, Components COMPONENTS>
struct Format {
  using Pix = PIX;
  static constexpr int nComponents = N;
  static constexpr int maxValue = MAX;
  static constexpr BitDepth depth = DEPTH;
  static constexpr Components components = COMPONENTS;
};

using RGBAByte = Format<std::uint8_t, 4, 255, BitDepth::Byte, Components::RGBA>;
using RGBAShort = Format<std::uint16_t, 4, 65535, BitDepth::Short, Components::RGBA>;
using RGBAFloat = Format<float, 4, 1, BitDepth::Float, Components::RGBA>;
using AlphaByte = Format<std::uint8_t, 1, 255, BitDepth::Byte, Components::Alpha>;
using AlphaShort = Format<std::uint16_t, 1, 65535, BitDepth::Short, Components::Alpha>;
using AlphaFloat = Format<float, 1, 1, BitDepth::Float, Components::Alpha>;

using AllFormats =
    ::testing::Types<RGBAByte, RGBAShort, RGBAFloat, AlphaByte, AlphaShort, AlphaFloat>;

template <class F> std::string formatName() {
  return std::string(ofxhost::componentsName(F::components)) + "/" +
         ofxhost::bitDepthName(F::depth);
}

struct FormatNames {
  template <class F> static std::string GetName(int) {
    std::string name = formatName<F>();
    for (char &c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)))
        c = '_';
    return name;
  }
};

template <class F>
ofxhost::ImagePtr makeImage(OfxRectI bounds, ofxhost::ImageLayout layout = {}) {
  return std::make_shared<ofxhost::Image>(bounds, F::depth, F::components, layout);
}

// A source value per pixel and channel that differs between neighbours,
// channels and rows, and covers the whole range of the format.
template <class F> typename F::Pix patternValue(int x, int y, int c) {
  const int step = ((x * 7 + y * 13 + c * 29) % 256 + 256) % 256;
  if (F::maxValue == 1)
    return static_cast<typename F::Pix>(step / 255.0f);
  return static_cast<typename F::Pix>(step * (F::maxValue / 255));
}

template <class F> void fillPattern(ofxhost::Image &image) {
  const OfxRectI b = image.bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x)
      for (int c = 0; c < F::nComponents; ++c)
        image.pixel<typename F::Pix>(x, y)[c] = patternValue<F>(x, y, c);
}

// What the probe's normal mode writes for one channel value.
template <class F> typename F::Pix expectedNormal(typename F::Pix src, double gain, double tint) {
  const double value = (static_cast<double>(src) / F::maxValue * gain + tint) * F::maxValue;
  if (F::maxValue == 1)
    return static_cast<typename F::Pix>(value);
  return static_cast<typename F::Pix>(
      std::lround(std::min<double>(std::max(value, 0.0), F::maxValue)));
}

// Compares every channel of `actual` inside `window` with expected(x, y, c);
// reports the format, the pixel, the channel and both values, and stops
// after a few mismatches so one fault does not flood the log.
template <class F, class Expected>
void expectPixels(const ofxhost::Image &actual, OfxRectI window, Expected expected,
                  const std::string &what = "") {
  int failures = 0;
  for (int y = window.y1; y < window.y2 && failures < 5; ++y) {
    for (int x = window.x1; x < window.x2 && failures < 5; ++x) {
      const typename F::Pix *pixel = actual.pixel<typename F::Pix>(x, y);
      ASSERT_NE(pixel, nullptr) << formatName<F>() << " pixel (" << x << ", " << y
                                << ") outside the image";
      for (int c = 0; c < F::nComponents; ++c) {
        const double want = static_cast<double>(expected(x, y, c));
        const double got = static_cast<double>(pixel[c]);
        if (want == got)
          continue;
        ADD_FAILURE() << formatName<F>() << " " << what << " pixel (" << x << ", " << y
                      << ") channel " << c << ": expected " << want << ", got " << got;
        ++failures;
      }
    }
  }
}

// Compares two images channel by channel over `window`.
template <class F>
void expectSameImages(const ofxhost::Image &expected, const ofxhost::Image &actual,
                      OfxRectI window, const std::string &what) {
  expectPixels<F>(
      actual, window,
      [&](int x, int y, int c) { return expected.pixel<typename F::Pix>(x, y)[c]; }, what);
}

inline std::string rectText(const OfxRectD &r) {
  std::ostringstream out;
  out << "(" << r.x1 << ", " << r.y1 << ", " << r.x2 << ", " << r.y2 << ")";
  return out.str();
}

inline void expectRect(const OfxRectD &expected, const OfxRectD &actual, const std::string &what) {
  EXPECT_TRUE(expected.x1 == actual.x1 && expected.y1 == actual.y1 && expected.x2 == actual.x2 &&
              expected.y2 == actual.y2)
      << what << ": expected " << rectText(expected) << ", got " << rectText(actual);
}

} // namespace probetest

#endif // PROBE_TEST_SUPPORT_H
