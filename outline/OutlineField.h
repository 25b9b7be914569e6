// The outline's distance field: one single-precision cell per destination
// pixel holding the smallest sum, over the covered source pixels, of a
// negative seed (deeper for more opaque pixels) and the chamfer distance to
// that pixel. The pixel rules turn this one number into the outline.
//
// The field is a plain row-major array of width x height cells; row r + 1
// is one step higher in y. These functions work on the array alone, so the
// seeding can be fed from an OpenFX image or from a plain test buffer, and
// the field's origin is a parameter rather than a property of the images.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "OutlinePixelFormat.h"

namespace rimlet {

// A cell no covered pixel has reached. Adding a step leaves it unchanged.
constexpr float kFieldFar = 1e20f;
constexpr float kOrthogonalStep = 1.0f;
constexpr float kDiagonalStep = 1.4142135f;
// The two-pass transform never changes a cell at or below this value, so a
// very deep seed (a float alpha above 1.5) stays what it was.
constexpr float kSkipThreshold = -3.0f;
// Draft gives every covered pixel the same seed whatever its alpha.
constexpr float kDraftSeed = -2.0f;

enum class FieldSeeding { Draft, Smooth };

AlphaTable makeAlphaTable();

// Columns and rows of a field. Cell counts and indices are 64-bit so that
// no destination size can wrap them around.
struct FieldExtent {
  std::int64_t width = 0;
  std::int64_t height = 0;

