// libFuzzer target: one effect bundle, driven through the host library by a
// host whose every choice comes from the fuzz input.
//
// Each input becomes one scenario: the output clip's pixel format, the
// formats, bounds and row layouts of the source and output images (or their
// absence), the render window, render scale and time, the parameter values
// (stored verbatim, so NaN, infinities and values far outside the declared
// ranges reach the plug-in), the host's thread count, when the host asks to
// abort, and which suite call fails with which status. The scenario is
// rendered and the region actions are asked; then the target checks what a
// host relies on, beyond not crashing:
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
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "HostileParams.h"
#include "ofxhost/Host.h"

namespace {

using ofxhost::BitDepth;
using ofxhost::Components;

// ---------------------------------------------------------------- input

// Reads the fuzz input front to back. Once it runs dry every read answers
// 0, and 0 always picks the plain case, so short inputs describe ordinary
// renders and the seeds stay easy to write by hand.
class FuzzInput {
public:
  FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value = value << 8 | byte();
    return value;
  }
  // An index below n.
  unsigned pick(unsigned n) { return byte() % n; }
  // A value in [lo, hi]; the range must be below 65536 wide.
  int range(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1;
    const unsigned raw = static_cast<unsigned>(byte()) << 8 | byte();
    return lo + static_cast<int>(raw % span);
  }
  bool chance(unsigned oneIn) { return pick(oneIn) == oneIn - 1; }
  size_t remaining() const { return size_ - pos_; }
  const uint8_t *rest() const { return data_ + pos_; }

private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Doubles a host may hand over for any parameter component: ordinary ones,
// the edges of the declared ranges, and what no range allows.
double fuzzDouble(FuzzInput &in) {
  static const double kPalette[] = {
      0.0,  0.5,   1.0,     2.0,     2.5,      3.0,      20.0,     20.0001,
      100., -1.0,  -0.25,   1e-7,    1e6,      1e9,      1e300,    -1e300,
      DBL_MAX, -DBL_MAX, kInf, -kInf, kNaN, -0.0, DBL_TRUE_MIN, 0.999,
      4096.0, -4096.0, 0.0001, 0.01};
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
  static const double kPalette[] = {0, 1, 2, -1, 3, 4, 1000, -1000,
                                    INT_MIN, INT_MAX};
  return kPalette[in.pick(sizeof kPalette / sizeof kPalette[0])];
}

// ---------------------------------------------------------------- formats

struct PixelFormat {
  BitDepth depth = BitDepth::Byte;
  Components components = Components::RGBA;
};

bool operator==(const PixelFormat &a, const PixelFormat &b) {
  return a.depth == b.depth && a.components == b.components;
}
bool operator!=(const PixelFormat &a, const PixelFormat &b) { return !(a == b); }

bool effectRenders(const PixelFormat &f) {
  const bool depthOk = f.depth == BitDepth::Byte || f.depth == BitDepth::Short ||
                       f.depth == BitDepth::Float;
  const bool componentsOk =
      f.components == Components::RGBA || f.components == Components::Alpha;
  return depthOk && componentsOk;
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

// ---------------------------------------------------------------- geometry

std::string text(const OfxRectI &r) {
  std::ostringstream out;
  out << "(" << r.x1 << ", " << r.y1 << ", " << r.x2 << ", " << r.y2 << ")";
  return out.str();
}

bool isEmpty(const OfxRectI &r) { return r.x1 >= r.x2 || r.y1 >= r.y2; }

OfxRectI intersect(const OfxRectI &a, const OfxRectI &b) {
  return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
          std::min(a.y2, b.y2)};
}

bool contains(const OfxRectI &r, int x, int y) {
  return x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
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

// ---------------------------------------------------------------- pixels

// Every byte of an image's rows, padding included, in memory order.
struct RawRows {
  unsigned char *first = nullptr;
  size_t rowSize = 0;
  size_t rows = 0;
  size_t size() const { return rowSize * rows; }
};

RawRows rawRows(ofxhost::Image &image) {
  RawRows raw;
  if (!image.data() || image.height() == 0)
    return raw;
  const std::ptrdiff_t rowBytes = image.rowBytes();
  raw.rowSize = static_cast<size_t>(rowBytes < 0 ? -rowBytes : rowBytes);
  raw.rows = static_cast<size_t>(image.height());
  auto *origin = static_cast<unsigned char *>(image.data());
  raw.first = rowBytes >= 0 ? origin : origin + (image.height() - 1) * rowBytes;
  return raw;
}

std::vector<unsigned char> snapshot(ofxhost::Image &image) {
  const RawRows raw = rawRows(image);
  return std::vector<unsigned char>(raw.first, raw.first + raw.size());
}

// Float components a careless host (or an upstream effect) may deliver.
float fuzzFloat(uint8_t b) {
  static const float kSpecials[] = {
      std::numeric_limits<float>::quiet_NaN(),
      std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(),
      FLT_MAX, -FLT_MAX, 1e-40f, -1e-40f, 0.0005f, 1e30f, -0.0f, 2.0f, -1.0f};
  const unsigned n = sizeof kSpecials / sizeof kSpecials[0];
  if (b < 256 - n)
    return (b - 20) / 200.0f; // -0.1 to about 1.1
  return kSpecials[b - (256 - n)];
}

// Fills the image's pixels from the rest of the input, repeated; floats go
// through a palette so that NaN and infinities turn up often.
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
    auto *row = static_cast<unsigned char *>(image.pixelAddress(image.bounds().x1, y));
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

// ---------------------------------------------------------------- faults

bool isErrorStatus(OfxStatus s) {
  return s != kOfxStatOK && s != kOfxStatReplyDefault && s != kOfxStatReplyYes &&
         s != kOfxStatReplyNo;
}

// What an action must answer when a suite call it depends on fails with s:
// the status itself, but never one that reads as success.
OfxStatus passedOn(OfxStatus s) { return isErrorStatus(s) ? s : kOfxStatFailed; }

OfxStatus fuzzFailure(FuzzInput &in) {
  static const OfxStatus kStatuses[] = {
      kOfxStatFailed,       kOfxStatErrFatal, kOfxStatErrUnknown,
      kOfxStatErrBadHandle, kOfxStatErrMemory, kOfxStatErrValue,
      kOfxStatReplyDefault, kOfxStatErrUnsupported, kOfxStatErrFormat};
  return kStatuses[in.pick(sizeof kStatuses / sizeof kStatuses[0])];
}

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

std::string Scenario::describe() const {
  std::ostringstream out;
  auto fmt = [](const PixelFormat &f) {
    return std::string(ofxhost::bitDepthName(f.depth)) + "/" +
           ofxhost::componentsName(f.components);
  };
  out << "clip " << fmt(clipFormat);
  if (hasOutput)
    out << "; output " << fmt(outputFormat) << " " << text(outputBounds)
        << " pad " << outputLayout.rowPaddingBytes
        << (outputLayout.negativeRowBytes ? " negative rows" : "");
  else
    out << "; no output image";
  out << "; source state " << sourceState;
  if (sourceState == 0)
    out << " " << fmt(sourceFormat) << " " << text(sourceBounds) << " pad "
        << sourceLayout.rowPaddingBytes
        << (sourceLayout.negativeRowBytes ? " negative rows" : "");
  out << "; window " << text(window) << "; scale " << scale.x << "," << scale.y
      << "; time " << time << "; cpus " << cpus << "/" << otherCpus
      << "; abort mode " << abortMode << "; fault " << int(faultSite) << "="
      << ofxhost::statusName(faultStatus)
      << "; region fault " << ofxhost::statusName(regionFault);
  for (const auto &p : params) {
    out << "; " << p.first << "=";
    for (double v : p.second)
      out << v << " ";
  }
  return out.str();
}

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

  static const OfxPointD kScales[] = {{1, 1},     {0.5, 0.5}, {0.25, 1},
                                      {2, 2},     {0, 0},     {-1, -1},
                                      {kNaN, kNaN}, {kInf, kInf}, {1e-300, 1e-300}};
  s.scale = kScales[in.byte() < 200 ? 0 : in.pick(9)];
  static const double kTimes[] = {0.0, 1.0, -5.0, 1e9, kNaN, kInf};
  s.time = kTimes[in.byte() < 220 ? 0 : in.pick(6)];
  s.cpus = 1 + in.pick(kMaxCpus);
  s.otherCpus = s.cpus == 1 ? 3 : 1;

  s.abortMode = in.pick(8) < 6 ? 0 : 1 + in.pick(2);
  s.abortAfter = in.range(0, 40);
  s.abortMask = static_cast<uint64_t>(in.word()) << 32 | in.word();

  const unsigned fault = in.pick(24);
  s.faultSite = fault < 20 ? FaultSite::None : static_cast<FaultSite>(fault - 19);
  s.faultStatus = s.faultSite == FaultSite::None ? kOfxStatOK : fuzzFailure(in);
  s.regionFault = in.chance(8) ? fuzzFailure(in) : kOfxStatOK;

  for (const std::string &name : instance.paramNames()) {
    ofxhost::Param &param = instance.param(name);
    if (param.dimension() == 0 || in.pick(4) != 3)
      continue; // keeps its default
    std::vector<double> value(static_cast<size_t>(param.dimension()));
    for (double &component : value)
      component = param.type() == kOfxParamTypeChoice ? fuzzChoice(in) : fuzzDouble(in);
    s.params.emplace_back(name, value);
  }
  return s;
}

// ---------------------------------------------------------------- checks

[[noreturn]] void fail(const Scenario &s, const std::string &what) {
  std::fprintf(stderr, "\n*** %s\n*** scenario: %s\n", what.c_str(),
               s.describe().c_str());
  std::fflush(stderr);
  std::abort();
}

// The status the render must answer: the effect's checks come in a fixed
// order (output clip format, output image, its format, source image, its
// format, parameters), and the first that fails decides.
OfxStatus expectedRenderStatus(const Scenario &s) {
  if (!effectRenders(s.clipFormat))
    return kOfxStatErrUnsupported;
  const bool outputFault =
      s.faultSite == FaultSite::EveryImage || s.faultSite == FaultSite::OutputImage;
  if (outputFault)
    return s.faultStatus == kOfxStatFailed ? kOfxStatFailed : passedOn(s.faultStatus);
  if (!s.hasOutput)
    return kOfxStatFailed;
  if (s.outputFormat != s.clipFormat)
    return kOfxStatErrFormat;
  const bool sourceFault = s.faultSite == FaultSite::SourceImage;
  // A source the host cannot supply (kOfxStatFailed) is no error.
  if (sourceFault && s.faultStatus != kOfxStatFailed)
    return passedOn(s.faultStatus);
  if (!sourceFault && s.sourceState == 0 && s.sourceFormat != s.outputFormat)
    return kOfxStatErrFormat;
  if (s.faultSite == FaultSite::ParamRead)
    return passedOn(s.faultStatus);
  return kOfxStatOK;
}

// Bytes outside the writable part (window within bounds) must keep their
// value, padding included; after a failure no byte may change.
void checkOnlyWindowWritten(const Scenario &s, ofxhost::Image &image,
                            const std::vector<unsigned char> &before,
                            bool renderSucceeded) {
  const RawRows raw = rawRows(image);
  const OfxRectI writable = renderSucceeded
                                ? intersect(s.window, image.bounds())
                                : OfxRectI{0, 0, 0, 0};
  const size_t pixelBytes = static_cast<size_t>(image.pixelBytes());
  const size_t pixelsBytes = static_cast<size_t>(image.width()) * pixelBytes;
  for (size_t offset = 0; offset < raw.size(); ++offset) {
    if (raw.first[offset] == before[offset])
      continue;
    const size_t memoryRow = offset / raw.rowSize;
    const size_t column = offset % raw.rowSize;
    const int y = image.rowBytes() >= 0
                      ? image.bounds().y1 + static_cast<int>(memoryRow)
                      : image.bounds().y2 - 1 - static_cast<int>(memoryRow);
    if (column >= pixelsBytes)
      fail(s, "padding byte written in row " + std::to_string(y));
    const int x = image.bounds().x1 + static_cast<int>(column / pixelBytes);
    if (isEmpty(writable) || !contains(writable, x, y))
      fail(s, "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                  ") outside the window written" +
                  (renderSucceeded ? "" : " by a failed render"));
  }
}

