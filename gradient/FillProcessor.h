// The pixel work of the gradient effect: every number it writes is computed
// here and nowhere else.
//
// On RGBA images a visible pixel's colour becomes a blend of a two-colour
// gradient and the pixel's own straight colour, weighted by the square root
// of its alpha, written premultiplied with the alpha kept. Transparent
// pixels pass through. Alpha-only images are copied. The gradient's geometry
// is laid out in fractions of the output image's bounds, so a render at any
// scale or over any tile produces the same picture.
//
// Speed without changing a bit of the result: the work that depends only on
// the column, only on the row or only on the alpha is done once per band,
// row or alpha value, with the same double operations in the same order as
// the per-pixel formula, so every stored value is exactly what the plain
// formula gives. Where an operation is skipped, it is because its result is
// known exactly (a product with zero of a finite, non-negative number).
#pragma once

#include "ofxsImageEffect.h"
#include "ofxsProcessing.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

namespace tintrow {

// Holds the inputs of one render. Every field is written by a setter before
// process() and only read while the bands run, so the bands share it
// without locks.
class FillProcessorBase : public OFX::ImageProcessor {
public:
  explicit FillProcessorBase(OFX::ImageEffect &effect)
      : OFX::ImageProcessor(effect) {}

  void setSrcImg(OFX::Image *image) { srcImg_ = image; }

  void setColors(double startR, double startG, double startB, double endR,
                 double endG, double endB) {
    startColorR_ = startR;
    startColorG_ = startG;
    startColorB_ = startB;
    endColorR_ = endR;
    endColorG_ = endG;
    endColorB_ = endB;
  }

  void setPositions(double startX, double startY, double endX, double endY) {
    startX_ = startX;
    startY_ = startY;
    endX_ = endX;
    endY_ = endY;
  }

  void setTypeIndex(int typeIndex) { typeIndex_ = typeIndex; }

  void setImageBounds(OfxRectI bounds) { imageBounds_ = bounds; }

  // Where pixel (x, y) lies along the gradient, from 0 (start colour) to 1
  // (end colour). Positions are fractions of the image's width and height,
  // measured from its lower-left corner; the pixel's integer coordinate is
  // used, not its centre.
  double computeGradientFactor(int x, int y, int width, int height) const {
    return gradientShape().factor(columnTerm(x, width), rowTerm(y, height));
  }

protected:
  // The factor's formula with the parts that depend on x alone and on y
  // alone taken apart, so a band computes each once per column and once per
  // row. Linear: t = ((nx - sx) dx + (ny - sy) dy) / (dx² + dy²), the
  // projection onto the start-end segment. Radial: t = the distance from the
  // start, sqrt((nx - sx)² + (ny - sy)²), over the start-end distance.
  struct GradientShape {
    bool radial = false;
    // Positions closer than 0.01 (linear: squared length at most 0.0001)
    // or 0.0001 (radial) count as equal: t = 0 everywhere, which also keeps
    // the division well away from zero.
    bool flat = true;
    double divisor = 1.0; // dx² + dy² (linear) or its root (radial)

    double factor(double columnTerm, double rowTerm) const {
      if (flat)
        return 0.0;
      return clampToUnit(radial ? std::sqrt(columnTerm + rowTerm) / divisor
                                : (columnTerm + rowTerm) / divisor);
    }

    // A NaN stays NaN, as it would through two "if"s.
    static double clampToUnit(double t) {
      t = t < 0.0 ? 0.0 : t;
      return t > 1.0 ? 1.0 : t;
    }
  };

  GradientShape gradientShape() const {
    const double dx = endX_ - startX_;
    const double dy = endY_ - startY_;
    GradientShape shape;
    shape.radial = typeIndex_ != 0;
    if (shape.radial) {
      shape.divisor = std::sqrt(dx * dx + dy * dy);
      shape.flat = !(shape.divisor > 0.0001);
    } else {
      shape.divisor = dx * dx + dy * dy;
      shape.flat = !(shape.divisor > 0.0001);
    }
    return shape;
  }

