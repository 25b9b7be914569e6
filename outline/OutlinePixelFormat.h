// Pixel formats of the outline effect: the one place that knows how each
// component type stores a value, when a pixel counts as covered and how its
// opacity is judged. The field and the pixel rules are written once against
// these traits instead of once per format.
#pragma once

#include <array>
#include <limits>
#include <type_traits>

namespace rimlet {

// Entry i is sqrt(i / 255), both steps in single precision. It turns an
// 8-bit alpha into a seed and into an opacity without a root per pixel.
using AlphaTable = std::array<float, 256>;

template <class PIX, int maxValue> struct OutlineComponent {
  static_assert(std::is_same_v<PIX, unsigned char> ||
                    std::is_same_v<PIX, unsigned short> ||
                    std::is_same_v<PIX, float>,
                "the outline effect stores bytes, shorts or floats");

  static constexpr bool kIsFloat = std::is_floating_point_v<PIX>;
  // The component value that stands for 1.0.
  static constexpr double kMax = maxValue;

  static bool isCovered(PIX alpha) { return alpha > PIX(0); }

  // Integer formats clamp to [0, M] and truncate toward zero. Clamping first
  // keeps the conversion defined for any input (a NaN or a value beyond the
  // type); for in-range values it changes nothing. Floats are stored as
  // computed, rounded to single precision, and a NaN as the one quiet NaN:
  // where two NaNs meet, the one an operation passes on depends on the order
  // the compiler gave its operands, so that its sign would otherwise differ
  // from build to build and between the scalar and the vector code.
  static PIX store(double value) {
    if constexpr (kIsFloat) {
      return oneNaN(static_cast<PIX>(value));
    } else {
      return static_cast<PIX>(clampToRange(value));
    }
  }

  // As store, but floats are clamped to [0, 1] as well.
  static PIX storeClamped(double value) {
    if constexpr (kIsFloat) {
      if (value < 0.0)
        return PIX(0);
      if (value > kMax)
        return static_cast<PIX>(kMax);
      return oneNaN(static_cast<PIX>(value));
    } else {
      return static_cast<PIX>(clampToRange(value));
    }
  }

  // How opaque a source pixel is when deciding whether it simply replaces
  // the outline beneath it. Bytes go through the square-root table, so that
  // nearly opaque anti-aliased edges (alpha 245 and up) count as opaque.
  static double opacity(PIX alpha, const AlphaTable &alphaTable) {
    if constexpr (std::is_same_v<PIX, unsigned char>) {
      return alphaTable[alpha];
    } else if constexpr (kIsFloat) {
      return alpha;
    } else {
      return alpha / kMax;
    }
  }

  static PIX oneNaN(PIX value) {
    return value == value ? value : std::numeric_limits<PIX>::quiet_NaN();
  }

private:
  // NaN and anything at or below zero give 0.
  static double clampToRange(double value) {
    if (!(value > 0.0))
      return 0.0;
    if (value > kMax)
      return kMax;
    return value;
  }
};

} // namespace rimlet
