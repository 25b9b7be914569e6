// Compiled once per vector path (Highway's foreach_target). The pixels of
// a vector are blended together, as many as a vector holds doubles.
//
// Exactness: no fused multiply-add (the source is built with contraction
// off), no Min/Max (their NaN rules differ between instruction sets; a
// comparison and a select keep the scalar code's "if"s), and conversions
// whose out-of-range behaviour is pinned down by clamping first.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "FillRows.cpp"
#include "SimdTargets.h"
#include "hwy/foreach_target.h" // IWYU pragma: keep
#include "hwy/highway.h"
#include "SimdExact-inl.h"

#include "FillRows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace tintrow {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using qfx::simd::HWY_NAMESPACE::toNearestFloat;

using DD = hn::ScalableTag<double>;
using VD = hn::Vec<DD>;

// The most pixels any path blends at once (AVX-512: 8).
constexpr int kMaxLanes = 16;

// t along the gradient, clamped to [0, 1] with a NaN kept.
HWY_INLINE VD gradientFactor(DD dd, const FillRowBlend &b,
                             const double *columnTerms) {
  if (b.flat)
    return hn::Zero(dd);
  VD sum = hn::Add(hn::LoadU(dd, columnTerms), hn::Set(dd, b.rowTerm));
  if (b.radial)
    sum = hn::Sqrt(sum);
  VD t = hn::Div(sum, hn::Set(dd, b.divisor));
  t = hn::IfThenElse(hn::Lt(t, hn::Zero(dd)), hn::Zero(dd), t);
  return hn::IfThenElse(hn::Gt(t, hn::Set(dd, 1.0)), hn::Set(dd, 1.0), t);
}

// g = start + (end - start) t.
HWY_INLINE VD gradientColour(DD dd, const FillRowBlend &b, int c, VD t) {
  return hn::Add(hn::Set(dd, b.start[c]), hn::Mul(hn::Set(dd, b.span[c]), t));
}

// m a maxValue for one channel, m = g w + s (1 - w), s the straight colour
// where a > 0.001 and 0 below.
HWY_INLINE VD blendChannel(DD dd, VD gradient, VD component, VD a, VD w,
                           VD maxValue) {
  const VD straight = hn::IfThenElseZero(
      hn::Gt(a, hn::Set(dd, 0.001)), hn::Div(hn::Div(component, maxValue), a));
  const VD mixed = hn::Add(hn::Mul(gradient, w),
                           hn::Mul(straight, hn::Sub(hn::Set(dd, 1.0), w)));
  return hn::Mul(hn::Mul(mixed, a), maxValue);
}

// Clamped to [0, maxValue], a NaN to 0, so that the truncating conversion
// that follows is the scalar code's.
HWY_INLINE VD clampForInteger(DD dd, VD v, VD maxValue) {
  v = hn::IfThenElse(hn::Gt(v, hn::Zero(dd)), v, hn::Zero(dd));
  return hn::IfThenElse(hn::Ge(v, maxValue), maxValue, v);
}

// Whole pixels in and out of wide lanes. Highway's one-lane target has no
// narrower view of a lane, so there the pixel goes through memory.
template <class DP, class Pix>
HWY_INLINE hn::Vec<DP> loadPixels(DP dp, const Pix *src) {
#if HWY_TARGET == HWY_SCALAR
  hn::TFromD<DP> bits;
  std::memcpy(&bits, src, sizeof(bits));
  return hn::Set(dp, bits);
#else
  return hn::BitCast(dp, hn::LoadU(hn::Repartition<Pix, DP>(), src));
#endif
}

template <class DP, class Pix>
HWY_INLINE void storePixels(DP dp, hn::Vec<DP> pixels, Pix *dst) {
#if HWY_TARGET == HWY_SCALAR
  (void)dp;
  const hn::TFromD<DP> bits = hn::GetLane(pixels);
  std::memcpy(dst, &bits, sizeof(bits));
#else
  const hn::Repartition<Pix, DP> dpix;
  hn::StoreU(hn::BitCast(dpix, pixels), dpix, dst);
#endif
}

// 8-bit RGBA: one pixel per 32-bit lane, red in the low byte.
struct BytePixels {
  using Pix = std::uint8_t;
  using DP = hn::Rebind<std::uint32_t, DD>;
  using VP = hn::Vec<DP>;
  static constexpr double kMax = 255.0;

