// The benchmark cases. Every effect case is a render action through the
// host library with images in memory: what a host pays per frame. Names
// follow <what>/<variant>/<format>/<size>; bench/ratios.py turns the
// results into the table of targets, so a renamed case must be renamed
// there too.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BenchPictures.h"
#include "EffectHost.h"
#include "GradientNames.h"
#include "OutlineField.h"
#include "OutlineFieldPipeline.h"
#include "OutlineNames.h"
#include "OutlinePixelRules.h"
#include "ofxMultiThread.h"
#include "ofxhost/Host.h"

#ifdef QFX_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace qfx_bench {
namespace {

using ofxhost::BitDepth;

constexpr unsigned kDefaultThreads = 2;
constexpr double kMinSeconds = 0.25;

struct FrameSize {
  int width;
  int height;
  std::string name() const {
    return std::to_string(width) + "x" + std::to_string(height);
  }
};
const FrameSize k1080p{1920, 1080};
const FrameSize k4K{3840, 2160};
// 133, 265 and 530 MB a frame: larger than any cache, so a copy of it
// measures the memory rather than what the caches happen to hold.
const FrameSize k8K{7680, 4320};
const FrameSize kSizes[] = {k1080p, k4K, k8K};

struct Format {
  BitDepth depth;
  const char *name;
};
const Format kFormats[] = {{BitDepth::Byte, "byte"},
                           {BitDepth::Short, "short"},
                           {BitDepth::Float, "float"}};
const Format kByte = kFormats[0];

// ------------------------------------------------------------ the host

// One host for the whole run, both bundles loaded, its pool at two threads
// unless a case asks for another count.
class Rig {
public:
  static Rig &get() {
    static Rig rig;
    return rig;
  }

  ofxhost::Host &host() { return effects_.host(); }

  std::unique_ptr<ofxhost::Instance> createInstance(const std::string &bundle) {
    auto instance = effects_.createFilterOf(plugins_.at(bundle));
    if (!instance)
      throw std::runtime_error(bundle + ": " + effects_.error());
    return instance;
  }

  const OfxMultiThreadSuiteV1 &threads() const { return *threads_; }

  // The source picture of a size in a format, made once and kept while the
  // cases that use it run; the previous one is dropped to bound memory.
  ofxhost::ImagePtr source(FrameSize size, Format format) {
    const std::string key = size.name() + format.name;
    if (key != sourceKey_) {
      source_.reset();
      source_ = toHostImage(picture(size), format.depth);
      sourceKey_ = key;
    }
    return source_;
  }

  const Picture &picture(FrameSize size) {
    auto found = pictures_.find(size.name());
    if (found == pictures_.end())
      found =
          pictures_
              .emplace(size.name(), makeTextPicture(size.width, size.height))
              .first;
    return found->second;
  }

private:
  Rig() : effects_(qfx_test::isolatedOptions(kDefaultThreads)) {
    for (const char *bundle : {"Tintrow", "Rimlet"}) {
      ofxhost::Plugin *plugin =
          effects_.load(ofxhost::bundlePathIn(QFX_BENCH_BUNDLE_DIR, bundle));
      if (!plugin)
        throw std::runtime_error(std::string("cannot load ") + bundle + ": " +
                                 effects_.error());
      plugins_[bundle] = plugin;
    }
    ofxhost::Host &host = effects_.host();
    threads_ =
        static_cast<const OfxMultiThreadSuiteV1 *>(host.ofxHost()->fetchSuite(
            host.ofxHost()->host, kOfxMultiThreadSuite, 1));
    if (!threads_)
      throw std::runtime_error("the host has no multi-thread suite");
  }

