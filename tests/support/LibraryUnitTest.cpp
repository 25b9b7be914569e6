// The support library's own pieces, run against small in-test fakes of the
// host suites: exact band rectangles (also where int arithmetic would
// overflow), exceptions from band threads, the CPU count fallbacks, image
// addressing and the status mapping helpers.

#include "ofxsImageEffect.h"
#include "ofxsPixelFormat.h"
#include "ofxsProcessing.h"
#include "ofxsSuites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Fakes

using Value = std::variant<int, double, std::string, void *>;

struct FakeProps {
  std::map<std::string, std::vector<Value>> values;
};

FakeProps *fake(OfxPropertySetHandle handle) {
  return reinterpret_cast<FakeProps *>(handle);
}

template <class T>
OfxStatus fakeSet(OfxPropertySetHandle h, const char *name, int index, T v) {
  std::vector<Value> &values = fake(h)->values[name];
  if (index < 0 || index > static_cast<int>(values.size()))
    return kOfxStatErrBadIndex;
  if (index == static_cast<int>(values.size()))
    values.emplace_back(v);
  else
    values[index] = v;
  return kOfxStatOK;
}

template <class T>
OfxStatus fakeGet(OfxPropertySetHandle h, const char *name, int index, T *v) {
  auto found = fake(h)->values.find(name);
  if (found == fake(h)->values.end())
    return kOfxStatErrUnknown;
  if (index < 0 || index >= static_cast<int>(found->second.size()))
    return kOfxStatErrBadIndex;
  const T *value = std::get_if<T>(&found->second[index]);
  if (!value)
    return kOfxStatErrValue;
  *v = *value;
  return kOfxStatOK;
}

OfxStatus fakeGetString(OfxPropertySetHandle h, const char *name, int index,
                        char **v) {
  auto found = fake(h)->values.find(name);
  if (found == fake(h)->values.end())
    return kOfxStatErrUnknown;
  if (index < 0 || index >= static_cast<int>(found->second.size()))
    return kOfxStatErrBadIndex;
  std::string *value = std::get_if<std::string>(&found->second[index]);
  if (!value)
    return kOfxStatErrValue;
  *v = value->data();
  return kOfxStatOK;
}

OfxStatus fakeSetString(OfxPropertySetHandle h, const char *name, int index,
                        const char *v) {
  return fakeSet<std::string>(h, name, index, v);
}

OfxStatus fakeSetDoubleN(OfxPropertySetHandle h, const char *name, int count,
                         const double *v) {
  for (int i = 0; i < count; ++i)
    fakeSet<double>(h, name, i, v[i]);
  return kOfxStatOK;
}

OfxStatus fakeDimension(OfxPropertySetHandle h, const char *name, int *count) {
  auto found = fake(h)->values.find(name);
  if (found == fake(h)->values.end())
    return kOfxStatErrUnknown;
  *count = static_cast<int>(found->second.size());
  return kOfxStatOK;
}

OfxPropertySuiteV1 makePropertySuite() {
  OfxPropertySuiteV1 suite{};
  suite.propSetPointer = &fakeSet<void *>;
  suite.propSetString = &fakeSetString;
  suite.propSetDouble = &fakeSet<double>;
  suite.propSetInt = &fakeSet<int>;
  suite.propSetDoubleN = &fakeSetDoubleN;
  suite.propGetPointer = &fakeGet<void *>;
  suite.propGetString = &fakeGetString;
  suite.propGetDouble = &fakeGet<double>;
  suite.propGetInt = &fakeGet<int>;
  suite.propGetDimension = &fakeDimension;
  return suite;
}

// The effect suite: one effect, counted image releases, scripted abort.
FakeProps gEffectProps;
std::atomic<int> gReleasedImages{0};
std::atomic<int> gAbortAfter{-1};
std::atomic<int> gAbortPolls{0};

