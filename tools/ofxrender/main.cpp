// ofxrender: renders image files through OpenFX filter plug-ins, and lists
// and describes the plug-ins it finds.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "BuildCommit.h"
#include "Describe.h"
#include "ImageFile.h"
#include "Interrupt.h"
#include "ListPlugins.h"
#include "PluginLookup.h"
#include "RenderJob.h"
#include "ToolError.h"

namespace {

using namespace ofxrender;

const char *kFooter =
    R"(Exit codes: 0 success, 1 a plug-in failed (load, describe or render),
2 bad command line (option, plug-in, parameter or value), 3 a file could not
be read or written (or an output would replace an input), 128 + the signal
when stopped by one: 129 SIGHUP, 130 SIGINT, 131 SIGQUIT, 138 SIGUSR1, 140
SIGUSR2, 141 SIGPIPE, 143 SIGTERM. Outputs are written to a temporary file
and renamed, so a failed render never leaves a file behind.)";

const char *kRenderFooter =
    R"(Pixels: the file's top row is the image's top row (y = H - 1); the input's
pixel area is (0, 0, W, H) at the render scale. PNG alpha is premultiplied on
reading and un-premultiplied on writing; TIFF and EXR pass through as they
are. The output keeps the input's format: PNG, TIFF and JPEG hold the input's
area, EXR keeps the input's display window and holds the whole region of
definition in its data window (--overscan: the whole region everywhere). The
depth is the rendered one (byte -> 8-bit, short -> 16-bit, float -> 32-bit
float; a half EXR stays half unless --output-type says otherwise), and PNG
alpha is premultiplied at that depth. The input's other channels (EXR),
compression and metadata are kept where the output format holds them. No
colour management: values are written as they are (linear values stay
linear), with the input's colour tag or none. An output that is an input is
refused. Ctrl-C or SIGTERM stops the job (exit 130 or 143) and leaves no
file for the unfinished frame.

Run "ofxrender render PLUGIN --help" for the plug-in's parameters.)";

// "ofxrender 1.0.0 (commit 1a2b3c4)", or without the commit when the build
// did not know it.
std::string versionLine() {
  std::string line = "ofxrender " QFX_VERSION;
  if (*QFX_BUILD_COMMIT)
    line += " (commit " QFX_BUILD_COMMIT ")";
  return line;
}

// What a stop leaves undone, for the line that reports it.
const char *g_unfinished = "nothing was written for the unfinished frame";

struct DescribeSettings {
  std::string plugin;
  bool json = false;
  std::vector<std::string> pluginPaths;
};

void addPluginPathOption(CLI::App &command, std::vector<std::string> &paths) {
  command
      .add_option("--plugin-path", paths,
                  "Directory searched for .ofx.bundle folders first "
                  "(repeatable)")
      ->allow_extra_args(false)
      ->type_name("DIR");
}

// The plug-in cache flags, taken by every command.
struct CacheFlags {
  bool rescan = false;
  bool noCache = false;
};

void addCacheOptions(CLI::App &command, CacheFlags &flags) {
  command.add_flag("--rescan", flags.rescan,
                   "Probe every bundle again and rewrite the plug-in cache");
  command.add_flag("--no-cache", flags.noCache,
                   "Neither read nor write the plug-in cache (also "
                   "OFXRENDER_NO_CACHE=1)");
}

// "render PLUGIN --help": what --set and --key accept for that plug-in.
void printPluginParameters(const RenderSettings &settings) {
  ofxhost::Host host(toolHostOptions());
  ofxhost::Plugin &plugin =
      openPlugin(host, settings.plugin, settings.pluginPaths);
  const std::string text = describeAsText(describePlugin(plugin));
  throwIfInterrupted(g_unfinished);
  std::cout << "\n" << text;
  std::cout.flush();
}

void describe(const DescribeSettings &settings) {
  ofxhost::Host host(toolHostOptions());
  ofxhost::Plugin &plugin =
      openPlugin(host, settings.plugin, settings.pluginPaths);
  const CrashNote note(plugin.identifier(), "being described");
  const nlohmann::ordered_json description = describePlugin(plugin);
  // A stop asked for while the plug-in was found shows nothing.
  throwIfInterrupted(g_unfinished);
  if (settings.json)
    std::cout << description.dump(2, ' ', false,
                                  nlohmann::json::error_handler_t::replace)
              << "\n";
  else
    std::cout << describeAsText(description);
  std::cout.flush();
}

