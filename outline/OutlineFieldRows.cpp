// The field's row work compiled once per vector path (Highway's
// foreach_target) and chosen at run time: the seeding of a row, as many
// pixels as a vector holds doubles at a time, with the scalar formula's
// operations and roundings (see smoothSeed in OutlineField.h); and the
// two-pass sweeps' side-by-side rows, one row per lane.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "OutlineFieldRows.cpp"
#include "SimdTargets.h"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "SimdExact-inl.h"

#include "OutlineField.h"

#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace rimlet {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using qfx::simd::HWY_NAMESPACE::toNearestFloat;

using DD = hn::ScalableTag<double>;
using VD = hn::Vec<DD>;
using DF = hn::Rebind<float, DD>;
using VF = hn::Vec<DF>;

// Cells from a seed per covered pixel and far for the others.
HWY_INLINE VF seedOrFar(hn::Mask<DF> covered, VF seed) {
  return hn::IfThenElse(covered, seed, hn::Set(DF(), kFieldFar));
}

// Whole 8- or 16-bit RGBA pixels, one per lane of DP. Highway's one-lane
// target has no narrower view of a lane, so there the pixel goes through
// memory.
template <class DP, class Pix>
HWY_INLINE hn::Vec<DP> loadPixels(DP dp, const Pix *pixels) {
#if HWY_TARGET == HWY_SCALAR
  hn::TFromD<DP> bits;
  std::memcpy(&bits, pixels, sizeof(bits));
  return hn::Set(dp, bits);
#else
  return hn::BitCast(dp, hn::LoadU(hn::Repartition<Pix, DP>(), pixels));
#endif
}

// The seed table's entry for each alpha (it holds far for 0).
HWY_INLINE void seedBytes(const std::uint8_t *pixels, const float *byteSeeds,
                          float *cells) {
  const hn::Rebind<std::uint32_t, DD> du32;
  const hn::Vec<decltype(du32)> alpha =
      hn::ShiftRight<24>(loadPixels(du32, pixels));
  const DF df;
  // Most of a title's frame is transparent, and a gather costs several
  // times a store: a vector with no alpha takes entry 0 once.
  if (hn::AllTrue(du32, hn::Eq(alpha, hn::Zero(du32)))) {
    hn::StoreU(hn::Set(df, byteSeeds[0]), df, cells);
    return;
  }
  hn::StoreU(
      hn::GatherIndex(df, byteSeeds,
                      hn::BitCast(hn::Rebind<std::int32_t, DD>(), alpha)),
      df, cells);
}

// -2 (A / 65535) rounded to a float, for A > 0.
HWY_INLINE void seedShorts(const std::uint16_t *pixels, FieldSeeding seeding,
                           float *cells) {
  const DD dd;
  const hn::Repartition<std::int64_t, DD> di64;
  const hn::Repartition<std::uint64_t, DD> d64;
  const VD alpha = hn::ConvertTo(
      dd, hn::BitCast(di64, hn::ShiftRight<48>(loadPixels(d64, pixels))));
  // Whole numbers below 65536 are floats exactly.
  const hn::Mask<DF> covered =
      hn::Gt(hn::DemoteTo(DF(), alpha), hn::Zero(DF()));
  if (hn::AllFalse(DF(), covered)) { // far, without the division
    hn::StoreU(hn::Set(DF(), kFieldFar), DF(), cells);
    return;
  }
  const VF seed =
      seeding == FieldSeeding::Draft
          ? hn::Set(DF(), kDraftSeed)
          : toNearestFloat(DF(), hn::Mul(hn::Set(dd, -2.0),
                                         hn::Div(alpha, hn::Set(dd, 65535.0))));
  hn::StoreU(seedOrFar(covered, seed), DF(), cells);
}

// -2 A rounded to a float, for A > 0 (a NaN alpha covers nothing).
HWY_INLINE void seedFloats(const float *pixels, FieldSeeding seeding,
                           float *cells) {
  const DF df;
  VF r, g, b, alpha;
  hn::LoadInterleaved4(df, pixels, r, g, b, alpha);
  const hn::Mask<DF> covered = hn::Gt(alpha, hn::Zero(df));
  if (hn::AllFalse(df, covered)) { // far, without the conversions
    hn::StoreU(hn::Set(df, kFieldFar), df, cells);
    return;
  }
  const VF seed = seeding == FieldSeeding::Draft
                      ? hn::Set(df, kDraftSeed)
                      : toNearestFloat(df, hn::Mul(hn::Set(DD(), -2.0),
                                                   hn::PromoteTo(DD(), alpha)));
  hn::StoreU(seedOrFar(covered, seed), df, cells);
}