  qfx_test::EffectHost effects_;
  std::map<std::string, ofxhost::Plugin *> plugins_;
  const OfxMultiThreadSuiteV1 *threads_ = nullptr;
  std::map<std::string, Picture> pictures_;
  ofxhost::ImagePtr source_;
  std::string sourceKey_;
};

// Sets the host's thread count for one case and restores the default.
class ThreadCount {
public:
  explicit ThreadCount(unsigned count) { Rig::get().host().setCpuCount(count); }
  ~ThreadCount() { Rig::get().host().setCpuCount(kDefaultThreads); }
};

OfxRectI wholeFrame(FrameSize size) { return {0, 0, size.width, size.height}; }

ofxhost::ImagePtr outputLike(const ofxhost::Image &source) {
  return std::make_shared<ofxhost::Image>(source.bounds(), source.depth(),
                                          source.components());
}

// ------------------------------------------------------------ cases

struct CopyJob {
  const ofxhost::Image *source;
  ofxhost::Image *output;
};

// Task i of n's share of the rows [y1, y2), as a render's band: {first,
// end}.
std::pair<int, int> bandRows(const OfxRectI &b, unsigned index,
                             unsigned count) {
  const long long rows = b.y2 - b.y1;
  return {b.y1 + static_cast<int>(rows * index / count),
          b.y1 + static_cast<int>(rows * (index + 1) / count)};
}

// Task i of n copies its share of the rows.
void copyBand(unsigned index, unsigned count, void *arg) {
  const CopyJob &job = *static_cast<const CopyJob *>(arg);
  const OfxRectI b = job.source->bounds();
  const auto [first, last] = bandRows(b, index, count);
  const std::size_t rowBytes =
      static_cast<std::size_t>(b.x2 - b.x1) * job.source->pixelBytes();
  for (int y = first; y < last; ++y)
    std::memcpy(job.output->pixelAddress(b.x1, y),
                job.source->pixelAddress(b.x1, y), rowBytes);
}

// The frame copied once on the host's threads, as the copy case does.
bool copyFrame(CopyJob &job) {
  return Rig::get().threads().multiThread(copyBand, kDefaultThreads, &job) ==
         kOfxStatOK;
}

// Caches emptied of everything a case touched: every thread reads its share
// of a buffer four times the last-level cache here (32 MB), so that no line
// of a frame, dirty or clean, is left in any level. The buffer is written
// once when made, as pages never written all map to one zero page and
// would evict nothing; after that it is only read, so the lines it leaves
// behind are clean and cost the timed work nothing to replace.
class CacheEvictor {
public:
  static constexpr std::size_t kBytes = std::size_t(128) << 20;

  static CacheEvictor &get() {
    static CacheEvictor evictor;
    return evictor;
  }

  bool evict() {
    return Rig::get().threads().multiThread(readShare, kDefaultThreads, this) ==
           kOfxStatOK;
  }

private:
  CacheEvictor() : words_(kBytes / sizeof(std::uint64_t)) {
    for (std::size_t i = 0; i < words_.size(); ++i)
      words_[i] = i * 0x9E3779B97F4A7C15ull;
  }

  static void readShare(unsigned index, unsigned count, void *arg) {
    auto &self = *static_cast<CacheEvictor *>(arg);
    const std::size_t n = self.words_.size();
    const std::size_t first = n * index / count, end = n * (index + 1) / count;
    std::uint64_t sum = 0;
    // One word a cache line is enough to bring the line in.
    for (std::size_t i = first; i < end; i += 8)
      sum += self.words_[i];
    self.checksum_.fetch_xor(sum, std::memory_order_relaxed);
  }

