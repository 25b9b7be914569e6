// Include before "hwy/foreach_target.h" in a source whose loops are built
// once per path (see SimdPath.h). It limits Highway to the four paths, so
// that no compile time goes to instruction sets nothing selects.
//
// After the per-target code, inside `#if HWY_ONCE`, QFX_SIMD_TABLE(Type, fn)
// makes the qfx::simd::PathTable<Type> of the per-target functions `fn`.
#pragma once

#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_AVX3_DL)
#endif
#include "hwy/detect_targets.h"

#include "SimdPath.h"

// The scalar path is Highway's emulation of a vector, or with compilers
// whose emulation Highway distrusts (GCC before 12.3), its one-lane target.
#if HWY_TARGETS & HWY_EMU128
#define QFX_SIMD_ENTRY_SCALAR(fn) &N_EMU128::fn
#elif HWY_TARGETS & HWY_SCALAR
#define QFX_SIMD_ENTRY_SCALAR(fn) &N_SCALAR::fn
#else
#define QFX_SIMD_ENTRY_SCALAR(fn) nullptr
#endif
#if HWY_TARGETS & HWY_SSE4
#define QFX_SIMD_ENTRY_SSE4(fn) &N_SSE4::fn
#else
#define QFX_SIMD_ENTRY_SSE4(fn) nullptr
#endif
#if HWY_TARGETS & HWY_AVX2
#define QFX_SIMD_ENTRY_AVX2(fn) &N_AVX2::fn
#else
#define QFX_SIMD_ENTRY_AVX2(fn) nullptr
#endif
#if HWY_TARGETS & HWY_AVX3
#define QFX_SIMD_ENTRY_AVX512(fn) &N_AVX3::fn
#else
#define QFX_SIMD_ENTRY_AVX512(fn) nullptr
#endif

#define QFX_SIMD_TABLE(Type, fn)                                               \
  ::qfx::simd::PathTable<Type> {                                               \
    {                                                                          \
      QFX_SIMD_ENTRY_SCALAR(fn), QFX_SIMD_ENTRY_SSE4(fn),                      \
          QFX_SIMD_ENTRY_AVX2(fn), QFX_SIMD_ENTRY_AVX512(fn)                   \
    }                                                                          \
  }
