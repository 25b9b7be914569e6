#include "SimdPath.h"

#include "hwy/targets.h"

#include <cstdlib>
#include <cstring>

namespace qfx::simd {

namespace {

std::int64_t targetOf(Path path) {
  switch (path) {
  case Path::Scalar:
    return HWY_EMU128;
  case Path::Sse4:
    return HWY_SSE4;
  case Path::Avx2:
    return HWY_AVX2;
  case Path::Avx512:
    return HWY_AVX3;
  }
  return HWY_EMU128;
}

// Highway's detection, made once: it asks the processor and the operating
// system (which must save the wider registers).
std::int64_t supportedTargets() {
  static const std::int64_t targets = hwy::SupportedTargets();
  return targets;
}

} // namespace

const char* pathName(Path path) {
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

bool parsePath(const char* name, Path& path) {
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
  return path == Path::Scalar || (supportedTargets() & targetOf(path)) != 0;
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
