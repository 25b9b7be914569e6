#ifndef OFXS_SUITES_H
#define OFXS_SUITES_H

// Library-internal: the host and the suites fetched by the load action.

#include "ofxsCore.h"

namespace OFX {
namespace Private {

struct HostSuites {
  OfxHost *host = nullptr;
  const OfxImageEffectSuiteV1 *effect = nullptr;
  const OfxPropertySuiteV1 *property = nullptr;
  const OfxParameterSuiteV1 *parameter = nullptr;
  const OfxMemorySuiteV1 *memory = nullptr;
  const OfxMultiThreadSuiteV1 *multiThread = nullptr;
  const OfxMessageSuiteV1 *message = nullptr;
};

// The one set of suites of this module. Written by setHost and the load
// action only, both of which a host calls before anything else.
HostSuites &suites();

// Each accessor throws Exception::HostInadequate when the suite is missing,
// so code past the load action can use the result without checks.
const OfxImageEffectSuiteV1 &effectSuite();
const OfxPropertySuiteV1 &propertySuite();
const OfxParameterSuiteV1 &parameterSuite();

// The message suite, or nullptr. Fetched afresh when the load action did
// not get that far, so that even its failure can be explained.
const OfxMessageSuiteV1 *messageSuite() noexcept;

// Fetches the six suites, in the standard's order; throws
// Exception::HostInadequate naming the first one the host lacks.
void fetchSuites();

// Reads the host's own properties into the host description.
void readHostDescription();

} // namespace Private
} // namespace OFX

#endif // OFXS_SUITES_H
