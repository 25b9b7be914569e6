// Both effects under a host that misbehaves: suites it lacks, parameter
// values no range allows, and too little memory. Each case must end in the
// status the effect promises, with nothing written, every image handed back
// and no crash. Suite calls that fail and images unlike their clips are
// ActionContractTest's, which also holds the probe to them.
#include "ReliabilityTestSupport.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "HostileParams.h"

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"

namespace reliability {
namespace {

constexpr unsigned char kSentinel = 0xA7;
const OfxRectI kBounds{-5, 3, 27, 24};
const PixelFormat kByteRGBA{BitDepth::Byte, Components::RGBA};

std::string effectName(const ::testing::TestParamInfo<std::string> &info) {
  return info.param;
}

// ------------------------------------------------------------ missing suites

struct WithheldCase {
  std::string bundle;
  const char *suite;
};

class MissingSuite : public ::testing::TestWithParam<WithheldCase> {};

// The support library needs all six suites; a host without one of them
// must be told so at load, and must not get a half-working effect.
TEST_P(MissingSuite, LoadFailsAsMissingHostFeatureAndNoInstanceIsMade) {
  const WithheldCase &c = GetParam();
  ofxhost::HostOptions options = isolatedOptions();
  options.withheldSuites = {c.suite};
  ofxhost::Host host(options);
  std::string error;
  std::vector<ofxhost::Plugin *> plugins =
      host.openBundle(bundlePath(c.bundle), &error);
  ASSERT_EQ(plugins.size(), 1u) << error;
  const ofxhost::ActionResult load = plugins[0]->load();
  EXPECT_EQ(load.status, kOfxStatErrMissingHostFeature)
      << c.bundle << " without " << c.suite << ": " << load.message;

  ofxhost::ActionResult created;
  auto instance =
      plugins[0]->createInstance(kOfxImageEffectContextFilter, &created);
  EXPECT_EQ(instance, nullptr) << c.bundle << " without " << c.suite;
  EXPECT_FALSE(created.ok());
}

std::vector<WithheldCase> withheldCases() {
  std::vector<WithheldCase> cases;
  for (const std::string &bundle : effectBundles())
    for (const char *suite :
         {kOfxImageEffectSuite, kOfxPropertySuite, kOfxParameterSuite,
          kOfxMemorySuite, kOfxMultiThreadSuite, kOfxMessageSuite})
      cases.push_back({bundle, suite});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(
    BothEffects, MissingSuite, ::testing::ValuesIn(withheldCases()),
    [](const ::testing::TestParamInfo<WithheldCase> &info) {
      return info.param.bundle + "_" + info.param.suite;
    });

// ------------------------------------------------------------ values

// Parameter values no range allows, handed over verbatim as a careless
// host might: each parameter in turn, the others at their defaults. The
// render must succeed, stay inside its window, and not depend on the
// number of threads; the region answers must not fail.
class HostileValues : public ::testing::TestWithParam<std::string> {
protected:
  struct Outcome {
    ofxhost::ActionResult result;
    ofxhost::ImagePtr output;
  };

  Outcome renderWith(const std::string &param, const std::vector<double> &value,
                     unsigned cpus) {
    EffectHost fixture(GetParam(), isolatedOptions(cpus));
    auto instance = fixture.createFilter();
    if (!instance) {
      ADD_FAILURE() << fixture.error();
      return {};
    }
    auto source = makeImage(kBounds, kByteRGBA);
    paintPicture(*source);
    Outcome outcome;
    outcome.output = makeImage(kBounds, kByteRGBA);
    outcome.output->fillBytes(kSentinel);
    instance->setSource(source);
    instance->setOutput(outcome.output);
    hostile::setRawValue(instance->param(param), value);
    outcome.result = instance->render(renderOf(kWindow));
    OfxRectD rod{0, 0, 0, 0};
    const ofxhost::ActionResult rodResult =
        instance->regionOfDefinition(0.0, {1, 1}, rod);
    EXPECT_TRUE(rodResult.ok())
        << GetParam() << " " << param << ": " << rodResult.message;
    return outcome;
  }

  // Whether every pixel outside the window still holds the sentinel.
  static std::string firstWriteOutsideWindow(const ofxhost::Image &image) {
    for (int y = kBounds.y1; y < kBounds.y2; ++y)
      for (int x = kBounds.x1; x < kBounds.x2; ++x) {
        if (x >= kWindow.x1 && x < kWindow.x2 && y >= kWindow.y1 &&
            y < kWindow.y2)
          continue;
        const auto *p =
            static_cast<const unsigned char *>(image.pixelAddress(x, y));
        for (int i = 0; i < 4; ++i)
          if (p[i] != kSentinel)
            return "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                   ") written";
      }
    return "";
  }

  static constexpr OfxRectI kWindow{0, 5, 20, 19};
};

TEST_P(HostileValues, RenderInsideTheWindowAlikeOnAnyNumberOfThreads) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> numbers = {nan,    inf,  -inf, 1e300,
                                       -1e300, -1.0, 1e9};
  const std::vector<double> choices = {-1, 3, 1000, INT_MIN, INT_MAX};