OfxImageEffectSuiteV1 makeEffectSuite() {
  OfxImageEffectSuiteV1 suite{};
  suite.getPropertySet = [](OfxImageEffectHandle, OfxPropertySetHandle *props) {
    *props = reinterpret_cast<OfxPropertySetHandle>(&gEffectProps);
    return kOfxStatOK;
  };
  suite.getParamSet = [](OfxImageEffectHandle, OfxParamSetHandle *set) {
    *set = nullptr;
    return kOfxStatOK;
  };
  // Clips "Source" and "Output" exist; anything else is unknown.
  suite.clipGetHandle = [](OfxImageEffectHandle, const char *name,
                           OfxImageClipHandle *clip,
                           OfxPropertySetHandle *props) {
    static FakeProps clipProps;
    const std::string clipName = name;
    if (clipName != "Source" && clipName != "Output")
      return kOfxStatErrUnknown;
    *clip = reinterpret_cast<OfxImageClipHandle>(&clipProps);
    if (props)
      *props = reinterpret_cast<OfxPropertySetHandle>(&clipProps);
    return kOfxStatOK;
  };
  suite.clipReleaseImage = [](OfxPropertySetHandle) {
    ++gReleasedImages;
    return kOfxStatOK;
  };
  suite.abort = [](OfxImageEffectHandle) {
    const int poll = gAbortPolls++;
    return gAbortAfter >= 0 && poll >= gAbortAfter ? 1 : 0;
  };
  return suite;
}

// The multi-thread suite: real threads, a scripted CPU count and status.
unsigned gCpus = 1;
OfxStatus gCpuStatus = kOfxStatOK;
OfxStatus gMultiThreadStatus = kOfxStatOK;
thread_local unsigned tThreadIndex = 0;

OfxMultiThreadSuiteV1 makeMultiThreadSuite() {
  OfxMultiThreadSuiteV1 suite{};
  suite.multiThreadNumCPUs = [](unsigned *n) {
    *n = gCpus;
    return gCpuStatus;
  };
  suite.multiThreadIndex = [](unsigned *index) {
    *index = tThreadIndex;
    return kOfxStatOK;
  };
  suite.multiThread = [](OfxThreadFunctionV1 func, unsigned n, void *arg) {
    if (gMultiThreadStatus != kOfxStatOK)
      return gMultiThreadStatus;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < n; ++i)
      threads.emplace_back([=] {
        tThreadIndex = i;
        func(i, n, arg);
      });
    for (std::thread &t : threads)
      t.join();
    return kOfxStatOK;
  };
  return suite;
}

// The parameter suite: one double parameter "gain" whose value is the time.
OfxParameterSuiteV1 makeParameterSuite() {
  OfxParameterSuiteV1 suite{};
  suite.paramGetHandle = [](OfxParamSetHandle, const char *name,
                            OfxParamHandle *param,
                            OfxPropertySetHandle *props) {
    static FakeProps gainProps{
        {{kOfxParamPropType, {std::string(kOfxParamTypeDouble)}}}};
    if (std::string(name) != "gain")
      return kOfxStatErrUnknown;
    *param = reinterpret_cast<OfxParamHandle>(&gainProps);
    if (props)
      *props = reinterpret_cast<OfxPropertySetHandle>(&gainProps);
    return kOfxStatOK;
  };
  return suite;
}

const OfxPropertySuiteV1 kPropertySuite = makePropertySuite();
const OfxParameterSuiteV1 kParameterSuite = makeParameterSuite();
const OfxImageEffectSuiteV1 kEffectSuite = makeEffectSuite();
const OfxMultiThreadSuiteV1 kMultiThreadSuite = makeMultiThreadSuite();

class SupportLibrary : public ::testing::Test {
protected:
  void SetUp() override {
    OFX::Private::HostSuites &s = OFX::Private::suites();
    s = OFX::Private::HostSuites();
    s.property = &kPropertySuite;
    s.effect = &kEffectSuite;
    s.multiThread = &kMultiThreadSuite;
    s.parameter = &kParameterSuite;
    gCpus = 1;
    gCpuStatus = kOfxStatOK;
    gMultiThreadStatus = kOfxStatOK;
    gAbortAfter = -1;
    gAbortPolls = 0;
    gReleasedImages = 0;
  }

  void TearDown() override {
    OFX::Private::suites() = OFX::Private::HostSuites();
  }
};