  static VP load(const Pix *src) { return loadPixels(DP(), src); }
  static void store(VP p, Pix *dst) { storePixels(DP(), p, dst); }
  template <int c> static VD channel(VP p) {
    const hn::Rebind<std::int32_t, DD> di;
    return hn::PromoteTo(DD(), hn::BitCast(di, hn::And(hn::ShiftRight<8 * c>(p),
                                                       hn::Set(DP(), 0xFFu))));
  }
  static VP alphaByte(VP p) { return hn::ShiftRight<24>(p); }
  static VP alphaBits(VP p) { return hn::And(p, hn::Set(DP(), 0xFF000000u)); }
  template <int c> static VP fromChannel(VD clamped) {
    const hn::Rebind<std::int32_t, DD> di;
    return hn::ShiftLeft<8 * c>(hn::BitCast(DP(), hn::DemoteTo(di, clamped)));
  }
};

// 16-bit RGBA: one pixel per 64-bit lane, red in the low short.
struct ShortPixels {
  using Pix = std::uint16_t;
  using DP = hn::Repartition<std::uint64_t, DD>;
  using VP = hn::Vec<DP>;
  static constexpr double kMax = 65535.0;

  static VP load(const Pix *src) { return loadPixels(DP(), src); }
  static void store(VP p, Pix *dst) { storePixels(DP(), p, dst); }
  template <int c> static VD channel(VP p) {
    const hn::Repartition<std::int64_t, DD> di;
    return hn::ConvertTo(DD(),
                         hn::BitCast(di, hn::And(hn::ShiftRight<16 * c>(p),
                                                 hn::Set(DP(), 0xFFFFu))));
  }
  static VP alphaByte(VP p) { return hn::ShiftRight<48>(p); }
  static VP alphaBits(VP p) {
    return hn::And(p, hn::Set(DP(), 0xFFFF000000000000ull));
  }
  template <int c> static VP fromChannel(VD clamped) {
    const hn::Rebind<std::int32_t, DD> di;
    const hn::Rebind<std::uint32_t, DD> du;
    return hn::ShiftLeft<16 * c>(
        hn::PromoteTo(DP(), hn::BitCast(du, hn::DemoteTo(di, clamped))));
  }
};

// One vector of 8- or 16-bit pixels. Transparent pixels keep every bit;
// an opaque one has a = w = 1 exactly, so the general formula reduces to
// g maxValue (the source colour times 1 - w is +0), which a vector of
// opaque pixels computes without the divisions.
template <class P>
HWY_INLINE void
blendIntegerPixels(const FillRowBlend &b, const double *columnTerms,
                   const typename P::Pix *src, typename P::Pix *dst) {
  const DD dd;
  const typename P::DP dp;
  const typename P::VP pixels = P::load(src);
  const typename P::VP alpha = P::alphaByte(pixels);
  const auto visible = hn::Ne(alpha, hn::Zero(dp));
  if (hn::AllFalse(dp, visible)) {
    P::store(pixels, dst);
    return;
  }
  const VD t = gradientFactor(dd, b, columnTerms);
  const VD maxValue = hn::Set(dd, P::kMax);
  VD value[3];
  if (hn::AllTrue(
          dp, hn::Eq(alpha, hn::Set(dp, static_cast<hn::TFromD<typename P::DP>>(
                                            P::kMax))))) {
    for (int c = 0; c < 3; ++c)
      value[c] = hn::Mul(gradientColour(dd, b, c, t), maxValue);
  } else {
    const VD a = hn::Div(P::template channel<3>(pixels), maxValue);
    const VD w = hn::Sqrt(a);
    value[0] = blendChannel(dd, gradientColour(dd, b, 0, t),
                            P::template channel<0>(pixels), a, w, maxValue);
    value[1] = blendChannel(dd, gradientColour(dd, b, 1, t),
                            P::template channel<1>(pixels), a, w, maxValue);
    value[2] = blendChannel(dd, gradientColour(dd, b, 2, t),
                            P::template channel<2>(pixels), a, w, maxValue);
  }
  const typename P::VP blended = hn::Or(
      hn::Or(
          P::template fromChannel<0>(clampForInteger(dd, value[0], maxValue)),
          P::template fromChannel<1>(clampForInteger(dd, value[1], maxValue))),
      hn::Or(
          P::template fromChannel<2>(clampForInteger(dd, value[2], maxValue)),
          P::alphaBits(pixels)));
  P::store(hn::IfThenElse(visible, blended, pixels), dst);
}