  std::vector<std::uint64_t> words_;
  std::atomic<std::uint64_t> checksum_{0};
};

// Empties the caches outside the case's timing.
bool evictCachesUntimed(benchmark::State &state) {
  state.PauseTiming();
  const bool evicted = CacheEvictor::get().evict();
  state.ResumeTiming();
  if (!evicted)
    state.SkipWithError("multiThread failed");
  return evicted;
}

double gigabytesPerSecond(const ofxhost::Image &source, double seconds) {
  const OfxRectI b = source.bounds();
  const double bytes = 2.0 * double(b.x2 - b.x1) * double(b.y2 - b.y1) *
                       double(source.pixelBytes());
  return seconds > 0.0 ? bytes / seconds / 1e9 : 0.0;
}

// The copy alone, from cold caches as the paired copy is: its rows must
// answer what the paired copies answer.
void copyCase(benchmark::State &state, FrameSize size, Format format) {
  Rig &rig = Rig::get();
  ofxhost::ImagePtr source = rig.source(size, format);
  ofxhost::ImagePtr output = outputLike(*source);
  CopyJob job{source.get(), output.get()};
  double seconds = 0.0;
  for (auto _ : state) {
    if (!evictCachesUntimed(state))
      return;
    const auto start = std::chrono::steady_clock::now();
    if (!copyFrame(job)) {
      state.SkipWithError("multiThread failed");
      return;
    }
    benchmark::ClobberMemory();
    seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
  }
  if (state.iterations() > 0)
    state.counters["copy_GBps"] =
        gigabytesPerSecond(*source, seconds / double(state.iterations()));
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same frame copied after each iteration of a case, outside its
// timing, so that the case's time is set against the copy's measured side
// by side: how fast memory is varies over minutes on a shared machine, and
// a ratio of two cases run minutes apart can move by half. Both start
// cold: the caches are emptied before the case's iteration (see
// renderLoop) and again before each copy. report() sets the counters
// copy_ms (the copy's mean), copy_GBps (the bandwidth the copy got: the
// frame read and written) and to_copy (the case's own time over the
// copies'), all from this repetition alone.
class PairedCopy {
public:
  explicit PairedCopy(const ofxhost::ImagePtr &source)
      : source_(source),
        output_(outputLike(*source)), job_{source_.get(), output_.get()} {}

  bool copyBetween(benchmark::State &state) {
    state.PauseTiming();
    if (!CacheEvictor::get().evict()) {
      state.ResumeTiming();
      state.SkipWithError("multiThread failed");
      return false;
    }
    const Clock::time_point start = Clock::now();
    const bool copied = copyFrame(job_);
    seconds_ += secondsSince(start);
    state.ResumeTiming();
    if (!copied)
      state.SkipWithError("multiThread failed");
    return copied;
  }

  void report(benchmark::State &state, double caseSeconds) const {
    if (seconds_ <= 0.0 || state.iterations() == 0)
      return;
    const double copySeconds = seconds_ / double(state.iterations());
    state.counters["copy_ms"] = 1e3 * copySeconds;
    state.counters["copy_GBps"] = gigabytesPerSecond(*source_, copySeconds);
    state.counters["to_copy"] = caseSeconds / seconds_;
  }

private:
  ofxhost::ImagePtr source_;
  ofxhost::ImagePtr output_;
  CopyJob job_;
  double seconds_ = 0.0;
};

// Renders window of the frame once per iteration, with a copy between
// renders when paired; a paired render starts from cold caches, as its
// copy does.
void renderLoop(benchmark::State &state, ofxhost::Instance &instance,
                OfxRectI window, PairedCopy *paired = nullptr) {
  ofxhost::RenderRequest request;
  request.window = window;
  double renderSeconds = 0.0;
  for (auto _ : state) {
    if (paired && !evictCachesUntimed(state))
      return;
    const Clock::time_point start = Clock::now();
    const ofxhost::ActionResult result = instance.render(request);
    renderSeconds += secondsSince(start);
    if (!result.ok()) {
      state.SkipWithError(result.message.c_str());
      return;
    }
    if (paired && !paired->copyBetween(state))
      return;
  }
  if (paired)
    paired->report(state, renderSeconds);
}

// The least memory traffic a render needs, with no arithmetic to speak
// of: the same bytes in the same passes, written by ordinary stores as the
// effects write (the copy's library call writes whole lines without
// reading them first). The gradient reads the source and writes the
// output once (kBlend alone). The Good or Best outline makes three passes:
// the field (one float per pixel) is written while the source is read for
// its alpha (the seeding and the forward sweep share that pass, row by row
// in the cache), read and written again by the backward sweep, and read
// with the source while the output is written.
enum TrafficPass { kSeed, kBackwardSweep, kRules, kBlend };

struct TrafficJob {
  const ofxhost::Image *source;
  ofxhost::Image *output;
  float *field;
  TrafficPass pass;
  std::atomic<std::uint64_t> checksum{0};
};

// Every byte of [data, data + bytes) read, as 64-bit words; what they
// hold only goes into a checksum that keeps the reads from being dropped.
std::uint64_t readEvery(const void *data, std::size_t bytes) {
  const auto *bytesIn = static_cast<const unsigned char *>(data);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytesIn + i, 8);
    sum ^= word;
  }
  return sum;
}