// ---------------------------------------------------------------- the host

struct FuzzHost {
  FuzzHost() : host(hostOptions()) {
    std::string error;
    const std::string bundle =
        ofxhost::bundlePathIn(QFX_FUZZ_BUNDLE_DIR, QFX_FUZZ_BUNDLE);
    std::vector<ofxhost::Plugin *> loaded = host.addBundle(bundle, &error);
    if (loaded.size() != 1) {
      std::fprintf(stderr, "cannot load %s: %s\n", bundle.c_str(), error.c_str());
      std::abort();
    }
    plugin = loaded.front();
  }

  static ofxhost::HostOptions hostOptions() {
    ofxhost::HostOptions options;
    options.cpuCount = kMaxCpus;
    options.searchDefaultPath = false;
    options.searchEnvironmentPath = false;
    return options;
  }

  // The number of CPUs the multi-thread suite reports, and so the number
  // of bands a render is cut into. The pool keeps its kMaxCpus threads:
  // resizing it would start and join threads for every input.
  void useCpus(unsigned n) { host.impl()->options.cpuCount = n; }

  ofxhost::Host host;
  ofxhost::Plugin *plugin = nullptr;
};

FuzzHost &fuzzHost() {
  // Never destroyed: libFuzzer may leave through exit() from any point.
  static FuzzHost *host = new FuzzHost();
  return *host;
}

