// How one field value, the outline width, the source pixel and the outline
// colour become one output pixel. The outline is drawn first and the source
// is laid over it, so the source stays visible inside its outline.
//
// Everything here is per pixel: no allocation, no host call, and the only
// tables read are the alpha and falloff tables handed in. All blending is
// in double precision; the field value and the width arrive in single
// precision and the thresholds on them are formed in single precision.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "OutlineField.h"
#include "OutlinePixelFormat.h"

namespace rimlet {

enum class OutlineQuality { Draft, Good, Best };

// The numbers the rules are made of. The processor decides most pixels
// without running the rules, from these same names, so that the two can
// never drift apart.
namespace rule {
// Good and Best draw only for field values in [kWindowDepth, w +
// kWindowBeyondWidth]; a covered pixel outside that window is the source.
inline constexpr float kWindowDepth = -3.0f;
inline constexpr float kWindowBeyondWidth = 1.0f;
// Draft's and Good's edge: full coverage up to w - kEdgeWidth, then linear.
inline constexpr float kEdgeWidth = 1.0f;
// A coverage, or a blended alpha, at or below this shows nothing.
inline constexpr double kVisibleAlpha = 0.001;
// Good copies a covered source pixel more opaque than this.
inline constexpr double kOpaqueEnough = 0.98;
// Best: solid up to w - kBestSolidBeforeWidth, and always at or below
// kBestSolidDepth; the falloff table is read in steps of 1/kFalloffSteps.
inline constexpr float kBestSolidBeforeWidth = 0.5f;
inline constexpr float kBestSolidDepth = -2.5f;
inline constexpr float kFalloffSteps = 10.0f;
// Best's faint ring beyond thin outlines reaches up to this field value.
inline constexpr float kFaintRingReach = 3.0f;
inline constexpr double kFaintRingCoverage = 0.5;
// Best's weight of a source pixel over the outline outside its shape.
inline constexpr double kEdgeSourceWeight = 0.85;
} // namespace rule

// Best's coverage beyond the solid part of the outline, in tenths of a
// pixel: full for half a pixel, then falling to nothing one pixel later.
using FalloffTable = std::array<float, 201>;

inline FalloffTable makeFalloffTable() {
  FalloffTable table{};
  for (int i = 0; i < static_cast<int>(table.size()); ++i) {
    const float a = static_cast<float>(i) * 0.1f;
    if (a <= 0.5f) {
      table[i] = 1.0f;
    } else if (a >= 1.5f) {
      table[i] = 0.0f;
    } else {
      const float remaining = 1.0f - (a - 0.5f);
      table[i] = remaining * remaining;
    }
  }
  return table;
}

// Best's bound on the cells of a block whose mean is at or below
// meanSettled, or NaN when it does not hold.
//
// The four cells of a block are neighbours, so in the whole field they lie
// within a diagonal step of each other: a cell's value is the least, over
// the seeds, of the seed plus the chamfer length of the shortest path from
// it, and a path to one cell is a path to its neighbour one step longer.
// The sweeps reach the shortest of those paths (one that goes straight,
// its steps reordered so the forward sweep's come first) as long as no
// cell is left alone for lying at or below the skip threshold, which no
// seed above it lets happen. Rounding moves a path's value by at most half
// an ulp a step; the paths that matter are short, and `slack` covers what
// they lose, where it can (else NaN). So a block whose mean is at most
// meanSettled has its lowest cell at most about that, and every cell at
// most a diagonal step and the slack above. A partial or skipping build
// that is exact up to the returned value then gives the same mean
// wherever either field's mean is at or below meanSettled: the lowest cell
// of such a block is exact, hence so are all four.
inline double settledBlockCell(float meanSettled, float lowestSeed) {
  if (!(lowestSeed > kSkipThreshold))
    return std::nan("");
  constexpr double kSlack = 0.125;
  const double bound = double(meanSettled) + double(kDiagonalStep) + kSlack;
  // Largest magnitude a value on such a path takes, and how many steps
  // such a path has at most (each rising by at least half a step).
  const double magnitude =
      std::max(std::fabs(bound), std::fabs(double(lowestSeed))) + 2.0;
  const double steps = 2.0 * (bound - double(lowestSeed)) + 2.0;
  // Two paths' rounding (the cell's and its neighbour's) and the mean's
  // three additions.
  const double rounding = (2.0 * steps + 3.0 * 4.0) * magnitude * 0x1p-24;
  if (!(rounding <= kSlack))
    return std::nan("");
  return bound;
}

// The field value above which a pixel no longer depends on the exact value:
// any larger value gives the pixel the far value gives (cleared, or the
// source copied). A field built over part of the destination only has to
// be exact up to it. NaN when there is no such value (a width that is not
// a number); lowestSeed is a lower bound of every seed.
inline double settledFieldValue(OutlineQuality quality, float w,
                                float lowestSeed) {
  if (!std::isfinite(w) || !std::isfinite(lowestSeed))
    return std::nan("");
  switch (quality) {
  case OutlineQuality::Draft:
    // Beyond w Draft clears the pixel.
    return w;
  case OutlineQuality::Good:
    // Beyond both 0 and w the coverage is 0: the source is copied or the
    // pixel cleared.
    return std::max(w, 0.0f);
  case OutlineQuality::Best:
    break;
  }
  // Best reads the mean of a 2x2 block. Beyond w + 1 and beyond the
  // half-strength ring's 3 the mean gives the far value's pixel.
  const float meanSettled =
      std::max(w + rule::kWindowBeyondWidth, rule::kFaintRingReach);
  const double tight = settledBlockCell(meanSettled, lowestSeed);
  if (!std::isnan(tight))
    return tight;
  // Otherwise one cell of a block above the returned value keeps the mean
  // beyond that however low the other three are (no lower than
  // lowestSeed). The bound is checked in single precision as the mean is
  // formed, for the big cell in each of the four places, so that rounding
  // cannot undo it.
  const auto mean = [](float a, float b, float c, float d) {
    return (a + b + c + d) * 0.25f;
  };
  const float s = lowestSeed;
  double cell = 4.0 * meanSettled - 3.0 * lowestSeed + 1.0;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const float above = std::nextafter(static_cast<float>(cell), HUGE_VALF);
    const float lowest =
        std::min(std::min(mean(above, s, s, s), mean(s, above, s, s)),
                 std::min(mean(s, s, above, s), mean(s, s, s, above)));
    if (lowest > meanSettled)
      return static_cast<float>(cell);
    cell += 1.0 + std::fabs(cell) * 1e-6;
  }
  return std::nan("");
}

