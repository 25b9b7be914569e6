// Running a test on each vector path (simd/SimdPath.h): the paths as a
// gtest parameter, a skip for those this processor lacks, and the
// environment setting that selects one while a test runs.
#pragma once

#include <gtest/gtest.h>

#include "SimdPath.h"
#include "TestPlatform.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace simd_test {

using qfx::simd::Path;

// QFX_SIMD set to `path` for the object's lifetime; the earlier setting
// (or its absence) comes back afterwards. Renders must not run meanwhile
// on other threads: the effects read the setting when a render starts.
class ScopedSimdPath {
public:
  explicit ScopedSimdPath(Path path) {
    if (const char *old = std::getenv(kVariable))
      previous_ = old;
    qfx_test::setEnv(kVariable, qfx::simd::pathName(path));
  }
  ~ScopedSimdPath() {
    if (previous_)
      qfx_test::setEnv(kVariable, *previous_);
    else
      qfx_test::unsetEnv(kVariable);
  }
  ScopedSimdPath(const ScopedSimdPath &) = delete;
  ScopedSimdPath &operator=(const ScopedSimdPath &) = delete;

private:
  static constexpr const char *kVariable = "QFX_SIMD";
  std::optional<std::string> previous_;
};

// "scalar", "sse4", ... as the parameter's part of a test's name.
struct PathNames {
  std::string operator()(const ::testing::TestParamInfo<Path> &info) const {
    return qfx::simd::pathName(info.param);
  }
};

inline auto allPaths() { return ::testing::ValuesIn(qfx::simd::kAllPaths); }

} // namespace simd_test

// Skips the running test when the processor cannot run `path`, saying so.
#define SIMD_TEST_SKIP_IF_MISSING(path)                                        \
  do {                                                                         \
    if (!qfx::simd::cpuHas(path))                                              \
      GTEST_SKIP() << "this processor has no " << qfx::simd::pathName(path)    \
                   << " path";                                                 \
  } while (0)
