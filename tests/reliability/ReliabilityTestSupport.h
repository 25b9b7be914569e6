// Shared pieces of the reliability tests: both effect bundles behind the
// shared host, the shared list of pixel formats, images painted with a
// picture that gives both effects work to do, and byte comparisons that
// name the pixel and both values when they fail.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "GradientNames.h"
#include "OutlineNames.h"
#include "TestFormats.h"
#include "TestHost.h"
#include "ofxhost/Host.h"

namespace reliability {

using ofxhost::BitDepth;
using ofxhost::Components;

// ------------------------------------------------------------ effects

// The two effect bundles; tests run over both.
inline const std::vector<std::string> &effectBundles() {
  static const std::vector<std::string> bundles = {"Tintrow", "Rimlet"};
  return bundles;
}

inline std::string bundlePath(const std::string &bundle) {
  return ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, bundle);
}

using qfx_test::isolatedOptions;

// A host with one effect bundle loaded.
class EffectHost : public qfx_test::TestHost {
public:
  explicit EffectHost(const std::string &bundle,
                      ofxhost::HostOptions options = isolatedOptions())
      : TestHost(bundlePath(bundle), std::move(options)) {}
};

// ------------------------------------------------------------ formats

using qfx_test::allFormats;
using qfx_test::formatName;
using qfx_test::makeImage;
using qfx_test::PixelFormat;

// ------------------------------------------------------------ images

// Stores v (0 to 1 stands for the format's full range) in component c of
// pixel (x, y): the one place that knows how each depth holds a value.
inline void storeComponent(ofxhost::Image &image, int x, int y, int c,
                           double v) {
  void *pixel = image.pixelAddress(x, y);
  switch (image.depth()) {
  case BitDepth::Byte:
    static_cast<std::uint8_t *>(pixel)[c] =
        static_cast<std::uint8_t>(std::lround(v * 255.0));
    return;
  case BitDepth::Short:
    static_cast<std::uint16_t *>(pixel)[c] =
        static_cast<std::uint16_t>(std::lround(v * 65535.0));
    return;
  case BitDepth::Float:
    static_cast<float *>(pixel)[c] = static_cast<float>(v);
    return;
  default:
    return;
  }
}

// A picture both effects have work with: a soft-edged disc and a solid bar
// on a transparent ground, premultiplied colours that vary across it.
inline void paintPicture(ofxhost::Image &image, int seed = 0) {
  const OfxRectI b = image.bounds();
  const double w = image.width(), h = image.height();
  const int n = ofxhost::componentCount(image.components());
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      const double u = (x - b.x1 + 0.5) / w, v = (y - b.y1 + 0.5) / h;
      const double du = u - 0.35 - 0.05 * (seed % 3), dv = v - 0.5;
      const double disc = std::min(
          1.0, std::max(0.0, (0.3 - std::sqrt(du * du + dv * dv)) * 12.0));
      const double bar = (u > 0.7 && u < 0.8 && v > 0.2 && v < 0.8) ? 1.0 : 0.0;
      const double alpha = std::max(disc, bar);
      if (n == 1) {
        storeComponent(image, x, y, 0, alpha);
        continue;
      }
      // Images of the layouts no effect renders (RGB among them) are
      // painted too, as far as their pixels reach.
      const double rgba[4] = {alpha * u, alpha * v, alpha * 0.5, alpha};
      for (int c = 0; c < std::min(n, 4); ++c)
        storeComponent(image, x, y, c, rgba[c]);
    }
  }
}

// The value of component c of pixel (x, y), as text.
inline std::string componentText(const ofxhost::Image &image, int x, int y,
                                 int c) {
  const void *pixel = image.pixelAddress(x, y);
  std::ostringstream out;
  switch (image.depth()) {
  case BitDepth::Byte:
    out << int(static_cast<const std::uint8_t *>(pixel)[c]);
    break;
  case BitDepth::Short:
    out << static_cast<const std::uint16_t *>(pixel)[c];
    break;
  case BitDepth::Float:
    out << static_cast<const float *>(pixel)[c];
    break;
  default:
    out << "?";
  }
  return out.str();
}

// Empty when the two images (same size and format, possibly placed
// differently) hold the same bytes pixel for pixel, counted from their
// lower-left corners; otherwise the first pixel that differs, at its place
// in `actual`, with both values.
inline std::string firstDifference(const ofxhost::Image &actual,
                                   const ofxhost::Image &expected) {
  const OfxRectI a = actual.bounds(), e = expected.bounds();
  if (actual.width() != expected.width() ||
      actual.height() != expected.height())
    return "the images differ in size";
  const size_t pixelBytes = static_cast<size_t>(expected.pixelBytes());
  const int n = ofxhost::componentCount(expected.components());
  for (int dy = 0; dy < expected.height(); ++dy) {
    for (int dx = 0; dx < expected.width(); ++dx) {
      const int x = a.x1 + dx, y = a.y1 + dy;
      const int ex = e.x1 + dx, ey = e.y1 + dy;
      if (std::memcmp(actual.pixelAddress(x, y), expected.pixelAddress(ex, ey),
                      pixelBytes) == 0)
        continue;
      std::ostringstream out;
      out << formatName({expected.depth(), expected.components()}) << " pixel ("
          << x << ", " << y << "): got";
      for (int c = 0; c < n; ++c)
        out << " " << componentText(actual, x, y, c);
      out << ", expected";
      for (int c = 0; c < n; ++c)
        out << " " << componentText(expected, ex, ey, c);
      return out.str();
    }
  }
  return "";
}

// Empty when every byte of the image still holds `value`; otherwise the
// first pixel that does not.
inline std::string firstPixelNotFilledWith(const ofxhost::Image &image,
                                           unsigned char value) {
  const OfxRectI b = image.bounds();
  const size_t pixelBytes = static_cast<size_t>(image.pixelBytes());
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      const auto *p =
          static_cast<const unsigned char *>(image.pixelAddress(x, y));
      for (size_t i = 0; i < pixelBytes; ++i)
        if (p[i] != value)
          return formatName({image.depth(), image.components()}) + " pixel (" +
                 std::to_string(x) + ", " + std::to_string(y) + ") byte " +
                 std::to_string(i) + " is " + std::to_string(p[i]) +
                 ", expected untouched " + std::to_string(value);
    }
  return "";
}

using qfx_test::renderOf;

} // namespace reliability
