#include "BenchPictures.h"

#include <algorithm>
#include <cmath>

namespace qfx_bench {
namespace {

// A small generator whose sequence is fixed by its definition, unlike the
// standard distributions, so the pictures are the same on every platform.
class SplitMix {
public:
  explicit SplitMix(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) {
    return static_cast<int>(next() % static_cast<std::uint64_t>(n));
  }
  double unit() { return (next() >> 11) * (1.0 / 9007199254740992.0); }

private:
  std::uint64_t state_;
};

struct Point {
  double x, y;
};

// A straight pen stroke with round ends, in pixels of the target size.
struct Stroke {
  Point a, b;
  double halfWidth;
};

double distanceToSegment(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double lengthSquared = dx * dx + dy * dy;
  double t = 0.0;
  if (lengthSquared > 0.0)
    t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared, 0.0,
                   1.0);
  const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

// Coverage of each pixel by the stroke, estimated from the distance of the
// pixel's centre to the pen's path: a one-pixel anti-aliased rim.
void drawStroke(const Stroke &s, const float colour[3], Picture &picture) {
  const double reach = s.halfWidth + 1.0;
  const int x1 =
      std::max(0, static_cast<int>(std::floor(std::min(s.a.x, s.b.x) - reach)));
  const int x2 =
      std::min(picture.width,
               static_cast<int>(std::ceil(std::max(s.a.x, s.b.x) + reach)));
  const int y1 =
      std::max(0, static_cast<int>(std::floor(std::min(s.a.y, s.b.y) - reach)));
  const int y2 =
      std::min(picture.height,
               static_cast<int>(std::ceil(std::max(s.a.y, s.b.y) + reach)));
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      const double d = distanceToSegment({x + 0.5, y + 0.5}, s.a, s.b);
      const float coverage =
          static_cast<float>(std::clamp(s.halfWidth + 0.5 - d, 0.0, 1.0));
      float *p =
          &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
      if (coverage <= p[3])
        continue;
      for (int c = 0; c < 3; ++c)
        p[c] = colour[c] * coverage;
      p[3] = coverage;
    }
  }
}

// Pen positions of a glyph on a 3x3 grid of its box: strokes join
// neighbouring grid points, orthogonally or diagonally, like a crude font.
void glyphStrokes(SplitMix &rng, double left, double baseline,
                  double glyphWidth, double glyphHeight, double halfWidth,
                  std::vector<Stroke> &out) {
  out.clear();
  const int strokes = 2 + rng.below(3);
  for (int i = 0; i < strokes; ++i) {
    const int gx = rng.below(3), gy = rng.below(3);
    int hx = gx, hy = gy;
    switch (rng.below(3)) {
    case 0:
      hx = gx == 2 ? 1 : gx + 1;
      break;
    case 1:
      hy = gy == 2 ? 1 : gy + 1;
      break;
    default:
      hx = gx == 2 ? 1 : gx + 1;
      hy = gy == 2 ? 1 : gy + 1;
      break;
    }
    const Point a{left + gx * glyphWidth / 2, baseline + gy * glyphHeight / 2};
    const Point b{left + hx * glyphWidth / 2, baseline + hy * glyphHeight / 2};
    out.push_back({a, b, halfWidth});
  }
}

} // namespace

double Picture::coveredFraction() const {
  std::size_t covered = 0;
  for (std::size_t i = 3; i < rgba.size(); i += 4)
    covered += rgba[i] > 0.0f ? 1 : 0;
  return rgba.empty() ? 0.0 : static_cast<double>(covered) / (rgba.size() / 4);
}

Picture makeTextPicture(int width, int height) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.rgba.assign(static_cast<std::size_t>(width) * height * 4, 0.0f);

  // The layout in pixels of a 1920x1080 frame, scaled to the target.
  const double scale = height / 1080.0;
  const double margin = 48 * scale;
  const double linePitch = 58 * scale;
  const double capHeight = 34 * scale;
  const double xHeight = 22 * scale;
  const double glyphWidth = 18 * scale;
  const double advance = 27 * scale;
  const double halfWidth = 4.4 * scale;

  SplitMix rng(20240611);
  std::vector<Stroke> strokes;
  for (double baseline = margin; baseline + capHeight < height - margin;
       baseline += linePitch) {
    double left = margin;
    while (true) {
      const int letters = 2 + rng.below(8);
      if (left + letters * advance > width - margin)
        break;
      const float colour[3] = {static_cast<float>(0.4 + 0.6 * rng.unit()),
                               static_cast<float>(0.4 + 0.6 * rng.unit()),
                               static_cast<float>(0.4 + 0.6 * rng.unit())};
      for (int i = 0; i < letters; ++i, left += advance) {
        const double glyphHeight = rng.below(4) == 0 ? capHeight : xHeight;
        glyphStrokes(rng, left, baseline, glyphWidth, glyphHeight, halfWidth,
                     strokes);
        for (const Stroke &s : strokes)
          drawStroke(s, colour, picture);
      }
      left += advance; // the space between words
    }
  }
  return picture;
}

namespace {

template <class PIX>
void convertInto(const Picture &picture, ofxhost::Image &image,
                 double maxValue) {
  for (int y = 0; y < picture.height; ++y) {
    PIX *out = image.pixel<PIX>(0, y);
    const float *in =
        &picture.rgba[static_cast<std::size_t>(y) * picture.width * 4];
    for (int i = 0; i < picture.width * 4; ++i) {
      if constexpr (std::is_floating_point_v<PIX>)
        out[i] = in[i];
      else
        out[i] = static_cast<PIX>(std::lround(in[i] * maxValue));
    }
  }
}

} // namespace

ofxhost::ImagePtr toHostImage(const Picture &picture, ofxhost::BitDepth depth) {
  auto image = std::make_shared<ofxhost::Image>(
      OfxRectI{0, 0, picture.width, picture.height}, depth,
      ofxhost::Components::RGBA);
  switch (depth) {
  case ofxhost::BitDepth::Byte:
    convertInto<unsigned char>(picture, *image, 255.0);
    break;
  case ofxhost::BitDepth::Short:
    convertInto<unsigned short>(picture, *image, 65535.0);
    break;
  default:
    convertInto<float>(picture, *image, 1.0);
    break;
  }
  return image;
}

} // namespace qfx_bench