// [src, src + bytes) written to dst by ordinary stores, as 64-bit words.
// The mask (always zero) keeps the loop from being turned into a library
// copy.
void storeEvery(const void *src, void *dst, std::size_t bytes) {
  static volatile std::uint64_t zero = 0;
  const std::uint64_t mask = zero;
  const auto *in = static_cast<const unsigned char *>(src);
  auto *out = static_cast<unsigned char *>(dst);
  for (std::size_t i = 0; i + 8 <= bytes; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, in + i, 8);
    word ^= mask;
    std::memcpy(out + i, &word, 8);
  }
}

void trafficBand(unsigned index, unsigned count, void *arg) {
  TrafficJob &job = *static_cast<TrafficJob *>(arg);
  const OfxRectI b = job.source->bounds();
  const int width = b.x2 - b.x1;
  const auto [first, last] = bandRows(b, index, count);
  const std::size_t rowBytes =
      static_cast<std::size_t>(width) * job.source->pixelBytes();
  std::uint64_t sum = 0;
  for (int y = first; y < last; ++y) {
    float *field = job.field + static_cast<std::ptrdiff_t>(y - b.y1) * width;
    const void *src = job.source->pixelAddress(b.x1, y);
    switch (job.pass) {
    case kSeed: // the source in, the field out
      std::fill(field, field + width,
                static_cast<float>(readEvery(src, rowBytes) & 1));
      break;
    case kBackwardSweep: // the field in and out
      for (int x = width - 1; x >= 0; --x)
        field[x] += 1.0f;
      break;
    case kRules: // the source and the field in, the output out
      storeEvery(src, job.output->pixelAddress(b.x1, y), rowBytes);
      sum ^= readEvery(field, sizeof(float) * width);
      break;
    default: // the source in, the output out
      storeEvery(src, job.output->pixelAddress(b.x1, y), rowBytes);
      break;
    }
  }
  job.checksum.fetch_xor(sum, std::memory_order_relaxed);
}

void trafficCase(benchmark::State &state, FrameSize size, Format format,
                 std::vector<TrafficPass> passes) {
  Rig &rig = Rig::get();
  ofxhost::ImagePtr source = rig.source(size, format);
  ofxhost::ImagePtr output = outputLike(*source);
  std::vector<float> field(static_cast<std::size_t>(size.width) * size.height);
  PairedCopy paired(source);
  double trafficSeconds = 0.0;
  for (auto _ : state) {
    if (!evictCachesUntimed(state))
      return;
    const Clock::time_point start = Clock::now();
    for (const TrafficPass pass : passes) {
      TrafficJob job{source.get(), output.get(), field.data(), pass};
      if (rig.threads().multiThread(trafficBand, kDefaultThreads, &job) !=
          kOfxStatOK) {
        state.SkipWithError("multiThread failed");
        return;
      }
      benchmark::DoNotOptimize(job.checksum.load());
    }
    benchmark::ClobberMemory();
    trafficSeconds += secondsSince(start);
    if (!paired.copyBetween(state))
      return;
  }
  paired.report(state, trafficSeconds);
}

void gradientCase(benchmark::State &state, FrameSize size, Format format,
                  int type, unsigned threads) {
  Rig &rig = Rig::get();
  ThreadCount threadCount(threads);
  auto instance = rig.createInstance("Tintrow");
  ofxhost::ImagePtr source = rig.source(size, format);
  instance->setSource(source);
  instance->setOutput(outputLike(*source));
  instance->param(tintrow::names::kGradientType).setValue({double(type)});
  std::optional<PairedCopy> paired;
  if (size.width == k8K.width && threads == kDefaultThreads)
    paired.emplace(source);
  renderLoop(state, *instance, wholeFrame(size), paired ? &*paired : nullptr);
}