  // (nx - sx) dx for the linear gradient, (nx - sx)² for the radial one.
  double columnTerm(int x, int width) const {
    const double nx = static_cast<double>(x - imageBounds_.x1) / width;
    const double along = nx - startX_;
    return typeIndex_ == 0 ? along * (endX_ - startX_) : along * along;
  }

  // (ny - sy) dy for the linear gradient, (ny - sy)² for the radial one.
  double rowTerm(int y, int height) const {
    const double ny = static_cast<double>(y - imageBounds_.y1) / height;
    const double along = ny - startY_;
    return typeIndex_ == 0 ? along * (endY_ - startY_) : along * along;
  }

  OFX::Image *srcImg_ = nullptr;
  double startColorR_ = 1.0;
  double startColorG_ = 0.0;
  double startColorB_ = 0.0;
  double endColorR_ = 0.0;
  double endColorG_ = 0.0;
  double endColorB_ = 1.0;
  double startX_ = 0.0;
  double startY_ = 0.5;
  double endX_ = 1.0;
  double endY_ = 0.5;
  int typeIndex_ = 0;
  OfxRectI imageBounds_{0, 0, 0, 0};
};

// One instantiation per pixel format: PIX the component type, nComponents 4
// (red, green, blue, alpha) or 1 (alpha), maxValue the value meaning 1.0.
template <class PIX, int nComponents, int maxValue>
class FillProcessor : public FillProcessorBase {
  static_assert(nComponents == 4 || nComponents == 1,
                "the gradient effect handles RGBA and alpha-only pixels");
  static_assert(std::is_same_v<PIX, unsigned char> ||
                    std::is_same_v<PIX, unsigned short> ||
                    std::is_same_v<PIX, float>,
                "the gradient effect stores bytes, shorts or floats");

  static constexpr bool kIsFloat = std::is_floating_point_v<PIX>;

public:
  explicit FillProcessor(OFX::ImageEffect &effect) : FillProcessorBase(effect) {}

  void multiThreadProcessImages(OfxRectI procWindow) override {
    // A window reaching past the output image must not write past it: only
    // the part inside the image's bounds exists to be written.
    const OfxRectI rows = insideDestination(procWindow);
    if (rows.x1 >= rows.x2 || rows.y1 >= rows.y2)
      return;

    const Band band = prepareBand(rows);
    for (int y = rows.y1; y < rows.y2; ++y) {
      if (_effect.abort())
        return;
      PIX *dst = static_cast<PIX *>(_dstImg->getPixelAddress(rows.x1, y));
      if (!dst)
        continue;
      processRow(band, y, dst);
    }
  }

private:
  struct AlphaWeight;

  // What the blend of a pixel needs besides the pixel and its factor: the
  // gradient's colours along t, g = start + (end - start) t, and the alpha
  // table of the 8- and 16-bit formats.
  struct Ramp {
    GradientShape shape;
    double start[3] = {0.0, 0.0, 0.0};
    double span[3] = {0.0, 0.0, 0.0}; // end - start
    const AlphaWeight *alphaWeights = nullptr;

    double colour(int c, double t) const { return start[c] + span[c] * t; }
  };

  // What a band computes once: its columns, the source's bounds, and for
  // RGBA the column terms of the gradient factor and the colour ramp.
  struct Band {
    int x1 = 0;
    int x2 = 0;
    int height = 0;
    OfxRectI sourceBounds{0, 0, 0, 0};
    Ramp ramp;
    std::vector<double> columnTerms; // one per column, from x1
  };

  // The pixels of one row that have a source pixel: [x1, x2), the first at
  // `first`, the others following it. Empty when the row has none.
  struct SourceRun {
    const PIX *first = nullptr;
    int x1 = 0;
    int x2 = 0;
  };

