#include "Objects.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>

#include "ArrayImage.h"
#include "Describe.h"
#include "Errors.h"
#include "ListPlugins.h"
#include "ParamValues.h"
#include "PluginLookup.h"
#include "SearchFolders.h"
#include "ToolError.h"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace ofxpy {
namespace {

std::string rectText(const OfxRectI &r) {
  return "(" + std::to_string(r.x1) + ", " + std::to_string(r.y1) + ", " +
         std::to_string(r.x2) + ", " + std::to_string(r.y2) + ")";
}

bool contains(const std::vector<std::string> &list, const std::string &value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::vector<std::string> strings(ofxhost::PropertySet &props,
                                 const std::string &name) {
  return props.has(name) ? props.getStrings(name) : std::vector<std::string>{};
}

// The folder this module was loaded from.
fs::path moduleFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&moduleFolder), &info) ||
      !info.dli_fname)
    return {};
  std::error_code error;
  return fs::canonical(info.dli_fname, error).parent_path();
}

// The probe program runs each bundle in a fresh process: the interpreter
// may run threads of its own, so a forked probe could inherit a held lock.
// It sits in libexec beside the module's build folder, or under the
// prefix the module is installed in.
std::string probeProgram() {
  const fs::path here = moduleFolder();
  std::vector<fs::path> candidates;
  if (!here.empty()) {
    candidates.push_back(here.parent_path() / "libexec" / "ofxhost-probe");
    candidates.push_back(here.parent_path().parent_path().parent_path() /
                         "libexec" / "ofxhost-probe");
  }
  candidates.push_back(QFX_INSTALLED_PROBE);
  std::error_code error;
  for (const fs::path &candidate : candidates)
    if (fs::is_regular_file(candidate, error))
      return candidate.string();
  return "";
}

bool looksLikePath(const std::string &name) {
  auto endsWith = [&](const std::string &suffix) {
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) ==
               0;
  };
  return name.find('/') != std::string::npos || endsWith(".ofx.bundle") ||
         endsWith(".ofx");
}

// A Python number as text that parses back to the same double.
std::string numberText(const py::handle &value) {
  if (py::isinstance<py::int_>(value))
    return py::str(value);
  return py::repr(py::float_(py::reinterpret_borrow<py::object>(value)));
}

// A Python value as the text ofxrender's --set takes: numbers, sequences
// of numbers for colours and 2D/3D values, option texts or indices,
// booleans.
std::string valueText(const std::string &name, const py::handle &value) {
  if (py::isinstance<py::str>(value))
    return value.cast<std::string>();
  if (py::isinstance<py::bool_>(value))
    return value.cast<bool>() ? "true" : "false";
  try {
    if (py::hasattr(value, "__len__") || py::isinstance<py::iterable>(value)) {
      std::string text;
      for (const py::handle item : py::iter(value))
        text += (text.empty() ? "" : ",") + numberText(item);
      return text;
    }
    return numberText(value);
  } catch (const py::error_already_set &) {
    raiseBadValue(name + ": " + std::string(py::repr(value)) +
                  " is not a number, a sequence of numbers, a text or a "
                  "boolean");
  }
}

bool hasParam(ofxhost::Instance &instance, const std::string &name) {
  return contains(instance.paramNames(), name);
}

// Applies assignments through ofxrender's rules and messages; an unknown
// name and a bad value raise their own kinds.
void applyChecked(ofxhost::Instance &instance,
                  const std::vector<ofxrender::ParamAssignment> &sets,
                  const std::vector<ofxrender::ParamAssignment> &keys) {
  try {
    ofxrender::applyAssignments(instance, sets, keys);
  } catch (const ofxrender::ToolError &error) {
    for (const auto *list : {&sets, &keys})
      for (const ofxrender::ParamAssignment &assignment : *list)
        if (!hasParam(instance, assignment.name))
          raiseUnknownParameter(error.what());
    raiseBadValue(error.what());
  }
}

} // namespace

// ---------------------------------------------------------------- Host

