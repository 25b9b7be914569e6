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

// Cells `from` to `to` - 1 (in sweep order) of one row with every bound
// checked: the rows with no previous row, and fields too narrow for the
// side-by-side walk. Cells before `from` must be swept already.
template <int kDir>
void sweepRow(float *row, const float *previous, std::int64_t width,
              std::int64_t from, std::int64_t to) {
  const std::int64_t first = kDir > 0 ? 0 : width - 1;
  for (std::int64_t i = from; i < to; ++i) {
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
// Steps `from` to `to` - 1 of the walk; the steps before are done.
template <int kDir, int kRows>
void sweepRowGroup(float *const *rows, std::ptrdiff_t toPrevious,
                   std::int64_t width, std::int64_t from, std::int64_t to,
                   float settledAbove) {
  constexpr std::int64_t kLag = 2;
  const std::int64_t first = kDir > 0 ? 0 : width - 1;
  // The cell each row visited last, carried in a register; on resuming,
  // read back from the row.
  float behind[kRows];
  for (int k = 0; k < kRows; ++k) {
    const std::int64_t i = from - kLag * k;
    behind[k] =
        i > 0 && i <= width ? rows[k][first + kDir * (i - 1)] : kFieldFar;
  }
  // Step t visits cell t - kLag * k (in sweep order) of row k.
  auto visitChecked = [&](std::int64_t t) {
    for (int k = 0; k < kRows; ++k) {
      const std::int64_t i = t - kLag * k;
      if (i < 0 || i >= width)
        continue;
      float *p = rows[k] + first + kDir * i;
      const float *q = p + toPrevious;
      float candidates = lower(q[0] + kOrthogonalStep, kFieldFar);
      if (i > 0)
        candidates = lower(candidates, lower(behind[k] + kOrthogonalStep,
                                             q[-kDir] + kDiagonalStep));
      if (i < width - 1)
        candidates = lower(candidates, q[kDir] + kDiagonalStep);
      *p = sweptValue(*p, candidates);
      behind[k] = *p;
    }
  };
  // Steps at which every row visits a cell with neighbours on both sides.
  const std::int64_t steadyFirst = kLag * (kRows - 1) + 1;
  const std::int64_t steadyEnd = width - 1;
  std::int64_t t = from;
  for (const std::int64_t end = std::min(to, steadyFirst); t < end; ++t)
    visitChecked(t);
  if constexpr (kRows == kRunRows || kRows == kShortRunRows) {
    const std::int64_t reached =
        sweepSteadyRows(rows, kRows, toPrevious, width, kDir, t,
                        std::min(to, steadyEnd), settledAbove);
    if (reached != t) {
      t = reached;
      for (int k = 0; k < kRows; ++k)
        behind[k] = rows[k][first + kDir * (t - kLag * k - 1)];
    }
  }
  for (const std::int64_t end = std::min(to, steadyEnd); t < end; ++t) {
    for (int k = 0; k < kRows; ++k) {
      float *p = rows[k] + first + kDir * (t - kLag * k);
      const float *q = p + toPrevious;
      const float fromPrevious =
          lower(lower(q[-kDir] + kDiagonalStep, q[0] + kOrthogonalStep),
                q[kDir] + kDiagonalStep);
      const float value =
          sweptValue(*p, lower(fromPrevious, behind[k] + kOrthogonalStep));
      *p = value;
      behind[k] = value;
    }
  }
  for (; t < to; ++t)
    visitChecked(t);
}

template <int kDir>
void twoPassRunSteps(float *cells, FieldExtent extent, const FieldRowRun &run,
                     std::int64_t from, std::int64_t to, float settledAbove) {
  const std::int64_t width = extent.width;
  const std::ptrdiff_t toPrevious = kDir > 0 ? -width : width;
  float *const firstRow = cells + extent.indexOf(0, run.fieldRow(extent, 0));
  if (run.rows == 1) {
    sweepRow<kDir>(firstRow, run.first > 0 ? firstRow + toPrevious : nullptr,
                   width, from, std::min(to, width));
    return;
  }
  float *rows[kRunRows];
  for (int k = 0; k < run.rows; ++k)
    rows[k] = firstRow - k * toPrevious;
  if (run.rows == kRunRows)
    sweepRowGroup<kDir, kRunRows>(rows, toPrevious, width, from, to,
                                  settledAbove);
  else
    sweepRowGroup<kDir, kShortRunRows>(rows, toPrevious, width, from, to,
                                       settledAbove);
}

} // namespace

AlphaTable makeAlphaTable() {
  AlphaTable table{};
  for (int i = 0; i < 256; ++i)
    table[i] = std::pow(static_cast<float>(i) / 255.0f, 0.5f);
  return table;
}

ByteSeedTable makeByteSeedTable(FieldSeeding seeding,
                                const AlphaTable &alphaTable) {
  ByteSeedTable table{};
  table[0] = kFieldFar;
  for (int a = 1; a < 256; ++a)
    table[a] = seeding == FieldSeeding::Draft
                   ? kDraftSeed
                   : smoothSeed<unsigned char, 255>(
                         static_cast<unsigned char>(a), alphaTable);
  return table;
}

FieldReach fieldReach(FieldSeeding seeding, double settledAbove,
                      double lowestSeed) {
  // Beyond this magnitude a step of 1 may round to less than half a step;
  // such seeds come only from absurd float alphas, so they get the whole
  // destination rather than a looser bound.
  constexpr double kLargestMagnitude = 1 << 20;
  const double magnitude =
      std::max(std::fabs(settledAbove), std::fabs(lowestSeed));
  if (!(magnitude <= kLargestMagnitude))
    return {};
  const double rise = 1.0 - magnitude * 0x1p-24;
  auto stepsAtMost = [&](double ceiling) -> std::int64_t {
    if (ceiling < lowestSeed)
      return 0;
    return static_cast<std::int64_t>(std::floor((ceiling - lowestSeed) / rise));
  };
  FieldReach reach;
  reach.bounded = true;
  const std::int64_t settled = stepsAtMost(settledAbove);
  if (seeding == FieldSeeding::Draft) {
    reach.towardsLower = settled + 1;
    return reach;
  }
  const std::int64_t frozen =
      lowestSeed <= kSkipThreshold ? stepsAtMost(kSkipThreshold) : 0;
  reach.towardsLower = settled + frozen;
  reach.towardsUpper = settled + frozen;
  return reach;
}

namespace {

// Draft's value for a far cell from its three candidates; seeds (at or
// below 0) are never changed. As in the two-pass sweeps the minimum does
// not depend on the order of the candidates.
inline float draftValue(float v, float fromLeft, const float *below,
                        std::int64_t c) {
  if (!(v > 0.0f))
    return v;
  return lower(v, lower(fromLeft + kOrthogonalStep,
                        lower(below[c] + kOrthogonalStep,
                              below[c - 1] + kDiagonalStep)));
}

// kRows rows side by side, each two columns behind the one before, as in
// sweepRowGroup: a cell needs only cells its row and the row below have
// already done. Steps `from` to `to` - 1; step t visits column
// 1 + t - kLag * k of row k (column 0 is never visited).
template <int kRows>
void draftRowGroup(float *const *rows, std::int64_t width, std::int64_t from,
                   std::int64_t to, float settledAbove) {
  constexpr std::int64_t kLag = 2;
  const std::int64_t visited = width - 1;
  float behind[kRows];
  for (int k = 0; k < kRows; ++k)
    behind[k] = rows[k][std::clamp<std::int64_t>(from - kLag * k, 0, visited)];
  auto visit = [&](int k, std::int64_t i) {
    float *row = rows[k];
    const std::int64_t c = 1 + i;
    const float value = draftValue(row[c], behind[k], row - width, c);
    row[c] = value;
    behind[k] = value;
  };
  auto visitChecked = [&](std::int64_t t) {
    for (int k = 0; k < kRows; ++k) {
      const std::int64_t i = t - kLag * k;
      if (i >= 0 && i < visited)
        visit(k, i);
    }
  };
  std::int64_t t = from;
  for (const std::int64_t end = std::min(to, kLag * (kRows - 1)); t < end; ++t)
    visitChecked(t);
  if constexpr (kRows == kRunRows || kRows == kShortRunRows) {
    const std::int64_t reached = draftSteadyRows(
        rows, kRows, width, t, std::min(to, visited), settledAbove);
    if (reached != t) {
      t = reached;
      for (int k = 0; k < kRows; ++k)
        behind[k] = rows[k][t - kLag * k];
    }
  }
  for (const std::int64_t end = std::min(to, visited); t < end; ++t)
    for (int k = 0; k < kRows; ++k)
      visit(k, t - kLag * k);
  for (; t < to; ++t)
    visitChecked(t);
}

void draftRunSteps(float *cells, FieldExtent extent, const FieldRowRun &run,
                   std::int64_t from, std::int64_t to, float settledAbove) {
  const std::int64_t width = extent.width;
  float *const firstRow = cells + extent.indexOf(0, run.first);
  if (run.rows == 1) {
    // Row 0 has nothing to visit.
    if (run.first == 0)
      return;
    for (std::int64_t c = 1 + from; c < std::min(1 + to, width); ++c)
      firstRow[c] =
          draftValue(firstRow[c], firstRow[c - 1], firstRow - width, c);
    return;
  }
  float *rows[kRunRows];
  for (int k = 0; k < run.rows; ++k)
    rows[k] = firstRow + k * width;
  if (run.rows == kRunRows)
    draftRowGroup<kRunRows>(rows, width, from, to, settledAbove);
  else
    draftRowGroup<kShortRunRows>(rows, width, from, to, settledAbove);
}

} // namespace

std::int64_t FieldRowRun::steps(FieldExtent extent) const {
  const bool draft = pass == FieldPass::ForwardOnly;
  const std::int64_t visited =
      draft ? (first == 0 ? 0 : extent.width - 1) : extent.width;
  return visited > 0 ? visited + 2 * (rows - 1) : 0;
}

std::int64_t FieldRowRun::cellsDoneAfter(std::int64_t step,
                                         FieldExtent extent) const {
  if (steps(extent) == 0)
    return extent.width;
  // Draft's column 0 is never visited: it is final from the start.
  const std::int64_t unvisited = pass == FieldPass::ForwardOnly ? 1 : 0;
  return std::clamp<std::int64_t>(unvisited + step - 2 * (rows - 1), unvisited,
                                  extent.width);
}

std::int64_t FieldRowRun::cellsNeededBefore(std::int64_t step,
                                            FieldExtent extent) const {
  // After `step` steps the first row has visited up to cell step - 1 in
  // the two-pass sweeps and column step in Draft's; either reads the row
  // before one cell further on.
  return step <= 0 ? 0 : std::min(step + 1, extent.width);
}

void sweepRunSteps(float *cells, FieldExtent extent, const FieldRowRun &run,
                   std::int64_t fromStep, std::int64_t toStep,
                   float settledAbove) {
  switch (run.pass) {
  case FieldPass::ForwardOnly:
    draftRunSteps(cells, extent, run, fromStep, toStep, settledAbove);
    return;
  case FieldPass::Forward:
    twoPassRunSteps<+1>(cells, extent, run, fromStep, toStep, settledAbove);
    return;
  case FieldPass::Backward:
    twoPassRunSteps<-1>(cells, extent, run, fromStep, toStep, settledAbove);
    return;
  }
}

namespace {

// A pass over rows `from` to `to` - 1 in sweep order, each run walked whole.
void sweepPass(float *cells, FieldExtent extent, FieldPass pass,
               std::int64_t from, std::int64_t to, float settledAbove) {
  if (extent.isEmpty())
    return;
  forEachRowRun(pass, extent, std::max<std::int64_t>(0, from),
                std::min(to, extent.height), [&](const FieldRowRun &run) {
                  sweepRunSteps(cells, extent, run, 0, run.steps(extent),
                                settledAbove);
                });
}

} // namespace

void sweepForwardOnlyRows(float *cells, FieldExtent extent,
                          std::int64_t firstRow, std::int64_t endRow,
                          float settledAbove) {
  sweepPass(cells, extent, FieldPass::ForwardOnly, firstRow, endRow,
            settledAbove);
}

void sweepForwardOnly(float *cells, FieldExtent extent, float settledAbove) {
  sweepForwardOnlyRows(cells, extent, 0, extent.height, settledAbove);
}

void sweepForwardRows(float *cells, FieldExtent extent, std::int64_t firstRow,
                      std::int64_t endRow, float settledAbove) {
  sweepPass(cells, extent, FieldPass::Forward, firstRow, endRow, settledAbove);
}

void sweepBackward(float *cells, FieldExtent extent, float settledAbove) {
  sweepPass(cells, extent, FieldPass::Backward, 0, extent.height, settledAbove);
}

void sweepTwoPass(float *cells, FieldExtent extent, float settledAbove) {
  sweepForwardRows(cells, extent, 0, extent.height, settledAbove);
  sweepBackward(cells, extent, settledAbove);
}

} // namespace rimlet