// Whole vectors straight from the row, the last few pixels through a
// vector-sized buffer so that nothing past the row is read or written.
template <class Pix, class Seed>
HWY_INLINE void seedRun(float *cells, const Pix *pixels, std::int64_t count,
                        Seed &&seed) {
  const std::int64_t lanes = static_cast<std::int64_t>(hn::Lanes(DD()));
  std::int64_t i = 0;
  for (; i + lanes <= count; i += lanes)
    seed(pixels + 4 * i, cells + i);
  const std::int64_t rest = count - i;
  if (rest <= 0)
    return;
  constexpr size_t kMaxLanes = hn::MaxLanes(DD());
  Pix in[4 * kMaxLanes] = {};
  float out[kMaxLanes];
  std::memcpy(in, pixels + 4 * i, sizeof(Pix) * 4 * static_cast<size_t>(rest));
  seed(in, out);
  std::memcpy(cells + i, out, sizeof(float) * static_cast<size_t>(rest));
}

void seedByteRow(float *cells, const std::uint8_t *pixels, std::int64_t count,
                 const float *byteSeeds) {
  seedRun(cells, pixels, count, [byteSeeds](const std::uint8_t *p, float *c) {
    seedBytes(p, byteSeeds, c);
  });
}

void seedShortRow(float *cells, const std::uint16_t *pixels, std::int64_t count,
                  FieldSeeding seeding) {
  seedRun(cells, pixels, count, [seeding](const std::uint16_t *p, float *c) {
    seedShorts(p, seeding, c);
  });
}

void seedFloatRow(float *cells, const float *pixels, std::int64_t count,
                  FieldSeeding seeding) {
  seedRun(cells, pixels, count,
          [seeding](const float *p, float *c) { seedFloats(p, seeding, c); });
}

// ------------------------------------------------------------ sweeps
//
// A run's kRunRows rows walk side by side, row k two cells behind row
// k - 1 (see sweepRowGroup in OutlineField.cpp); here the rows are cut in
// groups of eight, row 8g + j being lane j of group g. At step t, row k
// visits cell i = t - 2k of its row, in sweep order. Its candidates from
// the row before are that row's cells i - 1, i and i + 1, which row k - 1
// visited at steps t - 3, t - 2 and t - 1: the results of those steps
// moved up one lane, with lane 0 taking the row before's (the last lane of
// the group before, or the row before the run, final already). The cell
// behind it is its own result of step t - 1. So only a row's own cells
// come from memory: eight steps of a group's eight rows are loaded as
// eight rows of eight cells and turned on their side.
//
// A step of one group waits for its step before, so a single group runs
// at the speed of that chain; the groups' chains are apart within a step
// and overlap.
//
// Each candidate is the same rounded addition as in the scalar walk, and
// the minimum is exact, so the cells come out bit for bit the same (below
// the settled value: a block wholly above it is left as it is, see
// settledBlock).
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3

constexpr int kLanes = 8;
static_assert(kRunRows % kLanes == 0 && kShortRunRows % kLanes == 0,
              "a run is whole groups of rows");
using DR = hn::FixedTag<float, kLanes>;
using VR = hn::Vec<DR>;

// Rows become columns: v[k] lane j becomes v[j] lane k.
HWY_INLINE void transposeRows(VR v[kLanes]) {
  const DR d;
  const hn::Repartition<double, DR> d64;
  VR a[kLanes];
  for (int p = 0; p < kLanes; p += 2) {
    a[p] = hn::InterleaveLower(d, v[p], v[p + 1]);
    a[p + 1] = hn::InterleaveUpper(d, v[p], v[p + 1]);
  }
  VR b[kLanes];
  for (int h = 0; h < kLanes; h += 4) {
    for (int q = 0; q < 2; ++q) {
      const auto low = hn::BitCast(d64, a[h + q]);
      const auto high = hn::BitCast(d64, a[h + q + 2]);
      b[h + 2 * q] = hn::BitCast(d, hn::InterleaveLower(d64, low, high));
      b[h + 2 * q + 1] = hn::BitCast(d, hn::InterleaveUpper(d64, low, high));
    }
  }
  for (int j = 0; j < 4; ++j) {
    v[j] = hn::ConcatLowerLower(d, b[j + 4], b[j]);
    v[j + 4] = hn::ConcatUpperUpper(d, b[j + 4], b[j]);
  }
}