Host::Host(const std::vector<std::string> &pluginPaths,
           std::optional<unsigned> threads)
    : loaded_(std::make_shared<LoadedHost>()) {
  ofxhost::HostOptions options = ofxrender::toolHostOptions();
  options.probeProgram = probeProgram();
  options.cpuCount = threads.value_or(0);
  // A Ctrl-C while a folder is scanned stops the scan and raises
  // KeyboardInterrupt; the scan runs on this thread, holding the GIL.
  options.stopRequested = [] {
    return PyGILState_Check() && PyErr_CheckSignals() != 0;
  };
  loaded_->pluginPaths = pluginPaths;
  loaded_->host = std::make_unique<ofxhost::Host>(options);
  for (const std::string &path : pluginPaths) {
    std::error_code error;
    if (!fs::is_directory(path, error))
      PyErr_WarnEx(PyExc_UserWarning,
                   ("plugin_path " + path + " is not a folder").c_str(), 1);
    loaded_->host->addSearchPath(path);
  }
  loaded_->host->scan();
  if (PyErr_Occurred())
    throw py::error_already_set();
}

py::list Host::plugins() {
  std::vector<ofxhost::Plugin *> plugins = loaded_->host->plugins();
  std::stable_sort(plugins.begin(), plugins.end(),
                   [](ofxhost::Plugin *a, ofxhost::Plugin *b) {
                     return a->identifier() < b->identifier();
                   });
  py::list list;
  for (ofxhost::Plugin *plugin : plugins) {
    const bool described = plugin->describe().ok();
    py::dict entry;
    entry["identifier"] = plugin->identifier();
    entry["version"] =
        py::make_tuple(plugin->versionMajor(), plugin->versionMinor());
    entry["label"] = described ? plugin->label() : "";
    entry["bundle"] = plugin->bundlePath();
    list.append(entry);
  }
  return list;
}

std::vector<std::string> Host::errors() const {
  return ofxrender::bundleProblems(loaded_->host->errors());
}

std::unique_ptr<Effect> Host::instance(const std::string &name) {
  ofxhost::Host &host = *loaded_->host;
  if (looksLikePath(name)) {
    try {
      return std::make_unique<Effect>(loaded_,
                                      ofxrender::openPlugin(host, name, {}));
    } catch (const ofxrender::ToolError &error) {
      if (PyErr_Occurred()) // a Ctrl-C stopped reading the bundle
        throw py::error_already_set();
      if (error.code() == ofxrender::kExitUsage)
        raiseUnknownPlugin(error.what());
      raisePluginError(error.what(), kOfxStatFailed);
    }
  }
  std::string error;
  ofxhost::Plugin *plugin = host.find(name, &error);
  if (plugin)
    return std::make_unique<Effect>(loaded_, *plugin);
  if (error.empty())
    error = "no plug-in named '" + name + "'";
  if (error.rfind("no plug-in named", 0) == 0)
    error += "; " + ofxrender::searchedFoldersText(host.options(),
                                                   loaded_->pluginPaths);
  raiseUnknownPlugin(error);
}

// ---------------------------------------------------------------- Effect

Effect::Effect(std::shared_ptr<LoadedHost> host, ofxhost::Plugin &plugin)
    : host_(std::move(host)), plugin_(plugin),
      identifier_(plugin.identifier()) {
  checked(plugin.describe());
  ofxhost::PropertySet &effect = plugin.descriptor().props();
  if (!contains(strings(effect, kOfxImageEffectPropSupportedContexts),
                kOfxImageEffectContextFilter))
    raiseUnknownPlugin(identifier_ +
                       " has no filter context; ofxhost renders filters");
  checked(plugin.describeInContext(kOfxImageEffectContextFilter));
  supportedDepths_ = strings(effect, kOfxImageEffectPropSupportedPixelDepths);
  if (ofxhost::Descriptor *filter =
          plugin.contextDescriptor(kOfxImageEffectContextFilter))
    sourceComponents_ =
        strings(filter->clipProps(kOfxImageEffectSimpleSourceClipName),
                kOfxImageEffectPropSupportedComponents);

  ofxhost::ActionResult result;
  instance_ = plugin.createInstance(kOfxImageEffectContextFilter, &result);
  if (!instance_)
    raisePluginError(identifier_ + ": " +
                         (result.message.empty() ? "cannot create an instance"
                                                 : result.message),
                     result.status);
  // The plug-in's abort polling is how a Ctrl-C reaches a render under way.
  instance_->setAbortPredicate([this](long) { return abort_.load(); });
}

