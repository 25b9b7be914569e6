#include "FuzzInput.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstring>
#include <limits>

namespace qfx_fuzz {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Doubles a host may hand over for any parameter component: ordinary ones,
// the edges of the declared ranges, and what no range allows.
double fuzzDouble(FuzzInput &in) {
  static const double kPalette[] = {
      0.0,     0.5,          1.0,     2.0,      2.5,     3.0,    20.0,
      20.0001, 100.,         -1.0,    -0.25,    1e-7,    1e6,    1e9,
      1e300,   -1e300,       DBL_MAX, -DBL_MAX, kInf,    -kInf,  kNaN,
      -0.0,    DBL_TRUE_MIN, 0.999,   4096.0,   -4096.0, 0.0001, 0.01};
  const unsigned n = sizeof kPalette / sizeof kPalette[0];
  const unsigned choice = in.pick(n + 2);
  if (choice < n)
    return kPalette[choice];
  if (choice == n)
    return in.range(-4000, 4000) / 1000.0;
  uint64_t bits = static_cast<uint64_t>(in.word()) << 32 | in.word();
  double raw;
  std::memcpy(&raw, &bits, sizeof raw);
  return raw;
}

// Choice indices: the options, just past them, and far outside. Whole
// numbers inside int: the host converts them to int for the plug-in.
double fuzzChoice(FuzzInput &in) {
  static const double kPalette[] = {0, 1,    2,     -1,      3,
                                    4, 1000, -1000, INT_MIN, INT_MAX};
  return kPalette[in.pick(sizeof kPalette / sizeof kPalette[0])];
}

// Mostly the six formats the effects render, sometimes one they refuse.
PixelFormat fuzzFormat(FuzzInput &in) {
  static const BitDepth kDepths[] = {BitDepth::Byte, BitDepth::Short,
                                     BitDepth::Float, BitDepth::Half,
                                     BitDepth::None};
  static const Components kComponents[] = {Components::RGBA, Components::Alpha,
                                           Components::RGB, Components::None};
  const uint8_t d = in.byte(), c = in.byte();
  PixelFormat f;
  f.depth = kDepths[d < 240 ? d % 3 : 3 + d % 2];
  f.components = kComponents[c < 240 ? c % 2 : 2 + c % 2];
  return f;
}

// A format that differs now and then from `like`.
PixelFormat fuzzFormatLike(FuzzInput &in, const PixelFormat &like) {
  if (!in.chance(8))
    return like;
  PixelFormat f = fuzzFormat(in);
  // An image needs some pixel layout; None stays for clips.
  if (f.depth == BitDepth::None)
    f.depth = BitDepth::Half;
  if (f.components == Components::None)
    f.components = Components::RGB;
  return f;
}

// Start of a run of `length` pixels: near the origin, or at the far ends of
// the coordinate range, where differences of coordinates overflow int.
int fuzzOrigin(FuzzInput &in, int length) {
  switch (in.pick(8)) {
  case 5:
    return INT_MAX - length;
  case 6:
    return INT_MIN;
  case 7:
    return in.chance(2) ? (1 << 30) : -(1 << 30);
  default:
    return in.range(-64, 64);
  }
}

// Bounds small enough for fast runs: up to 48 x 48, or long and thin (one
// row, one column, or a few) up to 600, which crosses the outline's tiles.
OfxRectI fuzzBounds(FuzzInput &in) {
  int width, height;
  switch (in.pick(4)) {
  case 1:
    width = in.range(0, 600);
    height = in.range(0, 3);
    break;
  case 2:
    width = in.range(0, 3);
    height = in.range(0, 600);
    break;
  default:
    width = in.range(0, 48);
    height = in.range(0, 48);
  }
  const int x1 = fuzzOrigin(in, width);
  const int y1 = fuzzOrigin(in, height);
  return {x1, y1, x1 + width, y1 + height};
}

// The output's bounds: the source's, the source's moved or grown or
// shrunk, or bounds of their own (often disjoint).
OfxRectI fuzzOutputBounds(FuzzInput &in, const OfxRectI &source) {
  switch (in.pick(4)) {
  case 0:
    return source;
  case 1:
  case 2: {
    // Moved by a few pixels, and each edge pulled in or pushed out, kept
    // clear of the ends of the int range.
    auto edge = [&](int v) {
      const long long moved = static_cast<long long>(v) + in.range(-24, 24);
      return static_cast<int>(std::min<long long>(
          std::max<long long>(moved, INT_MIN / 2), INT_MAX / 2));
    };
    OfxRectI r{edge(source.x1), edge(source.y1), edge(source.x2),
               edge(source.y2)};
    if (r.x2 < r.x1)
      r.x2 = r.x1;
    if (r.y2 < r.y1)
      r.y2 = r.y1;
    if (static_cast<long long>(r.x2 - r.x1) * (r.y2 - r.y1) > 48 * 600) {
      r.x2 = r.x1 + std::min(r.x2 - r.x1, 48);
      r.y2 = r.y1 + std::min(r.y2 - r.y1, 48);
    }
    return r;
  }
  default:
    return fuzzBounds(in);
  }
}

// A render window around the output's bounds: inside, straddling an edge,
// wholly outside, empty or reversed, or anywhere in the int range.
OfxRectI fuzzWindow(FuzzInput &in, const OfxRectI &bounds) {
  const unsigned mode = in.pick(8);
  if (mode == 6)
    return {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
  if (mode == 7)
    return {static_cast<int>(in.word()), static_cast<int>(in.word()),
            static_cast<int>(in.word()), static_cast<int>(in.word())};
  auto near = [&](int v) {
    const long long moved = static_cast<long long>(v) + in.range(-40, 40);
    return static_cast<int>(
        std::min<long long>(std::max<long long>(moved, INT_MIN), INT_MAX));
  };
  if (mode == 0)
    return bounds;
  return {near(bounds.x1), near(bounds.y1), near(bounds.x2), near(bounds.y2)};
}

ofxhost::ImageLayout fuzzLayout(FuzzInput &in, BitDepth depth) {
  ofxhost::ImageLayout layout;
  // Padding in whole components: hosts keep rows aligned for their type.
  layout.rowPaddingBytes =
      in.pick(4) == 3 ? in.range(1, 9) * ofxhost::bytesPerComponent(depth) : 0;
  layout.negativeRowBytes = in.chance(4);
  return layout;
}

// Float components a careless host (or an upstream effect) may deliver.
float fuzzFloat(uint8_t b) {
  static const float kSpecials[] = {std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity(),
                                    FLT_MAX,
                                    -FLT_MAX,
                                    1e-40f,
                                    -1e-40f,
                                    0.0005f,
                                    1e30f,
                                    -0.0f,
                                    2.0f,
                                    -1.0f};
  const unsigned n = sizeof kSpecials / sizeof kSpecials[0];
  if (b < 256 - n)
    return (b - 20) / 200.0f; // -0.1 to about 1.1
  return kSpecials[b - (256 - n)];
}

OfxStatus fuzzFailure(FuzzInput &in) {
  static const OfxStatus kStatuses[] = {
      kOfxStatFailed,       kOfxStatErrFatal,       kOfxStatErrUnknown,
      kOfxStatErrBadHandle, kOfxStatErrMemory,      kOfxStatErrValue,
      kOfxStatReplyDefault, kOfxStatErrUnsupported, kOfxStatErrFormat};
  return kStatuses[in.pick(sizeof kStatuses / sizeof kStatuses[0])];
}

} // namespace

Scenario readScenario(FuzzInput &in, ofxhost::Instance &instance) {
  Scenario s;
  s.clipFormat = fuzzFormat(in);
  const PixelFormat imageFormat =
      effectRenders(s.clipFormat) ? s.clipFormat : PixelFormat{};
  s.hasOutput = !in.chance(16);
  s.outputFormat = fuzzFormatLike(in, imageFormat);
  s.sourceState = in.chance(8) ? 1 + in.pick(2) : 0;
  s.sourceFormat = fuzzFormatLike(in, s.outputFormat);
  s.sourceBounds = fuzzBounds(in);
  s.outputBounds = fuzzOutputBounds(in, s.sourceBounds);
  s.outputLayout = fuzzLayout(in, s.outputFormat.depth);
  s.sourceLayout = fuzzLayout(in, s.sourceFormat.depth);
  s.outputFill = in.byte();
  s.window = fuzzWindow(in, s.outputBounds);

  static const OfxPointD kScales[] = {
      {1, 1},   {0.5, 0.5},   {0.25, 1},    {2, 2},          {0, 0},
      {-1, -1}, {kNaN, kNaN}, {kInf, kInf}, {1e-300, 1e-300}};
  s.scale = kScales[in.byte() < 200 ? 0 : in.pick(9)];
  static const double kTimes[] = {0.0, 1.0, -5.0, 1e9, kNaN, kInf};
  s.time = kTimes[in.byte() < 220 ? 0 : in.pick(6)];
  s.cpus = 1 + in.pick(kMaxCpus);
  s.otherCpus = s.cpus == 1 ? 3 : 1;

  s.abortMode = in.pick(8) < 6 ? 0 : 1 + in.pick(2);
  s.abortAfter = in.range(0, 40);
  s.abortMask = static_cast<uint64_t>(in.word()) << 32 | in.word();

  const unsigned fault = in.pick(24);
  s.faultSite =
      fault < 20 ? FaultSite::None : static_cast<FaultSite>(fault - 19);
  s.faultStatus = s.faultSite == FaultSite::None ? kOfxStatOK : fuzzFailure(in);
  s.regionFault = in.chance(8) ? fuzzFailure(in) : kOfxStatOK;

  for (const std::string &name : instance.paramNames()) {
    ofxhost::Param &param = instance.param(name);
    if (param.dimension() == 0 || in.pick(4) != 3)
      continue; // keeps its default
    std::vector<double> value(static_cast<size_t>(param.dimension()));
    for (double &component : value)
      component =
          param.type() == kOfxParamTypeChoice ? fuzzChoice(in) : fuzzDouble(in);
    s.params.emplace_back(name, value);
  }
  return s;
}

void fillPixels(ofxhost::Image &image, FuzzInput &in) {
  const size_t count = std::min<size_t>(in.remaining(), 4096);
  const uint8_t *bytes = in.rest();
  const size_t rowPixelsBytes =
      static_cast<size_t>(image.width()) * image.pixelBytes();
  if (rowPixelsBytes == 0)
    return;
  size_t next = 0;
  auto nextByte = [&]() -> uint8_t {
    if (count == 0)
      return static_cast<uint8_t>(next++ * 37 + 11);
    return bytes[next++ % count];
  };
  const bool isFloat = image.depth() == BitDepth::Float;
  for (int y = image.bounds().y1; y < image.bounds().y2; ++y) {
    auto *row =
        static_cast<unsigned char *>(image.pixelAddress(image.bounds().x1, y));
    if (isFloat) {
      for (size_t i = 0; i < rowPixelsBytes; i += sizeof(float)) {
        const float value = fuzzFloat(nextByte());
        std::memcpy(row + i, &value, sizeof value);
      }
    } else {
      for (size_t i = 0; i < rowPixelsBytes; ++i)
        row[i] = nextByte();
    }
  }
}

} // namespace qfx_fuzz
