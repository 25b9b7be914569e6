// Bad files and bad bundles at the command line, with both effects: each
// is one clear line on stderr and a non-zero exit, and no output file (nor a
// temporary one) is left behind. While listing, a bad bundle is reported on
// stderr and every good plug-in is still listed.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <fstream>

#include "ToolRunner.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;
using ofxrender_test::listDir;
using ofxrender_test::pattern;
using ofxrender_test::RunningTool;
using ofxrender_test::RunResult;
using ofxrender_test::runTool;
using ofxrender_test::startTool;
using ofxrender_test::ToolTest;
using ofxrender_test::waitTool;
using ofxrender_test::writeFile;

constexpr int kExitPluginFailed = 1;
constexpr int kExitFile = 3;

const char *const kEffects[] = {"qgradient", "qoutline"};

int lineCount(const std::string &text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// ------------------------------------------------------------ bad images

struct BadImage {
  const char *name;  // the file the case writes, in the scratch directory
  const char *error; // what stderr must say after the file's name
};

// Every bad input, written once per test: cut short, corrupted, empty, of
// no size, and with more channels than the tool can map to RGBA.
const BadImage kBadImages[] = {
    {"cut.tif", "cannot read"},
    {"cut.png", "cannot read"},
    {"cut.exr", "cannot read"},
    {"scrambled.tif", "cannot read"},
    {"scrambled.png", "cannot read"},
    {"scrambled.exr", "cannot read"},
    {"empty.tif", "cannot read"},
    {"empty.png", "cannot read"},
    {"nothing.pgm", "has no two-dimensional pixels"},
    {"seven.exr", "has 7 channels"},
};

class BadInputFiles : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeDamaged("tif", OIIO::TypeDesc::UINT16);
    writeDamaged("png", OIIO::TypeDesc::UINT8);
    writeDamaged("exr", OIIO::TypeDesc::FLOAT);
    writeBytes(path("empty.tif"), "");
    writeBytes(path("empty.png"), "");
    writeBytes(path("nothing.pgm"), "P5\n0 0\n255\n");
    // Many channels, none named as colour: which to read is not known.
    auto unnamed = [](OIIO::ImageSpec &spec) {
      spec.channelnames.clear();
      for (int c = 0; c < spec.nchannels; ++c)
        spec.channelnames.push_back("pass" + std::to_string(c));
      spec.alpha_channel = -1;
    };
    writeFile(path("seven.exr"), 16, 8, 7, OIIO::TypeDesc::FLOAT,
              pattern(16, 8, 7, false), unnamed);
    before_ = listDir(dir_);
  }

  // "cut.EXT": the first half of a good file; "scrambled.EXT": a good file
  // whose bytes after the format's signature are overwritten.
  void writeDamaged(const std::string &ext, OIIO::TypeDesc type) {
    const std::string whole = path("whole." + ext);
    writeFile(whole, 128, 96, 4, type, pattern(128, 96, 4, false));
    std::string bytes = contents(whole);
    fs::remove(whole);
    writeBytes(path("cut." + ext), bytes.substr(0, bytes.size() / 2));
    for (size_t i = 8; i < bytes.size(); ++i)
      bytes[i] = static_cast<char>(i * 131 + 7);
    writeBytes(path("scrambled." + ext), bytes);
  }

  std::vector<std::string> before_;
};

// The file is read before the effect has a say, so the cases take turns
// with the two effects rather than each running twice.
TEST_F(BadInputFiles, OneLineAnErrorExitAndNoOutput) {
  size_t turn = 0;
  for (const BadImage &bad : kBadImages) {
    const char *effect = kEffects[turn++ % 2];
    const std::string what = std::string(effect) + " on " + bad.name;
    const RunResult run =
        ofxrender_test::render(effect, path(bad.name), path("out.tif"));
    EXPECT_EQ(run.exitCode, kExitFile) << what << ": " << run.err;
    EXPECT_NE(run.err.find(std::string(bad.name) + ": " + bad.error),
              std::string::npos)
        << what << ": expected '" << bad.error << "' in: " << run.err;
    EXPECT_EQ(run.err.rfind("ofxrender: error: ", 0), 0u)
        << what << ": " << run.err;
    EXPECT_EQ(lineCount(run.err), 1) << what << ": " << run.err;
    EXPECT_EQ(listDir(dir_), before_) << what << ": files left behind";
  }
}

