// Shared pieces of the gradient effect's tests: the shared formats and host
// (tests/common) with the Tintrow bundle loaded, image helpers, and a plain
// reference of the effect's per-pixel formula written from its description, so
// the tests never ask the plug-in's own code what the answer should be.
#pragma once

#include <gtest/gtest.h>

#include "GradientNames.h"
#include "TestFormats.h"
#include "TestHost.h"
#include "ofxhost/Host.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>

namespace gradient_test {

using ofxhost::BitDepth;
using ofxhost::Components;
using qfx_test::AllFormats;
using qfx_test::ByteAlpha;
using qfx_test::ByteRGBA;
using qfx_test::FloatAlpha;
using qfx_test::FloatRGBA;
using qfx_test::FormatNames;
using qfx_test::makeImage;
using qfx_test::renderOf;
using qfx_test::ShortAlpha;
using qfx_test::ShortRGBA;
using RGBAFormats = qfx_test::RgbaFormats;
namespace names = tintrow::names;

// ------------------------------------------------------------ settings

// The effect's parameters as the tests set them; defaults are the
// effect's declared defaults.
struct GradientSettings {
  std::array<double, 4> startColor{1.0, 0.0, 0.0, 1.0};
  std::array<double, 4> endColor{0.0, 0.0, 1.0, 1.0};
  std::array<double, 2> startPosition{0.0, 0.5};
  std::array<double, 2> endPosition{1.0, 0.5};
  int type = 0; // 0 linear, 1 radial
};

// ------------------------------------------------------------ reference

// Gradient factor of pixel (x, y) of an image with the given bounds.
inline double referenceFactor(const GradientSettings &s, int x, int y,
                              const OfxRectI &bounds) {
  const int width = bounds.x2 - bounds.x1;
  const int height = bounds.y2 - bounds.y1;
  const double nx = double(x - bounds.x1) / width;
  const double ny = double(y - bounds.y1) / height;
  const double sx = s.startPosition[0], sy = s.startPosition[1];
  const double dx = s.endPosition[0] - sx, dy = s.endPosition[1] - sy;
  double t;
  if (s.type == 0) {
    const double l2 = dx * dx + dy * dy;
    t = l2 > 0.0001 ? ((nx - sx) * dx + (ny - sy) * dy) / l2 : 0.0;
  } else {
    const double d = std::sqrt((nx - sx) * (nx - sx) + (ny - sy) * (ny - sy));
    const double r = std::sqrt(dx * dx + dy * dy);
    t = r > 0.0001 ? d / r : 0.0;
  }
  return std::min(std::max(t, 0.0), 1.0);
}

template <class F> typename F::PIX referenceStore(double v) {
  using Pix = typename F::PIX;
  if constexpr (F::kIsFloat) {
    return static_cast<Pix>(v);
  } else {
    if (std::isnan(v) || v <= 0.0)
      return 0;
    if (v >= F::kMax)
      return static_cast<Pix>(F::kMax);
    return static_cast<Pix>(std::trunc(v));
  }
}

// The expected output pixel for source pixel src (nullptr: no source).
template <class F>
std::array<typename F::PIX, F::kComponents>
referencePixel(const GradientSettings &s, int x, int y, const OfxRectI &bounds,
               const typename F::PIX *src) {
  using Pix = typename F::PIX;
  std::array<Pix, F::kComponents> out{};
  if (!src)
    return out;
  if constexpr (F::kComponents == 1) {
    out[0] = src[0];
    return out;
  } else {
    const Pix alpha = src[3];
    const bool visible = F::kIsFloat ? (alpha > 0) : (alpha != 0);
    if (!visible) {
      for (int c = 0; c < 4; ++c)
        out[c] = src[c];
      return out;
    }
    const double t = referenceFactor(s, x, y, bounds);
    const double a = double(alpha) / F::kMax;
    const double w = std::sqrt(a);
    for (int c = 0; c < 3; ++c) {
      const double g = s.startColor[c] + (s.endColor[c] - s.startColor[c]) * t;
      const double straight = a > 0.001 ? (double(src[c]) / F::kMax) / a : 0.0;
      const double m = g * w + straight * (1.0 - w);
      out[c] = referenceStore<F>((m * a) * F::kMax);
    }
    out[3] = alpha;
    return out;
  }
}

// ------------------------------------------------------------ images

// Fills each pixel with fill(x, y, channels); channels are F::PIX values.
template <class F>
void fillImage(ofxhost::Image &image,
               const std::function<void(int, int, typename F::PIX *)> &fill) {
  const OfxRectI b = image.bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x)
      fill(x, y, image.pixel<typename F::PIX>(x, y));
}

