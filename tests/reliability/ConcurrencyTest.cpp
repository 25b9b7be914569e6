// Several instances of one effect rendering at the same time on different
// host threads, each with its own parameters and images, as an application
// rendering several clips at once would. Each must give exactly the pixels
// it gives when the instances render one after the other: nothing of one
// render may leak into another. Run under ThreadSanitizer as well.
#include "ReliabilityTestSupport.h"

#include <functional>
#include <thread>

namespace reliability {
namespace {

constexpr int kInstances = 4;
constexpr int kFramesEach = 3;
const OfxRectI kBounds{-7, 2, 57, 43};

// Settings of instance i at frame f: no two alike, so that a value read
// from the wrong instance or the wrong frame shows in the pixels.
void applySettings(const std::string &bundle, ofxhost::Instance &instance,
                   int i, int frame) {
  const double k = i + 0.25 * frame;
  if (bundle == "Tintrow") {
    instance.param(tintrow::names::kStartColor)
        .setValue({0.1 * k, 0.9, 0.2, 1.0});
    instance.param(tintrow::names::kEndColor)
        .setValue({0.8, 0.1 * k, 0.6, 1.0});
    instance.param(tintrow::names::kStartPosition).setValue({0.05 * k, 0.3});
    instance.param(tintrow::names::kEndPosition).setValue({0.9, 0.2 + 0.1 * k});
    instance.param(tintrow::names::kGradientType).setValue({double(i % 2)});
  } else {
    instance.param(rimlet::names::kOutlineColor)
        .setValue({0.2 * k, 0.5, 1.0 - 0.1 * k, 1.0});
    instance.param(rimlet::names::kOutlineWidth).setValue({1.0 + 1.5 * k});
    instance.param(rimlet::names::kQuality).setValue({double(i % 3)});
  }
}

struct Job {
  std::unique_ptr<ofxhost::Instance> instance;
  ofxhost::ImagePtr source;
  std::vector<ofxhost::ImagePtr> outputs; // one per frame
  std::vector<ofxhost::ActionResult> results;
};

class ConcurrentInstances
    : public ::testing::TestWithParam<std::tuple<std::string, PixelFormat>> {
protected:
  const std::string &bundle() const { return std::get<0>(GetParam()); }
  const PixelFormat &format() const { return std::get<1>(GetParam()); }

  // An instance with its own source; frames are rendered into fresh
  // outputs so that every frame's pixels can be compared afterwards.
  Job makeJob(EffectHost &fixture, int i) {
    Job job;
    job.instance = fixture.createFilter();
    job.source = makeImage(kBounds, format());
    paintPicture(*job.source, i);
    if (job.instance)
      job.instance->setSource(job.source);
    return job;
  }

  void renderFrames(const std::string &bundleName, Job &job, int i) {
    for (int frame = 0; frame < kFramesEach; ++frame) {
      auto output = makeImage(kBounds, format());
      output->fillBytes(0x3C);
      job.instance->setOutput(output);
      applySettings(bundleName, *job.instance, i, frame);
      job.results.push_back(job.instance->render(renderOf(kBounds, frame)));
      job.outputs.push_back(output);
    }
  }

  std::vector<Job> renderAll(unsigned cpus, bool atOnce) {
    EffectHost fixture(bundle(), isolatedOptions(cpus));
    EXPECT_NE(fixture.plugin(), nullptr) << fixture.error();
    std::vector<Job> jobs;
    for (int i = 0; i < kInstances; ++i) {
      jobs.push_back(makeJob(fixture, i));
      if (!jobs.back().instance)
        return {};
    }
    // Settings are applied by each render's own thread, between its
    // frames, while the other instances render.
    const std::string name = bundle();
    if (atOnce) {
      std::vector<std::thread> threads;
      for (int i = 0; i < kInstances; ++i)
        threads.emplace_back(
            [this, &jobs, &name, i] { renderFrames(name, jobs[i], i); });
      for (std::thread &t : threads)
        t.join();
    } else {
      for (int i = 0; i < kInstances; ++i)
        renderFrames(name, jobs[i], i);
    }
    // The instances die with the host; their images stay with the jobs.
    for (Job &job : jobs)
      job.instance.reset();
    return jobs;
  }
};

TEST_P(ConcurrentInstances, RenderTheSamePixelsAsOneByOne) {
  const std::vector<Job> alone = renderAll(1, false);
  ASSERT_EQ(alone.size(), size_t(kInstances));
  // Each render's bands also run on the host's threads, shared by all.
  const std::vector<Job> together = renderAll(3, true);
  ASSERT_EQ(together.size(), size_t(kInstances));
  for (int i = 0; i < kInstances; ++i) {
    for (int frame = 0; frame < kFramesEach; ++frame) {
      const std::string what = bundle() + " instance " + std::to_string(i) +
                               " frame " + std::to_string(frame);
      ASSERT_TRUE(alone[i].results[frame].ok())
          << what << ": " << alone[i].results[frame].message;
      ASSERT_TRUE(together[i].results[frame].ok())
          << what << ": " << together[i].results[frame].message;
      EXPECT_EQ(firstDifference(*together[i].outputs[frame],
                                *alone[i].outputs[frame]),
                "")
          << what;
    }
  }
}

// Region answers asked from many threads at once, each instance with its
// own width, are those each instance gives alone.
TEST_P(ConcurrentInstances, RegionAnswersDoNotMix) {
  EffectHost fixture(bundle(), isolatedOptions(2));
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  std::vector<Job> jobs;
  std::vector<OfxRectD> expected(kInstances);
  for (int i = 0; i < kInstances; ++i) {
    jobs.push_back(makeJob(fixture, i));
    ASSERT_TRUE(jobs.back().instance);
    applySettings(bundle(), *jobs.back().instance, i, 0);
    ASSERT_TRUE(jobs.back()
                    .instance->regionOfDefinition(0.0, {1, 1}, expected[i])
                    .ok());
  }
  std::vector<int> mismatches(kInstances, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kInstances; ++i)
    threads.emplace_back([&, i] {
      for (int n = 0; n < 200; ++n) {
        OfxRectD rod{0, 0, 0, 0};
        const bool ok =
            jobs[i].instance->regionOfDefinition(0.0, {1, 1}, rod).ok();
        if (!ok || rod.x1 != expected[i].x1 || rod.y1 != expected[i].y1 ||
            rod.x2 != expected[i].x2 || rod.y2 != expected[i].y2)
          ++mismatches[i];
      }
    });
  for (std::thread &t : threads)
    t.join();
  for (int i = 0; i < kInstances; ++i)
    EXPECT_EQ(mismatches[i], 0) << bundle() << " instance " << i;
}

INSTANTIATE_TEST_SUITE_P(
    BothEffects, ConcurrentInstances,
    ::testing::Combine(::testing::ValuesIn(effectBundles()),
                       ::testing::ValuesIn(allFormats())),
    [](const ::testing::TestParamInfo<std::tuple<std::string, PixelFormat>>
           &info) {
      return std::get<0>(info.param) + "_" +
             formatName(std::get<1>(info.param));
    });

} // namespace
} // namespace reliability
