// Deterministic input pictures for the benchmarks: lines of anti-aliased,
// text-like glyphs over a transparent background, covering about a fifth of
// the frame. The layout is defined at 1920x1080 and scaled, so a 3840x2160
// picture is the same picture at twice the resolution and the two sizes
// differ only in their pixel count.
#pragma once

#include <cstdint>
#include <vector>

#include "ofxhost/Host.h"

namespace qfx_bench {

// Premultiplied RGBA in [0, 1], row y at index y * width * 4.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<float> rgba;

  // Share of pixels with an alpha above zero.
  double coveredFraction() const;
};

Picture makeTextPicture(int width, int height);

// The picture in one host pixel format (RGBA), bounds (0, 0, width, height).
// Integer formats round to the nearest value.
ofxhost::ImagePtr toHostImage(const Picture &picture, ofxhost::BitDepth depth);

} // namespace qfx_bench