// The candidate if smaller, else the current value (as the scalar lower()).
// That is exactly what the x86 minimum does with the candidate first: it
// returns its second operand unless the first is smaller, for NaNs and
// signed zeros too.
HWY_INLINE VR lowerOf(VR current, VR candidate) {
  return VR{_mm256_min_ps(candidate.raw, current.raw)};
}

// `kept` where `keep` is set, lowerOf(current, candidate) elsewhere. The
// candidates are sums of a cell and a step, never NaN (the field holds
// none) nor -0 (only x = -1 gives a zero, and that is +0), so the
// candidates may be met in any order and the current value still wins a
// tie. On AVX-512 the choice rides on the minimum itself, one instruction
// on the chain instead of two.
HWY_INLINE VR keepOrLower(hn::Mask<DR> keep, VR kept, VR current,
                          VR candidate) {
#if HWY_TARGET == HWY_AVX3
  return VR{_mm256_mask_min_ps(kept.raw, static_cast<__mmask8>(~keep.raw),
                               candidate.raw, current.raw)};
#else
  return hn::IfThenElse(keep, kept, lowerOf(current, candidate));
#endif
}

// Every lane moved up one, lane 0 taking the last lane of `from`: the row
// before each row. It lies on the sweep's dependency chain, so it is one
// instruction where the processor has one.
HWY_INLINE VR oneLaneUp(VR v, VR from) {
#if HWY_TARGET == HWY_AVX3
  return VR{_mm256_castsi256_ps(_mm256_alignr_epi32(
      _mm256_castps_si256(v.raw), _mm256_castps_si256(from.raw), 7))};
#else
  // v's last lane is dropped anyway: take from's there, then turn by one.
  const __m256i turn = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
  return VR{
      _mm256_permutevar8x32_ps(_mm256_blend_ps(v.raw, from.raw, 0x80), turn)};
#endif
}

// The cells a run's rows visit at one step, group by group.
template <int kGroups> struct RunCells { VR group[kGroups]; };

// Each group's cells moved up one lane: what each row sees of the row
// before it. Group 0's first row takes `beforeRun`, the row before the run.
template <int kGroups>
HWY_INLINE RunCells<kGroups> previousRowsOf(const RunCells<kGroups> &visited,
                                            float beforeRun) {
  RunCells<kGroups> up;
  up.group[0] = oneLaneUp(visited.group[0], hn::Set(DR(), beforeRun));
  for (int g = 1; g < kGroups; ++g)
    up.group[g] = oneLaneUp(visited.group[g], visited.group[g - 1]);
  return up;
}

// kLanes consecutive cells in sweep order from `cell` on.
template <int kDir> HWY_INLINE VR loadCells(const float *cell) {
  const DR d;
  return kDir > 0 ? hn::LoadU(d, cell)
                  : hn::Reverse(d, hn::LoadU(d, cell - (kLanes - 1)));
}

template <int kDir> HWY_INLINE void storeCells(VR cells, float *cell) {
  const DR d;
  if (kDir > 0)
    hn::StoreU(cells, d, cell);
  else
    hn::StoreU(hn::Reverse(d, cells), d, cell - (kLanes - 1));
}

// The cells rows[k][at + dir * i], i = s - 2k, that the rows visited at
// step s; far for a row whose i is outside [lowest, end).
template <int kGroups>
HWY_INLINE RunCells<kGroups> visitedAt(float *const *rows, std::int64_t at,
                                       int dir, std::int64_t lowest,
                                       std::int64_t end, std::int64_t s) {
  RunCells<kGroups> visited;
  for (int g = 0; g < kGroups; ++g) {
    HWY_ALIGN float cells[kLanes];
    for (int j = 0; j < kLanes; ++j) {
      const int k = g * kLanes + j;
      const std::int64_t i = s - 2 * k;
      cells[j] = i >= lowest && i < end ? rows[k][at + dir * i] : kFieldFar;
    }
    visited.group[g] = hn::Load(DR(), cells);
  }
  return visited;
}