class FakeEffect : public OFX::ImageEffect {
public:
  FakeEffect() : OFX::ImageEffect(nullptr) {}
  void render(const OFX::RenderArguments &) override {}
};

// Records the bands it is given; optionally throws from chosen bands.
class RecordingProcessor : public OFX::ImageProcessor {
public:
  using OFX::ImageProcessor::ImageProcessor;

  void multiThreadProcessImages(OfxRectI band) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bands.push_back(band);
      steps.push_back("band");
    }
    if (throwFromBand >= 0 && band.y1 == throwFromBand)
      throw std::runtime_error("band failed");
    if (throwEverywhere)
      throw OFX::Exception::Suite(kOfxStatErrFormat);
  }
  void preProcess() override { steps.push_back("pre"); }
  void postProcess() override { steps.push_back("post"); }

  std::vector<OfxRectI> sortedBands() const {
    std::vector<OfxRectI> sorted = bands;
    std::sort(sorted.begin(), sorted.end(),
              [](const OfxRectI &a, const OfxRectI &b) { return a.y1 < b.y1; });
    return sorted;
  }

  std::vector<OfxRectI> bands;
  std::vector<std::string> steps;
  int throwFromBand = -1;
  bool throwEverywhere = false;

private:
  std::mutex mutex_;
};

// ---------------------------------------------------------------------------
// Bands

TEST_F(SupportLibrary, BandsFollowTheIntegerSplitExactly) {
  FakeEffect effect;
  const OfxRectI window{-4, 3, 9, 13}; // dy = 10
  for (unsigned n : {1u, 2u, 3u, 4u, 7u, 10u, 13u}) {
    RecordingProcessor processor(effect);
    processor.setRenderWindow(window);
    for (unsigned i = 0; i < n; ++i)
      processor.multiThreadFunction(i, n);
    // Thread i gets [y1 + i*dy/n, y1 + min((i+1)*dy/n, dy)); empty ones are
    // skipped, the others tile the window without gaps or overlap.
    int nextRow = window.y1;
    for (const OfxRectI &band : processor.bands) {
      EXPECT_EQ(band.x1, window.x1);
      EXPECT_EQ(band.x2, window.x2);
      EXPECT_EQ(band.y1, nextRow) << n << " threads";
      EXPECT_LT(band.y1, band.y2) << n << " threads";
      nextRow = band.y2;
    }
    EXPECT_EQ(nextRow, window.y2) << n << " threads";
    for (unsigned i = 0; i < n; ++i) {
      const int first = window.y1 + int(i * 10 / n);
      const int last = window.y1 + std::min(int((i + 1) * 10 / n), 10);
      if (first == last)
        continue;
      const bool found = std::any_of(
          processor.bands.begin(), processor.bands.end(),
          [&](const OfxRectI &b) { return b.y1 == first && b.y2 == last; });
      EXPECT_TRUE(found) << "band " << i << " of " << n << " should be rows "
                         << first << ".." << last;
    }
  }
}

TEST_F(SupportLibrary, BandsOfATallWindowDoNotOverflow) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  const OfxRectI window{0, -1000000000, 1,
                        1000000000}; // dy = 2e9 fits, i*dy does not
  processor.setRenderWindow(window);
  processor.multiThreadFunction(7, 8);
  ASSERT_EQ(processor.bands.size(), 1u);
  EXPECT_EQ(processor.bands[0].y1, -1000000000 + 1750000000);
  EXPECT_EQ(processor.bands[0].y2, 1000000000);
}

TEST_F(SupportLibrary, EmptyOrInvertedWindowProcessesNothing) {
  FakeEffect effect;
  OFX::Image *anyImage =
      reinterpret_cast<OFX::Image *>(&gEffectProps); // never dereferenced
  for (const OfxRectI &window :
       {OfxRectI{0, 5, 10, 5}, OfxRectI{0, 9, 10, 2}}) {
    gCpus = 3;
    RecordingProcessor processor(effect);
    processor.setDstImg(anyImage);
    processor.setRenderWindow(window);
    processor.process();
    EXPECT_TRUE(processor.bands.empty());
  }
}

