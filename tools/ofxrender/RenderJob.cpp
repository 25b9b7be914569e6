#include "RenderJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "AtomicWrite.h"
#include "ImageFile.h"
#include "Interrupt.h"
#include "ParamValues.h"
#include "PluginLookup.h"
#include "Progress.h"
#include "Sequence.h"
#include "ToolError.h"

namespace fs = std::filesystem;
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
  return inner.x1 >= outer.x1 && inner.y1 >= outer.y1 && inner.x2 <= outer.x2 &&
         inner.y2 <= outer.y2;
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

// The clip's pixel aspect ratio as the plug-in's clip preferences left it.
double pixelAspectRatioOf(ofxhost::Clip &clip) {
  const ofxhost::PropertySet &props = clip.props();
  if (!props.has(kOfxImagePropPixelAspectRatio))
    return 1.0;
  const double par = props.getDouble(kOfxImagePropPixelAspectRatio);
  return std::isfinite(par) && par > 0.0 ? par : 1.0;
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

// A file's identity, whatever path, link or pattern named it.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> fileId(const std::string &path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0)
    return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

// The output is written beside itself and renamed, so its folder must
// take new files.
void checkFolderWritable(const std::string &output) {
  const fs::path folder = fs::path(output).parent_path();
  const std::string dir = folder.empty() ? "." : folder.string();
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw fileError(output + ": cannot write: the folder " + dir +
                    " does not take new files");
}

std::optional<FrameList> frameListOf(const RenderSettings &settings) {
  if (!settings.frames)
    return std::nullopt;
  if (settings.time)
    throw usageError("--time and --frames exclude each other: frame N "
                     "renders at time N");
  if (!hasFramePattern(settings.output))
    throw usageError("--frames: OUTPUT needs a run of # for the frame "
                     "number, e.g. out.####.png");
  return FrameList::parse(*settings.frames);
}

BitDepth checkedDepth(const RenderSettings &settings) {
  const BitDepth depth = depthFromOption(settings.depth);
  if (settings.outputType.empty() || depth == BitDepth::None ||
      depth == BitDepth::Float)
    return depth;
  throw usageError("--output-type " + settings.outputType +
                   " writes a float render; it cannot go with --depth " +
                   settings.depth);
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
      : settings_(settings), depth_(checkedDepth(settings)) {
    if (!(settings.scale > 0) || !std::isfinite(settings.scale))
      throw usageError("--scale: must be a number greater than 0");
    if (settings.tiles < 1)
      throw usageError("--tile: must be 1 or more");
    if (settings.crop && settings.overscan)
      throw usageError("--crop and --overscan exclude each other");
    if (!settings.outputType.empty() && depth_ == BitDepth::None)
      depth_ = BitDepth::Float;
    if (settings.window)
      window_ = parseWindow(*settings.window);
    frameList_ = frameListOf(settings);
    frameCount_ = frameList_ ? frameList_->count() : 1;
    checkInputsAndOutputs();
  }

  void run() {
    ofxhost::HostOptions options = toolHostOptions();
    options.cpuCount = settings_.threads;
    options.imagePolicy = settings_.images;
    host_ = std::make_unique<ofxhost::Host>(options);
    // A dry run leaves every file as it is, stale ones too.
    const int stale =
        settings_.dryRun ? 0 : removeStaleTempFiles(settings_.output);
    if (settings_.verbose && stale > 0)
      std::printf("removed %d temporary file(s) left by a process that "
                  "died\n",
                  stale);
    ofxhost::Plugin &plugin =
        openPlugin(*host_, settings_.plugin, settings_.pluginPaths);
    throwIfInterrupted();
    const CrashNote setUp(plugin.identifier(), "starting or ending the render");
    checkPluginCanFilter(plugin);
    instance_ = createInstance(plugin);
    // The plug-in's abort polling is how a stop reaches a render under way.
    instance_->setAbortPredicate([](long) { return interrupted(); });
    applyParameters();
    if (settings_.dryRun) {
      dryRun(plugin);
      return;
    }

    const double first = frameList_ ? frameList_->lowest() : frameTime();
    const double last = frameList_ ? frameList_->highest() : frameTime();
    const OfxPointD scale{settings_.scale, settings_.scale};
    checked(instance_->beginSequenceRender(first, last, scale));
    // A single frame shows a bar only while the plug-in reports progress.
    const bool sequence = frameCount_ > 1;
    const int total =
        static_cast<int>(std::min<long long>(frameCount_, INT_MAX));
    ProgressBar progress(total, !settings_.verbose);
    PluginProgress pluginProgress(*host_, progress);
    int done = 0;
    FrameRuns skipped;
    try {
      forEachFrame([&](const Frame &frame) {
        throwIfInterrupted();
        if (sequence)
          progress.update(done, frame.output);
        if (skipsExisting(frame) || !renderUnlessWrittenMeanwhile(frame))
          skipped.add(frameList_ ? static_cast<int>(frame.time) : 0);
        ++done;
        return true;
      });
    } catch (...) {
      // The plug-in may hold resources for the sequence; let it go of them
      // even though the sequence ends early. The first failure is reported.
      instance_->endSequenceRender(first, last, scale);
      progress.finish();
      reportSkipped(skipped);
      throw;
    }
    if (sequence)
      progress.update(done, "done");
    progress.finish();
    reportSkipped(skipped);
    checked(instance_->endSequenceRender(first, last, scale));
  }

private:
  double frameTime() const { return settings_.time.value_or(0.0); }

  // Renders the frame; false when, with --skip-existing, its output was
  // written by someone else while it rendered (it is kept as they wrote it).
  bool renderUnlessWrittenMeanwhile(const Frame &frame) {
    try {
      renderFrame(frame);
      return true;
    } catch (const TargetAppeared &) {
      if (!settings_.skipExisting)
        throw;
      return false;
    }
  }

  // Checked as each frame comes, so that a frame another job wrote
  // meanwhile is left alone too.
  bool skipsExisting(const Frame &frame) const {
    std::error_code error;
    return settings_.skipExisting && fs::exists(frame.output, error);
  }

  // One line for the whole job, however many frames it left alone.
  void reportSkipped(const FrameRuns &skipped) const {
    if (skipped.count() == 0)
      return;
    if (!frameList_) {
      std::fprintf(stderr, "ofxrender: skipped %s, which exists\n",
                   settings_.output.c_str());
      return;
    }
    std::fprintf(stderr, "ofxrender: skipped %lld existing frame%s: %s\n",
                 skipped.count(), skipped.count() == 1 ? "" : "s",
                 skipped.text().c_str());
  }

  // Frames are made as they are needed: a list of a billion frames must not
  // be planned in memory first.
  template <class Visit> bool forEachFrame(Visit visit) const {
    if (!frameList_)
      return visit(Frame{settings_.input, settings_.output, frameTime()});
    return frameList_->forEach([&](int n) {
      return visit(Frame{expandFramePattern(settings_.input, n),
                         expandFramePattern(settings_.output, n),
                         static_cast<double>(n)});
    });
  }

  // Everything a job can know about its files is checked before the first
  // render, so a sequence does not fail at its last frame, and no output
  // replaces a file the job reads.
  void checkInputsAndOutputs() {
    const std::set<FileId> inputs = inputIds();
    // The output type is checked before the depth: its message says more.
    const std::string first = firstOutput();
    const std::string format = checkOutputTarget(first, BitDepth::None);
    if (!settings_.outputType.empty() && format != "openexr")
      throw usageError("--output-type " + settings_.outputType +
                       ": only EXR outputs store half or float pixels by "
                       "choice");
    checkOutputTarget(first, depth_);
    checkFolderWritable(first);
    checkWriteOptions(format, settings_.compression, settings_.quality);
    // Whatever order the folder lists them in, messages name the first
    // frame, in the job's order, that is in the way.
    std::vector<std::pair<long long, std::string>> existing;
    forEachExistingOutput([&](long long order, const std::string &output) {
      existing.emplace_back(order, output);
    });
    std::sort(existing.begin(), existing.end());
    checkExistingOutputs(existing, inputs);
  }

  std::string firstOutput() const {
    std::string output;
    forEachFrame([&](const Frame &frame) {
      output = frame.output;
      return false;
    });
    return output;
  }

  std::set<FileId> inputIds() const {
    std::set<FileId> inputs;
    auto add = [&](const std::string &input, const std::string &frameNote) {
      const std::optional<FileId> id = fileId(input);
      if (!id)
        throw fileError(input + ": no such file" + frameNote +
                        "; nothing was rendered");
      inputs.insert(*id);
    };
    if (!frameList_ || !hasFramePattern(settings_.input)) {
      add(settings_.input, "");
      return inputs;
    }
    forEachFrame([&](const Frame &frame) {
      add(frame.input, " (frame " + readableNumber(frame.time) + ")");
      return true;
    });
    return inputs;
  }

  // Visits the outputs of the job that exist already, with their place in
  // the job's order. A pattern's folder is listed once rather than every
  // frame's name tried, so a long frame list costs as much as the files that
  // are there.
  template <class Visit> void forEachExistingOutput(Visit visit) const {
    const fs::path pattern(settings_.output);
    if (!frameList_ || hasFramePattern(pattern.parent_path().string())) {
      long long order = 0;
      forEachFrame([&](const Frame &frame) {
        checkOutputTarget(frame.output, BitDepth::None);
        std::error_code error;
        if (fs::exists(frame.output, error))
          visit(order, frame.output);
        ++order;
        return true;
      });
      return;
    }
    const fs::path dir =
        pattern.parent_path().empty() ? fs::path(".") : pattern.parent_path();
    const std::string namePattern = pattern.filename().string();
    std::error_code error;
    for (const fs::directory_entry &entry :
         fs::directory_iterator(dir, error)) {
      const std::optional<int> frame =
          matchFramePattern(namePattern, entry.path().filename().string());
      const std::optional<long long> order =
          frame ? frameList_->position(*frame) : std::nullopt;
      if (order)
        visit(*order,
              (pattern.parent_path() / entry.path().filename()).string());
    }
  }

  // The outputs in the way, in the job's order; the worst trouble is
  // reported first.
  void checkExistingOutputs(
      const std::vector<std::pair<long long, std::string>> &existing,
      const std::set<FileId> &inputs) const {
    for (const auto &[order, output] : existing) {
      const std::optional<FileId> id = fileId(output);
      if (id && inputs.count(*id))
        throw fileError(output + ": is the same file as an input of this "
                                 "render; refusing to overwrite it");
    }
    for (const auto &[order, output] : existing)
      if (fs::is_directory(output))
        throw fileError(output + ": is a directory");
    // With --skip-existing nothing that exists is replaced.
    if (settings_.noClobber && !settings_.skipExisting && !existing.empty())
      throw fileError(existing.front().second +
                      ": exists, and --no-clobber keeps existing files; "
                      "nothing was rendered");
  }

  // The host's message already names the action, the status and what the
  // plug-in posted about the failure.
  void checked(const ofxhost::ActionResult &result) {
    throwIfInterrupted();
    if (!result.ok())
      throw renderError(settings_.plugin + ": " + result.message);
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
        throw renderError(pluginName_ +
                          ": the output's region of "
                          "definition " +
                          rectText(rod) + " is too large for an image");
  }

  // The plug-in must take the image's format; ofxrender converts nothing
  // behind its back.
  void checkFormatSupported(const ofxhost::Image &image) {
    checkFormatSupported(image.depth(), image.components());
  }

  void checkFormatSupported(BitDepth imageDepth, Components imageComponents) {
    const std::string depth = ofxhost::bitDepthName(imageDepth);
    bool depthOk = false;
    for (const std::string &supported : supportedDepths_)
      depthOk = depthOk || supported == depth;
    if (!depthOk)
      throw usageError(pluginName_ + " does not take " + depthWord(imageDepth) +
                       " images (" + depth + "); choose another --depth");
    const std::string components = ofxhost::componentsName(imageComponents);
    bool componentsOk = sourceComponents_.empty();
    for (const std::string &supported : sourceComponents_)
      componentsOk = componentsOk || supported == components;
    if (!componentsOk)
      throw usageError(pluginName_ + " does not take " + components +
                       " images");
  }

  void renderFrame(const Frame &frame) {
    const CrashNote note(pluginName_,
                         "rendering frame " + readableNumber(frame.time));
    ReadRequest read;
    read.depth = depth_;
    read.alphaOnly = settings_.alphaOnly;
    read.channels = settings_.channels;
    Picture picture = readPicture(frame.input, read);
    throwIfInterrupted();
    const std::string format =
        checkOutputTarget(frame.output, picture.image->depth());
    checkFormatSupported(*picture.image);

    const double s = settings_.scale;
    const OfxPointD scale{s, s};
    picture.image->renderScale = scale;
    instance_->setSource(picture.image);

    OfxRectD rod{};
    checked(instance_->regionOfDefinition(frame.time, scale, rod));
    checkBounded(rod, s);
    ofxhost::Clip &outputClip = instance_->clip(kOfxImageEffectOutputClipName);
    const double outputPar = pixelAspectRatioOf(outputClip);
    const OfxRectI bounds = pixelBounds(rod, s, outputPar);
    if (bounds.x2 <= bounds.x1 || bounds.y2 <= bounds.y1)
      throw renderError(pluginName_ + ": the output's region of definition " +
                        rectText(rod) + " is empty");
    auto output = std::make_shared<ofxhost::Image>(bounds, outputClip.depth(),
                                                   outputClip.components());
    output->renderScale = scale;
    output->pixelAspectRatio = outputPar;
    instance_->setOutput(output);

    WriteRequest write;
    write.inputPlacement = picture.placement;
    write.crop = keepsInputFormat(format);
    // A half input stays half unless the output type is chosen.
    write.halfFloat = settings_.outputType == "half" ||
                      (settings_.outputType.empty() && picture.halfPixels);
    write.input = &picture;
    write.compression = settings_.compression;
    write.quality = settings_.quality;
    // Outputs to be kept stay kept even when they appear while rendering.
    write.replaceExisting = !settings_.noClobber && !settings_.skipExisting;
    warnOnceIfAlphaDropped(format, *output, frame.output);

    // Pixels that will not be written are not rendered.
    const OfxRectI window = window_.value_or(
        ofxhost::intersection(bounds, writtenArea(*output, write)));
    if (!inside(window, bounds))
      throw usageError("--window " + rectText(window) +
                       " reaches outside the output image " + rectText(bounds));
    const std::vector<OfxRectI> tiles = tilesOf(window);

    if (settings_.verbose)
      printRegions(frame, picture, rod, bounds, window, tiles.size());

    const auto start = std::chrono::steady_clock::now();
    for (const OfxRectI &tile : tiles) {
      ofxhost::RenderRequest request;
      request.time = frame.time;
      request.window = tile;
      request.scale = scale;
      request.sequential = frameCount_ > 1;
      checked(instance_->render(request));
    }
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - start;
    instance_->setOutput(nullptr);
    throwIfInterrupted();

    writePicture(frame.output, *output, write);

    if (settings_.verbose)
      std::printf("  render time: %.3f ms\n  wrote %s %s\n", took.count(),
                  frame.output.c_str(),
                  rectText(writtenArea(*output, write)).c_str());
  }

  // Every check a render makes before it reads a pixel, frame by frame,
  // then one line per frame of what would be rendered; nothing is read
  // beyond the headers and nothing is written. As with a render, a job
  // that fails prints nothing on stdout.
  void dryRun(ofxhost::Plugin &plugin) {
    std::vector<std::string> lines;
    char line[64];
    std::snprintf(line, sizeof line, " %u.%u from ", plugin.versionMajor(),
                  plugin.versionMinor());
    lines.push_back(plugin.identifier() + line + plugin.bundlePath());
    lines.push_back("settings: " + settingsText());
    forEachFrame([&](const Frame &frame) {
      throwIfInterrupted("nothing was rendered");
      if (skipsExisting(frame)) {
        lines.push_back("time " + readableNumber(frame.time) + ": " +
                        frame.output + " exists; skipped");
        return true;
      }
      ReadRequest read;
      read.depth = depth_;
      read.alphaOnly = settings_.alphaOnly;
      read.channels = settings_.channels;
      const PictureHeader header = inspectPicture(frame.input, read);
      checkOutputTarget(frame.output, header.depth);
      checkFolderWritable(frame.output);
      checkFormatSupported(header.depth, header.components);
      lines.push_back(
          "time " + readableNumber(frame.time) + ": " + frame.input + " -> " +
          frame.output + " (" + std::to_string(header.width) + "x" +
          std::to_string(header.height) + ", " + depthWord(header.depth) + " " +
          ofxhost::componentsName(header.components) + ")");
      return true;
    });
    for (const std::string &text : lines)
      std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }

  // What the job was asked for beyond its files, as one line.
  std::string settingsText() const {
    std::string text = "scale " + readableNumber(settings_.scale);
    if (!settings_.depth.empty())
      text += ", depth " + settings_.depth;
    if (!settings_.outputType.empty())
      text += ", output type " + settings_.outputType;
    if (!settings_.channels.empty())
      text += ", channels " + settings_.channels;
    if (settings_.alphaOnly)
      text += ", alpha only";
    if (settings_.window)
      text += ", window " + *settings_.window;
    if (settings_.tiles > 1)
      text += ", " + std::to_string(settings_.tiles) + "x" +
              std::to_string(settings_.tiles) + " tiles";
    if (settings_.crop)
      text += ", crop";
    if (settings_.overscan)
      text += ", overscan";
    for (const std::string &set : settings_.sets)
      text += ", --set " + set;
    for (const std::string &key : settings_.keys)
      text += ", --key " + key;
    return text;
  }

  // PNG, TIFF and JPEG record no place, so they keep the input's format;
  // an EXR keeps it in its display window and holds everything drawn
  // outside it in the data window.
  bool keepsInputFormat(const std::string &format) const {
    if (settings_.crop)
      return true;
    if (settings_.overscan)
      return false;
    return format != "openexr";
  }

  void warnOnceIfAlphaDropped(const std::string &format,
                              const ofxhost::Image &output,
                              const std::string &path) {
    if (format != "jpeg" || output.components() == Components::Alpha ||
        alphaDropWarned_)
      return;
    std::fprintf(stderr,
                 "ofxrender: warning: JPEG has no alpha; %s keeps the "
                 "premultiplied colour and drops the alpha\n",
                 path.c_str());
    alphaDropWarned_ = true;
  }

  std::vector<OfxRectI> tilesOf(const OfxRectI &window) {
    if (window.x2 <= window.x1 || window.y2 <= window.y1)
      return {};
    const int most = std::min(window.x2 - window.x1, window.y2 - window.y1);
    if (settings_.tiles > most && !tileCapWarned_) {
      std::fprintf(stderr,
                   "ofxrender: warning: --tile %d asks for more tiles than "
                   "the window %s has pixels; tiles are at least one pixel\n",
                   settings_.tiles, rectText(window).c_str());
      tileCapWarned_ = true;
    }
    return splitIntoTiles(window, settings_.tiles);
  }

  void printRegions(const Frame &frame, const Picture &picture,
                    const OfxRectD &rod, const OfxRectI &bounds,
                    const OfxRectI &window, size_t tileCount) {
    const ofxhost::Image &source = *picture.image;
    const double s = settings_.scale;
    std::printf("frame at time %g: %s -> %s\n", frame.time, frame.input.c_str(),
                frame.output.c_str());
    std::printf("  input: %s, %d channel(s) of %s, %dx%d pixels\n",
                picture.fileFormat.c_str(), picture.fileChannels,
                picture.fileType.c_str(), source.width(), source.height());
    std::printf("  format: %s %s, render scale %g\n",
                depthWord(source.depth()).c_str(),
                ofxhost::componentsName(source.components()), s);
    const double par = source.pixelAspectRatio;
    if (par != 1.0)
      std::printf("  pixel aspect ratio: %g\n", par);
    const OfxRectD sourceRod{0, 0, source.width() * par / s,
                             source.height() / s};
    std::printf("  source region of definition: %s\n",
                rectText(sourceRod).c_str());
    std::printf("  output region of definition: %s\n", rectText(rod).c_str());
    std::printf("  output image bounds: %s pixels\n", rectText(bounds).c_str());
    std::printf("  render window: %s pixels in %zu tile(s)\n",
                rectText(window).c_str(), tileCount);
    const double outputPar =
        pixelAspectRatioOf(instance_->clip(kOfxImageEffectOutputClipName));
    const OfxRectD canonicalWindow{window.x1 * outputPar / s, window.y1 / s,
                                   window.x2 * outputPar / s, window.y2 / s};
    std::map<std::string, OfxRectD> rois;
    if (instance_->regionsOfInterest(frame.time, {s, s}, canonicalWindow, rois)
            .ok())
      for (const auto &[clip, roi] : rois)
        std::printf("  region of interest of %s: %s\n", clip.c_str(),
                    rectText(roi).c_str());
    const unsigned threads = settings_.threads
                                 ? settings_.threads
                                 : std::thread::hardware_concurrency();
    std::printf("  threads: %u\n", threads);
    // Before a render that may take long, so a log shows what is under way.
    std::fflush(stdout);
  }

  const RenderSettings &settings_;
  BitDepth depth_;
  std::optional<OfxRectI> window_;
  std::optional<FrameList> frameList_;
  long long frameCount_ = 1;
  // Declared in this order so that, on every way out, the instance is
  // destroyed before the host that loaded its plug-in.
  std::unique_ptr<ofxhost::Host> host_;
  std::unique_ptr<ofxhost::Instance> instance_;
  std::string pluginName_;
  std::vector<std::string> supportedDepths_;
  std::vector<std::string> sourceComponents_;
  bool alphaDropWarned_ = false;
  bool tileCapWarned_ = false;
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

OfxRectI pixelBounds(const OfxRectD &rod, double scale,
                     double pixelAspectRatio) {
  return ofxhost::canonicalToPixels(rod, {scale, scale}, pixelAspectRatio);
}

void runRender(const RenderSettings &settings) {
  RenderJob job(settings);
  job.run();
}

} // namespace ofxrender