// Loads eight steps of every row from step t on: cells[g][j] holds row
// 8g + j's cells of those steps. turnSteps then turns them so that
// cells[g][j] holds group g's cells of step t + j; storeSteps turns them
// back and stores them.
template <int kDir, int kGroups>
HWY_INLINE void loadSteps(float *const *rows, std::int64_t at, std::int64_t t,
                          VR cells[kGroups][kLanes]) {
  for (int g = 0; g < kGroups; ++g)
    for (int j = 0; j < kLanes; ++j) {
      const int k = g * kLanes + j;
      cells[g][j] = loadCells<kDir>(rows[k] + at + kDir * (t - 2 * k));
    }
}

template <int kGroups> HWY_INLINE void turnSteps(VR cells[kGroups][kLanes]) {
  for (int g = 0; g < kGroups; ++g)
    transposeRows(cells[g]);
}

template <int kDir, int kGroups>
HWY_INLINE void storeSteps(float *const *rows, std::int64_t at, std::int64_t t,
                           VR cells[kGroups][kLanes]) {
  for (int g = 0; g < kGroups; ++g) {
    transposeRows(cells[g]);
    for (int j = 0; j < kLanes; ++j) {
      const int k = g * kLanes + j;
      storeCells<kDir>(cells[g][j], rows[k] + at + kDir * (t - 2 * k));
    }
  }
}

// What each row carries from one step to the next: the cell it left
// behind, and the row before's cells one behind, level with and one ahead
// of the cell it visits next.
template <int kGroups> struct Carried {
  RunCells<kGroups> behind, previousBehind, previousLevel, previousAhead;
};

// Whether a block of steps can be left as it is: every cell of it and
// every candidate it starts from (those carried in, and the row before the
// run at the block's steps, `beforeRun`) lies above `settled`. Then every
// value the block would compute lies above it too, and its cells, which a
// pass only lowers, may keep what they hold; what it carries on may be
// far, which is above it and no lower than the true candidates.
template <int kGroups, class BeforeRun>
HWY_INLINE bool settledBlock(VR settled, VR cells[kGroups][kLanes],
                             const Carried<kGroups> &carried,
                             BeforeRun &&beforeRun, std::int64_t t) {
  VR lowest = cells[0][0];
  for (int g = 0; g < kGroups; ++g) {
    for (int j = 0; j < kLanes; ++j)
      lowest = lowerOf(lowest, cells[g][j]);
    lowest = lowerOf(lowerOf(lowest, carried.behind.group[g]),
                     carried.previousBehind.group[g]);
    lowest = lowerOf(lowerOf(lowest, carried.previousLevel.group[g]),
                     carried.previousAhead.group[g]);
  }
  if (!hn::AllTrue(DR(), hn::Gt(lowest, settled)))
    return false;
  for (int j = 0; j < kLanes; ++j)
    if (!(beforeRun(t + j) > hn::GetLane(settled)))
      return false;
  return true;
}

template <int kGroups> HWY_INLINE Carried<kGroups> farCarried() {
  Carried<kGroups> far;
  for (int g = 0; g < kGroups; ++g)
    far.behind.group[g] = far.previousBehind.group[g] =
        far.previousLevel.group[g] = far.previousAhead.group[g] =
            hn::Set(DR(), kFieldFar);
  return far;
}

// The side-by-side walk both passes share, in whole blocks of kLanes steps
// from `from` while they fit before `to`; returns the step it stopped at.
// Row k visits cell at + kDir * (t - 2k) at step t. visited(s) gives the
// cells the rows visited at step s, beforeRun(s) the cell of the row before
// the run that its first row reads as the cell ahead after step s, and
// step(v, carried, g) the new value of group g's cells v.
template <int kDir, int kGroups, class Visited, class BeforeRun, class Step>
HWY_INLINE std::int64_t walkSteadyBlocks(float *const *rows, std::int64_t at,
                                         std::int64_t from, std::int64_t to,
                                         float settledAbove, Visited &&visited,
                                         BeforeRun &&beforeRun, Step &&step) {
  Carried<kGroups> carried;
  carried.behind = visited(from - 1);
  carried.previousAhead = previousRowsOf(carried.behind, beforeRun(from - 1));
  carried.previousLevel =
      previousRowsOf(visited(from - 2), beforeRun(from - 2));
  carried.previousBehind =
      previousRowsOf(visited(from - 3), beforeRun(from - 3));
  // Infinity or NaN settles nothing: every block is walked.
  const bool maySettle = settledAbove < kFieldFar;
  const VR settled = hn::Set(DR(), settledAbove);
  std::int64_t t = from;
  for (; t + kLanes <= to; t += kLanes) {
    VR cells[kGroups][kLanes];
    loadSteps<kDir, kGroups>(rows, at, t, cells);
    if (maySettle &&
        settledBlock<kGroups>(settled, cells, carried, beforeRun, t)) {
      carried = farCarried<kGroups>();
      continue;
    }
    turnSteps<kGroups>(cells);
    for (int j = 0; j < kLanes; ++j) {
      for (int g = 0; g < kGroups; ++g) {
        cells[g][j] = step(cells[g][j], carried, g);
        carried.behind.group[g] = cells[g][j];
      }
      carried.previousBehind = carried.previousLevel;
      carried.previousLevel = carried.previousAhead;
      carried.previousAhead = previousRowsOf(carried.behind, beforeRun(t + j));
    }
    storeSteps<kDir, kGroups>(rows, at, t, cells);
  }
  return t;
}