TEST_F(SupportLibrary, ProcessRunsPreBandsPostAndNothingWithoutDestination) {
  FakeEffect effect;
  RecordingProcessor idle(effect);
  idle.setRenderWindow({0, 0, 4, 4});
  idle.process();
  EXPECT_TRUE(idle.steps.empty());

  RecordingProcessor processor(effect);
  processor.setDstImg(
      reinterpret_cast<OFX::Image *>(&gEffectProps)); // never dereferenced
  processor.setRenderWindow({0, 0, 4, 2});
  gCpus = 1;
  processor.process();
  EXPECT_EQ(processor.steps, (std::vector<std::string>{"pre", "band", "post"}));
}

// ---------------------------------------------------------------------------
// Threads

TEST_F(SupportLibrary, CpuCountFallsBackToOne) {
  gCpus = 6;
  EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 6u);
  gCpuStatus = kOfxStatFailed;
  EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 1u);
  gCpuStatus = kOfxStatOK;
  gCpus = 0;
  EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 1u);
  OFX::Private::suites().multiThread = nullptr;
  EXPECT_EQ(OFX::MultiThread::getNumCPUs(), 1u);
}

TEST_F(SupportLibrary, OneCpuRunsOnTheCallingThread) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  processor.setRenderWindow({0, 0, 2, 6});
  gMultiThreadStatus = kOfxStatErrFatal; // would fail if the host were asked
  processor.multiThread(1);
  ASSERT_EQ(processor.bands.size(), 1u);
  EXPECT_EQ(processor.bands[0].y2, 6);
}

TEST_F(SupportLibrary, SeveralCpusCoverTheWindowOnTheHostThreads) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  processor.setRenderWindow({0, 0, 2, 9});
  gCpus = 4;
  processor.multiThread();
  const std::vector<OfxRectI> bands = processor.sortedBands();
  ASSERT_EQ(bands.size(), 4u);
  EXPECT_EQ(bands[0].y1, 0);
  EXPECT_EQ(bands[1].y1, 2);
  EXPECT_EQ(bands[2].y1, 4);
  EXPECT_EQ(bands[3].y1, 6);
  EXPECT_EQ(bands[3].y2, 9);
}

// Rows shared in claimed runs: whatever the thread count and run length,
// and on every render of the same processor, the runs tile the window
// exactly once, none longer than asked; a window of billions of rows is
// claimed in a bounded number of runs.
TEST_F(SupportLibrary, ClaimedRunsTileTheWindowOnEveryRender) {
  FakeEffect effect;
  const OfxRectI tall{0, -2000000000, 1, 2000000000};
  for (const OfxRectI &window : {OfxRectI{-3, -5, 4, 32}, tall}) {
    const bool isTall = window.y2 == tall.y2;
    for (int rows : {1, 4, 16, 40}) {
      for (unsigned cpus : {1u, 2u, 3u, 7u}) {
        RecordingProcessor processor(effect);
        processor.setDstImg(reinterpret_cast<OFX::Image *>(
            &gEffectProps)); // never dereferenced
        processor.setRenderWindow(window);
        processor.setRowsPerClaim(rows);
        gCpus = cpus;
        for (int render = 1; render <= 2; ++render) {
          processor.bands.clear();
          processor.process();
          const std::string what = std::string(isTall ? "tall, " : "") +
                                   std::to_string(rows) + " rows a claim, " +
                                   std::to_string(cpus) + " CPUs, render " +
                                   std::to_string(render);
          int nextRow = window.y1;
          for (const OfxRectI &run : processor.sortedBands()) {
            EXPECT_EQ(run.x1, window.x1) << what;
            EXPECT_EQ(run.x2, window.x2) << what;
            EXPECT_EQ(run.y1, nextRow) << what;
            EXPECT_GT(run.y2, run.y1) << what;
            if (!isTall) {
              EXPECT_LE(run.y2 - run.y1, rows) << what;
            }
            nextRow = run.y2;
          }
          EXPECT_EQ(nextRow, window.y2) << what;
          EXPECT_LE(processor.bands.size(), 64u * cpus) << what;
        }
      }
    }
  }
}

