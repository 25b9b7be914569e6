#include "RenderJob.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "ImageFile.h"
#include "ParamValues.h"
#include "PluginLookup.h"
#include "Progress.h"
#include "Sequence.h"
#include "ToolError.h"

using ofxhost::BitDepth;
using ofxhost::Components;

namespace ofxrender {
namespace {

std::string rectText(const OfxRectI &r) {
  return "(" + std::to_string(r.x1) + ", " + std::to_string(r.y1) + ", " +
         std::to_string(r.x2) + ", " + std::to_string(r.y2) + ")";
}

std::string rectText(const OfxRectD &r) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "(%.6g, %.6g, %.6g, %.6g)", r.x1, r.y1,
                r.x2, r.y2);
  return buffer;
}

bool inside(const OfxRectI &inner, const OfxRectI &outer) {
  return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 &&
         inner.x2 <= outer.x2 && inner.y2 <= outer.y2;
}

BitDepth depthFromOption(const std::string &depth) {
  if (depth.empty())
    return BitDepth::None;
  if (depth == "byte")
    return BitDepth::Byte;
  if (depth == "short")
    return BitDepth::Short;
  if (depth == "float")
    return BitDepth::Float;
  throw usageError("--depth: '" + depth + "' is not byte, short or float");
}

std::string depthWord(BitDepth depth) {
  switch (depth) {
  case BitDepth::Byte:
    return "byte";
  case BitDepth::Short:
    return "short";
  case BitDepth::Half:
    return "half";
  case BitDepth::Float:
    return "float";
  default:
    return "none";
  }
}

bool contains(const ofxhost::PropertySet &props, const std::string &name,
              const std::string &value) {
  if (!props.has(name))
    return false;
  for (const std::string &entry : props.getStrings(name))
    if (entry == value)
      return true;
  return false;
}

// One frame of the job: where it reads, where it writes, at what time.
struct Frame {
  std::string input;
  std::string output;
  double time = 0;
};

std::vector<Frame> plannedFrames(const RenderSettings &settings) {
  if (!settings.frames)
    return {{settings.input, settings.output, settings.time.value_or(0.0)}};
  if (settings.time)
    throw usageError("--time and --frames exclude each other: frame N "
                     "renders at time N");
  if (!hasFramePattern(settings.output))
    throw usageError("--frames: OUTPUT needs a run of # for the frame "
                     "number, e.g. out.####.png");
  const FrameRange range = parseFrameRange(*settings.frames);
  std::vector<Frame> frames;
  for (int n = range.first; n <= range.last; ++n)
    frames.push_back({expandFramePattern(settings.input, n),
                      expandFramePattern(settings.output, n),
                      static_cast<double>(n)});
  return frames;
}

// Shows what the plug-in reports through the progress suite on the bar,
// for as long as it lives. ofxrender has no way to cancel, so the plug-in
// is always told to go on.
class PluginProgress {
public:
  PluginProgress(ofxhost::Host &host, ProgressBar &bar) : host_(host) {
    host_.setProgressListener([&bar, task = std::string()](
                                  const ofxhost::ProgressEvent &event) mutable {
      switch (event.kind) {
      case ofxhost::ProgressEvent::Kind::Start:
        task = event.label.empty() ? "working" : event.label;
        bar.pluginProgress(task, 0.0);
        break;
      case ofxhost::ProgressEvent::Kind::Update:
        bar.pluginProgress(task.empty() ? "working" : task, event.fraction);
        break;
      case ofxhost::ProgressEvent::Kind::End:
        task.clear();
        bar.pluginProgress("", 0.0);
        break;
      }
      return true;
    });
  }
  ~PluginProgress() { host_.setProgressListener(nullptr); }
  PluginProgress(const PluginProgress &) = delete;
  PluginProgress &operator=(const PluginProgress &) = delete;

private:
  ofxhost::Host &host_;
};

