// One fuzz scenario: everything the host decides for one render, the
// output clip's format, the images and their layouts (or their absence),
// the window, scale and time, the parameter values, the thread count, when
// abort is answered and which suite call fails; and how it is put into an
// instance. FuzzInput.h decodes one from the fuzz input, Oracle.h says what
// the effect owes the host for it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ofxhost/Host.h"

namespace qfx_fuzz {

using ofxhost::BitDepth;
using ofxhost::Components;

// ---------------------------------------------------------------- formats

struct PixelFormat {
  BitDepth depth = BitDepth::Byte;
  Components components = Components::RGBA;
};

inline bool operator==(const PixelFormat &a, const PixelFormat &b) {
  return a.depth == b.depth && a.components == b.components;
}
inline bool operator!=(const PixelFormat &a, const PixelFormat &b) {
  return !(a == b);
}

inline bool effectRenders(const PixelFormat &f) {
  const bool depthOk = f.depth == BitDepth::Byte ||
                       f.depth == BitDepth::Short || f.depth == BitDepth::Float;
  const bool componentsOk =
      f.components == Components::RGBA || f.components == Components::Alpha;
  return depthOk && componentsOk;
}

// ---------------------------------------------------------------- geometry

inline std::string text(const OfxRectI &r) {
  std::ostringstream out;
  out << "(" << r.x1 << ", " << r.y1 << ", " << r.x2 << ", " << r.y2 << ")";
  return out.str();
}

inline bool isEmpty(const OfxRectI &r) { return r.x1 >= r.x2 || r.y1 >= r.y2; }

inline OfxRectI intersect(const OfxRectI &a, const OfxRectI &b) {
  return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
          std::min(a.y2, b.y2)};
}

inline bool contains(const OfxRectI &r, int x, int y) {
  return x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
}

// ---------------------------------------------------------------- faults

enum class FaultSite { None, EveryImage, SourceImage, OutputImage, ParamRead };

// Renders are cut into 1 to this many bands.
constexpr unsigned kMaxCpus = 4;

// ---------------------------------------------------------------- scenario

struct Scenario {
  PixelFormat clipFormat;
  bool hasOutput = true;
  PixelFormat outputFormat;
  OfxRectI outputBounds{};
  ofxhost::ImageLayout outputLayout;
  uint8_t outputFill = 0;
  // 0 connected with an image, 1 connected without, 2 not connected.
  int sourceState = 0;
  PixelFormat sourceFormat;
  OfxRectI sourceBounds{};
  ofxhost::ImageLayout sourceLayout;
  OfxRectI window{};
  OfxPointD scale{1.0, 1.0};
  double time = 0.0;
  unsigned cpus = 1;
  unsigned otherCpus = 1;
  // Abort answers: 0 never, 1 from poll n on, 2 by the bits of mask.
  int abortMode = 0;
  long abortAfter = 0;
  uint64_t abortMask = 0;
  FaultSite faultSite = FaultSite::None;
  OfxStatus faultStatus = kOfxStatOK;
  OfxStatus regionFault = kOfxStatOK;
  std::vector<std::pair<std::string, std::vector<double>>> params;

  std::string describe() const;
};

// Connects the images of the scenario; returns the output (or null).
ofxhost::ImagePtr connect(const Scenario &s, ofxhost::Instance &instance,
                          const ofxhost::ImagePtr &source);
// Answers the instance's abort polls as the scenario says; `fired` records
// that one answered yes.
void installAbort(const Scenario &s, ofxhost::Instance &instance,
                  std::atomic<bool> &fired);
void installFaults(const Scenario &s, ofxhost::Instance &instance);

} // namespace qfx_fuzz
