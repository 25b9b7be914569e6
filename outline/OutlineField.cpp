#include "OutlineField.h"

#include <algorithm>
#include <cmath>

namespace rimlet {

namespace {

// The smaller of the two; the current value wins a tie.
inline float lower(float current, float candidate) {
  return candidate < current ? candidate : current;
}

void sweepForward(float* cells, FieldExtent extent) {
  const std::int64_t lastColumn = extent.width - 1;
  for (std::int64_t r = 0; r < extent.height; ++r) {
    float* row = cells + extent.indexOf(0, r);
    const float* below = r > 0 ? row - extent.width : nullptr;
    for (std::int64_t c = 0; c <= lastColumn; ++c) {
      float v = row[c];
      if (v <= kSkipThreshold)
        continue;
      if (c > 0)
        v = lower(v, row[c - 1] + kOrthogonalStep);
      if (below != nullptr) {
        if (c > 0)
          v = lower(v, below[c - 1] + kDiagonalStep);
        v = lower(v, below[c] + kOrthogonalStep);
        if (c < lastColumn)
          v = lower(v, below[c + 1] + kDiagonalStep);
      }
      row[c] = v;
    }
  }
}

void sweepBackward(float* cells, FieldExtent extent) {
  const std::int64_t lastColumn = extent.width - 1;
  const std::int64_t lastRow = extent.height - 1;
  for (std::int64_t r = lastRow; r >= 0; --r) {
    float* row = cells + extent.indexOf(0, r);
    const float* above = r < lastRow ? row + extent.width : nullptr;
    for (std::int64_t c = lastColumn; c >= 0; --c) {
      float v = row[c];
      if (v <= kSkipThreshold)
        continue;
      if (c < lastColumn)
        v = lower(v, row[c + 1] + kOrthogonalStep);
      if (above != nullptr) {
        if (c < lastColumn)
          v = lower(v, above[c + 1] + kDiagonalStep);
        v = lower(v, above[c] + kOrthogonalStep);
        if (c > 0)
          v = lower(v, above[c - 1] + kDiagonalStep);
      }
      row[c] = v;
    }
  }
}

} // namespace

AlphaTable makeAlphaTable() {
  AlphaTable table{};
  for (int i = 0; i < 256; ++i)
    table[i] = std::pow(static_cast<float>(i) / 255.0f, 0.5f);
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

void sweepForwardOnly(float* cells, FieldExtent extent) {
  for (std::int64_t r = 1; r < extent.height; ++r) {
    float* row = cells + extent.indexOf(0, r);
    const float* below = row - extent.width;
    for (std::int64_t c = 1; c < extent.width; ++c) {
      const float v = row[c];
      // Seeds are negative and are never changed; only far cells are.
      if (!(v > 0.0f))
        continue;
      const float fromLeft = row[c - 1] + kOrthogonalStep;
      const float fromBelow = below[c] + kOrthogonalStep;
      const float fromDiagonal = below[c - 1] + kDiagonalStep;
      row[c] = lower(v, lower(fromLeft, lower(fromBelow, fromDiagonal)));
    }
  }
}

void sweepTwoPass(float* cells, FieldExtent extent) {
  if (extent.isEmpty())
    return;
  sweepForward(cells, extent);
  sweepBackward(cells, extent);
}

} // namespace rimlet
