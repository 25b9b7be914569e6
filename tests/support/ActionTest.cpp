// Instance lifetime, region answers, default replies and the mapping of
// every exception to the status the host receives. What the probe answers
// a host that gets something wrong (no output image, formats it does not
// render, failing suite calls) it shares with the effects:
// tests/reliability/ActionContractTest.cpp holds it to that.

#include "ProbeTestSupport.h"

#include <tuple>

namespace probetest {
namespace {

constexpr OfxRectI kBounds{0, 0, 64, 32};

// A session with one instance whose source and output are 8-bit RGBA.
struct ConnectedProbe {
  explicit ConnectedProbe(unsigned cpus = 1) : session(isolatedOptions(cpus)) {
    ofxhost::Instance &instance = session.createInstance();
    src = makeImage<ByteRGBA>(kBounds);
    dst = makeImage<ByteRGBA>(kBounds);
    instance.setSource(src);
    instance.setOutput(dst);
  }

  ofxhost::Instance &instance() { return *session.instance; }

  ProbeSession session;
  ofxhost::ImagePtr src;
  ofxhost::ImagePtr dst;
};

// ---------------------------------------------------------------------------
// Create and destroy

TEST(SupportInstance, CreateStoresTheInstanceAndDestroyClearsIt) {
  ConnectedProbe probe;
  ofxhost::Instance &instance = probe.instance();
  EXPECT_NE(instance.props().getPointer(kOfxPropInstanceData), nullptr);
  ASSERT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);

  EXPECT_EQ(instance.callAction(kOfxActionDestroyInstance).status, kOfxStatOK);
  EXPECT_EQ(instance.props().getPointer(kOfxPropInstanceData), nullptr);
  // An action on a destroyed instance is refused, not a use after free.
  EXPECT_EQ(instance.render({0.0, kBounds}).status, kOfxStatErrBadHandle);
}

TEST(SupportInstance, InstancesAreIndependent) {
  ProbeSession session;
  auto first = session.plugin()->createInstance(kOfxImageEffectContextFilter);
  auto second = session.plugin()->createInstance(kOfxImageEffectContextFilter);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->props().getPointer(kOfxPropInstanceData),
            second->props().getPointer(kOfxPropInstanceData));
}

TEST(SupportInstance, ImagesAreReleasedAfterEveryRender) {
  ConnectedProbe probe(3);
  ofxhost::Instance &instance = probe.instance();
  ASSERT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);
  instance.faults().imageFetch = kOfxStatErrMemory;
  instance.faults().imageFetchClip = "Source";
  EXPECT_EQ(instance.render({0.0, kBounds}).status, kOfxStatErrMemory);
  EXPECT_EQ(instance.clip("Output").imagesOutstanding(), 0);
  EXPECT_EQ(instance.clip("Source").imagesOutstanding(), 0);
}

// ---------------------------------------------------------------------------
// Default replies for what the probe does not handle