  // For 8- and 16-bit pixels, a = A / maxValue and w = sqrt(a) of every
  // alpha value A, made once per process (on the heap: the 16-bit table is
  // 1 MB): all that the blend needs of the alpha, without a division or a
  // root per pixel.
  struct AlphaWeight {
    double a;
    double w;
  };

  static const AlphaWeight *alphaWeights() {
    static_assert(!kIsFloat, "float alphas are not tabulated");
    static const std::vector<AlphaWeight> table = [] {
      std::vector<AlphaWeight> weights(static_cast<std::size_t>(maxValue) + 1);
      for (int alpha = 0; alpha <= maxValue; ++alpha) {
        const double a = static_cast<double>(alpha) / maxValue;
        weights[alpha] = {a, std::sqrt(a)};
      }
      return weights;
    }();
    return table.data();
  }

  OfxRectI insideDestination(OfxRectI window) const {
    const OfxRectI bounds = _dstImg->getBounds();
    return OfxRectI{std::max(window.x1, bounds.x1), std::max(window.y1, bounds.y1),
                    std::min(window.x2, bounds.x2), std::min(window.y2, bounds.y2)};
  }

  Band prepareBand(OfxRectI rows) const {
    Band band;
    band.x1 = rows.x1;
    band.x2 = rows.x2;
    band.height = imageBounds_.y2 - imageBounds_.y1;
    if (srcImg_)
      band.sourceBounds = srcImg_->getBounds();
    if constexpr (nComponents == 4) {
      band.ramp.shape = gradientShape();
      const int width = imageBounds_.x2 - imageBounds_.x1;
      band.columnTerms.resize(static_cast<std::size_t>(rows.x2 - rows.x1));
      for (int x = rows.x1; x < rows.x2; ++x)
        band.columnTerms[x - rows.x1] = columnTerm(x, width);
      const double start[3] = {startColorR_, startColorG_, startColorB_};
      const double end[3] = {endColorR_, endColorG_, endColorB_};
      for (int c = 0; c < 3; ++c) {
        band.ramp.start[c] = start[c];
        band.ramp.span[c] = end[c] - start[c];
      }
      if constexpr (!kIsFloat)
        band.ramp.alphaWeights = alphaWeights();
    }
    return band;
  }

  // The source pixels of row y between the band's columns. Pixels of a row
  // follow each other, so one address lookup serves the whole run.
  SourceRun sourceRun(const Band &band, int y) const {
    SourceRun run{nullptr, band.x1, band.x1};
    const OfxRectI &b = band.sourceBounds;
    if (!srcImg_ || y < b.y1 || y >= b.y2)
      return run;
    const int x1 = std::max(band.x1, b.x1);
    const int x2 = std::min(band.x2, b.x2);
    if (x1 >= x2)
      return run;
    const PIX *first = static_cast<const PIX *>(srcImg_->getPixelAddress(x1, y));
    if (!first)
      return run;
    return SourceRun{first, x1, x2};
  }

  // Pixels without a source pixel are zero; the others are copied
  // (alpha-only) or blended.
  void processRow(const Band &band, int y, PIX *dst) const {
    const SourceRun run = sourceRun(band, y);
    PIX *const rowStart = dst;
    const auto at = [&](int x) { return rowStart + (x - band.x1) * nComponents; };
    std::fill(at(band.x1), at(run.x1), PIX(0));
    if (run.x1 < run.x2) {
      const int count = run.x2 - run.x1;
      if constexpr (nComponents == 1) {
        std::copy(run.first, run.first + count, at(run.x1));
      } else {
        const double rowTerm = this->rowTerm(y, band.height);
        const double *columnTerms = band.columnTerms.data() + (run.x1 - band.x1);
        blendRun(band.ramp, rowTerm, columnTerms, run.first, count, at(run.x1));
      }
    }
    std::fill(at(run.x2), at(band.x2), PIX(0));
  }