  std::int64_t cellCount() const { return width * height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }
  std::int64_t indexOf(std::int64_t c, std::int64_t r) const {
    return r * width + c;
  }
};

// Seed of a covered pixel at Good and Best: -2 scaled by how opaque it is.
template <class PIX, int maxValue>
float smoothSeed(PIX alpha, const AlphaTable &alphaTable) {
  if constexpr (std::is_same_v<PIX, unsigned char>) {
    return -2.0f * alphaTable[alpha];
  } else if constexpr (std::is_floating_point_v<PIX>) {
    // Not clamped: alpha above 1.5 seeds below the skip threshold.
    return static_cast<float>(-2.0 * static_cast<double>(alpha));
  } else {
    return static_cast<float>(-2.0 * (alpha / static_cast<double>(maxValue)));
  }
}

// Writes the seed of every cell. Cell (c, r) stands for pixel
// (originX + c, originY + r); sourceAt(x, y) returns that source pixel or
// null when there is none. Single-component formats never cover a pixel:
// their one component is not an alpha to outline, so the field stays far.
template <class PIX, int nComponents, int maxValue, class SourceLookup>
void seedField(float *cells, FieldExtent extent, int originX, int originY,
               FieldSeeding seeding, const AlphaTable &alphaTable,
               SourceLookup &&sourceAt) {
  if (extent.isEmpty())
    return;
  if constexpr (nComponents != 4) {
    for (std::int64_t i = 0, n = extent.cellCount(); i < n; ++i)
      cells[i] = kFieldFar;
    return;
  } else {
    using Component = OutlineComponent<PIX, maxValue>;
    for (std::int64_t r = 0; r < extent.height; ++r) {
      float *row = cells + extent.indexOf(0, r);
      const int y = static_cast<int>(originY + r);
      for (std::int64_t c = 0; c < extent.width; ++c) {
        const PIX *src = sourceAt(static_cast<int>(originX + c), y);
        if (src == nullptr || !Component::isCovered(src[3])) {
          row[c] = kFieldFar;
          continue;
        }
        row[c] = seeding == FieldSeeding::Draft
                     ? kDraftSeed
                     : smoothSeed<PIX, maxValue>(src[3], alphaTable);
      }
    }
  }
}

// How far a field built over part of the destination must reach beyond the
// cells that are read so that every read cell either holds exactly the
// value the whole-destination field would hold, or holds, like it, a value
// above `settledAbove` (a value above which the pixel rules give the same
// pixel whatever the exact value).
//
// Why a bounded reach exists. Each build computes, for every cell, the
// minimum over a set of step paths of "seed of the start cell + the steps
// taken", rounded after each step; min is exact and the rounded addition
// is monotone, so a cell's value is the minimum of its paths' values
// whatever the order in which candidates are met. A path's value never
// falls as it goes and rises by at least `rise` = 1 - V * 2^-24 per step
// while it stays within [lowestSeed, settledAbove] (V the larger
// magnitude of the two; each step adds 1 or 1.4142135 and rounds by at
// most half an ulp). So a path that ends at or below settledAbove has at
// most K = (settledAbove - lowestSeed) / rise steps, and a step moves at
// most one cell in x and in y: all its cells lie within K cells of its end.
//
// Draft's single pass only moves towards larger x and y, and which cells a
// path may cross depends on the seeds alone: K cells towards smaller x and
// y are enough (one more keeps the field's own first row and column, which
// the pass never visits, away from the paths that matter).
//
// The two-pass transform moves both ways, and its backward pass leaves
// alone every cell whose forward value is -3 or less, so a path may not
// cross such a cell. That status depends on the forward values, which a
// smaller field could get wrong: it is right wherever every forward path
// reaching -3 or less lies inside, and those have at most
// K' = (-3 - lowestSeed) / rise steps (none when no seed is at or below
// -3). Growing by K + K' on every side makes every path that matters, and
// every cell it may cross, the same as in the whole field: the cells read
// are then equal where either field is at or below settledAbove, and both
// above it elsewhere.
//
// When no such bound can be had (a seed so deep that a step no longer
// raises it, or a width that is not a number), `bounded` is false and only
// the whole destination will do.
struct FieldReach {
  bool bounded = false;
  // Cells to add towards smaller x and y, and towards larger x and y.
  std::int64_t towardsLower = 0;
  std::int64_t towardsUpper = 0;
};

FieldReach fieldReach(FieldSeeding seeding, double settledAbove,
                      double lowestSeed);

// The seed of every 8-bit alpha at a seeding, the far value for 0: what
// seedRow reads instead of testing and computing per pixel.
using ByteSeedTable = std::array<float, 256>;
ByteSeedTable makeByteSeedTable(FieldSeeding seeding,
                                const AlphaTable &alphaTable);

// The seeds of `count` consecutive RGBA pixels, as seedField gives them,
// several pixels at a time on the vector path in use (simd/SimdPath.h).
// Bytes read their seeds from the table.
void seedRgbaRow(float *cells, const unsigned char *pixels, std::int64_t count,
                 const ByteSeedTable &byteSeeds);
void seedRgbaRow(float *cells, const unsigned short *pixels, std::int64_t count,
                 FieldSeeding seeding);
void seedRgbaRow(float *cells, const float *pixels, std::int64_t count,
                 FieldSeeding seeding);

// Seeds `count` cells from consecutive source pixels, as seedField would.
template <class PIX, int nComponents, int maxValue>
void seedRow(float *cells, const PIX *pixels, std::int64_t count,
             FieldSeeding seeding, const AlphaTable & /*alphaTable*/,
             const ByteSeedTable &byteSeeds) {
  if constexpr (nComponents != 4) {
    // Nothing to seed from: see seedField.
    for (std::int64_t i = 0; i < count; ++i)
      cells[i] = kFieldFar;
  } else {
    static_assert(maxValue == (std::is_same_v<PIX, unsigned char>    ? 255
                               : std::is_same_v<PIX, unsigned short> ? 65535
                                                                     : 1),
                  "the row seeders know 1.0 from the component type");
    if constexpr (std::is_same_v<PIX, unsigned char>)
      seedRgbaRow(cells, pixels, count, byteSeeds);
    else
      seedRgbaRow(cells, pixels, count, seeding);
  }
}

// Every sweep below takes a value `settledAbove` (see fieldReach): the
// cells that end at or below it are bit for bit what the plain sweep
// gives, and the others end above it, not necessarily at the plain
// sweep's value. A value never falls along a path, so no cell at or below
// it depends on a cell above it; the vector paths use that to skip blocks
// of steps whose every cell and candidate is above it (the empty parts of
// a frame). With kNothingSettled every cell is the plain sweep's.
constexpr float kNothingSettled = std::numeric_limits<float>::infinity();

// Draft: one pass towards larger x and y only, over far cells only. Row 0
// and column 0 keep their seeds. Cheap, and lopsided on purpose.
void sweepForwardOnly(float *cells, FieldExtent extent,
                      float settledAbove = kNothingSettled);

// Good and Best: a forward and a backward sweep of the 8-connected chamfer
// transform, in place.
void sweepTwoPass(float *cells, FieldExtent extent,
                  float settledAbove = kNothingSettled);

// The same passes in pieces, so that rows can be seeded just before the
// forward sweep reaches them, while they are still in the cache: the
// forward sweep of rows firstRow to endRow - 1 (every row below swept
// already), and the whole backward sweep after the last forward piece.
void sweepForwardRows(float *cells, FieldExtent extent, std::int64_t firstRow,
                      std::int64_t endRow,
                      float settledAbove = kNothingSettled);
void sweepBackward(float *cells, FieldExtent extent,
                   float settledAbove = kNothingSettled);
// Draft's pass over rows firstRow to endRow - 1, likewise.
void sweepForwardOnlyRows(float *cells, FieldExtent extent,
                          std::int64_t firstRow, std::int64_t endRow,
                          float settledAbove = kNothingSettled);

// The passes cut into pieces small enough for several threads to share.
//
// A pass walks the rows in its sweep order (upwards for the forward
// passes, downwards for the backward one) in runs: the pass's first row
// alone, then kRunRows rows side by side where the field is at least
// kSideBySideWidth wide, then kShortRunRows if that many are left, then
// single rows. A run is walked in steps: at
// step t its k-th row visits the cell t - 2k places along the row in sweep
// order (Draft's pass starts one column in: it never visits column 0, nor
// row 0). Walking a run's steps in pieces, in order, gives the cells the
// whole walk gives; the sweeps above are these runs walked whole.
enum class FieldPass { ForwardOnly, Forward, Backward };

// Sixteen rows: on the wider paths, two vectors of eight float lanes,
// one row per lane, whose chains of dependence overlap. Eight of the rows
// a pass has left once no whole run fits still walk side by side.
constexpr int kRunRows = 16;
constexpr int kShortRunRows = 8;
constexpr std::int64_t kSideBySideWidth = 4 * kRunRows;

struct FieldRowRun {
  FieldPass pass = FieldPass::Forward;
  std::int64_t first = 0; // index, in sweep order, of its first row
  int rows = 1;