void outlineCase(benchmark::State &state, FrameSize size, Format format,
                 int quality, unsigned threads, OfxRectI window) {
  Rig &rig = Rig::get();
  ThreadCount threadCount(threads);
  auto instance = rig.createInstance("Rimlet");
  ofxhost::ImagePtr source = rig.source(size, format);
  instance->setSource(source);
  instance->setOutput(outputLike(*source));
  instance->param(rimlet::names::kQuality).setValue({double(quality)});
  const bool wholeFrameAtDefaults = size.width == k8K.width &&
                                    threads == kDefaultThreads &&
                                    window.x2 - window.x1 == size.width &&
                                    window.y2 - window.y1 == size.height;
  std::optional<PairedCopy> paired;
  if (wholeFrameAtDefaults)
    paired.emplace(source);
  renderLoop(state, *instance, window, paired ? &*paired : nullptr);
}

// The Good/Best field alone: seeding row by row from the 8-bit source and
// the two sweeps, the way the outline processor builds it once per render
// at each thread count: on one thread, a few rows seeded and swept forward
// at a time, then the backward sweep; on more, the processor's pipeline on
// the host's threads. The pixel work of a render is the render minus the
// field built at its own thread count. Like the render at the default
// width, it leaves alone the cells settled beyond the width.
struct FieldJob {
  rimlet::FieldBuildPipeline *pipeline;
};

void buildFieldShare(unsigned, unsigned, void *arg) {
  static_cast<FieldJob *>(arg)->pipeline->work();
}

void fieldCase(benchmark::State &state, FrameSize size, unsigned threads) {
  const ofxhost::ImagePtr source = Rig::get().source(size, kByte);
  const rimlet::AlphaTable alphaTable = rimlet::makeAlphaTable();
  const rimlet::FieldExtent extent{size.width, size.height};
  std::vector<float> cells(static_cast<std::size_t>(extent.cellCount()));
  const rimlet::FieldSeeding seeding = rimlet::FieldSeeding::Smooth;
  constexpr float kDefaultWidth = 2.0f;
  const float settled = rimlet::settledCellValue(
      rimlet::OutlineQuality::Good, kDefaultWidth, rimlet::kDraftSeed);
  for (auto _ : state) {
    const rimlet::ByteSeedTable byteSeeds =
        rimlet::makeByteSeedTable(seeding, alphaTable);
    auto seedRows = [&](std::int64_t first, std::int64_t end) {
      for (std::int64_t r = first; r < end; ++r)
        rimlet::seedRow<unsigned char, 4, 255>(
            cells.data() + extent.indexOf(0, r),
            source->pixel<unsigned char>(0, int(r)), extent.width, seeding,
            alphaTable, byteSeeds);
    };
    if (threads == 1) {
      // Rows seeded and swept forward a few at a time, while in the cache.
      constexpr std::int64_t kRowsAtOnce = 32;
      for (std::int64_t r = 0, end = 0; r < extent.height; r = end) {
        end = std::min(extent.height, r + kRowsAtOnce + (r == 0 ? 1 : 0));
        seedRows(r, end);
        rimlet::sweepForwardRows(cells.data(), extent, r, end, settled);
      }
      rimlet::sweepBackward(cells.data(), extent, settled);
    } else {
      rimlet::FieldBuildPipeline pipeline(cells.data(), extent, seeding,
                                          seedRows, settled);
      FieldJob job{&pipeline};
      if (Rig::get().threads().multiThread(buildFieldShare, threads, &job) !=
          kOfxStatOK) {
        state.SkipWithError("multiThread failed");
        return;
      }
      pipeline.waitUntilBuilt();
    }
    benchmark::DoNotOptimize(cells.data());
    benchmark::ClobberMemory();
  }
}