TEST_F(SupportLibrary, ExceptionInABandIsRethrownOnTheCallingThread) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  processor.setRenderWindow({0, 0, 2, 8});
  processor.throwFromBand = 4; // the third of four bands
  gCpus = 4;
  EXPECT_THROW(processor.multiThread(), std::runtime_error);
  // The other bands still ran: the host's threads were never unwound.
  EXPECT_EQ(processor.bands.size(), 4u);
}

TEST_F(SupportLibrary, OnlyTheFirstBandExceptionIsRethrown) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  processor.setRenderWindow({0, 0, 2, 8});
  processor.throwEverywhere = true;
  gCpus = 4;
  try {
    processor.multiThread();
    FAIL() << "expected an exception";
  } catch (const OFX::Exception::Suite &e) {
    EXPECT_EQ(e.status(), kOfxStatErrFormat);
  }
}

TEST_F(SupportLibrary, HostThatCannotRunThreadsFailsTheWork) {
  FakeEffect effect;
  RecordingProcessor processor(effect);
  processor.setRenderWindow({0, 0, 2, 8});
  gCpus = 4;
  gMultiThreadStatus = kOfxStatErrMemory;
  try {
    processor.multiThread();
    FAIL() << "expected an exception";
  } catch (const OFX::Exception::Suite &e) {
    EXPECT_EQ(e.status(), kOfxStatErrMemory);
  }
}

TEST_F(SupportLibrary, AbortAsksTheHost) {
  FakeEffect effect;
  gAbortAfter = 2;
  EXPECT_FALSE(effect.abort());
  EXPECT_FALSE(effect.abort());
  EXPECT_TRUE(effect.abort());
}

// ---------------------------------------------------------------------------
// Images

class FakeImage {
public:
  FakeImage(OfxRectI bounds, const char *depth, const char *components,
            int rowBytes, void *data) {
    props_.values[kOfxImagePropData] = {data};
    props_.values[kOfxImagePropRowBytes] = {rowBytes};
    props_.values[kOfxImagePropBounds] = {bounds.x1, bounds.y1, bounds.x2,
                                          bounds.y2};
    props_.values[kOfxImageEffectPropPixelDepth] = {std::string(depth)};
    props_.values[kOfxImageEffectPropComponents] = {std::string(components)};
  }
  OfxPropertySetHandle handle() {
    return reinterpret_cast<OfxPropertySetHandle>(&props_);
  }
  FakeProps &props() { return props_; }

private:
  FakeProps props_;
};

TEST_F(SupportLibrary, PixelAddressHonoursRowBytesAndBounds) {
  unsigned char buffer[4096] = {};
  struct Case {
    const char *depth;
    const char *components;
    int pixelBytes;
  };
  for (const Case &c : {Case{kOfxBitDepthByte, kOfxImageComponentRGBA, 4},
                        Case{kOfxBitDepthShort, kOfxImageComponentAlpha, 2},
                        Case{kOfxBitDepthFloat, kOfxImageComponentRGBA, 16}}) {
    for (int rowBytes :
         {5 * c.pixelBytes, 5 * c.pixelBytes + 12, -(5 * c.pixelBytes + 4)}) {
      // Negative row bytes: data points at the bottom row, stored last.
      unsigned char *origin = rowBytes < 0 ? buffer + 3000 : buffer + 16;
      FakeImage fake({-2, 10, 3, 14}, c.depth, c.components, rowBytes, origin);
      OFX::Image image(fake.handle());
      const std::string what = std::string(c.components) + "/" + c.depth +
                               " rowBytes " + std::to_string(rowBytes);
      EXPECT_EQ(image.getPixelAddress(-2, 10), origin) << what;
      EXPECT_EQ(image.getPixelAddress(1, 12),
                origin + 2 * rowBytes + 3 * c.pixelBytes)
          << what;
      EXPECT_EQ(image.getPixelAddress(2, 13),
                origin + 3 * rowBytes + 4 * c.pixelBytes)
          << what;
      EXPECT_EQ(image.getPixelAddress(-3, 10), nullptr) << what;
      EXPECT_EQ(image.getPixelAddress(3, 10), nullptr) << what;
      EXPECT_EQ(image.getPixelAddress(0, 9), nullptr) << what;
      EXPECT_EQ(image.getPixelAddress(0, 14), nullptr) << what;
      EXPECT_EQ(image.getRowBytes(), rowBytes);
    }
  }
}

