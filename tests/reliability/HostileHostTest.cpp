// Both effects under a host that misbehaves: suites it lacks, suite calls
// that fail, images that do not match their clips or each other, no output
// image, and too little memory. Each case must end in the status the effect
// promises, with nothing written, every image handed back and no crash.
#include "ReliabilityTestSupport.h"

#include <sys/resource.h>

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
  auto instance = plugins[0]->createInstance(kOfxImageEffectContextFilter, &created);
  EXPECT_EQ(instance, nullptr) << c.bundle << " without " << c.suite;
  EXPECT_FALSE(created.ok());
}

std::vector<WithheldCase> withheldCases() {
  std::vector<WithheldCase> cases;
  for (const std::string &bundle : effectBundles())
    for (const char *suite : {kOfxImageEffectSuite, kOfxPropertySuite,
                              kOfxParameterSuite, kOfxMemorySuite,
                              kOfxMultiThreadSuite, kOfxMessageSuite})
      cases.push_back({bundle, suite});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(BothEffects, MissingSuite, ::testing::ValuesIn(withheldCases()),
                         [](const ::testing::TestParamInfo<WithheldCase> &info) {
                           return info.param.bundle + "_" + info.param.suite;
                         });

// ------------------------------------------------------------ failing calls

// One instance of the effect with a painted byte RGBA source and a
// sentinel-filled output of the same bounds.
class HostileHost : public ::testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    fixture_ = std::make_unique<EffectHost>(GetParam());
    ASSERT_NE(fixture_->plugin(), nullptr) << fixture_->error();
    instance_ = fixture_->createFilter();
    ASSERT_TRUE(instance_);
    connect(kByteRGBA, kByteRGBA);
  }

  void connect(const PixelFormat &sourceFormat, const PixelFormat &outputFormat) {
    source_ = makeImage(kBounds, sourceFormat);
    paintPicture(*source_);
    output_ = makeImage(kBounds, outputFormat);
    output_->fillBytes(kSentinel);
    instance_->setSource(source_);
    instance_->clip("Output").setFormat(outputFormat.depth, outputFormat.components);
    instance_->setOutput(output_);
  }

  ofxhost::ActionResult render() { return instance_->render(renderOf(kBounds)); }

  // What every failed render must leave behind: an untouched output and
  // no image still held by the effect.
  void expectCleanFailure(const std::string &what) {
    EXPECT_EQ(firstPixelNotFilledWith(*output_, kSentinel), "") << what;
    expectAllReleased(what);
  }

  void expectAllReleased(const std::string &what) {
    EXPECT_EQ(instance_->clip("Source").imagesOutstanding(), 0) << what;
    EXPECT_EQ(instance_->clip("Output").imagesOutstanding(), 0) << what;
  }

  std::unique_ptr<EffectHost> fixture_;
  std::unique_ptr<ofxhost::Instance> instance_;
  ofxhost::ImagePtr source_;
  ofxhost::ImagePtr output_;
};

const OfxStatus kHardFailures[] = {kOfxStatErrMemory, kOfxStatErrBadHandle,
                                   kOfxStatErrUnknown, kOfxStatErrFatal,
                                   kOfxStatErrValue};

TEST_P(HostileHost, FailingImageFetchPassesItsStatusThrough) {
  for (const char *clip : {"Output", "Source", ""}) {
    for (OfxStatus status : kHardFailures) {
      const std::string what = GetParam() + " fetch of '" + clip + "' failing with " +
                               ofxhost::statusName(status);
      instance_->faults().imageFetch = status;
      instance_->faults().imageFetchClip = clip;
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, status) << what << ": " << result.message;
      expectCleanFailure(what);
    }
  }
}

// kOfxStatFailed from an image fetch means "no image": fatal for the
// output, an unconnected source for the source.
TEST_P(HostileHost, ImageTheHostCannotSupply) {
  instance_->faults().imageFetch = kOfxStatFailed;
  instance_->faults().imageFetchClip = "Output";
  EXPECT_EQ(render().status, kOfxStatFailed);
  expectCleanFailure("no output image");

  instance_->faults().imageFetchClip = "Source";
  const ofxhost::ActionResult result = render();
  EXPECT_TRUE(result.ok()) << "no source image: " << result.message;
  expectAllReleased("no source image");
}