// Fills with one normalised colour (1.0 = kMax); alpha-only images take
// the alpha.
template <class F>
void fillConstant(ofxhost::Image &image, std::array<double, 4> value) {
  fillImage<F>(image, [&](int, int, typename F::PIX *p) {
    for (int c = 0; c < F::kComponents; ++c)
      p[c] = static_cast<typename F::PIX>(
          (F::kComponents == 1 ? value[3] : value[c]) * F::kMax);
  });
}

// Premultiplied random pixels, except that about one in eight is fully
// transparent with a colour left in it (which must pass through as it is),
// and a few have tiny alphas so the low-alpha rules are exercised too.
template <class F> void fillRandom(ofxhost::Image &image, unsigned seed) {
  using Pix = typename F::PIX;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  fillImage<F>(image, [&](int, int, Pix *p) {
    const double pick = unit(rng);
    double a = unit(rng);
    if (pick < 0.125)
      a = 0.0;
    else if (pick < 0.2)
      a = unit(rng) * 0.002;
    const Pix alpha = F::kIsFloat ? Pix(a) : Pix(a * F::kMax);
    if (F::kComponents == 1) {
      p[0] = alpha;
      return;
    }
    const double colourScale = a == 0.0 ? F::kMax : double(alpha);
    for (int c = 0; c < 3; ++c)
      p[c] = Pix(unit(rng) * colourScale);
    p[3] = alpha;
  });
}

inline std::string pixelText(const char *what, int x, int y) {
  std::ostringstream os;
  os << what << " pixel (" << x << ", " << y << ")";
  return os.str();
}

template <class Pix> std::string channelsText(const Pix *p, int n) {
  std::ostringstream os;
  os << "(";
  for (int c = 0; c < n; ++c)
    os << (c ? ", " : "") << +p[c];
  os << ")";
  return os.str();
}

// Compares one output pixel with what it should hold, bit for bit (a NaN
// equals a NaN); the message names the format, the pixel and both values.
template <class F>
::testing::AssertionResult pixelEquals(const ofxhost::Image &image, int x,
                                       int y, const typename F::PIX *expected) {
  const auto *actual = image.pixel<typename F::PIX>(x, y);
  if (!actual)
    return ::testing::AssertionFailure()
           << F::name() << ": pixel (" << x << ", " << y << ") outside image";
  if (std::memcmp(actual, expected, sizeof(typename F::PIX) * F::kComponents) ==
      0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << F::name() << " pixel (" << x << ", " << y << "): expected "
         << channelsText(expected, F::kComponents) << ", got "
         << channelsText(actual, F::kComponents);
}

// ------------------------------------------------------------ host

inline std::string tintrowBundle() {
  return ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, "Tintrow");
}

// A host with the gradient module loaded and its one plug-in at hand.
class GradientHost : public qfx_test::TestHost {
public:
  explicit GradientHost(unsigned cpuCount = 1)
      : TestHost(tintrowBundle(), qfx_test::isolatedOptions(cpuCount)) {}
};

inline void applySettings(ofxhost::Instance &instance,
                          const GradientSettings &s) {
  instance.param(names::kStartColor)
      .setValue(
          {s.startColor[0], s.startColor[1], s.startColor[2], s.startColor[3]});
  instance.param(names::kEndColor)
      .setValue({s.endColor[0], s.endColor[1], s.endColor[2], s.endColor[3]});
  instance.param(names::kStartPosition)
      .setValue({s.startPosition[0], s.startPosition[1]});
  instance.param(names::kEndPosition)
      .setValue({s.endPosition[0], s.endPosition[1]});
  instance.param(names::kGradientType).setValue({double(s.type)});
}

} // namespace gradient_test
