// The six pixel formats both effects and the probe plug-ins render, as
// GoogleTest types for typed suites and as values for parameterised ones,
// with names short enough for test names ("ByteRGBA", "FloatAlpha").
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "ofxhost/Host.h"

namespace qfx_test {

using ofxhost::BitDepth;
using ofxhost::Components;

// A format as a value: also formats no effect renders (half, RGB, none),
// which the tests hand over to see them refused.
struct PixelFormat {
  BitDepth depth;
  Components components;
};

inline bool operator==(const PixelFormat &a, const PixelFormat &b) {
  return a.depth == b.depth && a.components == b.components;
}
inline bool operator!=(const PixelFormat &a, const PixelFormat &b) {
  return !(a == b);
}

inline std::string formatName(const PixelFormat &f) {
  const char *depth = f.depth == BitDepth::Byte    ? "Byte"
                      : f.depth == BitDepth::Short ? "Short"
                      : f.depth == BitDepth::Float ? "Float"
                      : f.depth == BitDepth::Half  ? "Half"
                                                   : "NoDepth";
  const char *components = f.components == Components::RGBA    ? "RGBA"
                           : f.components == Components::Alpha ? "Alpha"
                           : f.components == Components::RGB   ? "RGB"
                                                               : "NoComponents";
  return std::string(depth) + components;
}

template <class P, int N, int M, BitDepth D> struct Format {
  using PIX = P;
  static constexpr int kComponents = N;
  static constexpr int kMax = M;
  static constexpr bool kIsFloat = std::is_floating_point_v<P>;
  static constexpr BitDepth kDepth = D;
  static constexpr Components kLayout =
      N == 4 ? Components::RGBA : Components::Alpha;

  static PixelFormat value() { return {kDepth, kLayout}; }
  static std::string name() { return formatName(value()); }

  // The component value for a fraction of full scale, as a test writes it.
  static P fromUnit(double unit) {
    return static_cast<P>(kIsFloat ? unit : unit * M);
  }
};

using ByteRGBA = Format<unsigned char, 4, 255, BitDepth::Byte>;
using ShortRGBA = Format<unsigned short, 4, 65535, BitDepth::Short>;
using FloatRGBA = Format<float, 4, 1, BitDepth::Float>;
using ByteAlpha = Format<unsigned char, 1, 255, BitDepth::Byte>;
using ShortAlpha = Format<unsigned short, 1, 65535, BitDepth::Short>;
using FloatAlpha = Format<float, 1, 1, BitDepth::Float>;

using AllFormats = ::testing::Types<ByteRGBA, ShortRGBA, FloatRGBA, ByteAlpha,
                                    ShortAlpha, FloatAlpha>;
using RgbaFormats = ::testing::Types<ByteRGBA, ShortRGBA, FloatRGBA>;
using IntegerRgbaFormats = ::testing::Types<ByteRGBA, ShortRGBA>;
using AlphaFormats = ::testing::Types<ByteAlpha, ShortAlpha, FloatAlpha>;

// Names typed tests by their format rather than by a number.
struct FormatNames {
  template <class F> static std::string GetName(int) { return F::name(); }
};

inline const std::vector<PixelFormat> &allFormats() {
  static const std::vector<PixelFormat> formats = {
      ByteRGBA::value(),  ShortRGBA::value(),  FloatRGBA::value(),
      ByteAlpha::value(), ShortAlpha::value(), FloatAlpha::value()};
  return formats;
}

// Formats outside the six: no effect has a processor that could write them.
inline const std::vector<PixelFormat> &unrenderedFormats() {
  static const std::vector<PixelFormat> formats = {
      {BitDepth::Byte, Components::RGB},  {BitDepth::Float, Components::RGB},
      {BitDepth::Half, Components::RGBA}, {BitDepth::Half, Components::Alpha},
      {BitDepth::None, Components::RGBA}, {BitDepth::Float, Components::None}};
  return formats;
}

inline ofxhost::ImagePtr makeImage(const OfxRectI &bounds, const PixelFormat &f,
                                   ofxhost::ImageLayout layout = {}) {
  return std::make_shared<ofxhost::Image>(bounds, f.depth, f.components,
                                          layout);
}

template <class F>
ofxhost::ImagePtr makeImage(const OfxRectI &bounds,
                            ofxhost::ImageLayout layout = {}) {
  return makeImage(bounds, F::value(), layout);
}

} // namespace qfx_test