TEST_P(HostileHost, NoOutputImageFails) {
  instance_->clip("Output").clearImages();
  EXPECT_EQ(render().status, kOfxStatFailed);
  expectAllReleased("no output image");
  EXPECT_EQ(firstPixelNotFilledWith(*output_, kSentinel), "");
}

TEST_P(HostileHost, FailingParameterReadPassesItsStatusThrough) {
  for (OfxStatus status : kHardFailures) {
    const std::string what =
        GetParam() + " parameter read failing with " + ofxhost::statusName(status);
    instance_->faults().paramGet = status;
    const ofxhost::ActionResult result = render();
    EXPECT_EQ(result.status, status) << what << ": " << result.message;
    expectCleanFailure(what);
  }
}

// The region of definition is the source's (grown, for the outline): when
// the host cannot say what the source's is, no rectangle may be made up.
TEST_P(HostileHost, FailingRegionQueryPassesItsStatusThrough) {
  std::vector<OfxStatus> statuses(std::begin(kHardFailures), std::end(kHardFailures));
  statuses.push_back(kOfxStatFailed);
  for (OfxStatus status : statuses) {
    instance_->faults().regionQuery = status;
    OfxRectD rod{0, 0, 0, 0};
    const ofxhost::ActionResult result =
        instance_->regionOfDefinition(0.0, {1.0, 1.0}, rod);
    EXPECT_EQ(result.status, status)
        << GetParam() << " region query failing with "
        << ofxhost::statusName(status) << ": " << result.message;
  }
}

// A suite call that fails with a reply status instead of an error is still
// a failure. Passed on as it is, kOfxStatReplyDefault would tell the host a
// render that wrote nothing was done, or make it use the source's region
// of definition in place of the outline's larger one. (Found by fuzzing.)
TEST_P(HostileHost, SuiteFailingWithAReplyStatusStillFails) {
  for (OfxStatus reply : {kOfxStatReplyDefault, kOfxStatReplyYes, kOfxStatReplyNo}) {
    const std::string status = ofxhost::statusName(reply);
    for (const char *clip : {"Output", "Source"}) {
      instance_->faults() = ofxhost::Faults{};
      instance_->faults().imageFetch = reply;
      instance_->faults().imageFetchClip = clip;
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, kOfxStatFailed)
          << GetParam() << " " << clip << " fetch answering " << status;
      expectCleanFailure(std::string(clip) + " fetch answering " + status);
    }
    instance_->faults() = ofxhost::Faults{};
    instance_->faults().paramGet = reply;
    EXPECT_EQ(render().status, kOfxStatFailed)
        << GetParam() << " parameter read answering " << status;
    expectCleanFailure("parameter read answering " + status);

    instance_->faults() = ofxhost::Faults{};
    instance_->faults().regionQuery = reply;
    OfxRectD rod{0, 0, 0, 0};
    EXPECT_EQ(instance_->regionOfDefinition(0.0, {1.0, 1.0}, rod).status, kOfxStatFailed)
        << GetParam() << " region query answering " << status;
  }
}

// A source of another depth or other components than the output cannot be
// read with the output's processor.
TEST_P(HostileHost, SourceOfAnotherFormatFails) {
  for (const PixelFormat &output : allFormats()) {
    for (const PixelFormat &source : allFormats()) {
      if (source.depth == output.depth && source.components == output.components)
        continue;
      connect(source, output);
      const std::string what = GetParam() + " source " + formatName(source) +
                               " into output " + formatName(output);
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, kOfxStatErrFormat) << what << ": " << result.message;
      expectCleanFailure(what);
    }
  }
}

// The processor is chosen from the output clip; an output image the host
// hands over in another layout would be written past its end.
TEST_P(HostileHost, OutputImageUnlikeItsClipFails) {
  for (const PixelFormat &image : allFormats()) {
    if (image.depth == BitDepth::Byte && image.components == Components::RGBA)
      continue;
    connect(image, image);
    instance_->clip("Output").setFormat(BitDepth::Byte, Components::RGBA);
    const std::string what = GetParam() + " byte RGBA clip holding a " +
                             formatName(image) + " image";
    const ofxhost::ActionResult result = render();
    EXPECT_EQ(result.status, kOfxStatErrFormat) << what << ": " << result.message;
    expectCleanFailure(what);
  }
}