// Everything fixed for the whole job.
class RenderJob {
public:
  explicit RenderJob(const RenderSettings &settings)
      : settings_(settings), depth_(depthFromOption(settings.depth)) {
    if (!(settings.scale > 0) || !std::isfinite(settings.scale))
      throw usageError("--scale: must be a number greater than 0");
    if (settings.tiles < 1)
      throw usageError("--tile: must be 1 or more");
    if (settings.window)
      window_ = parseWindow(*settings.window);
    frames_ = plannedFrames(settings);
    for (const Frame &frame : frames_)
      checkOutputTarget(frame.output, depth_);
  }

  void run() {
    ofxhost::HostOptions options;
    options.cpuCount = settings_.threads;
    options.imagePolicy = settings_.images;
    host_ = std::make_unique<ofxhost::Host>(options);
    ofxhost::Plugin &plugin =
        openPlugin(*host_, settings_.plugin, settings_.pluginPaths);
    reportScanErrors(*host_);
    checkPluginCanFilter(plugin);
    instance_ = createInstance(plugin);
    applyParameters();

    const double first = frames_.front().time;
    const double last = frames_.back().time;
    const OfxPointD scale{settings_.scale, settings_.scale};
    checked(instance_->beginSequenceRender(first, last, scale));
    // A single frame shows a bar only while the plug-in reports progress.
    const bool sequence = frames_.size() > 1;
    ProgressBar progress(static_cast<int>(frames_.size()), !settings_.verbose);
    PluginProgress pluginProgress(*host_, progress);
    int done = 0;
    try {
      for (const Frame &frame : frames_) {
        if (sequence)
          progress.update(done, frame.output);
        renderFrame(frame);
        ++done;
      }
    } catch (...) {
      // The plug-in may hold resources for the sequence; let it go of them
      // even though the sequence ends early. The first failure is reported.
      instance_->endSequenceRender(first, last, scale);
      throw;
    }
    if (sequence)
      progress.update(done, "done");
    progress.finish();
    checked(instance_->endSequenceRender(first, last, scale));
  }

private:
  // The host's message already names the action and the status.
  void checked(const ofxhost::ActionResult &result) {
    if (!result.ok())
      throw renderError(settings_.plugin + ": " + result.message);
  }

  void reportScanErrors(ofxhost::Host &host) {
    if (!settings_.verbose)
      return;
    for (const ofxhost::BundleError &error : host.errors())
      std::printf("skipped bundle %s: %s\n", error.path.c_str(),
                  error.reason.c_str());
  }

  void checkPluginCanFilter(ofxhost::Plugin &plugin) {
    describeOrThrow(plugin);
    ofxhost::PropertySet &effect = plugin.descriptor().props();
    if (!contains(effect, kOfxImageEffectPropSupportedContexts,
                  kOfxImageEffectContextFilter))
      throw usageError(plugin.identifier() +
                       " has no filter context; ofxrender renders filters");
    const ofxhost::ActionResult result =
        plugin.describeInContext(kOfxImageEffectContextFilter);
    if (!result.ok())
      throw renderError(plugin.identifier() + ": " + result.message);
    pluginName_ = plugin.identifier();
    supportedDepths_ =
        effect.has(kOfxImageEffectPropSupportedPixelDepths)
            ? effect.getStrings(kOfxImageEffectPropSupportedPixelDepths)
            : std::vector<std::string>{};
    ofxhost::Descriptor *filter =
        plugin.contextDescriptor(kOfxImageEffectContextFilter);
    if (filter) {
      ofxhost::PropertySet &source =
          filter->clipProps(kOfxImageEffectSimpleSourceClipName);
      if (source.has(kOfxImageEffectPropSupportedComponents))
        sourceComponents_ =
            source.getStrings(kOfxImageEffectPropSupportedComponents);
    }
  }

  std::unique_ptr<ofxhost::Instance> createInstance(ofxhost::Plugin &plugin) {
    ofxhost::ActionResult result;
    auto instance =
        plugin.createInstance(kOfxImageEffectContextFilter, &result);
    if (!instance)
      throw renderError(plugin.identifier() + ": " +
                        (result.message.empty() ? "cannot create an instance"
                                                : result.message));
    return instance;
  }

