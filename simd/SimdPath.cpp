#include "SimdPath.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

namespace qfx::simd {

namespace {

// Not every compiler's __builtin_cpu_supports knows F16C (clang 14 does
// not); CPUID leaf 1 states it in ECX.
bool hasF16c() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
}

// What each path's code is compiled to use (Highway's target attributes for
// it); a processor lacking any one of them must not run that path. The
// checks also ask whether the operating system saves the wider registers.
// Asked here rather than of Highway's library, so that the bundles need
// Highway's headers alone and carry no shared library a host must find.
bool processorRuns(Path path) {
  __builtin_cpu_init();
  const bool sse4 =
      __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
      __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") &&
      __builtin_cpu_supports("aes");
  const bool avx2 =
      sse4 && __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
      __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
      __builtin_cpu_supports("fma") && hasF16c();
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") &&
                      __builtin_cpu_supports("avx512vl") &&
                      __builtin_cpu_supports("avx512dq") &&
                      __builtin_cpu_supports("avx512bw");
  switch (path) {
  case Path::Scalar:
    return true;
  case Path::Sse4:
    return sse4;
  case Path::Avx2:
    return avx2;
  case Path::Avx512:
    return avx512;
  }
  return false;
}

} // namespace

const char *pathName(Path path) {
  switch (path) {
  case Path::Scalar:
    return "scalar";
  case Path::Sse4:
    return "sse4";
  case Path::Avx2:
    return "avx2";
  case Path::Avx512:
    return "avx512";
  }
  return "scalar";
}

bool parsePath(const char *name, Path &path) {
  if (name == nullptr)
    return false;
  for (Path candidate : kAllPaths) {
    if (std::strcmp(name, pathName(candidate)) == 0) {
      path = candidate;
      return true;
    }
  }
  return false;
}

bool cpuHas(Path path) {
  static const bool runs[kPathCount] = {
      processorRuns(Path::Scalar), processorRuns(Path::Sse4),
      processorRuns(Path::Avx2), processorRuns(Path::Avx512)};
  return runs[static_cast<int>(path)];
}

Path activePath() {
  Path wanted = Path::Avx512;
  parsePath(std::getenv("QFX_SIMD"), wanted);
  for (int i = static_cast<int>(wanted); i > 0; --i)
    if (cpuHas(kAllPaths[i]))
      return kAllPaths[i];
  return Path::Scalar;
}

} // namespace qfx::simd
