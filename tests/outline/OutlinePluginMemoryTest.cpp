// What the outline effect keeps in memory between renders, seen from the
// host: the process's resident memory (committed memory on Windows), so that
// nothing in the module needs to answer for itself. The field blocks are mapped
// from the system directly, so they show there page for page, without the
// heap's caching.
#include "OutlinePluginTestSupport.h"
#include "TestPlatform.h"

namespace outline_plugin_test {
namespace {

using qfx_test::heldMemoryBytes;

// Field memory follows the renders running, not the instances alive: after
// 64 instances have each rendered a frame, one after another, the module
// holds at most two fields' worth, and none once the host purges its
// caches. (Each instance keeping its own field would hold 64.)
TEST(OutlineMemory, FieldMemoryFollowsTheRendersNotTheInstances) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers keep freed memory and their own records resident, so
  // the process's resident size no longer tells what the module holds; the
  // pool's own accounting is tested in FieldPoolTest.
  GTEST_SKIP() << "resident memory is not the module's under a sanitizer";
#endif
  OutlineHost fixture;
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  fixture.host().setCpuCount(2);
  const OfxRectI frame{0, 0, 2048, 2048};
  const std::int64_t fieldBytes =
      std::int64_t(frame.x2) * frame.y2 * sizeof(float);
  auto source = makeImage<ByteRGBA>(frame);
  paintShapes<ByteRGBA>(*source);
  auto output = makeImage<ByteRGBA>(frame);
  output->fillBytes(kSentinelByte);
  auto render = [](ofxhost::Instance &instance, ofxhost::ImagePtr source,
                   ofxhost::ImagePtr output) {
    instance.param(names::kQuality).setValue({0.0}); // the cheapest to render
    instance.setSource(source);
    instance.setOutput(output);
    const ofxhost::ActionResult result =
        instance.render(renderOf(output->bounds()));
    EXPECT_TRUE(result.ok()) << result.message;
  };
  // What each instance keeps for itself whatever the frame (a few hundred
  // kilobytes, between the host and the module) is set up by a first render
  // of a small frame and left out of the count.
  const OfxRectI small{0, 0, 16, 16};
  auto smallSource = makeImage<ByteRGBA>(small);
  auto smallOutput = makeImage<ByteRGBA>(small);
  std::vector<std::unique_ptr<ofxhost::Instance>> instances;
  for (int i = 0; i < 64; ++i) {
    instances.push_back(fixture.createFilter());
    ASSERT_TRUE(instances.back());
    render(*instances.back(), smallSource, smallOutput);
  }
  ASSERT_EQ(instances.front()->purgeCaches().status, kOfxStatOK);
  const std::int64_t before = heldMemoryBytes();

  for (auto &instance : instances)
    render(*instance, source, output);
  EXPECT_LE(heldMemoryBytes() - before, 2 * fieldBytes);

  // What stays is the heap's own slack: well under the one field left.
  ASSERT_EQ(instances.back()->purgeCaches().status, kOfxStatOK);
  EXPECT_LT(heldMemoryBytes() - before, fieldBytes / 2);
}

} // namespace
} // namespace outline_plugin_test