  // The field row (r) of its k-th row.
  std::int64_t fieldRow(FieldExtent extent, int k) const {
    return pass == FieldPass::Backward ? extent.height - 1 - (first + k)
                                       : first + k;
  }
  std::int64_t steps(FieldExtent extent) const;
  // How many leading cells, in sweep order, of its last row hold their
  // final value once `step` steps are walked.
  std::int64_t cellsDoneAfter(std::int64_t step, FieldExtent extent) const;
  // How many leading cells, in sweep order, of the row before its first
  // must hold their final value before steps up to `step` are walked.
  std::int64_t cellsNeededBefore(std::int64_t step, FieldExtent extent) const;
};

// Calls visit(run) for the runs of rows `from` to `to` - 1 (sweep order) of
// a pass, in order.
template <class Visit>
void forEachRowRun(FieldPass pass, FieldExtent extent, std::int64_t from,
                   std::int64_t to, Visit &&visit) {
  std::int64_t i = from;
  if (i == 0 && i < to)
    visit(FieldRowRun{pass, i++, 1});
  if (extent.width >= kSideBySideWidth) {
    for (; i + kRunRows <= to; i += kRunRows)
      visit(FieldRowRun{pass, i, kRunRows});
    if (i + kShortRunRows <= to) {
      visit(FieldRowRun{pass, i, kShortRunRows});
      i += kShortRunRows;
    }
  }
  for (; i < to; ++i)
    visit(FieldRowRun{pass, i, 1});
}

// Walks steps fromStep to toStep - 1 of a run. Every row before it in
// sweep order must be final as far as cellsNeededBefore(toStep) says, and
// its own steps before fromStep walked.
void sweepRunSteps(float *cells, FieldExtent extent, const FieldRowRun &run,
                   std::int64_t fromStep, std::int64_t toStep,
                   float settledAbove = kNothingSettled);

// Steps `from` to at most `to` - 1 of a two-pass run of rowCount rows
// (kRunRows or kShortRunRows; row k at rows[k], the row before it toPrevious
// cells away; dir +1 forward, -1 backward), all steps at which every row visits
// a cell with neighbours on both sides. Walks whole blocks of steps on the
// vector path in use and returns the step it stopped at, `from` on paths that
// leave the walk to the scalar code.
std::int64_t sweepSteadyRows(float *const *rows, int rowCount,
                             std::ptrdiff_t toPrevious, std::int64_t width,
                             int dir, std::int64_t from, std::int64_t to,
                             float settledAbove);

// The same for Draft's forward-only walk (row k at rows[k], the row before
// the run one width before rows[0]): the steps at which every row visits a
// column.
std::int64_t draftSteadyRows(float *const *rows, int rowCount,
                             std::int64_t width, std::int64_t from,
                             std::int64_t to, float settledAbove);

inline float fieldAt(const float *cells, FieldExtent extent, std::int64_t c,
                     std::int64_t r) {
  return cells[extent.indexOf(c, r)];
}

// The mean of the cell and its neighbours at larger x and y (not centred),
// summed in that order in single precision; the last column and the last
// row, which lack those neighbours, read the raw cell.
inline float fieldSmoothedAt(const float *cells, FieldExtent extent,
                             std::int64_t c, std::int64_t r) {
  if (c >= extent.width - 1 || r >= extent.height - 1)
    return fieldAt(cells, extent, c, r);
  const float *row = cells + extent.indexOf(c, r);
  const float *above = row + extent.width;
  return (row[0] + row[1] + above[0] + above[1]) * 0.25f;
}

} // namespace rimlet