using DF = hn::Rebind<float, DD>;
using VF = hn::Vec<DF>;

// One vector of float pixels. An alpha at or below 0, or NaN, passes the
// pixel through; any other alpha, infinite or above one included, blends.
HWY_INLINE void blendFloatPixels(const FillRowBlend &b,
                                 const double *columnTerms, const float *src,
                                 float *dst) {
  const DD dd;
  const DF df;
  VF channel[4];
  hn::LoadInterleaved4(df, src, channel[0], channel[1], channel[2], channel[3]);
  const auto visible = hn::Gt(channel[3], hn::Zero(df));
  if (!hn::AllFalse(df, visible)) {
    const VD t = gradientFactor(dd, b, columnTerms);
    const VD one = hn::Set(dd, 1.0);
    const VD a = hn::Div(hn::PromoteTo(dd, channel[3]), one);
    const VD w = hn::Sqrt(a);
    for (int c = 0; c < 3; ++c) {
      const VD value = blendChannel(dd, gradientColour(dd, b, c, t),
                                    hn::PromoteTo(dd, channel[c]), a, w, one);
      channel[c] =
          hn::IfThenElse(visible, toNearestFloat(DF(), value), channel[c]);
    }
  }
  hn::StoreInterleaved4(channel[0], channel[1], channel[2], channel[3], df,
                        dst);
}

// Whole vectors straight from the row; the last few pixels through a
// vector-sized buffer, so that nothing is read or written past the run.
template <class Pix, class Blend>
HWY_INLINE void blendRun(const FillRowBlend &b, const double *columnTerms,
                         const Pix *src, int count, Pix *dst,
                         Blend &&blendPixels) {
  const int lanes = static_cast<int>(hn::Lanes(DD()));
  int i = 0;
  for (; i + lanes <= count; i += lanes)
    blendPixels(b, columnTerms + i, src + 4 * i, dst + 4 * i);
  const int rest = count - i;
  if (rest <= 0)
    return;
  double terms[kMaxLanes] = {};
  Pix in[4 * kMaxLanes] = {};
  Pix out[4 * kMaxLanes];
  std::copy(columnTerms + i, columnTerms + count, terms);
  std::memcpy(in, src + 4 * i, sizeof(Pix) * 4 * rest);
  blendPixels(b, terms, in, out);
  std::memcpy(dst + 4 * i, out, sizeof(Pix) * 4 * rest);
}

void blendByteRow(const FillRowBlend &b, const double *columnTerms,
                  const std::uint8_t *src, int count, std::uint8_t *dst) {
  blendRun(b, columnTerms, src, count, dst,
           [](auto &&...args) { blendIntegerPixels<BytePixels>(args...); });
}

void blendShortRow(const FillRowBlend &b, const double *columnTerms,
                   const std::uint16_t *src, int count, std::uint16_t *dst) {
  blendRun(b, columnTerms, src, count, dst,
           [](auto &&...args) { blendIntegerPixels<ShortPixels>(args...); });
}

void blendFloatRow(const FillRowBlend &b, const double *columnTerms,
                   const float *src, int count, float *dst) {
  blendRun(b, columnTerms, src, count, dst,
           [](auto &&...args) { blendFloatPixels(args...); });
}

} // namespace HWY_NAMESPACE
} // namespace tintrow
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tintrow {

template <> FillRowBlender<unsigned char> *fillRowBlender<unsigned char>() {
  static const auto table =
      QFX_SIMD_TABLE(FillRowBlender<unsigned char>, blendByteRow);
  return table.active();
}

template <> FillRowBlender<unsigned short> *fillRowBlender<unsigned short>() {
  static const auto table =
      QFX_SIMD_TABLE(FillRowBlender<unsigned short>, blendShortRow);
  return table.active();
}

template <> FillRowBlender<float> *fillRowBlender<float>() {
  static const auto table =
      QFX_SIMD_TABLE(FillRowBlender<float>, blendFloatRow);
  return table.active();
}

} // namespace tintrow
#endif
