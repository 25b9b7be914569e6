// The suites the host hands out, and the rules every suite function keeps.
// Internal to the host library.
#pragma once

#include <new>
#include <string>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxProgress.h"
#include "ofxTimeLine.h"
#include "ofxhost/Host.h"

namespace ofxhost {

// The suites, by name and version; nullptr when the host has none.
const void *fetchSuite(OfxPropertySetHandle host, const char *name,
                       int version);
const OfxPropertySuiteV1 *propertySuite();
const OfxImageEffectSuiteV1 *imageEffectSuite();
const OfxParameterSuiteV1 *parameterSuite();
const OfxMemorySuiteV1 *memorySuite();
const OfxMultiThreadSuiteV1 *multiThreadSuite();
const OfxMessageSuiteV1 *messageSuiteV1();
const OfxMessageSuiteV2 *messageSuiteV2();
const OfxProgressSuiteV1 *progressSuiteV1();
const OfxProgressSuiteV2 *progressSuiteV2();
const OfxTimeLineSuiteV1 *timeLineSuite();

// "<what> failed: kOfxStat... (n)"
std::string failureText(const std::string &what, OfxStatus status);
// The report of one action: success as it is, a failure with its text.
ActionResult actionResult(const std::string &action, OfxStatus status,
                          const std::string &pluginMessage = "");

// Runs the body of a suite function. Nothing may unwind into the plug-in's
// C code: running out of memory answers kOfxStatErrMemory, any other
// exception kOfxStatFailed.
template <class Body> OfxStatus guarded(Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatFailed;
  }
}

} // namespace ofxhost