template <int kDir, int kGroups>
std::int64_t sweepSteadySteps(float *const *rows, std::ptrdiff_t toPrevious,
                              std::int64_t width, std::int64_t from,
                              std::int64_t to, float settledAbove) {
  const DR d;
  const std::int64_t first = kDir > 0 ? 0 : width - 1;
  const float *before = rows[0] + toPrevious;
  // The row before the run, read only as far as these steps may (the
  // cells beyond may still be in the making on another thread). At step s
  // it stands two cells ahead of the run's first row.
  auto beforeAt = [&](std::int64_t s) {
    const std::int64_t j = s + 2;
    return j >= 0 && j <= to && j < width ? before[first + kDir * j]
                                          : kFieldFar;
  };
  auto visited = [&](std::int64_t s) {
    return visitedAt<kGroups>(rows, first, kDir, 0, width, s);
  };
  const VR orthogonal = hn::Set(d, kOrthogonalStep);
  const VR diagonal = hn::Set(d, kDiagonalStep);
  const VR skipAtOrBelow = hn::Set(d, kSkipThreshold);
  // The candidates known a step early first, so that only the two from
  // the step before (the cell behind, and the row before's cell ahead)
  // lie on the chain.
  auto step = [&](VR v, const Carried<kGroups> &c, int g) {
    const VR early =
        lowerOf(v, lowerOf(hn::Add(c.previousBehind.group[g], diagonal),
                           hn::Add(c.previousLevel.group[g], orthogonal)));
    const VR newest = lowerOf(hn::Add(c.previousAhead.group[g], diagonal),
                              hn::Add(c.behind.group[g], orthogonal));
    return keepOrLower(hn::Le(v, skipAtOrBelow), v, early, newest);
  };
  return walkSteadyBlocks<kDir, kGroups>(rows, first, from, to, settledAbove,
                                         visited, beforeAt, step);
}

std::int64_t sweepSteadyRows(float *const *rows, int rowCount,
                             std::ptrdiff_t toPrevious, std::int64_t width,
                             int dir, std::int64_t from, std::int64_t to,
                             float settledAbove) {
  constexpr int kLong = kRunRows / kLanes, kShort = kShortRunRows / kLanes;
  const auto walk = [&](auto sweep) {
    return sweep(rows, toPrevious, width, from, to, settledAbove);
  };
  if (rowCount == kRunRows)
    return dir > 0 ? walk(sweepSteadySteps<+1, kLong>)
                   : walk(sweepSteadySteps<-1, kLong>);
  return dir > 0 ? walk(sweepSteadySteps<+1, kShort>)
                 : walk(sweepSteadySteps<-1, kShort>);
}

