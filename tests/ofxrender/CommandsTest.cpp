// The list and describe commands, and the command line as a whole.
#include <filesystem>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

using Commands = ToolTest;

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    result.push_back(text.substr(start, end - start));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return result;
}

TEST_F(Commands, ListShowsIdentifierVersionLabelAndBundle) {
  const RunResult run = runTool({"list", "--plugin-path", probeBundleDir()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string expected = std::string(kProbe) + "\t1.2\tQFX Probe\t" +
                               probeBundleDir() + "/QfxTestPlugin.ofx.bundle";
  bool found = false;
  for (const std::string &line : lines(run.out))
    found = found || line == expected;
  EXPECT_TRUE(found) << "no line '" << expected << "' in:\n" << run.out;
}

TEST_F(Commands, ListReportsBrokenBundlesAndListsTheRest) {
  // A copy of the probe bundle beside a bundle whose binary is not a library.
  const std::string plugins = path("plugins");
  std::filesystem::create_directories(plugins);
  std::filesystem::copy(probeBundleDir() + "/QfxTestPlugin.ofx.bundle",
                        plugins + "/QfxTestPlugin.ofx.bundle",
                        std::filesystem::copy_options::recursive);
  const std::string broken = plugins + "/Broken.ofx.bundle";
  std::filesystem::create_directories(broken + "/Contents/Linux-x86-64");
  std::ofstream(broken + "/Contents/Linux-x86-64/Broken.ofx") << "garbage";

  const RunResult run = runTool({"list", "--plugin-path", plugins});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(std::string(kProbe) + "\t1.2\tQFX Probe\t" + plugins +
                         "/QfxTestPlugin.ofx.bundle"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Broken"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("cannot load " + broken), std::string::npos)
      << run.err;
}

// The same plug-ins, fields and order as the text listing, as JSON.
TEST_F(Commands, ListJsonHoldsWhatListShows) {
  const std::vector<std::string> folders = {"--plugin-path", probeBundleDir(),
                                            "--plugin-path", bundleDir()};
  std::vector<std::string> args = {"list"};
  args.insert(args.end(), folders.begin(), folders.end());
  const RunResult text = runTool(args);
  args.push_back("--json");
  const RunResult json = runTool(args);
  ASSERT_EQ(text.exitCode, 0) << text.err;
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.err, text.err);
  const nlohmann::json listed = nlohmann::json::parse(json.out);
  ASSERT_TRUE(listed.is_array());
  const std::vector<std::string> textLines = lines(text.out);
  ASSERT_EQ(listed.size(), textLines.size()) << json.out;
  ASSERT_GT(listed.size(), 2u);
  for (size_t i = 0; i < listed.size(); ++i) {
    const nlohmann::json &plugin = listed[i];
    const std::string asText =
        plugin["identifier"].get<std::string>() + "\t" +
        std::to_string(plugin["version"]["major"].get<int>()) + "." +
        std::to_string(plugin["version"]["minor"].get<int>()) + "\t" +
        plugin["label"].get<std::string>() + "\t" +
        plugin["bundle"].get<std::string>();
    EXPECT_EQ(asText, textLines[i]);
  }
}

// A truncated copy of a bundle early in the path is named and passed over
// for a copy that loads; with no copy that loads, the error names it.
TEST_F(Commands, ABrokenBundleIsNamedAndDoesNotHideAWorkingCopy) {
  const std::string early = path("early"), late = path("late");
  const std::string broken =
      copyBundle(probeBundleDir(), "QfxTestPlugin", early);
  const std::string working =
      copyBundle(probeBundleDir(), "QfxTestPlugin", late);
  const std::string binary =
      broken + "/Contents/Linux-x86-64/QfxTestPlugin.ofx";
  std::filesystem::resize_file(binary, std::filesystem::file_size(binary) / 2);

  const RunResult found =
      runTool({"describe", "probe", "--no-cache", "--plugin-path", early,
               "--plugin-path", late});
  EXPECT_EQ(found.exitCode, 0) << found.err;
  EXPECT_NE(found.out.find("bundle:       " + working), std::string::npos)
      << found.out;
  EXPECT_NE(found.err.find("cannot load " + broken), std::string::npos)
      << found.err;
  EXPECT_NE(found.err.find("; using " + working + " instead"),
            std::string::npos)
      << found.err;

  const RunResult missing =
      runTool({"describe", "probe", "--no-cache", "--plugin-path", early});
  EXPECT_EQ(missing.exitCode, 2) << missing.err;
  EXPECT_NE(
      missing.err.find("error: no plug-in named \"probe\"; searched " + early),
      std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("; could not load " + broken +
                             " (see ofxrender list)\n"),
            std::string::npos)
      << missing.err;
}

TEST_F(Commands, DescribeJsonHoldsEveryTextAsDeclared) {
  const RunResult run = runTool(
      {"describe", "probe", "--json", "--plugin-path", probeBundleDir()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json doc = nlohmann::json::parse(run.out);

  EXPECT_EQ(doc["identifier"], kProbe);
  EXPECT_EQ(doc["version"]["major"], 1);
  EXPECT_EQ(doc["version"]["minor"], 2);
  EXPECT_EQ(doc["label"], "QFX Probe");
  EXPECT_EQ(doc["grouping"], "Test/Probe");
  EXPECT_EQ(doc["description"], "Exercises the support library for tests");
  EXPECT_EQ(doc["context"], "OfxImageEffectContextFilter");
  EXPECT_EQ(doc["pixelDepths"],
            (nlohmann::json{"OfxBitDepthByte", "OfxBitDepthShort",
                            "OfxBitDepthFloat"}));
  EXPECT_EQ(doc["flags"]["supportsTiles"], true);
  EXPECT_EQ(doc["flags"]["supportsMultiResolution"], true);

  ASSERT_EQ(doc["clips"].size(), 2u);
  EXPECT_EQ(doc["clips"][0]["name"], "Source");
  EXPECT_EQ(
      doc["clips"][0]["components"],
      (nlohmann::json{"OfxImageComponentRGBA", "OfxImageComponentAlpha"}));

  std::map<std::string, nlohmann::json> params;
  for (const nlohmann::json &param : doc["parameters"])
    params[param["name"]] = param;
  const nlohmann::json &gain = params.at("gain");
  EXPECT_EQ(gain["type"], "OfxParamTypeDouble");
  EXPECT_EQ(gain["label"], "Gain");
  EXPECT_EQ(gain["longLabel"], "Source gain");
  EXPECT_EQ(gain["hint"], "Multiplies the source");
  EXPECT_EQ(gain["default"], 1.0);
  EXPECT_EQ(gain["min"], 0.0);
  EXPECT_EQ(gain["max"], 10.0);
  EXPECT_EQ(gain["displayMin"], 0.0);
  EXPECT_EQ(gain["displayMax"], 4.0);
  EXPECT_EQ(gain["increment"], 0.05);
  EXPECT_EQ(gain["digits"], 3);
  EXPECT_EQ(gain["animates"], true);
  EXPECT_EQ(gain["page"], "Controls");
  EXPECT_EQ(params.at("tint")["default"], (nlohmann::json{0.0, 0.0, 0.0, 0.0}));

  const nlohmann::json &mode = params.at("mode");
  EXPECT_EQ(mode["options"],
            (nlohmann::json{"Normal", "Bands", "Throw", "Inspect"}));
  EXPECT_EQ(mode["default"], 0);
  EXPECT_EQ(mode["defaultOption"], "Normal");
  EXPECT_EQ(mode["animates"], false);
  EXPECT_EQ(mode["hint"].get<std::string>().rfind("What the render writes", 0),
            0u);
  EXPECT_EQ(params.at("Controls")["children"][0], "gain");
}

TEST_F(Commands, DescribeTextNamesTheSameThings) {
  const RunResult run =
      runTool({"describe", kProbe, "--plugin-path", probeBundleDir()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char *expected :
       {"net.qfx.test.probe version 1.2", "label:        \"QFX Probe\"",
        "pixel depths: Byte, Short, Float", "Source: RGBA, Alpha",
        "gain (Double)", "range:         0 to 10", "display range: 0 to 4",
        "1: \"Bands\"", "default:       0 (\"Normal\")",
        "page:          \"Controls\""})
    EXPECT_NE(run.out.find(expected), std::string::npos)
        << "missing '" << expected << "' in:\n"
        << run.out;
}

TEST_F(Commands, DescribeAnUnknownPluginFails) {
  const RunResult run =
      runTool({"describe", "nosuch", "--plugin-path", probeBundleDir()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("nosuch"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST_F(Commands, CommandLineNeedsACommandAndHelpSucceeds) {
  // Nothing asked for: the usage, as an error.
  const RunResult bare = runTool({});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_EQ(bare.out, "");
  for (const char *expected : {"Usage:", "list", "describe", "render"})
    EXPECT_NE(bare.err.find(expected), std::string::npos) << bare.err;
  EXPECT_EQ(runTool({"frobnicate"}).exitCode, 2);
  const RunResult help = runTool({"render", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char *option :
       {"--set", "--key", "--time", "--frames", "--scale", "--window", "--tile",
        "--threads", "--depth", "--alpha", "--crop", "--plugin-path",
        "--verbose", "--dry-run"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// "ofxrender 1.0.0 (commit 1a2b3c4-dirty)": the release, then the commit the
// build came from, which a build from a git checkout always knows.
TEST_F(Commands, VersionNamesTheReleaseAndTheCommitBuilt) {
  const RunResult run = runTool({"--version"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::regex shape("ofxrender ([0-9]+\\.[0-9]+\\.[0-9]+)"
                         "( \\(commit [0-9A-Za-z._+-]+\\))?\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.out, match, shape)) << run.out;
  EXPECT_EQ(match[1].str(), QFX_PROJECT_VERSION);
  EXPECT_EQ(match[2].matched, QFX_BUILD_KNOWS_COMMIT != 0) << run.out;
}

} // namespace
} // namespace ofxrender_test