#ifdef QFX_BENCH_HAVE_OPENCV
// What a developer would otherwise reach for: OpenCV's 3x3 chamfer
// distance to the nearest covered pixel, on one thread. Its input is the
// coverage as an 8-bit mask (zero where covered, as OpenCV measures the
// distance to zero pixels), prepared outside the timing.
void openCvCase(benchmark::State &state, FrameSize size) {
  cv::setNumThreads(1);
  const ofxhost::ImagePtr source = Rig::get().source(size, kByte);
  cv::Mat mask(size.height, size.width, CV_8U);
  for (int y = 0; y < size.height; ++y) {
    const unsigned char *in = source->pixel<unsigned char>(0, y);
    unsigned char *out = mask.ptr<unsigned char>(y);
    for (int x = 0; x < size.width; ++x)
      out[x] = in[x * 4 + 3] > 0 ? 0 : 255;
  }
  cv::Mat distance;
  for (auto _ : state) {
    cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_3, CV_32F);
    benchmark::DoNotOptimize(distance.data);
    benchmark::ClobberMemory();
  }
}

// The whole outline built the obvious way with OpenCV, at the effect's
// default settings (white, 2 pixels wide) and on as many threads as the
// effect's renders: an 8-bit mask from the alpha, the distance to the
// covered pixels, a coverage ramp from full at the width to none a pixel
// further, and the outline, premultiplied by that coverage, blended under
// the source. Its buffers are kept from frame to frame, as ours are.
void openCvOutlineCase(benchmark::State &state, FrameSize size) {
  cv::setNumThreads(int(kDefaultThreads));
  const ofxhost::ImagePtr source = Rig::get().source(size, kByte);
  if (source->rowBytes() <= 0) {
    state.SkipWithError("the source's rows run downwards");
    return;
  }
  const cv::Mat src(size.height, size.width, CV_8UC4,
                    source->pixelAddress(0, 0),
                    static_cast<std::size_t>(source->rowBytes()));
  const double width = 2.0;
  const cv::Scalar color(1.0, 1.0, 1.0, 1.0);
  cv::Mat alpha, mask, distance, coverage, transparency, weight, outline, dst;
  for (auto _ : state) {
    cv::extractChannel(src, alpha, 3);
    cv::threshold(alpha, mask, 0, 255, cv::THRESH_BINARY_INV);
    cv::distanceTransform(mask, distance, cv::DIST_L2, cv::DIST_MASK_3, CV_32F);
    // 255 * (width + 1 - d), saturated to 0..255 by the conversion.
    distance.convertTo(coverage, CV_8U, -255.0, 255.0 * (width + 1.0));
    cv::subtract(cv::Scalar(255), alpha, transparency);
    cv::multiply(coverage, transparency, weight, 1.0 / 255.0);
    cv::merge(std::vector<cv::Mat>{weight, weight, weight, weight}, outline);
    cv::multiply(outline, color, outline);
    cv::add(src, outline, dst);
    benchmark::DoNotOptimize(dst.data);
    benchmark::ClobberMemory();
  }
}
#endif

// ------------------------------------------------------------ memory

// Resident memory, from /proc. The outline's field blocks are mapped from
// the system directly, so they show here page for page.
std::int64_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// The most resident memory since the last resetPeakResident(); -1 when
// the system does not say.
std::int64_t peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stoll(line.substr(6)) * 1024;
  return -1;
}

bool resetPeakResident() {
  std::ofstream clearRefs("/proc/self/clear_refs");
  clearRefs << "5";
  clearRefs.close();
  return !clearRefs.fail();
}

double megabytes(std::int64_t bytes) { return double(bytes) / 1e6; }

double fieldMegabytes(FrameSize size) {
  return megabytes(std::int64_t(size.width) * size.height *
                   std::int64_t(sizeof(float)));
}

bool renderWhole(benchmark::State &state, ofxhost::Instance &instance,
                 FrameSize size) {
  ofxhost::RenderRequest request;
  request.window = wholeFrame(size);
  const ofxhost::ActionResult result = instance.render(request);
  if (!result.ok())
    state.SkipWithError(result.message.c_str());
  return result.ok();
}