// Draft's forward-only walk, side by side as above: at step t row k
// visits column c = 1 + t - 2k. Its candidates are its own column c - 1
// (the value it left behind) and the row before's columns c and c - 1,
// which row k - 1 visited at steps t - 2 and t - 3 (row 0: the row before
// the run). A cell at or below 0 is a seed and keeps its value.
template <int kGroups>
std::int64_t draftSteadySteps(float *const *rows, std::int64_t width,
                              std::int64_t from, std::int64_t to,
                              float settledAbove) {
  const DR d;
  const float *before = rows[0] - width;
  // The row before the run, read only as far as these steps may. At step
  // s it stands at column 1 + s + 2.
  auto beforeAt = [&](std::int64_t s) {
    const std::int64_t c = 1 + s + 2;
    return c >= 0 && c <= to && c < width ? before[c] : kFieldFar;
  };
  auto visited = [&](std::int64_t s) {
    // Column 1 + i; the cell behind the first visited is column 0.
    return visitedAt<kGroups>(rows, 1, 1, -1, width - 1, s);
  };
  const VR orthogonal = hn::Set(d, kOrthogonalStep);
  const VR diagonal = hn::Set(d, kDiagonalStep);
  // As in the two-pass walk, only the cell behind is on the chain; the
  // row before's cell ahead is not a candidate here.
  auto step = [&](VR v, const Carried<kGroups> &c, int g) {
    const VR early =
        lowerOf(v, lowerOf(hn::Add(c.previousLevel.group[g], orthogonal),
                           hn::Add(c.previousBehind.group[g], diagonal)));
    return keepOrLower(hn::Not(hn::Gt(v, hn::Zero(d))), v, early,
                       hn::Add(c.behind.group[g], orthogonal));
  };
  return walkSteadyBlocks<+1, kGroups>(rows, 1, from, to, settledAbove, visited,
                                       beforeAt, step);
}

std::int64_t draftSteadyRows(float *const *rows, int rowCount,
                             std::int64_t width, std::int64_t from,
                             std::int64_t to, float settledAbove) {
  return rowCount == kRunRows
             ? draftSteadySteps<kRunRows / kLanes>(rows, width, from, to,
                                                   settledAbove)
             : draftSteadySteps<kShortRunRows / kLanes>(rows, width, from, to,
                                                        settledAbove);
}

#else

// Narrower paths walk the rows one cell at a time (OutlineField.cpp).
std::int64_t sweepSteadyRows(float *const *, int, std::ptrdiff_t, std::int64_t,
                             int, std::int64_t from, std::int64_t, float) {
  return from;
}

std::int64_t draftSteadyRows(float *const *, int, std::int64_t,
                             std::int64_t from, std::int64_t, float) {
  return from;
}

#endif

} // namespace HWY_NAMESPACE
} // namespace rimlet
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace rimlet {

using SteadySweeper = std::int64_t(float *const *, int, std::ptrdiff_t,
                                   std::int64_t, int, std::int64_t,
                                   std::int64_t, float);

std::int64_t sweepSteadyRows(float *const *rows, int rowCount,
                             std::ptrdiff_t toPrevious, std::int64_t width,
                             int dir, std::int64_t from, std::int64_t to,
                             float settledAbove) {
  static const auto table = QFX_SIMD_TABLE(SteadySweeper, sweepSteadyRows);
  return table.active()(rows, rowCount, toPrevious, width, dir, from, to,
                        settledAbove);
}

using DraftSweeper = std::int64_t(float *const *, int, std::int64_t,
                                  std::int64_t, std::int64_t, float);

std::int64_t draftSteadyRows(float *const *rows, int rowCount,
                             std::int64_t width, std::int64_t from,
                             std::int64_t to, float settledAbove) {
  static const auto table = QFX_SIMD_TABLE(DraftSweeper, draftSteadyRows);
  return table.active()(rows, rowCount, width, from, to, settledAbove);
}

using ByteSeeder = void(float *, const std::uint8_t *, std::int64_t,
                        const float *);
using ShortSeeder = void(float *, const std::uint16_t *, std::int64_t,
                         FieldSeeding);
using FloatSeeder = void(float *, const float *, std::int64_t, FieldSeeding);

void seedRgbaRow(float *cells, const unsigned char *pixels, std::int64_t count,
                 const ByteSeedTable &byteSeeds) {
  static const auto table = QFX_SIMD_TABLE(ByteSeeder, seedByteRow);
  table.active()(cells, pixels, count, byteSeeds.data());
}

void seedRgbaRow(float *cells, const unsigned short *pixels, std::int64_t count,
                 FieldSeeding seeding) {
  static const auto table = QFX_SIMD_TABLE(ShortSeeder, seedShortRow);
  table.active()(cells, pixels, count, seeding);
}

void seedRgbaRow(float *cells, const float *pixels, std::int64_t count,
                 FieldSeeding seeding) {
  static const auto table = QFX_SIMD_TABLE(FloatSeeder, seedFloatRow);
  table.active()(cells, pixels, count, seeding);
}

} // namespace rimlet
#endif