void addRenderOptions(CLI::App &render, RenderSettings &s) {
  render
      .add_option("PLUGIN", s.plugin,
                  "Identifier, its last label (qoutline) or label")
      ->required();
  render.add_option("INPUT", s.input, "Input image file")->required();
  render
      .add_option("OUTPUT", s.output,
                  "Output image file (.png .tif .exr .jpg); never an input")
      ->required();
  render
      .add_option("--set", s.sets,
                  "NAME=VALUE: a number; R,G,B[,A] or X,Y[,Z] components; a "
                  "choice by index or option text (repeatable)")
      ->allow_extra_args(false)
      ->type_name("NAME=VALUE");
  render
      .add_option("--key", s.keys,
                  "NAME@TIME=VALUE: a keyframe (repeatable); values between "
                  "keys are interpolated linearly")
      ->allow_extra_args(false)
      ->type_name("NAME@TIME=VALUE");
  render.add_option("--time", s.time, "Render time (default 0)")
      ->type_name("T");
  render
      .add_option("--frames", s.frames,
                  "Render frames A to B at times A..B, or a list such as "
                  "1-10,15,20-30x2 (x: step); runs of # in INPUT and OUTPUT "
                  "become the frame number")
      ->type_name("A-B[xS],...");
  render
      .add_option("--scale", s.scale,
                  "Render scale; the input is taken to be at this scale "
                  "(default 1)")
      ->type_name("S");
  render
      .add_option("--window", s.window,
                  "Render window in output pixels (y up; default: the whole "
                  "output image)")
      ->type_name("X1,Y1,X2,Y2");
  render
      .add_option("--tile", s.tiles,
                  "Render the window as N x N tiles, one render action each")
      ->check(CLI::Range(1, 4096))
      ->type_name("N");
  render
      .add_option_function<std::string>(
          "--images",
          [&s](const std::string &policy) {
            s.images = policy == "requested" ? ofxhost::ImagePolicy::Requested
                                             : ofxhost::ImagePolicy::Whole;
          },
          "What each render is handed: whole images, or only the "
          "output window and the source region the plug-in asked "
          "for, as a host that tiles would (default: whole)")
      ->check(CLI::IsMember({"whole", "requested"}, CLI::ignore_case))
      ->type_name("whole|requested");
  render
      .add_option("--threads", s.threads,
                  "CPUs offered through the multi-thread suite (default: all)")
      ->check(CLI::Range(1u, 4096u))
      ->type_name("N");
  render
      .add_option("--depth", s.depth,
                  "Pixel depth rendered (default: the input file's)")
      ->transform(CLI::IsMember({"byte", "short", "float"}, CLI::ignore_case))
      ->type_name("byte|short|float");
  render
      .add_option("--output-type", s.outputType,
                  "EXR pixel type written: half or float (renders in float)")
      ->transform(CLI::IsMember({"half", "float"}, CLI::ignore_case))
      ->type_name("half|float");
  render
      .add_option("--compression", s.compression,
                  "EXR: none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, "
                  "dwab; TIFF: none, lzw, zip, packbits (default: the "
                  "input's when it is of the same format, else zip)")
      ->type_name("NAME");
  render
      .add_option("--quality", s.quality,
                  "JPEG quality, 1-100 (default: " +
                      std::to_string(kDefaultJpegQuality) + ")")
      ->check(CLI::Range(1, 100))
      ->type_name("N");
  render
      .add_option("--channels", s.channels,
                  "Input channels read and written back: a layer name "
                  "(diffuse: diffuse.R, .G, .B, .A) or names such as R,G,B,A "
                  "(default: R, G, B, A); an EXR output keeps the others")
      ->type_name("LAYER|NAMES");
  render.add_flag("--alpha", s.alphaOnly,
                  "Render alpha-only images (the file's alpha channel, or its "
                  "only channel)");
  render.add_flag("--crop", s.crop,
                  "Write only the input's pixel area, in EXR too");
  render.add_flag("--overscan", s.overscan,
                  "Write the whole region of definition, in PNG, TIFF and "
                  "JPEG too");
  render.add_flag("-n,--no-clobber", s.noClobber,
                  "Refuse outputs that exist already");
  render.add_flag("--skip-existing", s.skipExisting,
                  "Leave outputs that exist already as they are and render "
                  "only the missing frames (to resume a job; -n then has "
                  "nothing to refuse)");
  addPluginPathOption(render, s.pluginPaths);
  render.add_flag("-v,--verbose", s.verbose,
                  "Print regions, window, format, threads and render time");
  render.add_flag("--dry-run", s.dryRun,
                  "Check every input, output, parameter and frame as a "
                  "render would, print one line per frame and render "
                  "nothing");
  render.footer(kRenderFooter);
}

