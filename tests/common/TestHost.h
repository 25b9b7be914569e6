// The host fixture of the test suites: the shared EffectHost, with an
// instance that cannot be made reported as a test failure that says why.
#pragma once

#include <gtest/gtest.h>

#include "EffectHost.h"

namespace qfx_test {

class TestHost : public EffectHost {
public:
  using EffectHost::EffectHost;

  std::unique_ptr<ofxhost::Instance> createFilter() {
    ofxhost::ActionResult result;
    std::unique_ptr<ofxhost::Instance> instance =
        EffectHost::createFilter(&result);
    EXPECT_TRUE(instance) << result.message;
    return instance;
  }
};

inline ofxhost::RenderRequest renderOf(const OfxRectI &window,
                                       double time = 0.0, double scale = 1.0) {
  ofxhost::RenderRequest request;
  request.time = time;
  request.window = window;
  request.scale = {scale, scale};
  return request;
}

} // namespace qfx_test