std::unique_ptr<ofxhost::Instance> newInstance(const Scenario *s = nullptr) {
  ofxhost::ActionResult result;
  auto instance =
      fuzzHost().plugin->createInstance(kOfxImageEffectContextFilter, &result);
  if (!instance) {
    std::fprintf(stderr, "create instance failed: %s\n", result.message.c_str());
    std::abort();
  }
  if (s)
    for (const auto &p : s->params)
      hostile::setRawValue(instance->param(p.first), p.second);
  return instance;
}

// Connects the images of the scenario; returns the output (or null).
ofxhost::ImagePtr connect(const Scenario &s, ofxhost::Instance &instance,
                          const ofxhost::ImagePtr &source) {
  ofxhost::Clip &sourceClip = instance.clip(kOfxImageEffectSimpleSourceClipName);
  if (s.sourceState == 0) {
    instance.setSource(source);
  } else {
    sourceClip.setConnected(s.sourceState == 1);
    sourceClip.clearImages();
  }
  ofxhost::Clip &outputClip = instance.clip(kOfxImageEffectOutputClipName);
  outputClip.setFormat(s.clipFormat.depth, s.clipFormat.components);
  if (!s.hasOutput) {
    outputClip.clearImages();
    return nullptr;
  }
  auto output = std::make_shared<ofxhost::Image>(
      s.outputBounds, s.outputFormat.depth, s.outputFormat.components,
      s.outputLayout);
  output->fillBytes(s.outputFill);
  instance.setOutput(output);
  return output;
}