// The destroy action runs holding the GIL, as every action but a render
// does: the host's bookkeeping of instances is not for two threads at once.
Effect::~Effect() = default;

// Waits, without the GIL, while another thread renders this instance: a
// render's last step takes the GIL back, so waiting with it would never end.
std::unique_lock<std::mutex> Effect::claim() {
  std::unique_lock<std::mutex> lock(busy_, std::try_to_lock);
  if (!lock.owns_lock()) {
    py::gil_scoped_release release;
    lock.lock();
  }
  return lock;
}

void Effect::checked(const ofxhost::ActionResult &result) const {
  if (!result.ok())
    raisePluginError(identifier_ + ": " + result.message, result.status);
}

py::object Effect::parameters() {
  const std::unique_lock<std::mutex> lock = claim();
  nlohmann::ordered_json description;
  try {
    description = ofxrender::describePlugin(plugin_);
  } catch (const ofxrender::ToolError &error) {
    raisePluginError(error.what(), kOfxStatFailed);
  }
  return py::module_::import("json").attr("loads")(
      description["parameters"].dump());
}

void Effect::set(const py::kwargs &values) {
  const std::unique_lock<std::mutex> lock = claim();
  std::vector<ofxrender::ParamAssignment> sets;
  for (const auto &[name, value] : values) {
    ofxrender::ParamAssignment assignment;
    assignment.name = name.cast<std::string>();
    assignment.value = valueText(assignment.name, value);
    assignment.source = assignment.name + "=" + assignment.value;
    sets.push_back(assignment);
  }
  // Every value is checked before any is set, so a bad one leaves the
  // instance as it was.
  for (const ofxrender::ParamAssignment &assignment : sets) {
    if (!hasParam(*instance_, assignment.name))
      applyChecked(*instance_, {assignment}, {});
    ofxhost::Param &param = instance_->param(assignment.name);
    const std::string &type = param.type();
    if (type == kOfxParamTypeString || type == kOfxParamTypeStrChoice)
      continue;
    try {
      ofxrender::parseParamValue(param, assignment.value);
    } catch (const ofxrender::ToolError &error) {
      raiseBadValue(error.what());
    }
  }
  applyChecked(*instance_, sets, {});
}

void Effect::key(const std::string &name, double time,
                 const py::handle &value) {
  const std::unique_lock<std::mutex> lock = claim();
  ofxrender::ParamAssignment assignment;
  assignment.name = name;
  assignment.time = time;
  assignment.value = valueText(name, value);
  assignment.source =
      name + "@" + ofxrender::readableNumber(time) + "=" + assignment.value;
  applyChecked(*instance_, {}, {assignment});
}

py::object Effect::value(const std::string &name, double time) {
  const std::unique_lock<std::mutex> lock = claim();
  if (!hasParam(*instance_, name))
    raiseUnknownParameter("unknown parameter '" + name + "'");
  ofxhost::Param &param = instance_->param(name);
  const std::string &type = param.type();
  if (type == kOfxParamTypeString || type == kOfxParamTypeStrChoice)
    return py::str(param.stringValue());
  const std::vector<double> value = param.valueAt(time);
  if (value.size() == 1)
    return py::float_(value.front());
  py::tuple components(value.size());
  for (size_t i = 0; i < value.size(); ++i)
    components[i] = value[i];
  return std::move(components);
}

void Effect::checkFormatSupported(const ofxhost::Image &image) const {
  const std::string depth = ofxhost::bitDepthName(image.depth());
  if (!contains(supportedDepths_, depth))
    throw py::value_error(identifier_ + " does not take " + depth + " images");
  const std::string components = ofxhost::componentsName(image.components());
  if (!sourceComponents_.empty() && !contains(sourceComponents_, components))
    throw py::value_error(identifier_ + " does not take " + components +
                          " images");
}

