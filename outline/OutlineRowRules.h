// The outline rules over a run of pixels of one row, several pixels at a
// time on the widest vector unit the processor has. Each pixel comes out
// bit for bit as OutlinePixelRules writes it: most are decided by
// comparisons in single precision, exactly as the rules make them, and
// take a pixel known up front (nothing, the source, the outline at full
// or at the faint ring's coverage); the rest are computed in double
// precision lanes with the rules' own operations in the rules' own order.
#pragma once

#include <cstdint>

#include "OutlinePixelRules.h"

namespace rimlet {

// The field cells of one run of a row: cell i is the run's pixel i.
struct RowCells {
  const float *row = nullptr;
  const float *above = nullptr; // Best only; null on the destination's last row
  std::int64_t lastBlock = 0;   // cells before it have a right neighbour

  // The value the rules read for pixel i: Best reads its 2x2 block's mean,
  // summed in this order, and the cell alone where the block would leave
  // the field.
  template <OutlineQuality quality> float at(std::int64_t i) const {
    if (quality != OutlineQuality::Best)
      return row[i];
    if (above == nullptr || i >= lastBlock)
      return row[i];
    return (row[i] + row[i + 1] + above[i] + above[i + 1]) * 0.25f;
  }
};

// What every row of a render shares: the rules, the width and the values
// derived from them once rather than per pixel.
template <class PIX, int maxValue> struct RowRules {
  using Rules = OutlinePixelRules<PIX, 4, maxValue>;

  RowRules(const Rules &pixelRules, const AlphaTable &alphaTable,
           const FalloffTable &falloffTable, OutlineColor outlineColor,
           float width);

  const Rules &rules;
  const FalloffTable &falloff;
  OutlineColor color;
  float w;
  // The outline at full coverage and at the faint ring's.
  PIX fullOutline[4];
  PIX faintRing[4];
  // A covered alpha, as a float, above which Good copies the source: the
  // largest value the opacity rule does not count as opaque enough.
  float opaqueAbove;
  // The vector path (a qfx::simd::Path) the rows are rendered on, chosen
  // once here rather than once per run: asking costs a look through the
  // environment.
  int vectorPath;
};

// Pixels first to last - 1 of a row, RGBA. src is the source pixel of
// `first`, or null when none of the run's pixels has a source pixel.
template <OutlineQuality quality, class PIX, int maxValue>
void renderRow(const RowRules<PIX, maxValue> &rowRules, const RowCells &cells,
               const PIX *src, PIX *dst, std::int64_t first, std::int64_t last);

} // namespace rimlet