int run(int argc, char **argv) {
  CLI::App app{"Renders image files through OpenFX filter plug-ins.",
               "ofxrender"};
  app.require_subcommand(1);
  app.footer(kFooter);
  app.set_version_flag("--version", versionLine());

  CacheFlags cacheFlags;
  std::vector<std::string> listPaths;
  bool listJson = false;
  CLI::App *list = app.add_subcommand(
      "list", "List the plug-ins found: identifier, version, label, bundle");
  list->add_flag("--json", listJson,
                 "One JSON array of the same fields, in the same order");
  addPluginPathOption(*list, listPaths);
  addCacheOptions(*list, cacheFlags);

  DescribeSettings describeSettings;
  CLI::App *describeCommand = app.add_subcommand(
      "describe", "Show what a plug-in declares: effect, clips, parameters");
  describeCommand
      ->add_option("PLUGIN", describeSettings.plugin,
                   "Identifier, its last label (qoutline) or label")
      ->required();
  describeCommand->add_flag("--json", describeSettings.json,
                            "One JSON document, texts exactly as declared");
  addPluginPathOption(*describeCommand, describeSettings.pluginPaths);
  addCacheOptions(*describeCommand, cacheFlags);

  RenderSettings renderSettings;
  CLI::App *render =
      app.add_subcommand("render", "Render INPUT through PLUGIN into OUTPUT");
  addRenderOptions(*render, renderSettings);
  addCacheOptions(*render, cacheFlags);

  // Nothing asked for: what can be asked for, as an error.
  if (argc <= 1) {
    std::cerr << app.help();
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    if (error.get_exit_code() != 0)
      throw usageError(error.what());
    const int code = app.exit(error); // --help, --version
    setPluginCacheUse(cacheFlags.rescan, cacheFlags.noCache);
    if (!renderSettings.plugin.empty()) {
      g_unfinished = "nothing was described";
      printPluginParameters(renderSettings);
    }
    return code;
  }
  setPluginCacheUse(cacheFlags.rescan, cacheFlags.noCache);

  if (list->parsed()) {
    g_unfinished = "nothing was listed";
    listPlugins(listPaths, listJson);
  } else if (describeCommand->parsed()) {
    g_unfinished = "nothing was described";
    describe(describeSettings);
  } else if (render->parsed()) {
    runRender(renderSettings);
  }
  return kExitOk;
}

} // namespace

// Read by the sanitizers in sanitizer builds (unused otherwise).
// OpenImageIO's PNG reader loses its error text when libpng aborts on a
// truncated file; the leak is theirs and happens once, on the way to an error
// exit. Matching it needs whole allocation stacks: the system libraries have
// no frame pointers for the fast unwinder.
extern "C" const char *__asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
extern "C" const char *__lsan_default_options() {
  return "print_suppressions=0";
}
extern "C" const char *__lsan_default_suppressions() {
  return "leak:PNGInput::PngReadCallback\n";
}

// A failure met while stopping (a read cut short, a render the plug-in
// abandoned) is a consequence of the stop, so the stop is what is reported.
int fail(const ofxrender::ToolError &error) {
  if (ofxrender::interrupted() && error.code() < ofxrender::kExitInterrupted) {
    try {
      ofxrender::throwIfInterrupted(g_unfinished);
    } catch (const ofxrender::ToolError &stop) {
      return fail(stop);
    }
  }
  std::fprintf(stderr, "ofxrender: error: %s\n", error.what());
  return error.code();
}

int main(int argc, char **argv) {
  ofxrender::installInterruptHandlers();
  try {
    return run(argc, argv);
  } catch (const ofxrender::ToolError &error) {
    return fail(error);
  } catch (const std::exception &error) {
    return fail(ofxrender::renderError(error.what()));
  }
}