// The render's actions, as ofxrender runs them for one frame.
ofxhost::ActionResult Effect::renderTiles(const std::vector<OfxRectI> &tiles,
                                          const RenderOptions &options) {
  const OfxPointD scale{options.scale, options.scale};
  ofxhost::ActionResult result =
      instance_->beginSequenceRender(options.time, options.time, scale);
  if (!result.ok())
    return result;
  for (const OfxRectI &tile : tiles) {
    if (abort_)
      break;
    ofxhost::RenderRequest request;
    request.time = options.time;
    request.window = tile;
    request.scale = scale;
    request.imagePolicy = options.images;
    result = instance_->render(request);
    if (!result.ok())
      break;
  }
  const ofxhost::ActionResult ended =
      instance_->endSequenceRender(options.time, options.time, scale);
  return result.ok() ? ended : result;
}

// The render runs on a thread of its own while this one, without the GIL,
// looks for a Ctrl-C every few milliseconds: a KeyboardInterrupt raises
// the abort flag the plug-in polls, waits for it to stop and is raised.
ofxhost::ActionResult
Effect::renderInterruptibly(const std::vector<OfxRectI> &tiles,
                            const RenderOptions &options) {
  abort_ = false;
  std::optional<py::error_already_set> interrupt;
  ofxhost::ActionResult result;
  {
    py::gil_scoped_release release;
    std::future<ofxhost::ActionResult> done = std::async(
        std::launch::async, [&] { return renderTiles(tiles, options); });
    while (done.wait_for(std::chrono::milliseconds(20)) !=
           std::future_status::ready) {
      if (interrupt)
        continue;
      py::gil_scoped_acquire acquire;
      if (PyErr_CheckSignals() != 0) {
        interrupt.emplace();
        abort_ = true;
      }
    }
    result = done.get();
  }
  if (interrupt)
    throw *interrupt;
  return result;
}

Render Effect::render(const py::array &pixels, const RenderOptions &options) {
  if (!(options.scale > 0) || !std::isfinite(options.scale))
    throw py::value_error("scale must be a number greater than 0");
  if (options.tiles < 1)
    throw py::value_error("tiles must be 1 or more");
  ofxhost::ImagePtr source = imageFromArray(pixels);
  checkFormatSupported(*source);
  const std::unique_lock<std::mutex> lock = claim();

  const double s = options.scale;
  const OfxPointD scale{s, s};
  source->renderScale = scale;
  instance_->setSource(source);
  OfxRectD rod{};
  checked(instance_->regionOfDefinition(options.time, scale, rod));
  for (double v : {rod.x1, rod.y1, rod.x2, rod.y2})
    if (!std::isfinite(v) || std::fabs(v * s) > 1e7)
      raisePluginError(identifier_ + ": the output's region of definition "
                                     "is too large for an image",
                       kOfxStatFailed);
  const OfxRectI bounds = ofxhost::canonicalToPixels(rod, scale);
  if (bounds.x2 <= bounds.x1 || bounds.y2 <= bounds.y1)
    raisePluginError(identifier_ + ": the output's region of definition " +
                         rectText(bounds) + " is empty",
                     kOfxStatFailed);
  ofxhost::Clip &outputClip = instance_->clip(kOfxImageEffectOutputClipName);
  ofxhost::ImagePtr output =
      outputImage(bounds, outputClip.depth(), outputClip.components());
  output->renderScale = scale;

  const OfxRectI window = options.window.value_or(bounds);
  if (window.x1 >= window.x2 || window.y1 >= window.y2)
    throw py::value_error("window " + rectText(window) +
                          " is empty (need x1 < x2, y1 < y2)");
  if (window.x1 < bounds.x1 || window.y1 < bounds.y1 || window.x2 > bounds.x2 ||
      window.y2 > bounds.y2)
    throw py::value_error("window " + rectText(window) +
                          " reaches outside the output image " +
                          rectText(bounds));

  instance_->setOutput(output);
  ofxhost::ActionResult result;
  try {
    result = renderInterruptibly(ofxhost::splitIntoTiles(window, options.tiles),
                                 options);
  } catch (...) {
    instance_->setOutput(nullptr);
    instance_->clip(kOfxImageEffectSimpleSourceClipName).clearImages();
    throw;
  }
  instance_->setOutput(nullptr);
  instance_->clip(kOfxImageEffectSimpleSourceClipName).clearImages();
  checked(result);

  Render render;
  render.pixels = arrayOfImage(output, pixels.ndim() == 2);
  render.bounds = bounds;
  render.window = window;
  return render;
}

} // namespace ofxpy
