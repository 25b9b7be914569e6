// The pixel work of the gradient effect: every number it writes is computed
// here and in FillRows.cpp (the blend of a row's pixels, in vector lanes),
// nowhere else.
//
// On RGBA images a visible pixel's colour becomes a blend of a two-colour
// gradient and the pixel's own straight colour, weighted by the square root
// of its alpha, written premultiplied with the alpha kept. Transparent
// pixels pass through. Alpha-only images are copied. The gradient's geometry
// is laid out in fractions of the output image's bounds, so a render at any
// scale or over any tile produces the same picture.
//
// The blend of a pixel with alpha A (visible when A > 0; a NaN float alpha
// is not), a = A / maxValue, w = sqrt(a), at gradient factor t: per colour
// channel g = start + (end - start) t, s = (C / maxValue) / a where
// a > 0.001 (below, the colour cannot be unpremultiplied reliably and s is
// 0), m = g w + s (1 - w), stored as (m a) maxValue. Integers are clamped
// to [0, maxValue] (a NaN to 0) and truncated: colours outside 0..1 are
// allowed by the parameters. Floats keep the nearest single-precision value,
// unclamped.
//
// Speed without changing a bit of the result: the work that depends only on
// the column or only on the row is done once per band or row, with the same
// double operations in the same order as the per-pixel formula, and the
// pixels of a row are blended several at a time in vector lanes, which
// round exactly as scalar code does.
#pragma once

#include "FillRows.h"
#include "ofxsImageEffect.h"
#include "ofxsProcessing.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <type_traits>
#include <vector>

namespace tintrow {

// Holds the inputs of one render. Every field is written by a setter before
// process() and only read while the bands run, so the bands share it
// without locks.
class FillProcessorBase : public OFX::ImageProcessor {
public:
  explicit FillProcessorBase(OFX::ImageEffect &effect)
      : OFX::ImageProcessor(effect) {
    // Transparent rows cost little and text-like rows much, so equal
    // halves of a picture rarely take equal time: the threads share the
    // rows in short runs instead.
    setRowsPerClaim(kRowsPerClaim);
  }

  static constexpr int kRowsPerClaim = 16;

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
  // The blenders know the value meaning 1.0 from the component type.
  static_assert(maxValue == (std::is_same_v<PIX, unsigned char>    ? 255
                             : std::is_same_v<PIX, unsigned short> ? 65535
                                                                   : 1),
                "8-bit, 16-bit and float components mean 1.0 at 255, 65535, 1");

public:
  explicit FillProcessor(OFX::ImageEffect &effect)
      : FillProcessorBase(effect) {}

  // The columns are the same for every run of rows, so their terms are
  // computed once per render.
  void preProcess() override {
    const OfxRectI window = insideDestination(_renderWindow);
    if (window.x1 < window.x2)
      prepared_ = prepareBand(window);
  }

  void multiThreadProcessImages(OfxRectI procWindow) override {
    // A window reaching past the output image must not write past it: only
    // the part inside the image's bounds exists to be written.
    const OfxRectI rows = insideDestination(procWindow);
    if (rows.x1 >= rows.x2 || rows.y1 >= rows.y2)
      return;

    std::optional<Band> own;
    if (!prepared_ || prepared_->x1 != rows.x1 || prepared_->x2 != rows.x2)
      own = prepareBand(rows);
    const Band &band = own ? *own : *prepared_;
    for (int y = rows.y1; y < rows.y2; ++y) {
      if (abortRequested())
        return;
      PIX *dst = static_cast<PIX *>(_dstImg->getPixelAddress(rows.x1, y));
      if (!dst)
        continue;
      processRow(band, y, dst);
    }
  }

private:
  // What a band computes once: its columns, the source's bounds, and for
  // RGBA the column terms of the gradient factor, the blend's constants and
  // the blender of the vector path in use.
  struct Band {
    int x1 = 0;
    int x2 = 0;
    int height = 0;
    OfxRectI sourceBounds{0, 0, 0, 0};
    FillRowBlend blend;
    FillRowBlender<PIX> *blender = nullptr;
    std::vector<double> columnTerms; // one per column, from x1
  };

  std::optional<Band> prepared_;

  // The pixels of one row that have a source pixel: [x1, x2), the first at
  // `first`, the others following it. Empty when the row has none.
  struct SourceRun {
    const PIX *first = nullptr;
    int x1 = 0;
    int x2 = 0;
  };

  OfxRectI insideDestination(OfxRectI window) const {
    const OfxRectI bounds = _dstImg->getBounds();
    return OfxRectI{
        std::max(window.x1, bounds.x1), std::max(window.y1, bounds.y1),
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
      const GradientShape shape = gradientShape();
      band.blend.radial = shape.radial;
      band.blend.flat = shape.flat;
      band.blend.divisor = shape.divisor;
      const int width = imageBounds_.x2 - imageBounds_.x1;
      band.columnTerms.resize(static_cast<std::size_t>(rows.x2 - rows.x1));
      for (int x = rows.x1; x < rows.x2; ++x)
        band.columnTerms[x - rows.x1] = columnTerm(x, width);
      const double start[3] = {startColorR_, startColorG_, startColorB_};
      const double end[3] = {endColorR_, endColorG_, endColorB_};
      for (int c = 0; c < 3; ++c) {
        band.blend.start[c] = start[c];
        band.blend.span[c] = end[c] - start[c];
      }
      band.blender = fillRowBlender<PIX>();
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
    const PIX *first =
        static_cast<const PIX *>(srcImg_->getPixelAddress(x1, y));
    if (!first)
      return run;
    return SourceRun{first, x1, x2};
  }

  // Pixels without a source pixel are zero; the others are copied
  // (alpha-only) or blended. The blender reads a pixel before it writes
  // it, so this holds even if a host hands out one buffer as both source
  // and output.
  void processRow(const Band &band, int y, PIX *dst) const {
    const SourceRun run = sourceRun(band, y);
    PIX *const rowStart = dst;
    const auto at = [&](int x) {
      return rowStart + (x - band.x1) * nComponents;
    };
    std::fill(at(band.x1), at(run.x1), PIX(0));
    if (run.x1 < run.x2) {
      const int count = run.x2 - run.x1;
      if constexpr (nComponents == 1) {
        std::copy(run.first, run.first + count, at(run.x1));
      } else {
        FillRowBlend blend = band.blend;
        blend.rowTerm = this->rowTerm(y, band.height);
        const double *columnTerms =
            band.columnTerms.data() + (run.x1 - band.x1);
        band.blender(blend, columnTerms, run.first, count, at(run.x1));
      }
    }
    std::fill(at(run.x2), at(band.x2), PIX(0));
  }
};

} // namespace tintrow