TEST_F(SupportLibrary, UnknownPixelLayoutHasNoAddresses) {
  unsigned char buffer[64] = {};
  FakeImage half({0, 0, 2, 2}, kOfxBitDepthHalf, "MyHostComponents", 16,
                 buffer);
  OFX::Image image(half.handle());
  EXPECT_EQ(image.getPixelComponents(), OFX::ePixelComponentCustom);
  EXPECT_EQ(image.getPixelAddress(0, 0), nullptr);
}

TEST_F(SupportLibrary, ImageDefaultsAndRelease) {
  unsigned char buffer[64] = {};
  {
    FakeImage fake({0, 0, 2, 2}, kOfxBitDepthByte, kOfxImageComponentRGBA, 8,
                   buffer);
    OFX::Image image(fake.handle());
    // Descriptive properties the fake host left out keep the defaults.
    EXPECT_EQ(image.getRenderScale().x, 1.0);
    EXPECT_EQ(image.getRenderScale().y, 1.0);
    EXPECT_EQ(image.getPixelAspectRatio(), 1.0);
    EXPECT_EQ(image.getField(), OFX::eFieldNone);
    EXPECT_EQ(image.getRegionOfDefinition().x2, 2);
  }
  EXPECT_EQ(gReleasedImages, 1);

  // An image whose required properties are missing is handed back at once.
  FakeImage broken({0, 0, 2, 2}, kOfxBitDepthByte, kOfxImageComponentRGBA, 8,
                   buffer);
  broken.props().values.erase(kOfxImagePropBounds);
  EXPECT_THROW(OFX::Image image(broken.handle()),
               OFX::Exception::PropertyUnknownToHost);
  EXPECT_EQ(gReleasedImages, 2);
}

// ---------------------------------------------------------------------------
// Fetching clips and parameters

TEST_F(SupportLibrary, RepeatedFetchesReturnTheSameObject) {
  FakeEffect effect;
  OFX::Clip *source = effect.fetchClip("Source");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(effect.fetchClip("Source"), source);
  EXPECT_NE(effect.fetchClip("Output"), source);
  EXPECT_EQ(source->name(), "Source");

  OFX::DoubleParam *gain = effect.fetchDoubleParam("gain");
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(effect.fetchDoubleParam("gain"), gain);
}

TEST_F(SupportLibrary, BadFetchesThrowTheHostStatus) {
  FakeEffect effect;
  try {
    effect.fetchClip("Matte");
    ADD_FAILURE() << "unknown clip fetched";
  } catch (const OFX::Exception::Suite &e) {
    EXPECT_EQ(e.status(), kOfxStatErrUnknown);
  }
  EXPECT_THROW(effect.fetchDoubleParam("nothing"), OFX::Exception::Suite);
  // A double read as a choice would hand the host the wrong varargs.
  EXPECT_THROW(effect.fetchChoiceParam("gain"), OFX::Exception::Suite);
}

// ---------------------------------------------------------------------------
// Descriptors

class DescriptorProps : public SupportLibrary {
protected:
  OfxPropertySetHandle handle() {
    return reinterpret_cast<OfxPropertySetHandle>(&props_);
  }
  std::string hint() {
    return std::get<std::string>(props_.values.at(kOfxParamPropHint).at(0));
  }
  FakeProps props_;
};

TEST_F(DescriptorProps, LabelledOptionsExtendTheHint) {
  OFX::ChoiceParamDescriptor choice("gradientType", handle());
  choice.setHint("Type of gradient calculation");
  choice.appendOption("Linear", "Linear gradient between two points");
  choice.appendOption("Radial", "Radial gradient from start to end position");
  EXPECT_EQ(hint(), "Type of gradient calculation\n\n"
                    "Linear: Linear gradient between two points\n"
                    "Radial: Radial gradient from start to end position");
  EXPECT_EQ(props_.values.at(kOfxParamPropChoiceOption),
            (std::vector<Value>{std::string("Linear"), std::string("Radial")}));
  EXPECT_EQ(choice.getNOptions(), 2);
}