  // The parameters, read from an instance of a host that is gone before
  // the renders' hosts load the same module.
  struct ParamShape {
    std::string name;
    size_t dimension;
    bool isChoice;
  };
  std::vector<ParamShape> params;
  {
    EffectHost probe(GetParam());
    auto instance = probe.createFilter();
    ASSERT_TRUE(instance) << probe.error();
    for (const std::string &name : instance->paramNames()) {
      ofxhost::Param &param = instance->param(name);
      if (param.dimension() > 0)
        params.push_back({name, static_cast<size_t>(param.dimension()),
                          param.type() == kOfxParamTypeChoice});
    }
  }
  for (const ParamShape &param : params) {
    const std::string &name = param.name;
    for (double v : param.isChoice ? choices : numbers) {
      const std::vector<double> value(param.dimension, v);
      const std::string what =
          GetParam() + " " + name + " = " + std::to_string(v);
      const Outcome one = renderWith(name, value, 1);
      const Outcome three = renderWith(name, value, 3);
      ASSERT_TRUE(one.output && three.output) << what;
      EXPECT_TRUE(one.result.ok()) << what << ": " << one.result.message;
      EXPECT_TRUE(three.result.ok()) << what << ": " << three.result.message;
      EXPECT_EQ(firstWriteOutsideWindow(*one.output), "") << what;
      EXPECT_EQ(firstDifference(*three.output, *one.output), "")
          << what << ", 3 threads vs 1";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothEffects, HostileValues,
                         ::testing::ValuesIn(effectBundles()), effectName);

// ------------------------------------------------------------ memory

// The sanitizers' allocators end the process when an allocation fails
// (whatever allocator_may_return_null says, operator new does not throw
// there) and their shadow memory rules out an address-space limit, so this
// case runs in the plain build only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QFX_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QFX_SANITIZED_BUILD 1
#endif
#endif

// The address-space limit that makes the field's allocation fail is a
// Linux one (Wine enforces no memory limit a job object sets), so the test
// runs on Linux only; on Windows the same VirtualAlloc failure takes the
// same std::bad_alloc path.
#if !defined(QFX_SANITIZED_BUILD) && !defined(_WIN32)
// Address space in use now, from /proc; 0 if unknown.
long long addressSpaceInUse() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      long long kib = 0;
      status >> kib;
      return kib * 1024;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

// Runs in a child process: a 4096 x 4096 RGBA render (64 MiB per image,
// both allocated before the limit) whose outline field, built by strips,
// needs a few MiB per thread, more than the 1 MiB the limit leaves. The
// render must fail as out of memory and hand its images back.
[[noreturn]] void renderOutlineWithTooLittleMemory() {
  EffectHost fixture("Rimlet");
  auto instance = fixture.createFilter();
  if (!instance) {
    std::fprintf(stderr, "no instance: %s\n", fixture.error().c_str());
    std::exit(2);
  }
  const OfxRectI bounds{0, 0, 4096, 4096};
  auto source = makeImage(bounds, kByteRGBA);
  paintPicture(*source);
  auto output = makeImage(bounds, kByteRGBA);
  instance->setSource(source);
  instance->setOutput(output);

  const long long inUse = addressSpaceInUse();
  if (inUse == 0) {
    std::fprintf(stderr, "cannot read the address space in use\n");
    std::exit(2);
  }
  const rlim_t limit = static_cast<rlim_t>(inUse + (1ll << 20));
  const rlimit rl{limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) {
    std::perror("setrlimit");
    std::exit(2);
  }
  const ofxhost::ActionResult result = instance->render(renderOf(bounds));
  const int outstanding = instance->clip("Source").imagesOutstanding() +
                          instance->clip("Output").imagesOutstanding();
  std::fprintf(stderr, "render: %s; images outstanding: %d\n",
               ofxhost::statusName(result.status).c_str(), outstanding);
  std::exit(result.status == kOfxStatErrMemory && outstanding == 0 ? 0 : 1);
}
#endif

TEST(HostileHostMemory, OutlineFieldThatCannotBeAllocatedFailsAsOutOfMemory) {
#if defined(QFX_SANITIZED_BUILD)
  GTEST_SKIP()
      << "a sanitizer's allocator aborts instead of failing an allocation";
#elif defined(_WIN32)
  GTEST_SKIP() << "no address-space limit to run out of under Wine";
#else
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(renderOutlineWithTooLittleMemory(), ::testing::ExitedWithCode(0),
              "render: kOfxStatErrMemory");
#endif
}

} // namespace
} // namespace reliability