// The same value as a float cell of the field, rounded up so that no cell
// the pixels depend on lies above it: what the sweeps take as the value
// above which they may leave cells as they are. NaN when there is none.
inline float settledCellValue(OutlineQuality quality, float w,
                              float lowestSeed) {
  const double settled = settledFieldValue(quality, w, lowestSeed);
  auto cell = static_cast<float>(settled);
  if (static_cast<double>(cell) < settled)
    cell = std::nextafter(cell, std::numeric_limits<float>::infinity());
  return cell;
}

// The outline has no alpha of its own: its alpha is always the coverage.
struct OutlineColor {
  double red = 1.0;
  double green = 1.0;
  double blue = 1.0;
};

template <class PIX, int nComponents, int maxValue> class OutlinePixelRules {
  static_assert(nComponents == 4 || nComponents == 1,
                "the outline effect serves RGBA and alpha-only images");

public:
  using Component = OutlineComponent<PIX, maxValue>;
  static constexpr double kMax = Component::kMax;
  static constexpr int kAlpha = 3;

  OutlinePixelRules(OutlineColor color, const AlphaTable &alphaTable,
                    const FalloffTable &falloffTable)
      : color_(color), alphaTable_(alphaTable), falloffTable_(falloffTable) {}

  // The rule of the given quality for this format. Alpha-only images pass
  // the source through at every quality: they carry no colour to outline
  // and their one component is not treated as coverage.
  template <OutlineQuality quality>
  void renderPixel(const PIX *src, PIX *dst, float f, float w) const {
    if constexpr (nComponents == 1) {
      passThrough(src, dst);
    } else if constexpr (quality == OutlineQuality::Draft) {
      draftPixel(src, dst, f, w);
    } else if constexpr (quality == OutlineQuality::Good) {
      goodPixel(src, dst, f, w);
    } else {
      bestPixel(src, dst, f, w);
    }
  }

  static bool isCovered(const PIX *src) {
    return src != nullptr && Component::isCovered(src[kAlpha]);
  }

  // Draft: full coverage up to f = w - 1, then linear down to 0 at f = w.
  void draftPixel(const PIX *src, PIX *dst, float f, float w) const {
    if (!(f <= w)) {
      clearPixel(dst);
      return;
    }
    const double coverage =
        f > w - rule::kEdgeWidth ? static_cast<double>(w - f) : 1.0;
    writeOutline(dst, coverage);
    if (isCovered(src))
      blendSourceOver(dst, src);
  }

  void goodPixel(const PIX *src, PIX *dst, float f, float w) const {
    if (inWindow(f, w)) {
      const double coverage = goodCoverage(f, w);
      if (coverage > rule::kVisibleAlpha) {
        writeOutline(dst, coverage);
        if (isCovered(src))
          blendSourceOverOpaque(dst, src);
        return;
      }
    }
    if (isCovered(src)) {
      copySource(dst, src);
      return;
    }
    clearPixel(dst);
  }

  void bestPixel(const PIX *src, PIX *dst, float f, float w) const {
    const bool covered = isCovered(src);
    if (!covered && f > w) {
      // A faint ring just beyond a thin outline; it exists only for w < 3.
      if (f <= rule::kFaintRingReach)
        writeOutline(dst, rule::kFaintRingCoverage);
      else
        clearPixel(dst);
      return;
    }
    if (inWindow(f, w)) {
      writeOutline(dst, bestCoverage(f, w));
      if (covered)
        blendSourceWeighted(dst, src, f < 0.0f ? 1.0 : rule::kEdgeSourceWeight);
      return;
    }
    if (covered) {
      copySource(dst, src);
      return;
    }
    clearPixel(dst);
  }

  static bool inWindow(float f, float w) {
    return f >= rule::kWindowDepth && f <= w + rule::kWindowBeyondWidth;
  }

  static void passThrough(const PIX *src, PIX *dst) {
    dst[0] = src != nullptr ? src[0] : PIX(0);
  }

  static double goodCoverage(float f, float w) {
    if (f <= 0.0f)
      return 1.0;
    if (f >= w)
      return 0.0;
    if (f < w - rule::kEdgeWidth)
      return 1.0;
    return 1.0 - static_cast<double>(f - (w - rule::kEdgeWidth));
  }

  // Solid up to f = w - 0.5, then the falloff table indexed by how far f
  // lies beyond w - 1, in tenths of a pixel: so the edge falls to nothing
  // at f = w + 0.5. Deep inside a shape (f <= -2.5) it is always solid.
  double bestCoverage(float f, float w) const {
    if (f <= rule::kBestSolidDepth || f < w - rule::kBestSolidBeforeWidth)
      return 1.0;
    const float tenths = (f - (w - rule::kEdgeWidth)) * rule::kFalloffSteps;
    // Checked as a float so that the conversion below is always defined;
    // this is exactly "the truncated index lies in 0 to 200".
    if (tenths > -1.0f && tenths < 201.0f)
      return falloffTable_[static_cast<int>(tenths)];
    const double beyond = static_cast<double>(w) - static_cast<double>(f);
    return beyond * beyond;
  }

  // The outline colour premultiplied by the coverage, with the coverage as
  // alpha. Integer formats clamp to [0, M]; floats are not clamped.
  void writeOutline(PIX *dst, double coverage) const {
    dst[0] = Component::store(color_.red * coverage * kMax);
    dst[1] = Component::store(color_.green * coverage * kMax);
    dst[2] = Component::store(color_.blue * coverage * kMax);
    dst[kAlpha] = Component::store(coverage * kMax);
  }

  static void clearPixel(PIX *dst) {
    for (int i = 0; i < nComponents; ++i)
      dst[i] = PIX(0);
  }

  static void copySource(PIX *dst, const PIX *src) {
    for (int i = 0; i < nComponents; ++i)
      dst[i] = src[i];
  }

  // The source over the outline already in dst. A transparent outline is
  // simply replaced by the source (a float NaN alpha is not transparent).
  static void blendSourceOver(PIX *dst, const PIX *src) {
    if (dst[kAlpha] == PIX(0)) {
      copySource(dst, src);
      return;
    }
    const double as = src[kAlpha] / kMax;
    const double ao = as + (dst[kAlpha] / kMax) * (1.0 - as);
    if (!(ao > rule::kVisibleAlpha))
      return;
    for (int i = 0; i < 3; ++i)
      dst[i] = Component::store((src[i] * as + dst[i] * (1.0 - as)) / ao);
    dst[kAlpha] = Component::store(ao * kMax);
  }

  // A source that is as good as opaque replaces the outline outright, which
  // keeps shapes crisp; anything more transparent is blended.
  void blendSourceOverOpaque(PIX *dst, const PIX *src) const {
    if (Component::opacity(src[kAlpha], alphaTable_) > rule::kOpaqueEnough) {
      copySource(dst, src);
      return;
    }
    blendSourceOver(dst, src);
  }

  // Best lets the outline show slightly through the source's edge pixels
  // (weight below 1); results are clamped for every format.
  static void blendSourceWeighted(PIX *dst, const PIX *src, double weight) {
    const double as = (src[kAlpha] / kMax) * weight;
    const double ad = dst[kAlpha] / kMax;
    const double ao = as + ad * (1.0 - as);
    if (!(ao > rule::kVisibleAlpha))
      return;
    const double inverse = 1.0 / ao;
    for (int i = 0; i < 3; ++i)
      dst[i] = Component::storeClamped(
          (src[i] * as + dst[i] * ad * (1.0 - as)) * inverse);
    dst[kAlpha] = Component::storeClamped(ao * kMax);
  }

private:
  OutlineColor color_;
  const AlphaTable &alphaTable_;
  const FalloffTable &falloffTable_;
};

} // namespace rimlet
