// The six pixel formats (the shared list of tests/common) under the names
// the outline tests use, and a small in-memory image that tests can feed to
// the field and the rules.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "TestFormats.h"
#include "ofxCore.h"

namespace rimlet_test {

using qfx_test::AllFormats;
using qfx_test::AlphaFormats;
using qfx_test::ByteAlpha;
using qfx_test::ByteRGBA;
using qfx_test::FloatAlpha;
using qfx_test::FloatRGBA;
using qfx_test::FormatNames;
using qfx_test::IntegerRgbaFormats;
using qfx_test::RgbaFormats;
using qfx_test::ShortAlpha;
using qfx_test::ShortRGBA;

// A source image held in a plain array: bounds in pixel coordinates,
// consecutive rows one step up in y. at() returns null outside the bounds,
// as an OpenFX image's pixel lookup does.
template <class F> class TestImage {
public:
  using PIX = typename F::PIX;

  explicit TestImage(OfxRectI bounds)
      : bounds_(bounds),
        pixels_(static_cast<std::size_t>(width()) * height() * F::kComponents,
                PIX(0)) {}

  int width() const { return bounds_.x2 - bounds_.x1; }
  int height() const { return bounds_.y2 - bounds_.y1; }
  const OfxRectI &bounds() const { return bounds_; }

  PIX *at(int x, int y) {
    if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2)
      return nullptr;
    const std::size_t index =
        (static_cast<std::size_t>(y - bounds_.y1) * width() +
         (x - bounds_.x1)) *
        F::kComponents;
    return &pixels_[index];
  }
  const PIX *at(int x, int y) const {
    return const_cast<TestImage *>(this)->at(x, y);
  }

  // Sets every component of a pixel; RGBA gets (r, g, b, a) in units of
  // full scale, alpha-only gets a.
  void set(int x, int y, double r, double g, double b, double a) {
    PIX *p = at(x, y);
    if (F::kComponents == 1) {
      p[0] = F::fromUnit(a);
      return;
    }
    p[0] = F::fromUnit(r);
    p[1] = F::fromUnit(g);
    p[2] = F::fromUnit(b);
    p[3] = F::fromUnit(a);
  }

  auto lookup() const {
    return [this](int x, int y) { return at(x, y); };
  }

private:
  OfxRectI bounds_;
  std::vector<PIX> pixels_;
};

// "(1, 2, 3, 4)" for failure messages.
template <class PIX> std::string describePixel(const PIX *p, int components) {
  std::ostringstream out;
  out << "(";
  for (int i = 0; i < components; ++i)
    out << (i ? ", " : "") << +p[i];
  out << ")";
  return out.str();
}

} // namespace rimlet_test