void installAbort(const Scenario &s, ofxhost::Instance &instance,
                  std::atomic<bool> &fired) {
  const int mode = s.abortMode;
  const long after = s.abortAfter;
  const uint64_t mask = s.abortMask;
  instance.setAbortPredicate([mode, after, mask, &fired](long poll) {
    bool abort = false;
    if (mode == 1)
      abort = poll >= after;
    else if (mode == 2)
      abort = (mask >> (poll % 64)) & 1;
    if (abort)
      fired.store(true);
    return abort;
  });
}

void installFaults(const Scenario &s, ofxhost::Instance &instance) {
  ofxhost::Faults &faults = instance.faults();
  switch (s.faultSite) {
  case FaultSite::None:
    break;
  case FaultSite::EveryImage:
    faults.imageFetch = s.faultStatus;
    break;
  case FaultSite::SourceImage:
    faults.imageFetch = s.faultStatus;
    faults.imageFetchClip = kOfxImageEffectSimpleSourceClipName;
    break;
  case FaultSite::OutputImage:
    faults.imageFetch = s.faultStatus;
    faults.imageFetchClip = kOfxImageEffectOutputClipName;
    break;
  case FaultSite::ParamRead:
    faults.paramGet = s.faultStatus;
    break;
  }
}

void checkReleased(const Scenario &s, ofxhost::Instance &instance) {
  for (const std::string &name : instance.clipNames())
    if (instance.clip(name).imagesOutstanding() != 0)
      fail(s, "an image of clip " + name + " was not released");
}

// The region actions: no crash whatever the values, and a failing region
// query or parameter read is reported, not answered with a rectangle.
void checkRegions(const Scenario &s, ofxhost::Instance &instance) {
  ofxhost::Faults &faults = instance.faults();
  faults = ofxhost::Faults{};
  faults.regionQuery = s.regionFault;
  if (s.faultSite == FaultSite::ParamRead)
    faults.paramGet = s.faultStatus;

  OfxRectD rod{0, 0, 0, 0};
  const ofxhost::ActionResult rodResult =
      instance.regionOfDefinition(s.time, s.scale, rod);
  const bool rodMayFail =
      s.regionFault != kOfxStatOK || s.faultSite == FaultSite::ParamRead;
  if (!rodMayFail && !rodResult.ok())
    fail(s, "region of definition failed: " + rodResult.message);
  if (rodMayFail && rodResult.ok() && s.regionFault != kOfxStatOK)
    fail(s, "failing source region query answered with success (" +
                ofxhost::statusName(rodResult.status) + ")");

  std::map<std::string, OfxRectD> rois;
  const OfxRectD roi{double(s.window.x1), double(s.window.y1),
                     double(s.window.x2), double(s.window.y2)};
  const ofxhost::ActionResult roiResult =
      instance.regionsOfInterest(s.time, s.scale, roi, rois);
  if (s.faultSite != FaultSite::ParamRead && !roiResult.ok())
    fail(s, "regions of interest failed: " + roiResult.message);
  faults = ofxhost::Faults{};
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

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  runScenario(in);
  return 0;
}
