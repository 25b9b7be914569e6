#include "OutlineField.h"

#include <algorithm>
#include <cmath>

namespace rimlet {

namespace {

// The smaller of the two; the current value wins a tie.
inline float lower(float current, float candidate) {
  return candidate < current ? candidate : current;
}

// The two sweeps are one routine seen in a mirror: the forward sweep walks
// rows upwards and each row left to right, taking candidates from the cell
// behind it in the row and from the three cells of the row before; the
// backward sweep does the same from the top right corner. kDir is +1
// forward and -1 backward; "behind" is the column kDir cells back, the
// previous row is toPrevious cells away.
//
// The minimum is exact and the field holds no NaN (seeds are negative or
// far, and steps are positive and finite), so a cell's new value does not
// depend on the order in which its candidates are met: each candidate is
// one rounded addition, and the smallest wins. A cell at or below the skip
// threshold keeps its value.
inline float sweptValue(float v, float candidates) {
  return v <= kSkipThreshold ? v : lower(v, candidates);
}

// One whole row with every bound checked: the rows with no previous row,
// and fields too narrow for the interleaved walk.
template <int kDir>
void sweepRow(float* row, const float* previous, std::int64_t width) {
  const std::int64_t first = kDir > 0 ? 0 : width - 1;
  for (std::int64_t i = 0; i < width; ++i) {
    const std::int64_t c = first + kDir * i;
    float candidates = kFieldFar;
    if (i > 0)
      candidates = lower(candidates, row[c - kDir] + kOrthogonalStep);
    if (previous != nullptr) {
      if (i > 0)
        candidates = lower(candidates, previous[c - kDir] + kDiagonalStep);
      candidates = lower(candidates, previous[c] + kOrthogonalStep);
      if (i < width - 1)
        candidates = lower(candidates, previous[c + kDir] + kDiagonalStep);
    }
    row[c] = sweptValue(row[c], candidates);
  }
}

// kRows consecutive rows (in sweep order) at once, each kRows-th row two
// columns behind the one before it. A cell needs the cell behind it in its
// own row and the cell one column ahead in the previous row, both done one
// step earlier, so every cell sees exactly the values the row-by-row sweep
// gives it; but the rows' chains of dependence along x now run side by
// side instead of one after the other, which keeps the processor busy.
template <int kDir, int kRows>
void sweepRowGroup(float* const* rows, std::ptrdiff_t toPrevious, std::int64_t width) {
  constexpr std::int64_t kLag = 2;
  const std::int64_t first = kDir > 0 ? 0 : width - 1;
  float behind[kRows];
  // Step t visits cell t - kLag * k (in sweep order) of row k.
  auto visitChecked = [&](std::int64_t t) {
    for (int k = 0; k < kRows; ++k) {
      const std::int64_t i = t - kLag * k;
      if (i < 0 || i >= width)
        continue;
      float* p = rows[k] + first + kDir * i;
      const float* q = p + toPrevious;
      float candidates = lower(q[0] + kOrthogonalStep, kFieldFar);
      if (i > 0)
        candidates = lower(candidates, lower(behind[k] + kOrthogonalStep, q[-kDir] + kDiagonalStep));
      if (i < width - 1)
        candidates = lower(candidates, q[kDir] + kDiagonalStep);
      *p = sweptValue(*p, candidates);
      behind[k] = *p;
    }
  };
  const std::int64_t steadyFirst = kLag * (kRows - 1) + 1;
  const std::int64_t steadyLast = width - 2;
  std::int64_t t = 0;
  for (; t < steadyFirst; ++t)
    visitChecked(t);
  for (; t <= steadyLast; ++t) {
    for (int k = 0; k < kRows; ++k) {
      float* p = rows[k] + first + kDir * (t - kLag * k);
      const float* q = p + toPrevious;
      const float fromPrevious =
          lower(lower(q[-kDir] + kDiagonalStep, q[0] + kOrthogonalStep), q[kDir] + kDiagonalStep);
      const float value = sweptValue(*p, lower(fromPrevious, behind[k] + kOrthogonalStep));
      *p = value;
      behind[k] = value;
    }
  }
  for (; t < width + kLag * (kRows - 1); ++t)
    visitChecked(t);
}

// Rows `from` to `to` - 1, counted in sweep order; the rows before `from`
// must already be swept.
template <int kDir>
void sweepRows(float* cells, FieldExtent extent, std::int64_t from, std::int64_t to) {
  constexpr int kRows = 4;
  const std::int64_t width = extent.width;
  const std::ptrdiff_t toPrevious = kDir > 0 ? -width : width;
  const std::int64_t firstRow = kDir > 0 ? 0 : extent.height - 1;
  auto rowAt = [&](std::int64_t i) { return cells + extent.indexOf(0, firstRow + kDir * i); };
  std::int64_t i = from;
  if (i == 0 && i < to) {
    sweepRow<kDir>(rowAt(0), nullptr, width);
    ++i;
  }
  if (width >= 4 * kRows) {
    for (; i + kRows <= to; i += kRows) {
      float* rows[kRows];
      for (int k = 0; k < kRows; ++k)
        rows[k] = rowAt(i + k);
      sweepRowGroup<kDir, kRows>(rows, toPrevious, width);
    }
  }
  for (; i < to; ++i)
    sweepRow<kDir>(rowAt(i), rowAt(i) + toPrevious, width);
}

} // namespace

AlphaTable makeAlphaTable() {
  AlphaTable table{};
  for (int i = 0; i < 256; ++i)
    table[i] = std::pow(static_cast<float>(i) / 255.0f, 0.5f);
  return table;
}

ByteSeedTable makeByteSeedTable(FieldSeeding seeding, const AlphaTable& alphaTable) {
  ByteSeedTable table{};
  table[0] = kFieldFar;
  for (int a = 1; a < 256; ++a)
    table[a] = seeding == FieldSeeding::Draft
                   ? kDraftSeed
                   : smoothSeed<unsigned char, 255>(static_cast<unsigned char>(a), alphaTable);
  return table;
}

FieldReach fieldReach(FieldSeeding seeding, double settledAbove, double lowestSeed) {
  // Beyond this magnitude a step of 1 may round to less than half a step;
  // such seeds come only from absurd float alphas, so they get the whole
  // destination rather than a looser bound.
  constexpr double kLargestMagnitude = 1 << 20;
  const double magnitude = std::max(std::fabs(settledAbove), std::fabs(lowestSeed));
  if (!(magnitude <= kLargestMagnitude))
    return {};
  const double rise = 1.0 - magnitude * 0x1p-24;
  auto stepsAtMost = [&](double ceiling) -> std::int64_t {
    if (ceiling < lowestSeed)
      return 0;
    return static_cast<std::int64_t>(std::floor((ceiling - lowestSeed) / rise)) + 1;
  };
  FieldReach reach;
  reach.bounded = true;
  const std::int64_t settled = stepsAtMost(settledAbove);
  if (seeding == FieldSeeding::Draft) {
    reach.towardsLower = settled + 1;
    return reach;
  }
  const std::int64_t frozen = lowestSeed <= kSkipThreshold ? stepsAtMost(kSkipThreshold) : 0;
  reach.towardsLower = settled + frozen;
  reach.towardsUpper = settled + frozen;
  return reach;
}

namespace {

// Draft's value for a far cell from its three candidates; seeds (at or
// below 0) are never changed. As in the two-pass sweeps the minimum does
// not depend on the order of the candidates.
inline float draftValue(float v, float fromLeft, const float* below, std::int64_t c) {
  if (!(v > 0.0f))
    return v;
  return lower(v, lower(fromLeft + kOrthogonalStep,
                        lower(below[c] + kOrthogonalStep, below[c - 1] + kDiagonalStep)));
}

// kRows rows side by side, each two columns behind the one before, as in
// sweepRowGroup: a cell needs only cells its row and the row below have
// already done.
template <int kRows>
void draftRowGroup(float* const* rows, std::int64_t width) {
  constexpr std::int64_t kLag = 2;
  float behind[kRows];
  for (int k = 0; k < kRows; ++k)
    behind[k] = rows[k][0];
  // Step t visits column 1 + t - kLag * k of row k; column 0 is never
  // visited.
  const std::int64_t visited = width - 1;
  auto visit = [&](int k, std::int64_t i) {
    float* row = rows[k];
    const std::int64_t c = 1 + i;
    const float value = draftValue(row[c], behind[k], row - width, c);
    row[c] = value;
    behind[k] = value;
  };
  const std::int64_t steadyFirst = kLag * (kRows - 1);
  std::int64_t t = 0;
  for (; t < steadyFirst && t < visited; ++t)
    for (int k = 0; k < kRows; ++k)
      if (t - kLag * k >= 0)
        visit(k, t - kLag * k);
  for (; t < visited; ++t)
    for (int k = 0; k < kRows; ++k)
      visit(k, t - kLag * k);
  for (; t < visited + kLag * (kRows - 1); ++t)
    for (int k = 0; k < kRows; ++k) {
      const std::int64_t i = t - kLag * k;
      if (i >= 0 && i < visited)
        visit(k, i);
    }
}

} // namespace

void sweepForwardOnlyRows(float* cells, FieldExtent extent, std::int64_t firstRow,
                          std::int64_t endRow) {
  constexpr int kRows = 4;
  std::int64_t r = std::max<std::int64_t>(1, firstRow);
  endRow = std::min(endRow, extent.height);
  if (extent.width >= 4 * kRows) {
    for (; r + kRows <= endRow; r += kRows) {
      float* rows[kRows];
      for (int k = 0; k < kRows; ++k)
        rows[k] = cells + extent.indexOf(0, r + k);
      draftRowGroup<kRows>(rows, extent.width);
    }
  }
  for (; r < endRow; ++r) {
    float* row = cells + extent.indexOf(0, r);
    for (std::int64_t c = 1; c < extent.width; ++c)
      row[c] = draftValue(row[c], row[c - 1], row - extent.width, c);
  }
}

void sweepForwardOnly(float* cells, FieldExtent extent) {
  sweepForwardOnlyRows(cells, extent, 0, extent.height);
}

void sweepForwardRows(float* cells, FieldExtent extent, std::int64_t firstRow,
                      std::int64_t endRow) {
  if (extent.isEmpty())
    return;
  sweepRows<+1>(cells, extent, std::max<std::int64_t>(0, firstRow),
                std::min(endRow, extent.height));
}

void sweepBackward(float* cells, FieldExtent extent) {
  if (extent.isEmpty())
    return;
  sweepRows<-1>(cells, extent, 0, extent.height);
}

void sweepTwoPass(float* cells, FieldExtent extent) {
  sweepForwardRows(cells, extent, 0, extent.height);
  sweepBackward(cells, extent);
}

} // namespace rimlet
