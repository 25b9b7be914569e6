// Instances driven through the probe plug-in: descriptors, renders in
// every pixel format and row layout, regions, clip preferences, image
// bookkeeping, injected faults and the abort switch.
#include "EffectHost.h"
#include "HostTestSupport.h"
#include "TestFormats.h"

#include <cmath>
#include <cstdint>
#include <sstream>

namespace {

using hosttest::ProbeTest;
using ofxhost::ActionResult;
using ofxhost::BitDepth;
using ofxhost::Components;
using ofxhost::Image;
using ofxhost::ImagePtr;
using ofxhost::RenderRequest;

// ---------------------------------------------------------------- formats

using qfx_test::AllFormats;
using qfx_test::FormatNames;

// A value that differs between neighbouring pixels and components.
template <class F> typename F::PIX pattern(int x, int y, int c) {
  const int v = (x * 7 + y * 13 + c * 3) % 200 + 1;
  if (F::kDepth == BitDepth::Float)
    return static_cast<typename F::PIX>(v / 200.0);
  return static_cast<typename F::PIX>(F::kDepth == BitDepth::Short ? v * 300
                                                                   : v);
}

template <class F> class RenderFormatTest : public ProbeTest {
protected:
  RenderFormatTest() : ProbeTest(qfx_test::isolatedOptions(3)) {}
};
TYPED_TEST_SUITE(RenderFormatTest, AllFormats, FormatNames);

TYPED_TEST(RenderFormatTest, CopiesTheWindowThroughPaddedAndFlippedRows) {
  using F = TypeParam;
  using PIX = typename F::PIX;
  const OfxRectI bounds{-3, 2, 14, 13};
  ImagePtr source = std::make_shared<Image>(bounds, F::kDepth, F::kLayout,
                                            ofxhost::ImageLayout{16, false});
  ImagePtr output = std::make_shared<Image>(bounds, F::kDepth, F::kLayout,
                                            ofxhost::ImageLayout{8, true});
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      for (int c = 0; c < F::kComponents; ++c)
        source->pixel<PIX>(x, y)[c] = pattern<F>(x, y, c);
  this->instance_->setSource(source);
  this->instance_->setOutput(output);
  EXPECT_EQ(this->instance_->clip(kOfxImageEffectOutputClipName).depth(),
            F::kDepth);

  RenderRequest request;
  request.window = {-1, 4, 12, 12};
  ActionResult result = this->instance_->render(request);
  ASSERT_TRUE(result.ok()) << F::name() << ": " << result.message;

  const OfxRectI &w = request.window;
  int wrong = 0;
  for (int y = bounds.y1; y < bounds.y2 && wrong < 5; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      for (int c = 0; c < F::kComponents; ++c) {
        const bool inside = x >= w.x1 && x < w.x2 && y >= w.y1 && y < w.y2;
        const PIX expected = inside ? pattern<F>(x, y, c) : PIX(0);
        const PIX got = output->pixel<PIX>(x, y)[c];
        if (got != expected && ++wrong <= 5)
          ADD_FAILURE() << F::name() << " pixel (" << x << ", " << y
                        << ") component " << c << ": expected "
                        << double(expected) << ", got " << double(got);
      }
  for (const char *clip : {"Source", "Output"})
    EXPECT_EQ(this->instance_->clip(clip).imagesOutstanding(), 0)
        << F::name() << " leaked an image of " << clip;
}

TYPED_TEST(RenderFormatTest, ImagesCarryTheirOwnFormatAndLayout) {
  using F = TypeParam;
  ImagePtr image =
      std::make_shared<Image>(OfxRectI{1, 2, 6, 9}, F::kDepth, F::kLayout,
                              ofxhost::ImageLayout{4, true});
  image->renderScale = {0.5, 0.5};
  this->instance_->setSource(image);
  ofxhost::Clip &clip = this->instance_->clip("Source");
  OfxPropertySetHandle handle = nullptr;
  ASSERT_EQ(this->effects_->clipGetImage(clip.handle(), 0.0, nullptr, &handle),
            kOfxStatOK);
  auto *p = this->props_;
  char *depth = nullptr, *components = nullptr;
  int bounds[4] = {}, rowBytes = 0;
  void *data = nullptr;
  double scale[2] = {};
  p->propGetString(handle, kOfxImageEffectPropPixelDepth, 0, &depth);
  p->propGetString(handle, kOfxImageEffectPropComponents, 0, &components);
  p->propGetIntN(handle, kOfxImagePropBounds, 4, bounds);
  p->propGetInt(handle, kOfxImagePropRowBytes, 0, &rowBytes);
  p->propGetPointer(handle, kOfxImagePropData, 0, &data);
  p->propGetDoubleN(handle, kOfxImageEffectPropRenderScale, 2, scale);
  EXPECT_STREQ(depth, ofxhost::bitDepthName(F::kDepth)) << F::name();
  EXPECT_STREQ(components, ofxhost::componentsName(F::kLayout)) << F::name();
  EXPECT_EQ(std::vector<int>(bounds, bounds + 4),
            (std::vector<int>{1, 2, 6, 9}));
  EXPECT_EQ(rowBytes, image->rowBytes());
  EXPECT_LT(rowBytes, 0);
  EXPECT_EQ(data, image->data());
  EXPECT_EQ(scale[0], 0.5);
  EXPECT_EQ(clip.imagesOutstanding(), 1);
  EXPECT_EQ(this->effects_->clipReleaseImage(handle), kOfxStatOK);
  EXPECT_EQ(clip.imagesOutstanding(), 0);
  EXPECT_EQ(this->effects_->clipReleaseImage(handle), kOfxStatErrBadHandle);
  EXPECT_EQ(clip.imagesFetched(), 1);
}

// ---------------------------------------------------------------- descriptors

TEST_F(ProbeTest, DescriptorsHoldWhatThePluginDeclared) {
  EXPECT_EQ(plugin_->label(), "Host Probe");
  ofxhost::Descriptor &effect = plugin_->descriptor();
  EXPECT_EQ(effect.props().getStrings(kOfxImageEffectPropSupportedContexts),
            (std::vector<std::string>{kOfxImageEffectContextFilter,
                                      kOfxImageEffectContextGeneral}));
  EXPECT_EQ(effect.props().getInt(kOfxImageEffectPluginPropHostFrameThreading),
            0);
  EXPECT_EQ(effect.props().getString(kOfxPluginPropFilePath),
            hosttest::bundle("HostProbe"));

  ofxhost::Descriptor *filter =
      plugin_->contextDescriptor(kOfxImageEffectContextFilter);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(plugin_->contextDescriptor(kOfxImageEffectContextGeneral), nullptr);
  EXPECT_EQ(filter->clipNames(),
            (std::vector<std::string>{"Source", "Output"}));
  EXPECT_EQ(filter->clipProps("Source").getStrings(
                kOfxImageEffectPropSupportedComponents),
            (std::vector<std::string>{kOfxImageComponentRGBA,
                                      kOfxImageComponentAlpha}));
  EXPECT_EQ(filter->paramType("colour"), kOfxParamTypeRGBA);
  EXPECT_EQ(filter->paramProps("count").getInt(kOfxParamPropMax), 10);
  EXPECT_EQ(filter->paramNames().size(), 15u);
  EXPECT_THROW(filter->clipProps("Nope"), std::out_of_range);

  // Descriptors take properties the plug-in invents; instances do not.
  EXPECT_EQ(
      props_->propSetInt(effect.props().handle(), "net.qeffects.custom", 0, 7),
      kOfxStatOK);
  EXPECT_EQ(props_->propSetInt(instance_->props().handle(),
                               "net.qeffects.custom", 0, 7),
            kOfxStatErrUnknown);
}

TEST_F(ProbeTest, InstancePropertiesDescribeTheInstance) {
  ofxhost::PropertySet &props = instance_->props();
  EXPECT_EQ(props.getString(kOfxPropType), kOfxTypeImageEffectInstance);
  EXPECT_EQ(props.getString(kOfxImageEffectPropContext),
            kOfxImageEffectContextFilter);
  // The probe stores its own handle as instance data on creation.
  EXPECT_EQ(props.getPointer(kOfxPropInstanceData),
            static_cast<void *>(instance_->handle()));
  EXPECT_EQ(props.dimension(kOfxImageEffectPropProjectSize), 2);
  ofxhost::PropertySet &clip = instance_->clip("Source").props();
  EXPECT_EQ(clip.getInt(kOfxImageClipPropConnected), 1);
  EXPECT_EQ(clip.getInt(kOfxImageClipPropOptional), 0);
  EXPECT_EQ(clip.getString(kOfxImageEffectPropComponents),
            kOfxImageComponentRGBA);
  EXPECT_THROW(instance_->clip("Nope"), std::out_of_range);
  EXPECT_THROW(instance_->param("nope"), std::out_of_range);
}

TEST_F(ProbeTest, ClipPreferencesDefaultGivesTheOutputTheSourceFormat) {
  instance_->setSource(std::make_shared<Image>(
      OfxRectI{0, 0, 2, 2}, BitDepth::Short, Components::Alpha));
  ofxhost::Clip &output = instance_->clip("Output");
  EXPECT_EQ(output.depth(), BitDepth::Short);
  EXPECT_EQ(output.components(), Components::Alpha);
  instance_->clip("Source").setFormat(BitDepth::Float, Components::RGBA);
  EXPECT_TRUE(instance_->clipPreferences().ok());
  EXPECT_EQ(output.depth(), BitDepth::Float);
  EXPECT_EQ(output.components(), Components::RGBA);
}

// ---------------------------------------------------------------- regions

TEST_F(ProbeTest, RegionOfDefinitionFollowsTheParameterAtEachTime) {
  auto source = std::make_shared<Image>(OfxRectI{0, 0, 20, 10}, BitDepth::Byte,
                                        Components::RGBA);
  source->renderScale = {0.5, 0.5};
  instance_->setSource(source);
  instance_->param("count").setKey(0.0, {1});
  instance_->param("count").setKey(10.0, {5});
  OfxRectD rod{};
  ASSERT_TRUE(instance_->regionOfDefinition(0.0, {1, 1}, rod).ok());
  EXPECT_EQ(rod.x1, -1);
  EXPECT_EQ(rod.x2, 41); // 20 pixels at half scale are 40 canonical units
  EXPECT_EQ(rod.y2, 21);
  ASSERT_TRUE(instance_->regionOfDefinition(10.0, {1, 1}, rod).ok());
  EXPECT_EQ(rod.x1, -5);
  EXPECT_EQ(rod.y2, 25);

  // The output clip reports what the effect answers.
  OfxRectD output{};
  ASSERT_EQ(effects_->clipGetRegionOfDefinition(
                instance_->clip("Output").handle(), 10.0, &output),
            kOfxStatOK);
  EXPECT_EQ(output.x1, -5);

  instance_->faults().regionQuery = kOfxStatErrMemory;
  ActionResult failed = instance_->regionOfDefinition(0.0, {1, 1}, rod);
  EXPECT_EQ(failed.message, "OfxImageEffectActionGetRegionOfDefinition failed: "
                            "kOfxStatErrMemory (8)");
}

TEST_F(ProbeTest, RegionsOfInterestReportWhatThePluginSet) {
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> set;
  ASSERT_TRUE(
      instance_->regionsOfInterest(0.0, {1, 1}, {0, 0, 10, 10}, rois, &set)
          .ok());
  ASSERT_EQ(rois.count("Source"), 1u);
  EXPECT_EQ(rois["Source"].x1, -3);
  EXPECT_EQ(rois["Source"].y2, 13);
  EXPECT_EQ(set, (std::set<std::string>{"Source"}));
  EXPECT_EQ(rois.count("Output"), 0u);
}

class GeneralProbeTest : public ProbeTest {
protected:
  GeneralProbeTest() : ProbeTest({}, kOfxImageEffectContextGeneral) {}
};

TEST_F(GeneralProbeTest, ClipsThePluginLeavesAloneGetTheRequestedRegion) {
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> set;
  ASSERT_TRUE(
      instance_->regionsOfInterest(0.0, {1, 1}, {0, 0, 10, 10}, rois, &set)
          .ok());
  ASSERT_EQ(rois.size(), 2u);
  EXPECT_EQ(rois["Extra"].x1, 0);
  EXPECT_EQ(rois["Extra"].x2, 10);
  EXPECT_EQ(set, (std::set<std::string>{"Source"}));
}

// ---------------------------------------------------------------- failures

class RenderFailureTest : public ProbeTest {
protected:
  void SetUp() override {
    ProbeTest::SetUp();
    source_ = std::make_shared<Image>(OfxRectI{0, 0, 8, 10}, BitDepth::Byte,
                                      Components::RGBA);
    source_->fillBytes(200);
    output_ = std::make_shared<Image>(OfxRectI{0, 0, 8, 10}, BitDepth::Byte,
                                      Components::RGBA);
    instance_->setSource(source_);
    request_.window = {0, 0, 8, 10};
  }

  int rowsWritten() const {
    int rows = 0;
    for (int y = 0; y < 10; ++y)
      rows += output_->pixel<std::uint8_t>(0, y)[0] == 200;
    return rows;
  }

  ImagePtr source_, output_;
  RenderRequest request_;
};

TEST_F(RenderFailureTest, MissingOutputImageFailsTheRender) {
  ActionResult result = instance_->render(request_);
  EXPECT_EQ(result.status, kOfxStatFailed);
  EXPECT_EQ(result.message,
            "OfxImageEffectActionRender failed: kOfxStatFailed (1)");
}

TEST_F(RenderFailureTest, SourceInAnotherFormatIsReported) {
  instance_->setOutput(output_);
  instance_->clip("Source").setImage(std::make_shared<Image>(
      OfxRectI{0, 0, 8, 10}, BitDepth::Float, Components::RGBA));
  EXPECT_EQ(instance_->render(request_).status, kOfxStatErrFormat);
  EXPECT_EQ(instance_->clip("Source").imagesOutstanding(), 0);
  EXPECT_EQ(instance_->clip("Output").imagesOutstanding(), 0);
}

TEST_F(RenderFailureTest, InjectedFetchFaultHitsOnlyTheNamedClip) {
  instance_->setOutput(output_);
  instance_->faults().imageFetch = kOfxStatErrMemory;
  instance_->faults().imageFetchClip = "Source";
  EXPECT_EQ(instance_->render(request_).status, kOfxStatErrMemory);
  EXPECT_EQ(instance_->clip("Output").imagesFetched(), 1);
  EXPECT_EQ(instance_->clip("Output").imagesOutstanding(), 0);
  instance_->faults().imageFetchClip.clear();
  EXPECT_EQ(instance_->render(request_).status, kOfxStatErrMemory);
  EXPECT_EQ(instance_->clip("Output").imagesFetched(), 1);
}

TEST_F(RenderFailureTest, TimedImagesAndDisconnectedClips) {
  instance_->setOutput(output_);
  instance_->clip("Source").clearImages();
  instance_->clip("Source").setImageAt(2.0, source_);
  request_.time = 1.0;
  EXPECT_EQ(instance_->render(request_).status, kOfxStatFailed);
  request_.time = 2.0;
  EXPECT_TRUE(instance_->render(request_).ok());
  instance_->clip("Source").setConnected(false);
  EXPECT_EQ(instance_->render(request_).status, kOfxStatFailed);
}

TEST_F(RenderFailureTest, AbortAfterPollsStopsTheRender) {
  host_.setCpuCount(1);
  instance_->setOutput(output_);
  instance_->setAbortAfterPolls(3);
  EXPECT_TRUE(instance_->render(request_).ok());
  EXPECT_EQ(rowsWritten(), 3);
  EXPECT_EQ(instance_->abortPolls(), 4);
  EXPECT_EQ(host_.messages().back(), "OfxMessageLog: render aborted at 0");

  output_->fillBytes(0);
  instance_->setAbortAfterPolls(-1);
  EXPECT_TRUE(instance_->render(request_).ok());
  EXPECT_EQ(rowsWritten(), 10);
  EXPECT_EQ(instance_->abortPolls(), 10);

  output_->fillBytes(0);
  instance_->setAbortPredicate([](long poll) { return poll == 6; });
  EXPECT_TRUE(instance_->render(request_).ok());
  EXPECT_EQ(rowsWritten(), 6);
}

TEST_F(ProbeTest, InstancesOutlivingTheirHostDoNotCrash) {
  auto host = std::make_unique<ofxhost::Host>();
  auto loaded = host->addBundle(hosttest::bundle("HostProbe"));
  ASSERT_EQ(loaded.size(), 1u);
  auto orphan = loaded[0]->createInstance(kOfxImageEffectContextFilter);
  ASSERT_TRUE(orphan);
  host.reset(); // destroys the plug-in side of the instance, then unloads
  RenderRequest request;
  EXPECT_EQ(orphan->render(request).status, kOfxStatErrBadHandle);
  orphan.reset();

  // This fixture's own instance reports its destruction as a message.
  instance_.reset();
  EXPECT_EQ(host_.messages().back(), "OfxMessageLog: destroyed");
}

TEST_F(RenderFailureTest, SequencesAndOtherActionsReachThePlugin) {
  instance_->setOutput(output_);
  EXPECT_TRUE(instance_->beginSequenceRender(0, 9, {0.5, 0.5}).ok());
  EXPECT_TRUE(instance_->render(request_).ok());
  EXPECT_TRUE(instance_->endSequenceRender(0, 9).ok());
  // The probe leaves this one to the host.
  ofxhost::PropertySet inArgs;
  inArgs.setDouble(kOfxPropTime, 3.0);
  ActionResult identity =
      instance_->callAction(kOfxImageEffectActionIsIdentity, &inArgs, nullptr);
  EXPECT_EQ(identity.status, kOfxStatReplyDefault);
  EXPECT_TRUE(identity.ok());
  EXPECT_TRUE(identity.message.empty());
}

TEST_F(RenderFailureTest, ProvidersAndFixedRegionsAnswerPerTime) {
  instance_->setOutput(output_);
  std::vector<double> asked;
  instance_->clip("Source").clearImages();
  instance_->clip("Source").setImageProvider([&](double time) -> ImagePtr {
    asked.push_back(time);
    return time < 5 ? source_ : nullptr;
  });
  request_.time = 4.0;
  EXPECT_TRUE(instance_->render(request_).ok());
  request_.time = 6.0;
  EXPECT_EQ(instance_->render(request_).status, kOfxStatFailed);
  EXPECT_EQ(asked, (std::vector<double>{4.0, 6.0}));

  // A fixed region overrides the one derived from the image.
  OfxRectD rod{};
  ofxhost::Clip &source = instance_->clip("Source");
  ASSERT_EQ(effects_->clipGetRegionOfDefinition(source.handle(), 4.0, &rod),
            kOfxStatOK);
  EXPECT_EQ(rod.x2, 8);
  source.setRegionOfDefinition({-10, -10, 100, 50});
  ASSERT_EQ(effects_->clipGetRegionOfDefinition(source.handle(), 4.0, &rod),
            kOfxStatOK);
  EXPECT_EQ(rod.x2, 100);
  source.clearRegionOfDefinition();
  ASSERT_EQ(effects_->clipGetRegionOfDefinition(source.handle(), 9.0, &rod),
            kOfxStatOK);
  EXPECT_EQ(rod.x2 - rod.x1, 0) << "no image at time 9: empty region";
}

// ---------------------------------------------------------------- memory

TEST_F(ProbeTest, MemorySuitesHandOutAndTakeBackBlocks) {
  auto *memory = hosttest::suite<OfxMemorySuiteV1>(host_, kOfxMemorySuite);
  void *block = nullptr;
  ASSERT_EQ(memory->memoryAlloc(nullptr, 64, &block), kOfxStatOK);
  static_cast<char *>(block)[63] = 1;
  int local = 0;
  EXPECT_EQ(memory->memoryFree(&local), kOfxStatErrBadHandle);
  EXPECT_EQ(memory->memoryFree(block), kOfxStatOK);

  OfxImageMemoryHandle image = nullptr;
  ASSERT_EQ(effects_->imageMemoryAlloc(instance_->handle(), 128, &image),
            kOfxStatOK);
  void *pixels = nullptr;
  ASSERT_EQ(effects_->imageMemoryLock(image, &pixels), kOfxStatOK);
  static_cast<char *>(pixels)[127] = 1;
  EXPECT_EQ(effects_->imageMemoryUnlock(image), kOfxStatOK);
  EXPECT_EQ(effects_->imageMemoryFree(image), kOfxStatOK);
  EXPECT_EQ(effects_->imageMemoryFree(image), kOfxStatErrBadHandle);
}

TEST_F(ProbeTest, MessagesAreRecordedWithTheirType) {
  auto *messages = hosttest::suite<OfxMessageSuiteV1>(host_, kOfxMessageSuite);
  EXPECT_EQ(messages->message(instance_->handle(), kOfxMessageError, nullptr,
                              "%d frames %s", 3, "lost"),
            kOfxStatOK);
  EXPECT_EQ(host_.messages().back(), "OfxMessageError: 3 frames lost");
  EXPECT_EQ(messages->message(nullptr, kOfxMessageQuestion, nullptr, "ok?"),
            kOfxStatReplyNo);
}

// ---------------------------------------------------------------- progress

TEST_F(ProbeTest, ProgressReachesTheListenerWhichMayAskToStop) {
  auto *v1 = hosttest::suite<OfxProgressSuiteV1>(host_, kOfxProgressSuite, 1);
  auto *v2 = hosttest::suite<OfxProgressSuiteV2>(host_, kOfxProgressSuite, 2);
  ASSERT_TRUE(v1 && v2);
  std::vector<std::string> seen;
  bool goOn = true;
  host_.setProgressListener([&](const ofxhost::ProgressEvent &event) {
    EXPECT_EQ(event.instance, instance_->handle());
    std::ostringstream text;
    text << int(event.kind) << " " << event.label << " " << event.fraction;
    seen.push_back(text.str());
    return goOn;
  });
  void *handle = instance_->handle();
  EXPECT_EQ(v1->progressStart(handle, "Blurring"), kOfxStatOK);
  EXPECT_EQ(v1->progressUpdate(handle, 0.25), kOfxStatOK);
  EXPECT_EQ(v1->progressUpdate(handle, 7.0), kOfxStatOK);
  EXPECT_EQ(v2->progressStart(handle, "Again", "again.id"), kOfxStatOK);
  goOn = false;
  EXPECT_EQ(v2->progressUpdate(handle, 0.5), kOfxStatReplyNo);
  EXPECT_EQ(v2->progressEnd(handle), kOfxStatOK);
  EXPECT_EQ(seen, (std::vector<std::string>{"0 Blurring 0", "1  0.25", "1  1",
                                            "0 Again 0", "1  0.5", "2  1"}));

  // Only a live instance has a task to report on.
  // The descriptor the describe action was given, as the instance names it.
  void *descriptor =
      instance_->props().getPointer(kOfxImageEffectPropPluginHandle);
  ASSERT_TRUE(descriptor);
  for (void *bad : {static_cast<void *>(nullptr), descriptor}) {
    EXPECT_EQ(v1->progressStart(bad, "x"), kOfxStatErrBadHandle);
    EXPECT_EQ(v2->progressUpdate(bad, 0.5), kOfxStatErrBadHandle);
    EXPECT_EQ(v1->progressEnd(bad), kOfxStatErrBadHandle);
  }
  EXPECT_EQ(v1->progressUpdate(handle, std::nan("")), kOfxStatErrValue);
  host_.setProgressListener(nullptr);
  EXPECT_EQ(v1->progressUpdate(handle, 0.5), kOfxStatOK);
}

TEST_F(ProbeTest, TimeLineIsTheInstancesCurrentTimeWithinItsFrameRange) {
  auto *timeLine =
      hosttest::suite<OfxTimeLineSuiteV1>(host_, kOfxTimeLineSuite);
  ASSERT_TRUE(timeLine);
  void *handle = instance_->handle();
  OfxRectD rod{};
  instance_->regionOfDefinition(7.0, {1, 1}, rod);
  double time = -1, first = -1, last = -1;
  EXPECT_EQ(timeLine->getTime(handle, &time), kOfxStatOK);
  EXPECT_EQ(time, 7.0);
  EXPECT_EQ(timeLine->getTimeBounds(handle, &first, &last), kOfxStatOK);
  EXPECT_EQ(first, 0.0);
  EXPECT_EQ(last, 99.0);
  // Moving is kept within the bounds.
  for (auto [to, expected] :
       {std::pair{12.5, 12.5}, std::pair{500.0, 99.0}, std::pair{-3.0, 0.0}}) {
    EXPECT_EQ(timeLine->gotoTime(handle, to), kOfxStatOK);
    timeLine->getTime(handle, &time);
    EXPECT_EQ(time, expected) << "went to " << to;
  }
  EXPECT_EQ(timeLine->gotoTime(handle, std::nan("")), kOfxStatErrValue);
  EXPECT_EQ(timeLine->getTime(handle, nullptr), kOfxStatErrValue);
  EXPECT_EQ(timeLine->getTimeBounds(handle, &first, nullptr), kOfxStatErrValue);
  EXPECT_EQ(timeLine->getTime(nullptr, &time), kOfxStatErrBadHandle);
  EXPECT_EQ(
      timeLine->gotoTime(
          instance_->props().getPointer(kOfxImageEffectPropPluginHandle), 1.0),
      kOfxStatErrBadHandle);
}

} // namespace
