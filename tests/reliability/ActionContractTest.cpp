// What every effect built on the support library owes a host that gets
// something wrong: a suite call that fails, with an error or with a reply
// status; an image it cannot supply; images unlike their clips or each
// other; formats no processor writes. Each case must end in the status the
// effect promises, with the output untouched, every image handed back and
// no crash. One table of cases, run over both effects and the support
// library's probe, so that a promise kept by one and broken by another
// shows as the same test failing for one of them.
#include "ReliabilityTestSupport.h"

#include <functional>
#include <iterator>

namespace reliability {
namespace {

using qfx_test::ByteRGBA;
using qfx_test::unrenderedFormats;

constexpr unsigned char kSentinel = 0xA7;
const OfxRectI kBounds{-5, 3, 27, 24};
const char *const kSourceClip = kOfxImageEffectSimpleSourceClipName;
const char *const kOutputClip = kOfxImageEffectOutputClipName;

struct Subject {
  std::string name;
  std::string bundlePath;
};

// Test listings show the subject by name, not as bytes.
void PrintTo(const Subject &subject, std::ostream *out) {
  *out << subject.name;
}

std::vector<Subject> effectSubjects() {
  std::vector<Subject> all;
  for (const std::string &bundle : effectBundles())
    all.push_back({bundle, bundlePath(bundle)});
  return all;
}

std::vector<Subject> subjects() {
  std::vector<Subject> all = effectSubjects();
  all.push_back(
      {"Probe", ofxhost::bundlePathIn(QFX_PROBE_BUNDLE_DIR, "QfxTestPlugin")});
  return all;
}

const OfxStatus kHardFailures[] = {kOfxStatErrMemory, kOfxStatErrBadHandle,
                                   kOfxStatErrUnknown, kOfxStatErrFatal,
                                   kOfxStatErrValue};

// One instance with a painted byte RGBA source and a sentinel-filled output
// of the same bounds.
class ActionContract : public ::testing::TestWithParam<Subject> {
protected:
  void SetUp() override {
    fixture_ = std::make_unique<qfx_test::TestHost>(GetParam().bundlePath);
    ASSERT_NE(fixture_->plugin(), nullptr) << fixture_->error();
    instance_ = fixture_->createFilter();
    ASSERT_TRUE(instance_);
    connect(ByteRGBA::value(), ByteRGBA::value());
  }

  const std::string &name() const { return GetParam().name; }
  ofxhost::Clip &source() { return instance_->clip(kSourceClip); }
  ofxhost::Clip &output() { return instance_->clip(kOutputClip); }

  void connect(const PixelFormat &sourceFormat,
               const PixelFormat &outputFormat) {
    source_ = makeImage(kBounds, sourceFormat);
    paintPicture(*source_);
    output_ = makeImage(kBounds, outputFormat);
    output_->fillBytes(kSentinel);
    instance_->setSource(source_);
    output().setFormat(outputFormat.depth, outputFormat.components);
    instance_->setOutput(output_);
  }

  ofxhost::ActionResult render() {
    return instance_->render(renderOf(kBounds));
  }

  int imagesFetched() {
    return source().imagesFetched() + output().imagesFetched();
  }

  // What every failed render must leave behind: an untouched output and
  // no image still held by the effect.
  void expectCleanFailure(const std::string &what) {
    EXPECT_EQ(firstPixelNotFilledWith(*output_, kSentinel), "") << what;
    expectAllReleased(what);
  }

  void expectAllReleased(const std::string &what) {
    EXPECT_EQ(source().imagesOutstanding(), 0) << what;
    EXPECT_EQ(output().imagesOutstanding(), 0) << what;
  }

