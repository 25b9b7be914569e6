// The vector instruction sets the effects' pixel loops are built for, and
// the choice among them at run time.
//
// Every loop exists once per path, each giving the same bits; the best path
// the processor has is taken. QFX_SIMD=scalar|sse4|avx2|avx512 in the
// environment asks for a particular one (tests run every path this way);
// a path the processor lacks falls back to the best one below it.
#pragma once

#include <cstdint>

namespace qfx::simd {

// In order of preference, lowest first.
enum class Path : int { Scalar = 0, Sse4, Avx2, Avx512 };
constexpr int kPathCount = 4;
constexpr Path kAllPaths[kPathCount] = {Path::Scalar, Path::Sse4, Path::Avx2,
                                        Path::Avx512};

// "scalar", "sse4", "avx2", "avx512": the names QFX_SIMD takes.
const char *pathName(Path path);
// False for an unknown name; `path` is then left alone.
bool parsePath(const char *name, Path &path);

// Whether this processor (and its operating system) can run the path.
bool cpuHas(Path path);

// The path to run now: the environment's choice if any, else the best one.
// Read on every call, so that a test can switch paths between renders.
Path activePath();

// One function per path, null where a path was not compiled in. at()
// returns the entry for the active path, or the nearest compiled one below
// it (or above, if none is below).
template <class Fn> struct PathTable {
  Fn *entries[kPathCount];

  Fn *at(Path path) const {
    for (int i = static_cast<int>(path); i >= 0; --i)
      if (entries[i])
        return entries[i];
    for (int i = static_cast<int>(path) + 1; i < kPathCount; ++i)
      if (entries[i])
        return entries[i];
    return nullptr;
  }
  Fn *active() const { return at(activePath()); }
};

} // namespace qfx::simd