TEST(SupportDefaults, UnhandledActionsGetTheDefaultReply) {
  ConnectedProbe probe;
  ofxhost::Instance &instance = probe.instance();

  ofxhost::PropertySet identityIn, identityOut;
  identityIn.setDouble(kOfxPropTime, 0.0);
  identityIn.setString(kOfxImageEffectPropFieldToRender, kOfxImageFieldNone);
  identityIn.setInts(kOfxImageEffectPropRenderWindow, {0, 0, 64, 32});
  identityIn.setDoubles(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  EXPECT_EQ(instance
                .callAction(kOfxImageEffectActionIsIdentity, &identityIn,
                            &identityOut)
                .status,
            kOfxStatReplyDefault);

  ofxhost::PropertySet changedIn;
  changedIn.setString(kOfxPropType, kOfxTypeParameter);
  changedIn.setString(kOfxPropName, probe::kGain);
  changedIn.setString(kOfxPropChangeReason, kOfxChangeUserEdited);
  changedIn.setDouble(kOfxPropTime, 0.0);
  changedIn.setDoubles(kOfxImageEffectPropRenderScale, {1.0, 1.0});
  EXPECT_EQ(instance.callAction(kOfxActionInstanceChanged, &changedIn).status,
            kOfxStatReplyDefault);

  ofxhost::PropertySet prefsOut;
  EXPECT_EQ(instance
                .callAction(kOfxImageEffectActionGetClipPreferences, nullptr,
                            &prefsOut)
                .status,
            kOfxStatReplyDefault);

  for (const char *action :
       {kOfxActionPurgeCaches, kOfxActionSyncPrivateData,
        kOfxActionBeginInstanceChanged, kOfxActionEndInstanceChanged,
        kOfxImageEffectActionGetTimeDomain, "NoSuchAction"})
    EXPECT_EQ(instance.callAction(action).status, kOfxStatReplyDefault)
        << action;
}

TEST(SupportDefaults, SequenceRenderReachesTheInstance) {
  ConnectedProbe probe;
  EXPECT_EQ(probe.instance().beginSequenceRender(0.0, 10.0).status, kOfxStatOK);
  EXPECT_EQ(probe.instance().endSequenceRender(0.0, 10.0).status, kOfxStatOK);
}

// ---------------------------------------------------------------------------
// Regions

TEST(SupportRegions, RegionOfDefinitionGrowsByTheMarginAtTheGivenTime) {
  ConnectedProbe probe;
  ofxhost::Instance &instance = probe.instance();
  ofxhost::Param &margin = probe.session.param(probe::kMargin);
  margin.setKey(0.0, {1.0});
  margin.setKey(10.0, {3.0});

  OfxRectD rod{};
  ASSERT_EQ(instance.regionOfDefinition(0.0, {1.0, 1.0}, rod).status,
            kOfxStatOK);
  expectRect({-1.0, -1.0, 65.0, 33.0}, rod, "time 0");
  ASSERT_EQ(instance.regionOfDefinition(5.0, {0.5, 0.5}, rod).status,
            kOfxStatOK);
  expectRect({-2.0, -2.0, 66.0, 34.0}, rod, "time 5");
}

TEST(SupportRegions, DeclinedRegionOfDefinitionGetsTheDefaultReply) {
  ConnectedProbe probe;
  probe.session.param(probe::kAnswerRegions).setValue({0.0});
  probe.session.param(probe::kMargin).setValue({4.0});
  OfxRectD rod{};
  EXPECT_EQ(probe.instance().regionOfDefinition(0.0, {1.0, 1.0}, rod).status,
            kOfxStatReplyDefault);
  expectRect({0.0, 0.0, 64.0, 32.0}, rod, "host default");
}

TEST(SupportRegions, RegionOfInterestIsWrittenForTheSourceClip) {
  ConnectedProbe probe;
  probe.session.param(probe::kMargin).setValue({2.5});
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> setByPlugin;
  ASSERT_EQ(probe.instance()
                .regionsOfInterest(0.0, {1.0, 1.0}, {10.0, 10.0, 20.0, 20.0},
                                   rois, &setByPlugin)
                .status,
            kOfxStatOK);
  EXPECT_EQ(setByPlugin, (std::set<std::string>{"Source"}));
  expectRect({7.5, 7.5, 22.5, 22.5}, rois.at("Source"),
             "source region of interest");
}

TEST(SupportRegions, DeclinedRegionsOfInterestGetTheDefaultReply) {
  ConnectedProbe probe;
  probe.session.param(probe::kAnswerRegions).setValue({0.0});
  std::map<std::string, OfxRectD> rois;
  std::set<std::string> setByPlugin;
  EXPECT_EQ(probe.instance()
                .regionsOfInterest(0.0, {1.0, 1.0}, {10.0, 10.0, 20.0, 20.0},
                                   rois, &setByPlugin)
                .status,
            kOfxStatReplyDefault);
  EXPECT_TRUE(setByPlugin.empty());
}

// ---------------------------------------------------------------------------
// Exceptions: whatever the plug-in throws, and wherever, the host gets a
// status and the process goes on.

struct ThrowCase {
  const char *name;
  probe::ThrowKind kind;
  OfxStatus thrownStatus; // for Suite
  OfxStatus expected;
  const char *posted; // what the host learns beyond the status
};

const ThrowCase kThrowCases[] = {
    {"SuiteFormat", probe::eThrowSuite, kOfxStatErrFormat, kOfxStatErrFormat,
     "OpenFX suite call failed with kOfxStatErrFormat (probe)"},
    {"SuiteImageFormat", probe::eThrowSuite, kOfxStatErrImageFormat,
     kOfxStatErrImageFormat,
     "OpenFX suite call failed with kOfxStatErrImageFormat (probe)"},
    // A failure carrying "OK" must not reach the host as success.
    {"SuiteOK", probe::eThrowSuite, kOfxStatOK, kOfxStatFailed,
     "OpenFX suite call failed with kOfxStatOK (probe)"},
    {"HostInadequate", probe::eThrowHostInadequate, 0,
     kOfxStatErrMissingHostFeature, "probe"},
    {"PropertyUnknownToHost", probe::eThrowPropertyUnknown, 0,
     kOfxStatErrMissingHostFeature, "property unknown to host: probe"},
    // The status says all these know.
    {"BadAlloc", probe::eThrowBadAlloc, 0, kOfxStatErrMemory, ""},
    {"RuntimeError", probe::eThrowRuntimeError, 0, kOfxStatFailed, "probe"},
    {"Int", probe::eThrowInt, 0, kOfxStatFailed, ""},
};

enum class Site {
  Render,
  BandsOneThread,
  BandsFourThreads,
  BeginSequence,
  Definition,
  Interest
};

const char *siteName(Site site) {
  switch (site) {
  case Site::Render:
    return "Render";
  case Site::BandsOneThread:
    return "BandsOneThread";
  case Site::BandsFourThreads:
    return "BandsFourThreads";
  case Site::BeginSequence:
    return "BeginSequence";
  case Site::Definition:
    return "RegionOfDefinition";
  case Site::Interest:
    return "RegionsOfInterest";
  }
  return "";
}

class SupportExceptions
    : public ::testing::TestWithParam<std::tuple<ThrowCase, Site>> {};

TEST_P(SupportExceptions, MapToTheirStatus) {
  const ThrowCase &c = std::get<0>(GetParam());
  const Site site = std::get<1>(GetParam());
  ConnectedProbe probe(site == Site::BandsFourThreads ? 4 : 1);
  ofxhost::Instance &instance = probe.instance();

  probe::ThrowWhere where = probe::eThrowInRender;
  if (site == Site::BandsOneThread || site == Site::BandsFourThreads)
    where = probe::eThrowInBands;
  else if (site == Site::BeginSequence)
    where = probe::eThrowInBeginSequence;
  else if (site == Site::Definition || site == Site::Interest)
    where = probe::eThrowInRegions;
  probe.session.param(probe::kMode).setValue({double(probe::eModeThrow)});
  probe.session.param(probe::kThrowKind).setValue({double(c.kind)});
  probe.session.param(probe::kThrowWhere).setValue({double(where)});
  probe.session.param(probe::kThrowStatus).setValue({double(c.thrownStatus)});

  ofxhost::ActionResult result;
  OfxRectD rod{};
  std::map<std::string, OfxRectD> rois;
  switch (site) {
  case Site::Render:
  case Site::BandsOneThread:
  case Site::BandsFourThreads:
    result = instance.render({0.0, kBounds});
    break;
  case Site::BeginSequence:
    result = instance.beginSequenceRender(0.0, 10.0);
    break;
  case Site::Definition:
    result = instance.regionOfDefinition(0.0, {1.0, 1.0}, rod);
    break;
  case Site::Interest:
    result = instance.regionsOfInterest(0.0, {1.0, 1.0}, {0, 0, 8, 8}, rois);
    break;
  }
  EXPECT_EQ(result.status, c.expected)
      << c.name << " thrown in " << siteName(site) << ": " << result.message;
  // Also from the threads of a band render: the text reaches the action.
  EXPECT_EQ(result.pluginMessage, c.posted)
      << c.name << " thrown in " << siteName(site);
  EXPECT_EQ(instance.clip("Output").imagesOutstanding(), 0);
  EXPECT_EQ(instance.clip("Source").imagesOutstanding(), 0);

  // The instance survives and renders normally afterwards.
  probe.session.param(probe::kMode).setValue({double(probe::eModeNormal)});
  EXPECT_EQ(instance.render({0.0, kBounds}).status, kOfxStatOK);
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndSites, SupportExceptions,
    ::testing::Combine(::testing::ValuesIn(kThrowCases),
                       ::testing::Values(Site::Render, Site::BandsOneThread,
                                         Site::BandsFourThreads,
                                         Site::BeginSequence, Site::Definition,
                                         Site::Interest)),
    [](const ::testing::TestParamInfo<std::tuple<ThrowCase, Site>> &info) {
      return std::string(std::get<0>(info.param).name) + "_in_" +
             siteName(std::get<1>(info.param));
    });

// ---------------------------------------------------------------------------
// Failure reasons: what the host could not give the effect is named in the
// report of the action that failed, not only its status.

enum class Step { Load, Render, RegionOfDefinition };

struct ReasonCase {
  const char *name;
  const char *withheldSuite; // nullptr: the host offers every suite
  void (*breakHost)(ofxhost::Instance &);
  Step step;
  OfxStatus status;
  const char *message; // the whole report
};

const ReasonCase kReasonCases[] = {
    {"SourceImageFetchFails", nullptr,
     [](ofxhost::Instance &instance) {
       instance.faults().imageFetch = kOfxStatErrMemory;
       instance.faults().imageFetchClip = "Source";
     },
     Step::Render, kOfxStatErrMemory,
     "OfxImageEffectActionRender failed: kOfxStatErrMemory (8): OpenFX suite "
     "call failed "
     "with kOfxStatErrMemory (image of clip Source)"},
    {"ParameterReadFails", nullptr,
     [](ofxhost::Instance &instance) {
       instance.faults().paramGet = kOfxStatErrBadHandle;
     },
     Step::Render, kOfxStatErrBadHandle,
     "OfxImageEffectActionRender failed: kOfxStatErrBadHandle (9): OpenFX "
     "suite call failed "
     "with kOfxStatErrBadHandle (parameter mode)"},
    {"SourceRegionQueryFails", nullptr,
     [](ofxhost::Instance &instance) {
       instance.faults().regionQuery = kOfxStatErrValue;
     },
     Step::RegionOfDefinition, kOfxStatErrValue,
     "OfxImageEffectActionGetRegionOfDefinition failed: kOfxStatErrValue (11): "
     "OpenFX suite "
     "call failed with kOfxStatErrValue (region of definition of clip Source)"},
    // A bare status: nothing is made up to go with it.
    {"NoOutputImage", nullptr,
     [](ofxhost::Instance &instance) { instance.setOutput(nullptr); },
     Step::Render, kOfxStatFailed,
     "OfxImageEffectActionRender failed: kOfxStatFailed (1)"},
    // Posted before the load action had fetched the message suite.
    {"LoadWithoutParameterSuite", kOfxParameterSuite, nullptr, Step::Load,
     kOfxStatErrMissingHostFeature,
     "OfxActionLoad failed: kOfxStatErrMissingHostFeature (4): host lacks "
     "OfxParameterSuite "
     "version 1"},
};

void PrintTo(const ReasonCase &c, std::ostream *out) { *out << c.name; }

class SupportFailureReasons : public ::testing::TestWithParam<ReasonCase> {};

ofxhost::ActionResult runStep(const ReasonCase &c) {
  if (c.step == Step::Load) {
    ofxhost::HostOptions options = isolatedOptions();
    options.withheldSuites = {c.withheldSuite};
    ofxhost::Host host(options);
    std::vector<ofxhost::Plugin *> opened = host.openBundle(probeBundlePath());
    if (opened.empty())
      return ofxhost::ActionResult::failure("openBundle", kOfxStatErrBadHandle);
    return opened.front()->load();
  }
  ConnectedProbe probe;
  c.breakHost(probe.instance());
  OfxRectD rod{};
  return c.step == Step::Render
             ? probe.instance().render({0.0, kBounds})
             : probe.instance().regionOfDefinition(0.0, {1.0, 1.0}, rod);
}

TEST_P(SupportFailureReasons, AreReportedWithTheStatus) {
  const ReasonCase &c = GetParam();
  const ofxhost::ActionResult result = runStep(c);
  EXPECT_EQ(result.status, c.status) << result.message;
  EXPECT_EQ(result.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(Cases, SupportFailureReasons,
                         ::testing::ValuesIn(kReasonCases),
                         [](const auto &info) {
                           return std::string(info.param.name);
                         });

} // namespace
} // namespace probetest
