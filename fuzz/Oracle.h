// What the effect owes the host for a scenario, beyond not crashing, and
// the checks that hold it to that. A broken promise aborts, which libFuzzer
// records as a crash, with the scenario spelled out on stderr.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Scenario.h"
#include "ofxhost/Host.h"

namespace qfx_fuzz {

// Every byte of an image's rows, padding included, in memory order.
std::vector<unsigned char> snapshot(ofxhost::Image &image);

[[noreturn]] void fail(const Scenario &s, const std::string &what);

// The status the render must answer: the effect's checks come in a fixed
// order (output clip format, output image, its format, source image, its
// format, parameters), and the first that fails decides.
OfxStatus expectedRenderStatus(const Scenario &s);

// Bytes outside the writable part (window within bounds) must keep their
// value, padding included; after a failure no byte may change.
void checkOnlyWindowWritten(const Scenario &s, ofxhost::Image &image,
                            const std::vector<unsigned char> &before,
                            bool renderSucceeded);

void checkReleased(const Scenario &s, ofxhost::Instance &instance);

// The region actions: no crash whatever the values, and a failing region
// query or parameter read is reported, not answered with a rectangle.
void checkRegions(const Scenario &s, ofxhost::Instance &instance);

} // namespace qfx_fuzz
