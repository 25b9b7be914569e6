// The choice of vector path: what QFX_SIMD asks for is what runs, when
// the processor has it, and anything else falls back rather than fails.
#include "SimdPathTesting.h"

namespace simd_test {
namespace {

TEST(SimdPath, NamesRoundTrip) {
  for (Path path : qfx::simd::kAllPaths) {
    Path parsed = Path::Scalar;
    EXPECT_TRUE(qfx::simd::parsePath(qfx::simd::pathName(path), parsed));
    EXPECT_EQ(parsed, path);
  }
  Path untouched = Path::Avx2;
  EXPECT_FALSE(qfx::simd::parsePath("avx1024", untouched));
  EXPECT_FALSE(qfx::simd::parsePath(nullptr, untouched));
  EXPECT_EQ(untouched, Path::Avx2);
}

TEST(SimdPath, ActivePathFollowsTheEnvironment) {
  Path best = Path::Scalar;
  for (Path path : qfx::simd::kAllPaths) {
    if (qfx::simd::cpuHas(path))
      best = path;
    // Missing paths fall back to the best one below them.
    ScopedSimdPath chosen(path);
    EXPECT_EQ(qfx::simd::activePath(), best)
        << "QFX_SIMD=" << qfx::simd::pathName(path);
  }
  qfx_test::setEnv("QFX_SIMD", "no-such-path");
  EXPECT_EQ(qfx::simd::activePath(), best);
  qfx_test::unsetEnv("QFX_SIMD");
  EXPECT_EQ(qfx::simd::activePath(), best);
}

void scalarOnly() {}
void sse4Entry() {}

TEST(SimdPath, TableFallsBackToTheNearestCompiledPath) {
  const qfx::simd::PathTable<void()> table{
      {nullptr, &sse4Entry, nullptr, nullptr}};
  EXPECT_EQ(table.at(Path::Scalar), &sse4Entry);
  EXPECT_EQ(table.at(Path::Avx512), &sse4Entry);
  const qfx::simd::PathTable<void()> low{
      {&scalarOnly, &sse4Entry, nullptr, nullptr}};
  EXPECT_EQ(low.at(Path::Scalar), &scalarOnly);
  EXPECT_EQ(low.at(Path::Avx2), &sse4Entry);
}

} // namespace
} // namespace simd_test
