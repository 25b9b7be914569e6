// Shared helpers of the host tests: where the test bundles are, the suites
// as a plug-in sees them, and a fixture with a live HostProbe instance.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxProgress.h"
#include "ofxTimeLine.h"
#include "ofxhost/Host.h"

namespace hosttest {

inline std::string bundle(const std::string &name) {
  return ofxhost::bundlePathIn(HOST_TEST_BUNDLE_DIR, name);
}

// A suite fetched the way a plug-in fetches it.
template <class Suite>
const Suite *suite(ofxhost::Host &host, const char *name, int version = 1) {
  OfxHost *ofx = host.ofxHost();
  return static_cast<const Suite *>(ofx->fetchSuite(ofx->host, name, version));
}

// A host with the probe plug-in loaded and one instance in a context.
class ProbeTest : public ::testing::Test {
protected:
  explicit ProbeTest(ofxhost::HostOptions options = {},
                     std::string context = kOfxImageEffectContextFilter)
      : host_(options), context_(std::move(context)) {}

  void SetUp() override {
    std::string error;
    auto loaded = host_.addBundle(bundle("HostProbe"), &error);
    ASSERT_EQ(loaded.size(), 1u) << error;
    plugin_ = loaded.front();
    ofxhost::ActionResult result;
    instance_ = plugin_->createInstance(context_, &result);
    ASSERT_TRUE(instance_) << result.message;
    props_ = suite<OfxPropertySuiteV1>(host_, kOfxPropertySuite);
    params_ = suite<OfxParameterSuiteV1>(host_, kOfxParameterSuite);
    effects_ = suite<OfxImageEffectSuiteV1>(host_, kOfxImageEffectSuite);
    ASSERT_TRUE(props_ && params_ && effects_);
  }

  ofxhost::Host host_;
  std::string context_;
  ofxhost::Plugin *plugin_ = nullptr;
  std::unique_ptr<ofxhost::Instance> instance_;
  const OfxPropertySuiteV1 *props_ = nullptr;
  const OfxParameterSuiteV1 *params_ = nullptr;
  const OfxImageEffectSuiteV1 *effects_ = nullptr;
};

} // namespace hosttest