TEST_F(DescriptorProps, UnlabelledOptionsLeaveTheHintAlone) {
  OFX::ChoiceParamDescriptor choice("quality", handle());
  choice.setHint("Processing quality and speed trade-off");
  choice.appendOption("Draft (Fastest)");
  choice.appendOption("Good (Balanced)", "");
  EXPECT_EQ(hint(), "Processing quality and speed trade-off");
}

TEST_F(DescriptorProps, HintSetAfterTheOptionsStillListsThem) {
  OFX::ChoiceParamDescriptor choice("mode", handle());
  choice.appendOption("A");
  choice.appendOption("B", "second");
  EXPECT_EQ(hint(), "B: second"); // no leading blank line without a hint
  choice.setHint("Pick one");
  EXPECT_EQ(hint(), "Pick one\n\nB: second");
}

TEST_F(DescriptorProps, PageChildrenAreAppendedInOrder) {
  FakeProps aProps, bProps;
  OFX::PageParamDescriptor page("Controls", handle());
  OFX::DoubleParamDescriptor a("a",
                               reinterpret_cast<OfxPropertySetHandle>(&aProps));
  OFX::RGBAParamDescriptor b("b",
                             reinterpret_cast<OfxPropertySetHandle>(&bProps));
  page.addChild(a);
  page.addChild(b);
  EXPECT_EQ(props_.values.at(kOfxParamPropPageChild),
            (std::vector<Value>{std::string("a"), std::string("b")}));
}

// ---------------------------------------------------------------------------
// Vocabulary

TEST_F(SupportLibrary, ThrowSuiteStatusExceptionPassesSuccessOnly) {
  for (OfxStatus ok :
       {kOfxStatOK, kOfxStatReplyYes, kOfxStatReplyNo, kOfxStatReplyDefault})
    EXPECT_NO_THROW(OFX::throwSuiteStatusException(ok)) << OFX::statusName(ok);
  for (OfxStatus bad : {kOfxStatFailed, kOfxStatErrFormat, kOfxStatErrMemory,
                        kOfxStatErrImageFormat}) {
    try {
      OFX::throwSuiteStatusException(bad);
      ADD_FAILURE() << OFX::statusName(bad) << " did not throw";
    } catch (const OFX::Exception::Suite &e) {
      EXPECT_EQ(e.status(), bad);
      EXPECT_NE(std::string(e.what()).find(OFX::statusName(bad)),
                std::string::npos);
    }
  }
  // An effect's own reason is caught where suite failures are, its text
  // kept whole for the host.
  try {
    OFX::throwFailure(kOfxStatErrUnsupported, "no 16-bit half output");
  } catch (const OFX::Exception::Suite &e) {
    EXPECT_EQ(e.status(), kOfxStatErrUnsupported);
    EXPECT_STREQ(e.what(), "no 16-bit half output");
  }
}

TEST_F(SupportLibrary, EnumsRoundTripThroughTheirStrings) {
  for (OFX::BitDepthEnum d : {OFX::eBitDepthUByte, OFX::eBitDepthUShort,
                              OFX::eBitDepthHalf, OFX::eBitDepthFloat})
    EXPECT_EQ(OFX::mapStringToBitDepth(OFX::mapBitDepthToString(d)), d);
  for (OFX::PixelComponentEnum c :
       {OFX::ePixelComponentRGBA, OFX::ePixelComponentRGB,
        OFX::ePixelComponentAlpha})
    EXPECT_EQ(
        OFX::mapStringToPixelComponents(OFX::mapPixelComponentsToString(c)), c);
  for (OFX::ContextEnum c :
       {OFX::eContextGenerator, OFX::eContextFilter, OFX::eContextTransition,
        OFX::eContextPaint, OFX::eContextGeneral, OFX::eContextRetimer})
    EXPECT_EQ(OFX::mapStringToContext(OFX::mapContextToString(c)), c);
  EXPECT_EQ(OFX::mapStringToBitDepth(""), OFX::eBitDepthNone);
  EXPECT_EQ(OFX::mapStringToBitDepth("OfxBitDepthSomethingNew"),
            OFX::eBitDepthCustom);
  EXPECT_EQ(OFX::mapStringToPreMultiplication(kOfxImageUnPreMultiplied),
            OFX::eImageUnPreMultiplied);
}

