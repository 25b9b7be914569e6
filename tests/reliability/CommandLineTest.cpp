// Bad files and bad bundles at the command line, with both effects: each
// is one clear line on stderr and a non-zero exit, and no output file (nor a
// temporary one) is left behind. While listing, a bad bundle is reported on
// stderr and every good plug-in is still listed.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ToolRunner.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;
using ofxrender_test::listDir;
using ofxrender_test::pattern;
using ofxrender_test::RunResult;
using ofxrender_test::runTool;
using ofxrender_test::ToolTest;
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
    {"cut.tif", "cannot read"},          {"cut.png", "cannot read"},
    {"cut.exr", "cannot read"},          {"scrambled.tif", "cannot read"},
    {"scrambled.png", "cannot read"},    {"scrambled.exr", "cannot read"},
    {"empty.tif", "cannot read"},        {"empty.png", "cannot read"},
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
    writeFile(path("seven.exr"), 16, 8, 7, OIIO::TypeDesc::FLOAT, pattern(16, 8, 7, false),
              unnamed);
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
    const RunResult run = ofxrender_test::render(effect, path(bad.name), path("out.tif"));
    EXPECT_EQ(run.exitCode, kExitFile) << what << ": " << run.err;
    EXPECT_NE(run.err.find(std::string(bad.name) + ": " + bad.error), std::string::npos)
        << what << ": expected '" << bad.error << "' in: " << run.err;
    EXPECT_EQ(run.err.rfind("ofxrender: error: ", 0), 0u) << what << ": " << run.err;
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
      EXPECT_EQ(run.exitCode, 0) << effect << " on " << channels << " channels: " << run.err;
      EXPECT_TRUE(fs::exists(output)) << effect << " on " << channels << " channels";
    }
  }
}

// ------------------------------------------------------------ bad bundles

// A plug-in folder with copies of both effect bundles beside broken ones:
// a binary that is not a library, a library without the entry points, a
// library holding no plug-in, and a plug-in whose load action fails.
class BadBundles : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    plugins_ = path("plugins");
    fs::create_directories(plugins_);
    for (const char *bundle : {"Tintrow", "Rimlet"})
      copyBundle(QFX_TEST_BUNDLE_DIR, bundle);
    for (const char *bundle : {"NoEntryPoints", "ZeroPlugins", "BrokenLoad"})
      copyBundle(QFX_BAD_BUNDLE_DIR, bundle);
    const std::string notLibrary = bundle("NotALibrary");
    fs::create_directories(notLibrary + "/Contents/Linux-x86-64");
    writeBytes(notLibrary + "/Contents/Linux-x86-64/NotALibrary.ofx",
               "\x7f" "ELF but nothing more\n");
    writeFile(path("in.tif"), 16, 8, 4, OIIO::TypeDesc::UINT8, pattern(16, 8, 4, false));
    before_ = listDir(dir_);
  }

  std::string bundle(const std::string &name) const {
    return plugins_ + "/" + name + ".ofx.bundle";
  }

  void copyBundle(const std::string &from, const std::string &name) {
    fs::copy(from + "/" + name + ".ofx.bundle", bundle(name), fs::copy_options::recursive);
  }

  RunResult renderWith(const std::string &plugin) {
    return runTool({"render", "--plugin-path", plugins_, plugin, path("in.tif"),
                    path("out.tif")});
  }

  std::string plugins_;
  std::vector<std::string> before_;
};

const char *const kBrokenBundles[] = {"NotALibrary", "NoEntryPoints", "ZeroPlugins",
                                      "BrokenLoad"};

TEST_F(BadBundles, ListingReportsEachAndListsBothEffects) {
  const RunResult run = runTool({"list", "--plugin-path", plugins_});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  for (const char *effect : {"qgradient\t1.0\tQ_Gradient", "qoutline\t1.0\tQ_Outline"})
    EXPECT_NE(run.out.find(effect), std::string::npos) << effect << " not listed:\n" << run.out;
  for (const char *broken : kBrokenBundles) {
    EXPECT_EQ(run.out.find(broken), std::string::npos) << broken << " listed:\n" << run.out;
    EXPECT_NE(run.err.find("cannot load " + bundle(broken)), std::string::npos)
        << broken << " not reported:\n" << run.err;
  }
  EXPECT_EQ(lineCount(run.err), 4) << run.err;
}

TEST_F(BadBundles, RenderingWithOneFailsInOneLineWithoutOutput) {
  for (const char *broken : kBrokenBundles) {
    const RunResult run = renderWith(bundle(broken));
    EXPECT_EQ(run.exitCode, kExitPluginFailed) << broken << ": " << run.err;
    EXPECT_NE(run.err.find("cannot load " + bundle(broken)), std::string::npos)
        << broken << ": " << run.err;
    EXPECT_EQ(lineCount(run.err), 1) << broken << ": " << run.err;
    EXPECT_EQ(listDir(dir_), before_) << broken << ": files left behind";
  }
}

// The effects render from the same folder: a broken neighbour does not
// stop them.
TEST_F(BadBundles, EffectsBesideThemStillRender) {
  for (const char *effect : kEffects) {
    const RunResult run = renderWith(effect);
    EXPECT_EQ(run.exitCode, 0) << effect << ": " << run.err;
    EXPECT_TRUE(fs::exists(path("out.tif"))) << effect;
    fs::remove(path("out.tif"));
  }
}

// Asking by identifier for the plug-in whose load failed is an error too,
// not a render with something else.
TEST_F(BadBundles, PluginWhoseLoadFailedCannotBeRendered) {
  const RunResult run = renderWith("net.qeffects.test.BrokenLoad");
  EXPECT_NE(run.exitCode, 0) << run.err;
  EXPECT_EQ(lineCount(run.err), 1) << run.err;
  EXPECT_EQ(listDir(dir_), before_);
}

} // namespace
} // namespace reliability
