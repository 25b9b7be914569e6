// libFuzzer target: one effect bundle, driven through the host library by a
// host whose every choice comes from the fuzz input.
//
// Each input becomes one scenario (FuzzInput.h decodes it, Scenario.h holds
// it): the output clip's pixel format, the formats, bounds and row layouts
// of the source and output images (or their absence), the render window,
// render scale and time, the parameter values (stored verbatim, so NaN,
// infinities and values far outside the declared ranges reach the
// plug-in), the host's thread count, when the host asks to abort, and which
// suite call fails with which status. The scenario is rendered and the
// region actions are asked; then the oracle (Oracle.h) checks what a host
// relies on, beyond not crashing:
//   - the render's status is the one the effect promises for that scenario;
//   - nothing outside the render window (clipped to the output's bounds) is
//     written, padding included, and a failed render writes nothing at all;
//   - the source image is never written;
//   - every image fetched is released;
//   - a render that ran to the end gives the same bytes on another number
//     of threads.
// A broken promise aborts, which libFuzzer records as a crash.
//
// QFX_FUZZ_BUNDLE names the bundle (Tintrow or Rimlet); QFX_FUZZ_BUNDLE_DIR
// is where the build put it.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "EffectHost.h"
#include "FuzzInput.h"
#include "HostileParams.h"
#include "Oracle.h"
#include "Scenario.h"
#include "ofxhost/Host.h"

namespace qfx_fuzz {
namespace {

// ---------------------------------------------------------------- the host

struct FuzzHost {
  FuzzHost()
      : effect(ofxhost::bundlePathIn(QFX_FUZZ_BUNDLE_DIR, QFX_FUZZ_BUNDLE),
               qfx_test::isolatedOptions(kMaxCpus)) {
    if (!effect.plugin()) {
      std::fprintf(stderr, "cannot load %s: %s\n", QFX_FUZZ_BUNDLE,
                   effect.error().c_str());
      std::abort();
    }
  }

  // The number of CPUs the multi-thread suite reports, and so the number
  // of bands a render is cut into. The pool keeps its kMaxCpus threads:
  // resizing it would start and join threads for every input.
  void useCpus(unsigned n) { effect.host().impl()->options.cpuCount = n; }

  qfx_test::EffectHost effect;
};

FuzzHost &fuzzHost() {
  // Never destroyed: libFuzzer may leave through exit() from any point.
  static FuzzHost *host = new FuzzHost();
  return *host;
}

std::unique_ptr<ofxhost::Instance> newInstance(const Scenario *s = nullptr) {
  ofxhost::ActionResult result;
  auto instance = fuzzHost().effect.createFilter(&result);
  if (!instance) {
    std::fprintf(stderr, "create instance failed: %s\n",
                 result.message.c_str());
    std::abort();
  }
  if (s)
    for (const auto &p : s->params)
      hostile::setRawValue(instance->param(p.first), p.second);
  return instance;
}

void runScenario(FuzzInput &in) {
  FuzzHost &fuzz = fuzzHost();
  auto instance = newInstance();
  Scenario s = readScenario(in, *instance);
  for (const auto &p : s.params)
    hostile::setRawValue(instance->param(p.first), p.second);

  ofxhost::ImagePtr source;
  if (s.sourceState == 0) {
    source = std::make_shared<ofxhost::Image>(
        s.sourceBounds, s.sourceFormat.depth, s.sourceFormat.components,
        s.sourceLayout);
    fillPixels(*source, in);
  }
  const std::vector<unsigned char> sourceBefore =
      source ? snapshot(*source) : std::vector<unsigned char>();
  ofxhost::ImagePtr output = connect(s, *instance, source);
  const std::vector<unsigned char> outputBefore =
      output ? snapshot(*output) : std::vector<unsigned char>();

  std::atomic<bool> aborted{false};
  installAbort(s, *instance, aborted);
  installFaults(s, *instance);
  fuzz.useCpus(s.cpus);

  ofxhost::RenderRequest request;
  request.time = s.time;
  request.window = s.window;
  request.scale = s.scale;
  const ofxhost::ActionResult result = instance->render(request);

  checkReleased(s, *instance);
  const OfxStatus expected = expectedRenderStatus(s);
  if (result.status != expected)
    fail(s, "render answered " + ofxhost::statusName(result.status) +
                ", expected " + ofxhost::statusName(expected));
  if (source && snapshot(*source) != sourceBefore)
    fail(s, "the source image was written");
  if (output)
    checkOnlyWindowWritten(s, *output, outputBefore, result.ok());

  checkRegions(s, *instance);

  // A complete render must not depend on how its rows were shared out.
  if (!result.ok() || !output || aborted.load())
    return;
  auto again = newInstance(&s);
  ofxhost::ImagePtr output2 = connect(s, *again, source);
  installFaults(s, *again); // a source the host could not supply stays away
  fuzz.useCpus(s.otherCpus);
  const ofxhost::ActionResult result2 = again->render(request);
  if (!result2.ok())
    fail(s, "second render failed: " + result2.message);
  if (snapshot(*output2) != snapshot(*output))
    fail(s, "the result differs between " + std::to_string(s.cpus) + " and " +
                std::to_string(s.otherCpus) + " threads");
}

} // namespace
} // namespace qfx_fuzz

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  qfx_fuzz::fuzzHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  qfx_fuzz::FuzzInput in(data, size);
  qfx_fuzz::runScenario(in);
  return 0;
}