TEST_F(SupportLibrary, MissingPropertySuiteIsAHostShortcoming) {
  OFX::Private::suites().property = nullptr;
  OFX::PropertySet props(reinterpret_cast<OfxPropertySetHandle>(&gEffectProps));
  EXPECT_THROW(props.getInt("anything"), OFX::Exception::HostInadequate);
  EXPECT_EQ(props.getIntOr("anything", 7), 7);
}

// Each of the six formats reaches the callable with the component type and
// count a processor needs to address its pixels; every other format is
// refused without a call, since a processor of a neighbouring format would
// write past the image.
TEST(PixelFormatDispatch, MapsTheSixFormatsAndRefusesTheRest) {
  struct Case {
    OFX::BitDepthEnum depth;
    OFX::PixelComponentEnum components;
    bool rendered;
    int componentBytes = 0; // of the type handed over, when rendered
    bool isFloat = false;
    int nComponents = 0;
    int maxValue = 0;
  };
  const Case cases[] = {
      {OFX::eBitDepthUByte, OFX::ePixelComponentRGBA, true, 1, false, 4, 255},
      {OFX::eBitDepthUShort, OFX::ePixelComponentRGBA, true, 2, false, 4,
       65535},
      {OFX::eBitDepthFloat, OFX::ePixelComponentRGBA, true, 4, true, 4, 1},
      {OFX::eBitDepthUByte, OFX::ePixelComponentAlpha, true, 1, false, 1, 255},
      {OFX::eBitDepthUShort, OFX::ePixelComponentAlpha, true, 2, false, 1,
       65535},
      {OFX::eBitDepthFloat, OFX::ePixelComponentAlpha, true, 4, true, 1, 1},
      {OFX::eBitDepthHalf, OFX::ePixelComponentRGBA, false},
      {OFX::eBitDepthUByte, OFX::ePixelComponentRGB, false},
      {OFX::eBitDepthFloat, OFX::ePixelComponentCustom, false},
      {OFX::eBitDepthCustom, OFX::ePixelComponentAlpha, false},
      {OFX::eBitDepthNone, OFX::ePixelComponentRGBA, false},
      {OFX::eBitDepthUShort, OFX::ePixelComponentNone, false},
  };
  for (const Case &c : cases) {
    const std::string what = std::string(OFX::mapBitDepthToString(c.depth)) +
                             " " +
                             OFX::mapPixelComponentsToString(c.components);
    int calls = 0, bytes = 0, n = 0, maxValue = 0;
    bool isFloat = false;
    const bool rendered = OFX::withPixelFormat(
        c.depth, c.components, [&](auto pixel, auto nComponents) {
          using PIX = typename decltype(pixel)::type;
          ++calls;
          bytes = sizeof(PIX);
          isFloat = std::is_floating_point_v<PIX>;
          n = decltype(nComponents)::value;
          maxValue = OFX::PixelMax<PIX>::value;
        });
    EXPECT_EQ(rendered, c.rendered) << what;
    EXPECT_EQ(OFX::isRenderedPixelFormat({c.depth, c.components}), c.rendered)
        << what;
    EXPECT_EQ(calls, c.rendered ? 1 : 0) << what;
    if (!c.rendered)
      continue;
    EXPECT_EQ(bytes, c.componentBytes) << what;
    EXPECT_EQ(bytes, OFX::bytesPerComponent(c.depth)) << what;
    EXPECT_EQ(isFloat, c.isFloat) << what;
    EXPECT_EQ(n, c.nComponents) << what;
    EXPECT_EQ(n, OFX::componentCount(c.components)) << what;
    EXPECT_EQ(maxValue, c.maxValue) << what;
  }
}

} // namespace