// The most memory one Good render of the whole frame takes beyond what the
// process holds with its images in place, with no field block left over
// from an earlier render (the purge sees to that): the field and whatever
// else the render needs while it runs.
void renderPeakCase(benchmark::State &state, FrameSize size, Format format) {
  Rig &rig = Rig::get();
  ThreadCount threadCount(kDefaultThreads);
  auto instance = rig.createInstance("Rimlet");
  ofxhost::ImagePtr source = rig.source(size, format);
  instance->setSource(source);
  instance->setOutput(outputLike(*source));
  if (!renderWhole(state, *instance, size))
    return;
  std::int64_t peak = 0;
  for (auto _ : state) {
    instance->purgeCaches();
    if (!resetPeakResident()) {
      state.SkipWithError("the peak resident memory cannot be reset here");
      return;
    }
    const std::int64_t before = residentBytes();
    if (!renderWhole(state, *instance, size))
      return;
    const std::int64_t after = peakResidentBytes();
    if (after < 0) {
      state.SkipWithError("the system reports no peak resident memory");
      return;
    }
    peak = std::max(peak, after - before);
  }
  state.counters["peak_MB"] = megabytes(peak);
  state.counters["field_MB"] = fieldMegabytes(size);
}

// An editing timeline's worth of outlined titles: 64 instances, each
// rendering the whole frame once, one after another. What each instance
// keeps for itself whatever the frame (parameters, clips: a few hundred
// kilobytes between the host and the module) is set up by a render of a
// small frame first and left out; what the big renders leave resident is
// then field memory, and again after the host's purge.
void instancesCase(benchmark::State &state, FrameSize size) {
  constexpr int kInstances = 64;
  Rig &rig = Rig::get();
  ThreadCount threadCount(kDefaultThreads);
  ofxhost::ImagePtr source = rig.source(size, kByte);
  ofxhost::ImagePtr output = outputLike(*source);
  const FrameSize small{16, 16};
  ofxhost::ImagePtr smallSource = toHostImage(rig.picture(small), kByte.depth);
  ofxhost::ImagePtr smallOutput = outputLike(*smallSource);
  std::int64_t held = 0, purged = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<ofxhost::Instance>> instances;
    for (int i = 0; i < kInstances; ++i) {
      instances.push_back(rig.createInstance("Rimlet"));
      instances.back()->setSource(smallSource);
      instances.back()->setOutput(smallOutput);
      if (!renderWhole(state, *instances.back(), small))
        return;
    }
    instances.front()->purgeCaches();
    const std::int64_t before = residentBytes();
    for (auto &instance : instances) {
      instance->setSource(source);
      instance->setOutput(output);
      if (!renderWhole(state, *instance, size))
        return;
    }
    held = std::max(held, residentBytes() - before);
    instances.front()->purgeCaches();
    purged = std::max(purged, residentBytes() - before);
  }
  state.counters["held_MB"] = megabytes(held);
  state.counters["purged_MB"] = megabytes(purged);
  state.counters["field_MB"] = fieldMegabytes(size);
}

// ------------------------------------------------------------ registration

const char *const kQualityNames[] = {"draft", "good", "best"};
const char *const kGradientNames[] = {"linear", "radial"};

// Wall-clock time, as threads work for the render, and the CPU time of
// the whole process (every thread), which other work on the machine
// disturbs less. Besides the mean and median of the repetitions, their
// minimum: such work only ever adds time, so the fastest repetition is the
// least disturbed one.
benchmark::internal::Benchmark *timed(benchmark::internal::Benchmark *b) {
  return b->UseRealTime()
      ->MeasureProcessCPUTime()
      ->Unit(benchmark::kMillisecond)
      ->MinTime(kMinSeconds)
      ->ComputeStatistics("min", [](const std::vector<double> &times) {
        return times.empty() ? 0.0
                             : *std::min_element(times.begin(), times.end());
      });
}

// A memory case: its counters are what it reports, not its time.
benchmark::internal::Benchmark *measured(benchmark::internal::Benchmark *b) {
  return b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}

// 8K cases are few repetitions: each takes a second or more, and other
// work only ever adds time to them.
constexpr int k8KRepetitions = 3;