  void applyParameters() {
    std::vector<ParamAssignment> sets, keys;
    for (const std::string &set : settings_.sets)
      sets.push_back(parseSetArgument(set));
    for (const std::string &key : settings_.keys)
      keys.push_back(parseKeyArgument(key));
    applyAssignments(*instance_, sets, keys);
  }

  // An infinite or absurd region (a generator's, say) cannot become an
  // image; refuse it instead of overflowing the pixel coordinates.
  void checkBounded(const OfxRectD &rod, double scale) {
    const double limit = 1e7;
    for (double v : {rod.x1, rod.y1, rod.x2, rod.y2})
      if (!std::isfinite(v) || std::fabs(v * scale) > limit)
        throw renderError(pluginName_ + ": the output's region of "
                                        "definition " +
                          rectText(rod) + " is too large for an image");
  }

  // The plug-in must take the image's format; ofxrender converts nothing
  // behind its back.
  void checkFormatSupported(const ofxhost::Image &image) {
    const std::string depth = ofxhost::bitDepthName(image.depth());
    bool depthOk = false;
    for (const std::string &supported : supportedDepths_)
      depthOk = depthOk || supported == depth;
    if (!depthOk)
      throw usageError(pluginName_ + " does not take " +
                       depthWord(image.depth()) + " images (" + depth +
                       "); choose another --depth");
    const std::string components =
        ofxhost::componentsName(image.components());
    bool componentsOk = sourceComponents_.empty();
    for (const std::string &supported : sourceComponents_)
      componentsOk = componentsOk || supported == components;
    if (!componentsOk)
      throw usageError(pluginName_ + " does not take " + components +
                       " images");
  }

  void renderFrame(const Frame &frame) {
    ReadRequest read;
    read.depth = depth_;
    read.alphaOnly = settings_.alphaOnly;
    Picture picture = readPicture(frame.input, read);
    checkOutputTarget(frame.output, picture.image->depth());
    checkFormatSupported(*picture.image);

    const double s = settings_.scale;
    const OfxPointD scale{s, s};
    picture.image->renderScale = scale;
    instance_->setSource(picture.image);

    OfxRectD rod{};
    checked(instance_->regionOfDefinition(frame.time, scale, rod));
    checkBounded(rod, s);
    const OfxRectI bounds = pixelBounds(rod, s);
    if (bounds.x2 <= bounds.x1 || bounds.y2 <= bounds.y1)
      throw renderError(pluginName_ + ": the output's region of definition " +
                        rectText(rod) + " is empty");
    ofxhost::Clip &outputClip =
        instance_->clip(kOfxImageEffectOutputClipName);
    auto output = std::make_shared<ofxhost::Image>(
        bounds, outputClip.depth(), outputClip.components());
    output->renderScale = scale;
    instance_->setOutput(output);

    const OfxRectI window = window_.value_or(bounds);
    if (!inside(window, bounds))
      throw usageError("--window " + rectText(window) +
                       " reaches outside the output image " +
                       rectText(bounds));
    const std::vector<OfxRectI> tiles =
        splitIntoTiles(window, settings_.tiles);

    if (settings_.verbose)
      printRegions(frame, picture, rod, bounds, window, tiles.size());

    const auto start = std::chrono::steady_clock::now();
    for (const OfxRectI &tile : tiles) {
      ofxhost::RenderRequest request;
      request.time = frame.time;
      request.window = tile;
      request.scale = scale;
      request.sequential = frames_.size() > 1;
      checked(instance_->render(request));
    }
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - start;
    instance_->setOutput(nullptr);

    WriteRequest write;
    write.inputPlacement = picture.placement;
    write.crop = settings_.crop;
    writePicture(frame.output, *output, write);

    if (settings_.verbose)
      std::printf("  render time: %.3f ms\n  wrote %s %s\n", took.count(),
                  frame.output.c_str(),
                  rectText(writtenArea(*output, write)).c_str());
  }