  std::unique_ptr<qfx_test::TestHost> fixture_;
  std::unique_ptr<ofxhost::Instance> instance_;
  ofxhost::ImagePtr source_;
  ofxhost::ImagePtr output_;
};

TEST_P(ActionContract, FailingImageFetchPassesItsStatusThrough) {
  for (const char *clip : {kOutputClip, kSourceClip, ""}) {
    for (OfxStatus status : kHardFailures) {
      const std::string what = name() + " fetch of '" + clip +
                               "' failing with " + ofxhost::statusName(status);
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
TEST_P(ActionContract, ImageTheHostCannotSupply) {
  instance_->faults().imageFetch = kOfxStatFailed;
  instance_->faults().imageFetchClip = kOutputClip;
  EXPECT_EQ(render().status, kOfxStatFailed) << name();
  expectCleanFailure(name() + " no output image");

  instance_->faults().imageFetchClip = kSourceClip;
  const ofxhost::ActionResult result = render();
  EXPECT_TRUE(result.ok()) << name() << " no source image: " << result.message;
  expectAllReleased(name() + " no source image");
}

// Whether the host dropped its output image or never had one.
TEST_P(ActionContract, NoOutputImageFails) {
  output().clearImages();
  EXPECT_EQ(render().status, kOfxStatFailed) << name();
  expectAllReleased(name() + " output image dropped");
  EXPECT_EQ(firstPixelNotFilledWith(*output_, kSentinel), "") << name();

  auto fresh = fixture_->createFilter();
  ASSERT_TRUE(fresh);
  fresh->setSource(source_);
  EXPECT_EQ(fresh->render(renderOf(kBounds)).status, kOfxStatFailed)
      << name() << " never given an output image";
  EXPECT_EQ(fresh->clip(kSourceClip).imagesOutstanding(), 0) << name();
  EXPECT_EQ(fresh->clip(kOutputClip).imagesOutstanding(), 0) << name();
}

TEST_P(ActionContract, FailingParameterReadPassesItsStatusThrough) {
  for (OfxStatus status : kHardFailures) {
    const std::string what =
        name() + " parameter read failing with " + ofxhost::statusName(status);
    instance_->faults().paramGet = status;
    const ofxhost::ActionResult result = render();
    EXPECT_EQ(result.status, status) << what << ": " << result.message;
    expectCleanFailure(what);
  }
}

// The region of definition follows the source's: when the host cannot say
// what the source's is, the status comes back as it came, even
// kOfxStatFailed, and no rectangle is made up.
TEST_P(ActionContract, FailingRegionQueryPassesItsStatusThrough) {
  std::vector<OfxStatus> statuses(std::begin(kHardFailures),
                                  std::end(kHardFailures));
  statuses.push_back(kOfxStatFailed);
  for (OfxStatus status : statuses) {
    const std::string what =
        name() + " region query failing with " + ofxhost::statusName(status);
    instance_->faults().regionQuery = status;
    OfxRectD rod{-1.0, -1.0, -1.0, -1.0};
    const ofxhost::ActionResult result =
        instance_->regionOfDefinition(0.0, {1.0, 1.0}, rod);
    EXPECT_EQ(result.status, status) << what << ": " << result.message;
    EXPECT_EQ(rod.x1, -1.0) << what;
    EXPECT_EQ(rod.x2, -1.0) << what;
  }
}

// A suite call that fails with a reply status instead of an error is still
// a failure. Passed on as it is, kOfxStatReplyDefault would tell the host a
// render that wrote nothing was done, or make it use the source's region
// of definition in place of the outline's larger one. (Found by fuzzing.)
TEST_P(ActionContract, SuiteFailingWithAReplyStatusStillFails) {
  for (OfxStatus reply :
       {kOfxStatReplyDefault, kOfxStatReplyYes, kOfxStatReplyNo}) {
    const std::string status = ofxhost::statusName(reply);
    for (const char *clip : {kOutputClip, kSourceClip}) {
      instance_->faults() = ofxhost::Faults{};
      instance_->faults().imageFetch = reply;
      instance_->faults().imageFetchClip = clip;
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, kOfxStatFailed)
          << name() << " " << clip << " fetch answering " << status;
      expectCleanFailure(name() + " " + clip + " fetch answering " + status);
    }
    instance_->faults() = ofxhost::Faults{};
    instance_->faults().paramGet = reply;
    EXPECT_EQ(render().status, kOfxStatFailed)
        << name() << " parameter read answering " << status;
    expectCleanFailure(name() + " parameter read answering " + status);

    instance_->faults() = ofxhost::Faults{};
    instance_->faults().regionQuery = reply;
    OfxRectD rod{0, 0, 0, 0};
    EXPECT_EQ(instance_->regionOfDefinition(0.0, {1.0, 1.0}, rod).status,
              kOfxStatFailed)
        << name() << " region query answering " << status;
  }
}

// A source of another depth or other components than the output cannot be
// read with the output's processor.
TEST_P(ActionContract, SourceOfAnotherFormatFails) {
  for (const PixelFormat &outputFormat : allFormats()) {
    for (const PixelFormat &sourceFormat : allFormats()) {
      if (sourceFormat == outputFormat)
        continue;
      connect(sourceFormat, outputFormat);
      const std::string what = name() + " source " + formatName(sourceFormat) +
                               " into output " + formatName(outputFormat);
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, kOfxStatErrFormat)
          << what << ": " << result.message;
      expectCleanFailure(what);
    }
  }
}

// The processor is chosen from the output clip; an output image the host
// hands over in another layout would be written with the wrong pixel size,
// past the image's end when that is smaller.
TEST_P(ActionContract, OutputImageUnlikeItsClipFails) {
  for (const PixelFormat &clipFormat : allFormats()) {
    for (const PixelFormat &imageFormat : allFormats()) {
      if (imageFormat == clipFormat)
        continue;
      connect(imageFormat, imageFormat);
      output().setFormat(clipFormat.depth, clipFormat.components);
      const std::string what = name() + " " + formatName(clipFormat) +
                               " clip holding a " + formatName(imageFormat) +
                               " image";
      const ofxhost::ActionResult result = render();
      EXPECT_EQ(result.status, kOfxStatErrFormat)
          << what << ": " << result.message;
      expectCleanFailure(what);
    }
  }
}

// Formats outside the six have no processor; rendering them as another
// format would leave garbage or run past the buffer, so the render refuses
// them before it asks the host for any image: whether the images handed
// over are of that format too or of one the effect renders.
TEST_P(ActionContract, UnsupportedOutputFormatsFailBeforeAnyFetch) {
  for (const PixelFormat &format : unrenderedFormats()) {
    const bool imageable =
        format.depth != BitDepth::None && format.components != Components::None;
    for (bool imagesOfThatFormat : {false, true}) {
      if (imagesOfThatFormat && !imageable)
        continue;
      if (imagesOfThatFormat)
        connect(format, format);
      else
        connect(ByteRGBA::value(), ByteRGBA::value());
      output().setFormat(format.depth, format.components);
      const int fetchedBefore = imagesFetched();
      const ofxhost::ActionResult result = render();
      const std::string what = name() + " output clip " + formatName(format) +
                               (imagesOfThatFormat ? " with images of it" : "");
      EXPECT_EQ(result.status, kOfxStatErrUnsupported)
          << what << ": " << result.message;
      EXPECT_EQ(imagesFetched(), fetchedBefore) << what;
      expectCleanFailure(what);
    }
  }
}

// A refused render tells the host why, in the effect's own words: the same
// status alone would leave a user guessing whether the clip, the host's
// image or the source was at fault. The probe words its refusals its own
// way, so only the effects are held to these.
using RefusalReasons = ActionContract;

TEST_P(RefusalReasons, NameWhatWasWrong) {
  struct Case {
    const char *what;
    std::function<void()> arrange;
    OfxStatus status;
    std::string reason;
  };
  const Case cases[] = {
      {"half output clip",
       [&] { output().setFormat(BitDepth::Half, Components::RGBA); },
       kOfxStatErrUnsupported,
       "the output clip's format OfxBitDepthHalf OfxImageComponentRGBA is not "
       "one "
       "this effect renders"},
      {"no output image",
       [&] {
         instance_->faults().imageFetch = kOfxStatFailed;
         instance_->faults().imageFetchClip = kOutputClip;
       },
       kOfxStatFailed, "no output image at time 0"},
      {"float image in a byte clip",
       [&] {
         connect({BitDepth::Float, Components::RGBA},
                 {BitDepth::Float, Components::RGBA});
         output().setFormat(BitDepth::Byte, Components::RGBA);
       },
       kOfxStatErrFormat,
       "the output image's format OfxBitDepthFloat OfxImageComponentRGBA "
       "differs from "
       "its clip's, OfxBitDepthByte OfxImageComponentRGBA"},
      {"alpha source into RGBA",
       [&] {
         connect({BitDepth::Byte, Components::Alpha}, ByteRGBA::value());
       },
       kOfxStatErrFormat,
       "source and output images differ in format (source OfxBitDepthByte "
       "OfxImageComponentAlpha, output OfxBitDepthByte OfxImageComponentRGBA)"},
  };
  for (const Case &c : cases) {
    SetUp(); // a fresh instance, free of the last case's faults
    c.arrange();
    const std::string what = name() + " " + c.what;
    const ofxhost::ActionResult result = render();
    EXPECT_EQ(result.status, c.status) << what;
    EXPECT_EQ(result.message, "OfxImageEffectActionRender failed: " +
                                  ofxhost::statusName(c.status) + " (" +
                                  std::to_string(c.status) + "): " + c.reason)
        << what;
    expectCleanFailure(what);
  }
}

INSTANTIATE_TEST_SUITE_P(Effects, RefusalReasons,
                         ::testing::ValuesIn(effectSubjects()),
                         [](const ::testing::TestParamInfo<Subject> &info) {
                           return info.param.name;
                         });

INSTANTIATE_TEST_SUITE_P(EffectsAndProbe, ActionContract,
                         ::testing::ValuesIn(subjects()),
                         [](const ::testing::TestParamInfo<Subject> &info) {
                           return info.param.name;
                         });

} // namespace
} // namespace reliability