// Formats outside the six are refused before any image is fetched.
TEST_P(HostileHost, UnsupportedOutputFormatsFailBeforeAnyFetch) {
  const PixelFormat unsupported[] = {{BitDepth::Byte, Components::RGB},
                                     {BitDepth::Half, Components::RGBA},
                                     {BitDepth::Half, Components::Alpha},
                                     {BitDepth::None, Components::RGBA},
                                     {BitDepth::Float, Components::None}};
  for (const PixelFormat &format : unsupported) {
    instance_->clip("Output").setFormat(format.depth, format.components);
    const int fetchedBefore = instance_->clip("Output").imagesFetched() +
                              instance_->clip("Source").imagesFetched();
    const ofxhost::ActionResult result = render();
    const std::string what = GetParam() + " output clip " + formatName(format);
    EXPECT_EQ(result.status, kOfxStatErrUnsupported) << what << ": " << result.message;
    EXPECT_EQ(instance_->clip("Output").imagesFetched() +
                  instance_->clip("Source").imagesFetched(),
              fetchedBefore)
        << what;
    expectCleanFailure(what);
  }
}

INSTANTIATE_TEST_SUITE_P(BothEffects, HostileHost, ::testing::ValuesIn(effectBundles()),
                         effectName);

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
    const ofxhost::ActionResult rodResult = instance->regionOfDefinition(0.0, {1, 1}, rod);
    EXPECT_TRUE(rodResult.ok()) << GetParam() << " " << param << ": " << rodResult.message;
    return outcome;
  }

  // Whether every pixel outside the window still holds the sentinel.
  static std::string firstWriteOutsideWindow(const ofxhost::Image &image) {
    for (int y = kBounds.y1; y < kBounds.y2; ++y)
      for (int x = kBounds.x1; x < kBounds.x2; ++x) {
        if (x >= kWindow.x1 && x < kWindow.x2 && y >= kWindow.y1 && y < kWindow.y2)
          continue;
        const auto *p = static_cast<const unsigned char *>(image.pixelAddress(x, y));
        for (int i = 0; i < 4; ++i)
          if (p[i] != kSentinel)
            return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") written";
      }
    return "";
  }

  static constexpr OfxRectI kWindow{0, 5, 20, 19};
};

TEST_P(HostileValues, RenderInsideTheWindowAlikeOnAnyNumberOfThreads) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> numbers = {nan, inf, -inf, 1e300, -1e300, -1.0, 1e9};
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
      const std::string what = GetParam() + " " + name + " = " + std::to_string(v);
      const Outcome one = renderWith(name, value, 1);
      const Outcome three = renderWith(name, value, 3);
      ASSERT_TRUE(one.output && three.output) << what;
      EXPECT_TRUE(one.result.ok()) << what << ": " << one.result.message;
      EXPECT_TRUE(three.result.ok()) << what << ": " << three.result.message;
      EXPECT_EQ(firstWriteOutsideWindow(*one.output), "") << what;
      EXPECT_EQ(firstDifference(*three.output, *one.output), "") << what << ", 3 threads vs 1";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothEffects, HostileValues, ::testing::ValuesIn(effectBundles()),
                         effectName);

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

#ifndef QFX_SANITIZED_BUILD
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
// both allocated before the limit) whose outline field needs another
// 64 MiB, twice what the limit leaves. The render must fail as out of
// memory and hand its images back.
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
  const rlim_t limit = static_cast<rlim_t>(inUse + (32ll << 20));
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
#ifdef QFX_SANITIZED_BUILD
  GTEST_SKIP() << "a sanitizer's allocator aborts instead of failing an allocation";
#else
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(renderOutlineWithTooLittleMemory(), ::testing::ExitedWithCode(0),
              "render: kOfxStatErrMemory");
#endif
}

} // namespace
} // namespace reliability