  void printRegions(const Frame &frame, const Picture &picture,
                    const OfxRectD &rod, const OfxRectI &bounds,
                    const OfxRectI &window, size_t tileCount) {
    const ofxhost::Image &source = *picture.image;
    const double s = settings_.scale;
    std::printf("frame at time %g: %s -> %s\n", frame.time,
                frame.input.c_str(), frame.output.c_str());
    std::printf("  input: %s, %d channel(s) of %s, %dx%d pixels\n",
                picture.fileFormat.c_str(), picture.fileChannels,
                picture.fileType.c_str(), source.width(), source.height());
    std::printf("  format: %s %s, render scale %g\n",
                depthWord(source.depth()).c_str(),
                ofxhost::componentsName(source.components()), s);
    const OfxRectD sourceRod{0, 0, source.width() / s, source.height() / s};
    std::printf("  source region of definition: %s\n",
                rectText(sourceRod).c_str());
    std::printf("  output region of definition: %s\n", rectText(rod).c_str());
    std::printf("  output image bounds: %s pixels\n", rectText(bounds).c_str());
    std::printf("  render window: %s pixels in %zu tile(s)\n",
                rectText(window).c_str(), tileCount);
    const OfxRectD canonicalWindow{window.x1 / s, window.y1 / s,
                                   window.x2 / s, window.y2 / s};
    std::map<std::string, OfxRectD> rois;
    if (instance_
            ->regionsOfInterest(frame.time, {s, s}, canonicalWindow, rois)
            .ok())
      for (const auto &[clip, roi] : rois)
        std::printf("  region of interest of %s: %s\n", clip.c_str(),
                    rectText(roi).c_str());
    const unsigned threads = settings_.threads
                                 ? settings_.threads
                                 : std::thread::hardware_concurrency();
    std::printf("  threads: %u\n", threads);
  }

  const RenderSettings &settings_;
  BitDepth depth_;
  std::optional<OfxRectI> window_;
  std::vector<Frame> frames_;
  // Declared in this order so that, on every way out, the instance is
  // destroyed before the host that loaded its plug-in.
  std::unique_ptr<ofxhost::Host> host_;
  std::unique_ptr<ofxhost::Instance> instance_;
  std::string pluginName_;
  std::vector<std::string> supportedDepths_;
  std::vector<std::string> sourceComponents_;
};

} // namespace

OfxRectI parseWindow(const std::string &text) {
  int values[4];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &values[0], &values[1],
                  &values[2], &values[3], &tail) != 4)
    throw usageError("--window: '" + text +
                     "' is not four whole numbers X1,Y1,X2,Y2");
  const OfxRectI window{values[0], values[1], values[2], values[3]};
  if (window.x1 >= window.x2 || window.y1 >= window.y2)
    throw usageError("--window: " + text + " is empty (need X1 < X2, Y1 < Y2)");
  return window;
}

OfxRectI pixelBounds(const OfxRectD &rod, double scale) {
  return ofxhost::canonicalToPixels(rod, {scale, scale});
}

std::vector<OfxRectI> splitIntoTiles(const OfxRectI &window, int n) {
  std::vector<OfxRectI> tiles;
  const long long width = window.x2 - window.x1;
  const long long height = window.y2 - window.y1;
  for (int row = 0; row < n; ++row) {
    const int y1 = window.y1 + static_cast<int>(height * row / n);
    const int y2 = window.y1 + static_cast<int>(height * (row + 1) / n);
    for (int col = 0; col < n; ++col) {
      const int x1 = window.x1 + static_cast<int>(width * col / n);
      const int x2 = window.x1 + static_cast<int>(width * (col + 1) / n);
      if (x1 < x2 && y1 < y2)
        tiles.push_back({x1, y1, x2, y2});
    }
  }
  return tiles;
}

void runRender(const RenderSettings &settings) {
  RenderJob job(settings);
  job.run();
}

} // namespace ofxrender
