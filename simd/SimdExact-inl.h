// Per-target helpers for loops that must give the scalar code's bits
// (include after "hwy/highway.h", inside a foreach_target source).
#if defined(QFX_SIMD_EXACT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QFX_SIMD_EXACT_INL_H_
#undef QFX_SIMD_EXACT_INL_H_
#else
#define QFX_SIMD_EXACT_INL_H_
#endif

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace qfx::simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Doubles to the nearest floats, as a scalar cast rounds them: beyond the
// largest float to infinity. (Highway's emulated paths saturate at the
// largest float instead; the hardware conversion rounds like the cast.)
template <class DF, class VD>
HWY_INLINE hn::Vec<DF> toNearestFloat(DF df, VD v) {
#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
  const hn::Rebind<double, DF> dd;
  constexpr size_t kMaxLanes = hn::MaxLanes(dd);
  HWY_ALIGN double wide[kMaxLanes];
  HWY_ALIGN float narrow[kMaxLanes];
  hn::Store(v, dd, wide);
  for (size_t i = 0; i < kMaxLanes; ++i)
    narrow[i] = static_cast<float>(wide[i]);
  return hn::Load(df, narrow);
#else
  return hn::DemoteTo(df, v);
#endif
}

} // namespace HWY_NAMESPACE
} // namespace qfx::simd
HWY_AFTER_NAMESPACE();

#endif
