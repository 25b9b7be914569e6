// The module's entry points and the load action.

#include "ProbeTestSupport.h"

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"

#include "TestPlatform.h"

namespace probetest {
namespace {

TEST(SupportEntryPoints, PublishOneImageEffectPluginRecord) {
  std::string error;
  void *module =
      qfx_test::openModule(ofxhost::bundleBinaryPath(probeBundlePath()), error);
  ASSERT_NE(module, nullptr) << error;
  auto count = reinterpret_cast<int (*)()>(
      qfx_test::moduleSymbol(module, "OfxGetNumberOfPlugins"));
  auto get = reinterpret_cast<OfxPlugin *(*)(int)>(
      qfx_test::moduleSymbol(module, "OfxGetPlugin"));
  ASSERT_NE(count, nullptr);
  ASSERT_NE(get, nullptr);

  ASSERT_EQ(count(), 1);
  const OfxPlugin *record = get(0);
  ASSERT_NE(record, nullptr);
  EXPECT_STREQ(record->pluginApi, kOfxImageEffectPluginApi);
  EXPECT_EQ(record->apiVersion, 1);
  EXPECT_STREQ(record->pluginIdentifier, probe::kPluginId);
  EXPECT_EQ(record->pluginVersionMajor, probe::kVersionMajor);
  EXPECT_EQ(record->pluginVersionMinor, probe::kVersionMinor);
  EXPECT_NE(record->setHost, nullptr);
  EXPECT_NE(record->mainEntry, nullptr);
  // The same record each time, and nothing past the end or before the start.
  EXPECT_EQ(get(0), record);
  EXPECT_EQ(get(1), nullptr);
  EXPECT_EQ(get(-1), nullptr);
  qfx_test::closeModule(module);
}

TEST(SupportLoad, SucceedsWithEverySuite) {
  ProbeSession session;
  ASSERT_NE(session.plugin(), nullptr);
  EXPECT_EQ(session.plugin()->load().status, kOfxStatOK);
  EXPECT_EQ(session.plugin()->identifier(), probe::kPluginId);
  EXPECT_EQ(session.plugin()->versionMajor(), probe::kVersionMajor);
  EXPECT_EQ(session.plugin()->versionMinor(), probe::kVersionMinor);
}

class SupportLoadWithheld : public ::testing::TestWithParam<const char *> {};

TEST_P(SupportLoadWithheld, FailsWithMissingHostFeature) {
  ofxhost::HostOptions options = isolatedOptions();
  options.withheldSuites = {GetParam()};
  ofxhost::Host host(options);
  std::string error;
  std::vector<ofxhost::Plugin *> plugins =
      host.openBundle(probeBundlePath(), &error);
  ASSERT_EQ(plugins.size(), 1u) << error;
  ofxhost::ActionResult result = plugins[0]->load();
  EXPECT_EQ(result.status, kOfxStatErrMissingHostFeature)
      << "withheld " << GetParam() << ": " << result.message;
}

INSTANTIATE_TEST_SUITE_P(
    EachRequiredSuite, SupportLoadWithheld,
    ::testing::Values(kOfxImageEffectSuite, kOfxPropertySuite,
                      kOfxParameterSuite, kOfxMemorySuite, kOfxMultiThreadSuite,
                      kOfxMessageSuite),
    [](const ::testing::TestParamInfo<const char *> &info) {
      return std::string(info.param);
    });

// A load that failed must not leave suites behind for a later host: the
// same module loaded again with every suite works, and one withheld again
// fails again.
TEST(SupportLoad, LaterLoadsFetchTheSuitesAfresh) {
  {
    ofxhost::HostOptions options = isolatedOptions();
    options.withheldSuites = {kOfxMultiThreadSuite};
    ofxhost::Host host(options);
    auto plugins = host.openBundle(probeBundlePath());
    ASSERT_EQ(plugins.size(), 1u);
    EXPECT_EQ(plugins[0]->load().status, kOfxStatErrMissingHostFeature);
  }
  {
    ProbeSession session;
    ASSERT_NE(session.plugin(), nullptr);
    EXPECT_EQ(session.plugin()->load().status, kOfxStatOK);
    EXPECT_NO_THROW(session.createInstance());
  }
  {
    ofxhost::HostOptions options = isolatedOptions();
    options.withheldSuites = {kOfxMessageSuite};
    ofxhost::Host host(options);
    auto plugins = host.openBundle(probeBundlePath());
    ASSERT_EQ(plugins.size(), 1u);
    EXPECT_EQ(plugins[0]->load().status, kOfxStatErrMissingHostFeature);
  }
}

// Host properties the library reads are optional to it: a host that
// publishes none of them still loads, describes and renders the probe.
TEST(SupportLoad, ToleratesAHostWithoutOptionalProperties) {
  ofxhost::HostOptions options = isolatedOptions();
  options.omittedHostProperties = {
      kOfxPropName,
      kOfxPropLabel,
      kOfxImageEffectHostPropIsBackground,
      kOfxImageEffectPropSupportsOverlays,
      kOfxImageEffectPropSupportsMultiResolution,
      kOfxImageEffectPropSupportsTiles,
      kOfxImageEffectPropTemporalClipAccess,
      kOfxImageEffectPropSupportsMultipleClipDepths,
      kOfxImageEffectPropSupportsMultipleClipPARs,
      kOfxImageEffectPropSetableFrameRate,
      kOfxImageEffectPropSetableFielding,
      kOfxParamHostPropMaxParameters,
      kOfxParamHostPropMaxPages,
      kOfxImageEffectPropSupportedContexts,
      kOfxImageEffectPropSupportedPixelDepths,
      kOfxImageEffectPropSupportedComponents};
  ProbeSession session(options);
  ASSERT_NE(session.plugin(), nullptr);
  EXPECT_EQ(session.plugin()->load().status, kOfxStatOK);
  ofxhost::Instance &instance = session.createInstance();
  auto src = makeImage<ByteRGBA>({0, 0, 4, 4});
  auto dst = makeImage<ByteRGBA>({0, 0, 4, 4});
  instance.setSource(src);
  instance.setOutput(dst);
  EXPECT_EQ(instance.render({0.0, {0, 0, 4, 4}}).status, kOfxStatOK);
}

} // namespace
} // namespace probetest