// Grouped by size and format so each source picture is made once. The
// ratios to a copy are set at 8K, every format; 1080p and 4K keep what
// the scaling, window and peer rows need.
void registerCases() {
  for (const FrameSize size : kSizes) {
    const std::string sizeName = size.name();
    const bool is8K = size.width == k8K.width;
    const auto add = [&](const std::string &name, auto &&lambda) {
      auto *b = timed(benchmark::RegisterBenchmark(name.c_str(), lambda));
      if (is8K)
        b->Repetitions(k8KRepetitions);
    };
    for (const Format format : kFormats) {
      const bool byte = format.depth == BitDepth::Byte;
      if (!is8K && !byte)
        continue;
      const std::string tail = std::string("/") + format.name + "/" + sizeName;
      if (is8K) {
        add("copy" + tail,
            [=](benchmark::State &s) { copyCase(s, size, format); });
        add("traffic/gradient" + tail, [=](benchmark::State &s) {
          trafficCase(s, size, format, {kBlend});
        });
        add("traffic/outline" + tail, [=](benchmark::State &s) {
          trafficCase(s, size, format, {kSeed, kBackwardSweep, kRules});
        });
      }
      for (int type = 0; type < 2; ++type)
        add(std::string("gradient/") + kGradientNames[type] + tail,
            [=](benchmark::State &s) {
              gradientCase(s, size, format, type, kDefaultThreads);
            });
      for (int quality = 0; quality < 3; ++quality)
        add(std::string("outline/") + kQualityNames[quality] + tail,
            [=](benchmark::State &s) {
              outlineCase(s, size, format, quality, kDefaultThreads,
                          wholeFrame(size));
            });
      if (!byte || size.width == k1080p.width)
        continue;
      add("gradient/linear" + tail + "/threads1",
          [=](benchmark::State &s) { gradientCase(s, size, format, 0, 1); });
      add("outline/good" + tail + "/threads1", [=](benchmark::State &s) {
        outlineCase(s, size, format, 1, 1, wholeFrame(size));
      });
      if (is8K)
        continue;
      add("field/good/" + sizeName + "/threads" +
              std::to_string(kDefaultThreads),
          [=](benchmark::State &s) { fieldCase(s, size, kDefaultThreads); });
      const int cx = size.width / 2, cy = size.height / 2;
      const OfxRectI window{cx - 128, cy - 128, cx + 128, cy + 128};
      add("outline/good" + tail + "/window256", [=](benchmark::State &s) {
        outlineCase(s, size, format, 1, kDefaultThreads, window);
      });
    }
    if (is8K)
      continue;
    add("field/good/" + sizeName,
        [=](benchmark::State &s) { fieldCase(s, size, 1); });
#ifdef QFX_BENCH_HAVE_OPENCV
    if (size.width == k4K.width) {
      add("peer/opencv_dt/" + sizeName,
          [=](benchmark::State &s) { openCvCase(s, size); });
      add("peer/opencv_outline/" + sizeName,
          [=](benchmark::State &s) { openCvOutlineCase(s, size); });
    }
#endif
  }
  // Memory: one measurement per run, each repeated as the others are.
  for (const FrameSize size : {k4K, k8K})
    measured(benchmark::RegisterBenchmark(
        (std::string("memory/render/byte/") + size.name()).c_str(),
        [=](benchmark::State &s) { renderPeakCase(s, size, kByte); }));
  measured(benchmark::RegisterBenchmark(
      ("memory/instances64/byte/" + k4K.name()).c_str(),
      [](benchmark::State &s) { instancesCase(s, k4K); }));
}

} // namespace
} // namespace qfx_bench

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  try {
    qfx_bench::Rig &rig = qfx_bench::Rig::get();
    for (const qfx_bench::FrameSize size : qfx_bench::kSizes)
      benchmark::AddCustomContext(
          "covered_" + size.name(),
          std::to_string(rig.picture(size).coveredFraction()));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qfx_bench: %s\n", e.what());
    return 1;
  }
  qfx_bench::registerCases();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
