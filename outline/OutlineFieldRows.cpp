// The seeding of a row of the field, compiled once per vector path
// (Highway's foreach_target) and chosen at run time: the seeds of as many
// pixels as a vector holds doubles at a time, with the scalar formula's
// operations and roundings (see smoothSeed in OutlineField.h).
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
HWY_INLINE void seedBytes(const std::uint8_t *pixels, const float *byteSeeds, float *cells) {
  const hn::Rebind<std::uint32_t, DD> du32;
  const hn::Vec<decltype(du32)> alpha = hn::ShiftRight<24>(loadPixels(du32, pixels));
  const DF df;
  hn::StoreU(hn::GatherIndex(df, byteSeeds, hn::BitCast(hn::Rebind<std::int32_t, DD>(), alpha)),
             df, cells);
}

// -2 (A / 65535) rounded to a float, for A > 0.
HWY_INLINE void seedShorts(const std::uint16_t *pixels, FieldSeeding seeding, float *cells) {
  const DD dd;
  const hn::Repartition<std::int64_t, DD> di64;
  const hn::Repartition<std::uint64_t, DD> d64;
  const VD alpha =
      hn::ConvertTo(dd, hn::BitCast(di64, hn::ShiftRight<48>(loadPixels(d64, pixels))));
  // Whole numbers below 65536 are floats exactly.
  const hn::Mask<DF> covered = hn::Gt(hn::DemoteTo(DF(), alpha), hn::Zero(DF()));
  const VF seed = seeding == FieldSeeding::Draft
                      ? hn::Set(DF(), kDraftSeed)
                      : toNearestFloat(DF(), hn::Mul(hn::Set(dd, -2.0),
                                                     hn::Div(alpha, hn::Set(dd, 65535.0))));
  hn::StoreU(seedOrFar(covered, seed), DF(), cells);
}

// -2 A rounded to a float, for A > 0 (a NaN alpha covers nothing).
HWY_INLINE void seedFloats(const float *pixels, FieldSeeding seeding, float *cells) {
  const DF df;
  VF r, g, b, alpha;
  hn::LoadInterleaved4(df, pixels, r, g, b, alpha);
  const hn::Mask<DF> covered = hn::Gt(alpha, hn::Zero(df));
  const VF seed = seeding == FieldSeeding::Draft
                      ? hn::Set(df, kDraftSeed)
                      : toNearestFloat(df, hn::Mul(hn::Set(DD(), -2.0), hn::PromoteTo(DD(), alpha)));
  hn::StoreU(seedOrFar(covered, seed), df, cells);
}

// Whole vectors straight from the row, the last few pixels through a
// vector-sized buffer so that nothing past the row is read or written.
template <class Pix, class Seed>
HWY_INLINE void seedRun(float *cells, const Pix *pixels, std::int64_t count, Seed &&seed) {
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
  seedRun(cells, pixels, count,
          [byteSeeds](const std::uint8_t *p, float *c) { seedBytes(p, byteSeeds, c); });
}

void seedShortRow(float *cells, const std::uint16_t *pixels, std::int64_t count,
                  FieldSeeding seeding) {
  seedRun(cells, pixels, count,
          [seeding](const std::uint16_t *p, float *c) { seedShorts(p, seeding, c); });
}

void seedFloatRow(float *cells, const float *pixels, std::int64_t count, FieldSeeding seeding) {
  seedRun(cells, pixels, count,
          [seeding](const float *p, float *c) { seedFloats(p, seeding, c); });
}

} // namespace HWY_NAMESPACE
} // namespace rimlet
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace rimlet {

using ByteSeeder = void(float *, const std::uint8_t *, std::int64_t, const float *);
using ShortSeeder = void(float *, const std::uint16_t *, std::int64_t, FieldSeeding);
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

void seedRgbaRow(float *cells, const float *pixels, std::int64_t count, FieldSeeding seeding) {
  static const auto table = QFX_SIMD_TABLE(FloatSeeder, seedFloatRow);
  table.active()(cells, pixels, count, seeding);
}

} // namespace rimlet
#endif