// The channel counts the tool does map (grey, grey and alpha, RGB, and
// RGBA followed by further channels, as TIFF names them) still render with
// both effects.
TEST_F(BadInputFiles, MappedChannelCountsStillRender) {
  for (int channels : {1, 2, 3, 5}) {
    const std::string input = path("in" + std::to_string(channels) + ".tif");
    writeFile(input, 16, 8, channels, OIIO::TypeDesc::UINT8,
              pattern(16, 8, channels, false));
    for (const char *effect : kEffects) {
      const std::string output = path(std::string("out-") + effect + ".tif");
      const RunResult run = ofxrender_test::render(effect, input, output);
      EXPECT_EQ(run.exitCode, 0)
          << effect << " on " << channels << " channels: " << run.err;
      EXPECT_TRUE(fs::exists(output))
          << effect << " on " << channels << " channels";
    }
  }
}

// ------------------------------------------------------------ bad bundles

// A plug-in folder as users have them: both effects and the test probes
// (two strict plug-ins in one binary among them) beside broken bundles of
// every kind and odd but valid ones.
struct BrokenBundle {
  const char *name;
  const char *reason; // what its stderr line says after the bundle's path
};

const BrokenBundle kBrokenBundles[] = {
    {"NotALibrary", "not a shared library"},
    {"Truncated", "cut short"},
    {"WrongMachine", "built for another processor"},
    {"NoEntryPoints", "does not export OfxGetNumberOfPlugins"},
    {"ZeroPlugins", "reports 0 plug-ins"},
    {"BrokenLoad", "OfxActionLoad failed"},
    {"CrashEntry", "while calling OfxGetNumberOfPlugins"},
    {"CrashLoad", "while loading"},
    {"MissingDependency", "libQfxVanishedDependency"},
};

struct UsableFilter {
  const char *identifier;
  const char *bundle;
};

const UsableFilter kUsableFilters[] = {
    {"net.qfx.qgradient", "Tintrow"},
    {"net.qfx.qoutline", "Rimlet"},
    {"net.qfx.test.probe", "QfxTestPlugin"},
    {"net.qeffects.test.StrictFirst", "StrictPair"},
    {"net.qeffects.test.StrictSecond", "StrictPair"},
};

class BadBundles : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    plugins_ = path("plugins");
    fs::create_directories(plugins_);
    for (const char *bundle : {"Tintrow", "Rimlet"})
      copyBundle(QFX_TEST_BUNDLE_DIR, bundle);
    for (const char *bundle :
         {"QfxTestPlugin", "StrictPair", "RimletCoreProbe"})
      if (fs::exists(std::string(QFX_PROBE_BUNDLE_DIR) + "/" + bundle +
                     ".ofx.bundle"))
        copyBundle(QFX_PROBE_BUNDLE_DIR, bundle);
    for (const char *bundle :
         {"NoEntryPoints", "ZeroPlugins", "BrokenLoad", "CrashEntry",
          "CrashLoad", "MissingDependency", "GeneratorOnly", "DescribeFails"})
      copyBundle(QFX_BAD_BUNDLE_DIR, bundle);
    writeBinary("NotALibrary", "\x7f"
                               "ELF but nothing more\n");
    const std::string rimlet = contents(binaryOf(bundle("Rimlet"), "Rimlet"));
    writeBinary("Truncated", rimlet.substr(0, 5000));
    std::string otherMachine = contents(binaryOf(bundle("Tintrow"), "Tintrow"));
    otherMachine[18] = static_cast<char>(183); // EM_AARCH64
    otherMachine[19] = 0;
    writeBinary("WrongMachine", otherMachine);
    writeFile(path("in.tif"), 16, 8, 4, OIIO::TypeDesc::UINT8,
              pattern(16, 8, 4, false));
    before_ = listDir(dir_);
  }

  std::string bundle(const std::string &name) const {
    return plugins_ + "/" + name + ".ofx.bundle";
  }

  static std::string binaryOf(const std::string &bundle,
                              const std::string &name) {
    return bundle + "/Contents/Linux-x86-64/" + name + ".ofx";
  }

  void copyBundle(const std::string &from, const std::string &name) {
    fs::copy(from + "/" + name + ".ofx.bundle", bundle(name),
             fs::copy_options::recursive);
  }

  void writeBinary(const std::string &name, const std::string &bytes) {
    fs::create_directories(bundle(name) + "/Contents/Linux-x86-64");
    writeBytes(binaryOf(bundle(name), name), bytes);
  }

  RunResult renderWith(const std::string &plugin) {
    return runTool({"render", "--plugin-path", plugins_, plugin, path("in.tif"),
                    path("out.tif")});
  }

  std::string plugins_;
  std::vector<std::string> before_;
};

size_t occurrences(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++count;
  return count;
}