  // Every pixel of the run is copied in one go, which is the whole work
  // for those that pass through; the visible ones are then blended over
  // their copies. A pixel reads only its own source, so this holds even if
  // a host hands out one buffer as both source and output.
  //
  // The ramp is taken by value: a local copy that no pixel store can alias,
  // so its numbers stay in registers while 8-bit pixels are written.
  void blendRun(const Ramp ramp, double rowTerm, const double *columnTerms,
                const PIX *src, int count, PIX *dst) const {
    std::copy(src, src + count * 4, dst);
    int i = nextVisible(src, 0, count);
    while (i < count) {
      const double t = ramp.shape.factor(columnTerms[i], rowTerm);
      blendPixel(ramp, t, src + i * 4, dst + i * 4);
      ++i;
      if (i < count && !isVisible(src[i * 4 + 3]))
        i = nextVisible(src, i, count);
    }
  }

  // The first visible pixel from i on, or count. Blocks of pixels that all
  // pass through are stepped over with one test each.
  static int nextVisible(const PIX *src, int i, int count) {
    constexpr int kBlock = 8;
    for (; i + kBlock <= count; i += kBlock) {
      bool anyVisible = false;
      for (int k = 0; k < kBlock; ++k)
        anyVisible |= isVisible(src[(i + k) * 4 + 3]);
      if (anyVisible)
        break;
    }
    while (i < count && !isVisible(src[i * 4 + 3]))
      ++i;
    return i;
  }

  // Written as "greater than" so that a float NaN alpha counts as not
  // visible and passes through untouched, like any alpha at or below 0.
  static bool isVisible(PIX alpha) { return alpha > PIX(0); }

  // m = g w + s (1 - w) per colour channel, g the gradient colour at t,
  // s the source's straight colour, w = sqrt(a); stored as m a maxValue.
  static void blendPixel(const Ramp &ramp, double t, const PIX *src, PIX *dst) {
    const PIX alpha = src[3];
    if constexpr (!kIsFloat) {
      if (alpha == maxValue) {
        writeOpaque(ramp, t, dst);
        return;
      }
    }
    double a, w;
    if constexpr (kIsFloat) {
      a = static_cast<double>(alpha) / maxValue;
      w = std::sqrt(a);
    } else {
      const AlphaWeight &weight = ramp.alphaWeights[alpha];
      a = weight.a;
      w = weight.w;
    }
    // Below this alpha the source colour cannot be unpremultiplied
    // reliably; such a pixel blends with black instead.
    const bool ownColourCounts = a > 0.001;
    for (int c = 0; c < 3; ++c) {
      const double gradient = ramp.colour(c, t);
      const double straight =
          ownColourCounts ? (static_cast<double>(src[c]) / maxValue) / a : 0.0;
      const double mixed = gradient * w + straight * (1.0 - w);
      dst[c] = store((mixed * a) * maxValue);
    }
    dst[3] = alpha;
  }

  // The blend of an opaque 8- or 16-bit pixel, where a = w = 1 exactly and
  // the straight colour, finite and not negative, times 1 - w = 0 is +0:
  // m a maxValue is g maxValue. (Adding that +0 would only turn a -0 into
  // +0, and both store as 0.) No division and no source colour needed. The
  // alpha, kept, is already in place from the run's copy.
  static void writeOpaque(const Ramp &ramp, double t, PIX *dst) {
    for (int c = 0; c < 3; ++c)
      dst[c] = store(ramp.colour(c, t) * maxValue);
  }

  // Integers truncate toward zero after clamping to [0, maxValue]: colours
  // outside 0..1 are allowed by the parameters, and converting an
  // out-of-range (or NaN) double to an integer type is undefined. Floats
  // keep the nearest single-precision value, unclamped.
  static PIX store(double value) {
    if constexpr (kIsFloat) {
      return static_cast<PIX>(value);
    } else {
      if (!(value > 0.0))
        return PIX(0);
      if (value >= static_cast<double>(maxValue))
        return static_cast<PIX>(maxValue);
      return static_cast<PIX>(value);
    }
  }
};

} // namespace tintrow
