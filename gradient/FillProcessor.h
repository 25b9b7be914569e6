// The pixel work of the gradient effect: every number it writes is computed
// here and nowhere else.
//
// On RGBA images a visible pixel's colour becomes a blend of a two-colour
// gradient and the pixel's own straight colour, weighted by the square root
// of its alpha, written premultiplied with the alpha kept. Transparent
// pixels pass through. Alpha-only images are copied. The gradient's geometry
// is laid out in fractions of the output image's bounds, so a render at any
// scale or over any tile produces the same picture.
#pragma once

#include "ofxsImageEffect.h"
#include "ofxsProcessing.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

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
    const double nx = static_cast<double>(x - imageBounds_.x1) / width;
    const double ny = static_cast<double>(y - imageBounds_.y1) / height;
    const double dx = endX_ - startX_;
    const double dy = endY_ - startY_;

    double t = 0.0;
    if (typeIndex_ == 0) {
      // Projection onto the start-end segment. Positions closer than 0.01
      // count as equal, which keeps the division well away from zero.
      const double lengthSquared = dx * dx + dy * dy;
      if (lengthSquared > 0.0001)
        t = ((nx - startX_) * dx + (ny - startY_) * dy) / lengthSquared;
    } else {
      // Distance from the start, in units of the start-end distance.
      const double distance = std::sqrt((nx - startX_) * (nx - startX_) +
                                        (ny - startY_) * (ny - startY_));
      const double radius = std::sqrt(dx * dx + dy * dy);
      if (radius > 0.0001)
        t = distance / radius;
    }
    if (t < 0.0)
      t = 0.0;
    if (t > 1.0)
      t = 1.0;
    return t;
  }

protected:
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

public:
  explicit FillProcessor(OFX::ImageEffect &effect) : FillProcessorBase(effect) {}

  void multiThreadProcessImages(OfxRectI procWindow) override {
    const int width = imageBounds_.x2 - imageBounds_.x1;
    const int height = imageBounds_.y2 - imageBounds_.y1;

    // A window reaching past the output image must not write past it: only
    // the part inside the image's bounds exists to be written.
    const OfxRectI rows = insideDestination(procWindow);
    if (rows.x1 >= rows.x2 || rows.y1 >= rows.y2)
      return;

    for (int y = rows.y1; y < rows.y2; ++y) {
      if (_effect.abort())
        return;
      PIX *dst = static_cast<PIX *>(_dstImg->getPixelAddress(rows.x1, y));
      if (!dst)
        continue;
      for (int x = rows.x1; x < rows.x2; ++x, dst += nComponents)
        processPixel(x, y, width, height, dst);
    }
  }

private:
  OfxRectI insideDestination(OfxRectI window) const {
    const OfxRectI bounds = _dstImg->getBounds();
    return OfxRectI{std::max(window.x1, bounds.x1), std::max(window.y1, bounds.y1),
                    std::min(window.x2, bounds.x2), std::min(window.y2, bounds.y2)};
  }

  void processPixel(int x, int y, int width, int height, PIX *dst) const {
    const PIX *src = srcImg_
                         ? static_cast<const PIX *>(srcImg_->getPixelAddress(x, y))
                         : nullptr;
    if (!src) {
      std::fill(dst, dst + nComponents, PIX(0));
      return;
    }
    if constexpr (nComponents == 1) {
      dst[0] = src[0];
    } else {
      blendPixel(x, y, width, height, src, dst);
    }
  }

  void blendPixel(int x, int y, int width, int height, const PIX *src,
                  PIX *dst) const {
    const PIX alpha = src[3];
    // Written as "not greater than" so that a float NaN alpha also passes
    // through untouched.
    if (!(alpha > PIX(0))) {
      std::copy(src, src + 4, dst);
      return;
    }

    const double t = computeGradientFactor(x, y, width, height);
    const double gradient[3] = {startColorR_ + (endColorR_ - startColorR_) * t,
                                startColorG_ + (endColorG_ - startColorG_) * t,
                                startColorB_ + (endColorB_ - startColorB_) * t};

    const double a = static_cast<double>(alpha) / maxValue;
    const double w = std::sqrt(a);
    // Below this alpha the source colour cannot be unpremultiplied reliably;
    // such a pixel blends with black instead.
    const bool ownColourCounts = a > 0.001;

    for (int c = 0; c < 3; ++c) {
      const double straight =
          ownColourCounts ? (static_cast<double>(src[c]) / maxValue) / a : 0.0;
      const double mixed = gradient[c] * w + straight * (1.0 - w);
      dst[c] = store((mixed * a) * maxValue);
    }
    dst[3] = alpha;
  }

  // Integers truncate toward zero after clamping to [0, maxValue]: colours
  // outside 0..1 are allowed by the parameters, and converting an
  // out-of-range (or NaN) double to an integer type is undefined. Floats
  // keep the nearest single-precision value, unclamped.
  static PIX store(double value) {
    if constexpr (std::is_floating_point_v<PIX>) {
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