// Each broken bundle is named once, with its reason; everything usable is
// listed with the bundle it came from; the process ends normally.
TEST_F(BadBundles, ListingReportsEachOnceAndListsTheRest) {
  const RunResult run = runTool({"list", "--plugin-path", plugins_});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  for (const UsableFilter &filter : kUsableFilters)
    EXPECT_EQ(occurrences(run.out, std::string(filter.identifier) + "\t"), 1u)
        << filter.identifier << " not listed once:\n"
        << run.out;
  for (const char *line :
       {"net.qfx.qgradient\t1.0\tQ_Gradient\t",
        "net.qeffects.test.StrictSecond\t1.0\tStrict Second\t",
        "net.qeffects.test.GeneratorOnly\t1.0\tGenerator Only\t"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " not in:\n"
                                                     << run.out;
  EXPECT_NE(run.out.find("\t" + bundle("StrictPair") + "\n"), std::string::npos)
      << run.out;
  for (const BrokenBundle &broken : kBrokenBundles) {
    EXPECT_EQ(run.out.find(broken.name), std::string::npos)
        << broken.name << " listed";
    const std::string line = "cannot load " + bundle(broken.name) + ": ";
    EXPECT_EQ(occurrences(run.err, line), 1u)
        << broken.name << " not reported once:\n"
        << run.err;
    const size_t at = run.err.find(line);
    if (at == std::string::npos)
      continue;
    EXPECT_NE(
        run.err.substr(at, run.err.find('\n', at) - at).find(broken.reason),
        std::string::npos)
        << broken.name << ": expected '" << broken.reason << "' in:\n"
        << run.err;
  }
  EXPECT_EQ(
      occurrences(run.err, "cannot describe net.qeffects.test.DescribeFails"),
      1u)
      << run.err;
  EXPECT_EQ(lineCount(run.err), static_cast<int>(std::size(kBrokenBundles)) + 1)
      << run.err;
}

TEST_F(BadBundles, RenderingWithOneFailsInOneLineWithoutOutput) {
  for (const BrokenBundle &broken : kBrokenBundles) {
    const RunResult run = renderWith(bundle(broken.name));
    EXPECT_EQ(run.exitCode, kExitPluginFailed)
        << broken.name << ": " << run.err;
    EXPECT_NE(run.err.find("cannot load " + bundle(broken.name)),
              std::string::npos)
        << broken.name << ": " << run.err;
    EXPECT_EQ(occurrences(run.err, bundle(broken.name)), 1u)
        << broken.name << ": " << run.err;
    EXPECT_EQ(lineCount(run.err), 1) << broken.name << ": " << run.err;
    EXPECT_EQ(listDir(dir_), before_) << broken.name << ": files left behind";
  }
}

// The user's cache folder for the scope's life.
class CacheHome {
public:
  explicit CacheHome(const std::string &dir) {
    if (const char *old = std::getenv("XDG_CACHE_HOME"))
      saved_ = old, hadValue_ = true;
    ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  }
  ~CacheHome() {
    if (hadValue_)
      ::setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
    else
      ::unsetenv("XDG_CACHE_HOME");
  }

private:
  std::string saved_;
  bool hadValue_ = false;
};

// Commands started side by side share one plug-in cache: each lists the
// same and names each broken bundle once, and one whole cache file is left
// (no temporary ones). Later commands read it to the same effect, as they
// do when told to rescan or to do without it; without it nothing is written.
TEST_F(BadBundles, CommandsSideBySideShareOnePluginCache) {
  const std::string home = path("cache");
  const CacheHome cacheHome(home);
  const std::string cache = home + "/qeffects/ofxhost-plugins.cache";
  const std::vector<std::string> list = {"list", "--plugin-path", plugins_};
  const RunningTool first = startTool(list);
  const RunningTool second = startTool(list);
  const RunResult one = waitTool(first);
  const RunResult other = waitTool(second);
  ASSERT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(other.exitCode, 0) << other.err;
  EXPECT_EQ(other.out, one.out);
  EXPECT_EQ(other.err, one.err);
  EXPECT_EQ(lineCount(one.err), static_cast<int>(std::size(kBrokenBundles)) + 1)
      << one.err;

  const std::string text = contents(cache);
  EXPECT_EQ(text.rfind("qeffects ofxhost plug-in cache, version 1\n", 0), 0u)
      << text.substr(0, 200);
  EXPECT_NE(text.find("\nend\t"), std::string::npos) << text.substr(0, 200);
  EXPECT_EQ(listDir(home + "/qeffects"),
            std::vector<std::string>{"ofxhost-plugins.cache"});

  for (const std::vector<std::string> &extra :
       {std::vector<std::string>{}, {"--rescan"}, {"--no-cache"}}) {
    std::vector<std::string> args = list;
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult again = runTool(args);
    EXPECT_EQ(again.out, one.out) << (extra.empty() ? "" : extra[0]);
    EXPECT_EQ(again.err, one.err) << (extra.empty() ? "" : extra[0]);
  }
  fs::remove(cache);
  EXPECT_EQ(runTool({"list", "--no-cache", "--plugin-path", plugins_}).out,
            one.out);
  EXPECT_FALSE(fs::exists(cache));
}

// Every usable filter describes and renders from the same folder, silently:
// broken neighbours and plug-ins it does not use stay out of its way, and
// the strict plug-ins see load and describe, then unload, paired.
// Every command, not only list, names each broken bundle on the path once,
// as a warning, and goes on with the plug-in it was asked for.
TEST_F(BadBundles, EveryUsableFilterDescribesAndRenders) {
  auto expectBrokenBundlesNamedOnce = [&](const std::string &err,
                                          const std::string &command) {
    for (const BrokenBundle &broken : kBrokenBundles)
      EXPECT_EQ(occurrences(err, "ofxrender: warning: cannot load " +
                                     bundle(broken.name) + ": "),
                1u)
          << command << ": " << broken.name << " not named once:\n"
          << err;
    EXPECT_EQ(lineCount(err), static_cast<int>(std::size(kBrokenBundles)))
        << command << ":\n"
        << err;
  };
  for (const UsableFilter &filter : kUsableFilters) {
    const RunResult described = runTool(
        {"describe", filter.identifier, "--json", "--plugin-path", plugins_});
    EXPECT_EQ(described.exitCode, 0)
        << filter.identifier << ": " << described.err;
    EXPECT_NE(
        described.out.find("\"bundle\": \"" + bundle(filter.bundle) + "\""),
        std::string::npos)
        << filter.identifier << ":\n"
        << described.out;
    expectBrokenBundlesNamedOnce(described.err,
                                 std::string("describe ") + filter.identifier);
    const RunResult rendered = renderWith(filter.identifier);
    EXPECT_EQ(rendered.exitCode, 0)
        << filter.identifier << ": " << rendered.err;
    expectBrokenBundlesNamedOnce(rendered.err,
                                 std::string("render ") + filter.identifier);
    EXPECT_TRUE(fs::exists(path("out.tif"))) << filter.identifier;
    fs::remove(path("out.tif"));
  }
}

// A generator describes, but ofxrender renders filters only: a usage error,
// not a crash. A plug-in whose describe fails is a plug-in failure.
TEST_F(BadBundles, GeneratorsAndFailedDescribesAreClearErrors) {
  const RunResult described =
      runTool({"describe", "net.qeffects.test.GeneratorOnly", "--plugin-path",
               plugins_});
  EXPECT_EQ(described.exitCode, 0) << described.err;
  EXPECT_NE(described.out.find("Generator"), std::string::npos)
      << described.out;
  const RunResult generator = renderWith("net.qeffects.test.GeneratorOnly");
  EXPECT_EQ(generator.exitCode, 2) << generator.err;
  EXPECT_NE(generator.err.find("has no filter context"), std::string::npos)
      << generator.err;
  const RunResult failing = renderWith("net.qeffects.test.DescribeFails");
  EXPECT_EQ(failing.exitCode, kExitPluginFailed) << failing.err;
  EXPECT_NE(failing.err.find("OfxActionDescribe failed"), std::string::npos)
      << failing.err;
  EXPECT_EQ(listDir(dir_), before_);
}

// Asking by identifier for the plug-in whose load failed is an error too,
// not a render with something else: one line after the broken bundles'
// warnings.
TEST_F(BadBundles, PluginWhoseLoadFailedCannotBeRendered) {
  const RunResult run = renderWith("net.qeffects.test.BrokenLoad");
  EXPECT_NE(run.exitCode, 0) << run.err;
  EXPECT_EQ(lineCount(run.err), static_cast<int>(std::size(kBrokenBundles)) + 1)
      << run.err;
  EXPECT_EQ(occurrences(run.err, "warning:"), std::size(kBrokenBundles))
      << run.err;
  EXPECT_EQ(listDir(dir_), before_);
}

// Two folders holding the same plug-in: the second is reported as before.
TEST_F(BadBundles, DuplicateIdentifierIsReported) {
  const std::string other = path("other");
  fs::create_directories(other);
  fs::copy(bundle("StrictPair"), other + "/Copy.ofx.bundle",
           fs::copy_options::recursive);
  fs::rename(other + "/Copy.ofx.bundle/Contents/Linux-x86-64/StrictPair.ofx",
             other + "/Copy.ofx.bundle/Contents/Linux-x86-64/Copy.ofx");
  const RunResult run =
      runTool({"list", "--plugin-path", plugins_, "--plugin-path", other});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(
      run.err.find("net.qeffects.test.StrictFirst is already loaded from " +
                   bundle("StrictPair")),
      std::string::npos)
      << run.err;
}

} // namespace
} // namespace reliability
