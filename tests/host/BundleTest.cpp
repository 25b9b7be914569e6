// Finding and opening bundles: search order, the environment path, and
// every way a bundle can be unusable without stopping the scan.
#include "EffectHost.h"
#include "HostTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using hosttest::bundle;
using ofxhost::BundleError;
using ofxhost::Host;
using ofxhost::HostOptions;
using ofxhost::Plugin;

const char *const kProbeId = "net.qeffects.test.HostProbe";

HostOptions isolated() {
  HostOptions options = qfx_test::isolatedOptions(0);
  // Scans here read each bundle in a child first, as ofxrender does.
  options.probeInChildProcess = true;
  options.probeProgram = QFX_PROBE_PROGRAM;
  return options;
}

// A scratch directory removed with the test.
class ScratchDir {
public:
  ScratchDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            ("ofxhost-test-" + std::to_string(::getpid()) + "-" +
             std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.string(); }
  // Copies a built test bundle into sub (created when missing).
  void install(const std::string &name, const std::string &sub = "") const {
    fs::path dir = path_ / sub;
    fs::create_directories(dir);
    fs::copy(bundle(name), dir / (name + ".ofx.bundle"),
             fs::copy_options::recursive);
  }

private:
  fs::path path_;
};

bool hasErrorContaining(const Host &host, const std::string &pathPart,
                        const std::string &reasonPart) {
  for (const BundleError &error : host.errors())
    if (error.path.find(pathPart) != std::string::npos &&
        error.reason.find(reasonPart) != std::string::npos)
      return true;
  return false;
}

std::string listErrors(const Host &host) {
  std::string text;
  for (const BundleError &error : host.errors())
    text += "\n  " + error.path + ": " + error.reason;
  return text;
}

class EnvironmentPath {
public:
  explicit EnvironmentPath(const std::string &value) {
    if (const char *old = std::getenv("OFX_PLUGIN_PATH"))
      saved_ = old, hadValue_ = true;
    setenv("OFX_PLUGIN_PATH", value.c_str(), 1);
  }
  ~EnvironmentPath() {
    if (hadValue_)
      setenv("OFX_PLUGIN_PATH", saved_.c_str(), 1);
    else
      unsetenv("OFX_PLUGIN_PATH");
  }

private:
  std::string saved_;
  bool hadValue_ = false;
};

TEST(BundleScanTest, FirstSearchPathHoldingABundleWins) {
  ScratchDir first, second;
  first.install("HostProbe", "nested/deeper");
  second.install("HostProbe");
  Host host(isolated());
  host.addSearchPath(second.str());
  host.addSearchPath(first.str());
  host.scan();
  ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.plugins()[0]->bundlePath(),
            ofxhost::bundlePathIn(second.str(), "HostProbe"));
  EXPECT_TRUE(host.errors().empty()) << listErrors(host);
  // A second scan finds nothing new.
  host.scan();
  EXPECT_EQ(host.plugins().size(), 1u);
}

TEST(BundleScanTest, EnvironmentPathIsSearchedAfterTheGivenDirectories) {
  ScratchDir given, fromEnv;
  fromEnv.install("HostProbe");
  EnvironmentPath env("/nonexistent/dir::" + fromEnv.str());
  HostOptions options = isolated();
  options.searchEnvironmentPath = true;
  {
    Host host(options);
    host.scan();
    ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
    EXPECT_EQ(host.plugins()[0]->bundlePath(),
              ofxhost::bundlePathIn(fromEnv.str(), "HostProbe"));
  }
  given.install("HostProbe");
  Host host(options);
  host.addSearchPath(given.str());
  host.scan();
  ASSERT_EQ(host.plugins().size(), 1u);
  EXPECT_EQ(host.plugins()[0]->bundlePath(),
            ofxhost::bundlePathIn(given.str(), "HostProbe"));

  Host ignoring(isolated());
  ignoring.scan();
  EXPECT_TRUE(ignoring.plugins().empty());
}

TEST(BundleScanTest, BadBundlesAreReportedAndTheScanGoesOn) {
  ScratchDir dir;
  for (const char *name : {"BrokenLoad", "HostProbe", "MixedRecords",
                           "NoEntryPoints", "ZeroPlugins"})
    dir.install(name);
  const fs::path text =
      fs::path(dir.str()) / "Text.ofx.bundle" / "Contents" / "Linux-x86-64";
  fs::create_directories(text);
  std::ofstream(text / "Text.ofx") << "this is not a shared library\n";
  fs::create_directories(fs::path(dir.str()) / "Empty.ofx.bundle");

  Host host(isolated());
  host.addSearchPath(dir.str());
  host.scan();

  std::set<std::string> loaded;
  for (Plugin *plugin : host.plugins())
    loaded.insert(plugin->identifier());
  EXPECT_EQ(loaded,
            (std::set<std::string>{kProbeId, "net.qeffects.test.MixedGood"}))
      << listErrors(host);

  EXPECT_TRUE(
      hasErrorContaining(host, "Text.ofx.bundle", "not a shared library"))
      << listErrors(host);
  EXPECT_TRUE(hasErrorContaining(host, "Empty.ofx.bundle", "no binary"));
  EXPECT_TRUE(
      hasErrorContaining(host, "NoEntryPoints", "OfxGetNumberOfPlugins"));
  EXPECT_TRUE(hasErrorContaining(host, "ZeroPlugins", "reports 0 plug-ins"));
  EXPECT_TRUE(hasErrorContaining(
      host, "BrokenLoad",
      "OfxActionLoad failed: kOfxStatErrMissingHostFeature (4)"));
  EXPECT_TRUE(hasErrorContaining(host, "MixedRecords", "OfxSomethingElseAPI"));
  EXPECT_TRUE(hasErrorContaining(host, "MixedRecords", "MixedApiTwo"));
  EXPECT_TRUE(hasErrorContaining(host, "MixedRecords", "returned NULL"));
  EXPECT_EQ(host.errors().size(), 8u) << listErrors(host);
}

// Whether this process has the binary mapped, i.e. has opened it.
bool isMapped(const std::string &binary) {
  std::ifstream maps("/proc/self/maps");
  const std::string wanted = fs::weakly_canonical(binary).string();
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= wanted.size() &&
        line.compare(line.size() - wanted.size(), wanted.size(), wanted) == 0)
      return true;
  return false;
}

std::string fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A broken binary, made by the test from a good one or taken as built. A
// crash is named by the step it ended: under a sanitizer its handler turns
// the signal into an exit status.
struct BrokenBinary {
  const char *name;
  const char *reason;
  bool crashesInProcess; // only the child probe survives it
};

const BrokenBinary kBrokenBinaries[] = {
    {"Truncated", "the binary is cut short: it has 5000 bytes", false},
    {"WrongMachine", "built for another processor (ELF machine 183)", false},
    {"ThirtyTwoBit", "built for a 32-bit system", false},
    {"NotElf", "not a shared library (no ELF header)", false},
    {"MissingDependency", "libQfxVanishedDependency.so", false},
    {"CrashEntry", "while calling OfxGetNumberOfPlugins", true},
    {"CrashLoad", "while loading", true},
};

// Every kind of broken binary is one error naming it, and the plug-ins
// beside it are still found: with the probe in a started program, in a
// fork, and, for those a check before dlopen catches, without a child.
TEST(BundleScanTest, BrokenBinariesAreReportedWithoutTakingTheHostDown) {
  ScratchDir dir;
  dir.install("HostProbe");
  dir.install("MissingDependency");
  dir.install("CrashEntry");
  dir.install("CrashLoad");
  const std::string probe =
      fileBytes(ofxhost::bundleBinaryPath(bundle("HostProbe")));
  auto write = [&](const std::string &name, const std::string &bytes) {
    const fs::path bin =
        ofxhost::bundleBinaryPath(ofxhost::bundlePathIn(dir.str(), name));
    fs::create_directories(bin.parent_path());
    std::ofstream(bin, std::ios::binary) << bytes;
  };
  write("Truncated", probe.substr(0, 5000));
  std::string otherMachine = probe;
  otherMachine[18] = static_cast<char>(183), otherMachine[19] = 0;
  write("WrongMachine", otherMachine);
  std::string thirtyTwo = probe;
  thirtyTwo[4] = 1; // ELFCLASS32
  write("ThirtyTwoBit", thirtyTwo);
  write("NotElf", "#!/bin/sh\necho not a plug-in\n");

  enum class Probe { Program, Fork, None };
  for (Probe mode : {Probe::Program, Probe::Fork, Probe::None}) {
    const char *modeName = mode == Probe::Program ? " (probe program)"
                           : mode == Probe::Fork  ? " (fork)"
                                                  : " (no child)";
    HostOptions options = isolated();
    options.probeInChildProcess = mode != Probe::None;
    if (mode != Probe::Program)
      options.probeProgram.clear();
    Host host(options);
    for (const BrokenBinary &broken : kBrokenBinaries) {
      if (broken.crashesInProcess && mode == Probe::None)
        continue;
      std::string error;
      const std::string path = ofxhost::bundlePathIn(dir.str(), broken.name);
      EXPECT_TRUE(host.addBundle(path, &error).empty()) << broken.name;
      EXPECT_NE(error.find(broken.reason), std::string::npos)
          << broken.name << modeName << ": " << error;
      EXPECT_FALSE(isMapped(ofxhost::bundleBinaryPath(path))) << broken.name;
    }
    auto good = host.addBundle(ofxhost::bundlePathIn(dir.str(), "HostProbe"));
    ASSERT_EQ(good.size(), 1u) << listErrors(host);
    EXPECT_TRUE(good[0]->describe().ok());
  }

  HostOptions options = isolated();
  options.probeProgram = dir.str() + "/no-such-probe";
  Host host(options);
  std::string error;
  EXPECT_TRUE(host.addBundle(bundle("HostProbe"), &error).empty());
  EXPECT_NE(error.find("cannot start the probe " + options.probeProgram),
            std::string::npos)
      << error;
}

// A scan opens nothing in this process; using one plug-in opens its binary
// alone, and only the plug-ins that were loaded are described and unloaded
// (the strict ones abort the test otherwise).
TEST(BundleScanTest, OnlyTheBundlesInUseAreOpenedAndLoadsPairWithDescribes) {
  ScratchDir dir;
  dir.install("HostProbe");
  fs::copy(ofxhost::bundlePathIn(QFX_PROBE_BUNDLE_DIR, "StrictPair"),
           fs::path(dir.str()) / "StrictPair.ofx.bundle",
           fs::copy_options::recursive);
  const std::string strict =
      ofxhost::bundleBinaryPath(ofxhost::bundlePathIn(dir.str(), "StrictPair"));
  const std::string probe =
      ofxhost::bundleBinaryPath(ofxhost::bundlePathIn(dir.str(), "HostProbe"));
  for (const char *name : {"Strict Second", "net.qeffects.test.StrictFirst"}) {
    Host host(isolated());
    host.addSearchPath(dir.str());
    host.scan();
    EXPECT_EQ(host.plugins().size(), 3u) << listErrors(host);
    EXPECT_FALSE(isMapped(strict));
    Plugin *plugin = host.find(name);
    ASSERT_NE(plugin, nullptr) << name;
    EXPECT_FALSE(isMapped(strict)) << "finding " << name << " opened it";
    EXPECT_TRUE(plugin->load().ok()) << name;
    EXPECT_TRUE(isMapped(strict));
    EXPECT_FALSE(isMapped(probe));
  }
  // Loaded through addBundle and never used: described at the end, then
  // unloaded.
  Host host(isolated());
  EXPECT_EQ(
      host.addBundle(ofxhost::bundlePathIn(dir.str(), "StrictPair")).size(),
      2u);
}

TEST(BundleOpenTest, AddBundleTakesADirectoryOrTheBinary) {
  Host host(isolated());
  std::string error;
  EXPECT_TRUE(host.addBundle("/nonexistent/X.ofx.bundle", &error).empty());
  EXPECT_NE(error.find("/nonexistent/X.ofx.bundle"), std::string::npos);

  auto byBinary =
      host.addBundle(ofxhost::bundleBinaryPath(bundle("HostProbe")), &error);
  ASSERT_EQ(byBinary.size(), 1u) << error;
  EXPECT_EQ(byBinary[0]->bundlePath(), bundle("HostProbe"));
  EXPECT_EQ(byBinary[0]->apiName(), kOfxImageEffectPluginApi);
  EXPECT_EQ(byBinary[0]->apiVersion(), 1);
  EXPECT_EQ(byBinary[0]->versionMajor(), 1u);
  EXPECT_EQ(byBinary[0]->versionMinor(), 2u);

  // The same plug-in twice is refused with the reason.
  EXPECT_TRUE(host.addBundle(bundle("HostProbe"), &error).empty());
  EXPECT_NE(error.find("already loaded"), std::string::npos) << error;
}

TEST(BundleOpenTest, OpenBundleLeavesTheLoadToTheCaller) {
  Host host(isolated());
  auto opened = host.openBundle(bundle("BrokenLoad"));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(host.errors().empty());
  ofxhost::ActionResult first = opened[0]->load();
  EXPECT_EQ(first.status, kOfxStatErrMissingHostFeature);
  EXPECT_EQ(first.message,
            "OfxActionLoad failed: kOfxStatErrMissingHostFeature (4)");
  EXPECT_EQ(opened[0]->load().status, first.status);
  // Every later step reports the failed load rather than running.
  EXPECT_EQ(opened[0]->describe().status, kOfxStatErrMissingHostFeature);
  EXPECT_EQ(opened[0]->createInstance(kOfxImageEffectContextFilter), nullptr);
}

TEST(BundleOpenTest, AnEscapingExceptionBecomesAFailure) {
  Host host(isolated());
  auto loaded = host.addBundle(bundle("ThrowingPlugin"));
  ASSERT_EQ(loaded.size(), 1u);
  ofxhost::ActionResult described = loaded[0]->describe();
  EXPECT_EQ(described.status, kOfxStatFailed);
  EXPECT_EQ(described.message, "OfxActionDescribe failed: kOfxStatFailed (1)");
}

class WithheldSuiteTest : public ::testing::TestWithParam<const char *> {};

TEST_P(WithheldSuiteTest, ProbeRefusesToLoadWithoutIt) {
  HostOptions options = isolated();
  options.withheldSuites = {GetParam()};
  Host host(options);
  EXPECT_EQ(hosttest::suite<void>(host, GetParam()), nullptr);
  std::string error;
  EXPECT_TRUE(host.addBundle(bundle("HostProbe"), &error).empty());
  EXPECT_NE(error.find("kOfxStatErrMissingHostFeature (4)"), std::string::npos)
      << error;
}

INSTANTIATE_TEST_SUITE_P(EverySuite, WithheldSuiteTest,
                         ::testing::Values(kOfxPropertySuite,
                                           kOfxImageEffectSuite,
                                           kOfxParameterSuite, kOfxMemorySuite,
                                           kOfxMultiThreadSuite,
                                           kOfxMessageSuite));

TEST(HostTest, FindsPluginsByIdentifierLastLabelOrLabel) {
  Host host(isolated());
  host.addBundle(bundle("HostProbe"));
  host.addBundle(bundle("MixedRecords"));
  std::string error;
  EXPECT_EQ(host.find(kProbeId)->identifier(), kProbeId);
  EXPECT_EQ(host.find("hostprobe")->identifier(), kProbeId);
  EXPECT_EQ(host.find("Host Probe")->identifier(), kProbeId);
  EXPECT_EQ(host.find("nothing", &error), nullptr);
  EXPECT_NE(error.find("nothing"), std::string::npos);
}

TEST(HostTest, HostPropertiesFollowTheOptions) {
  HostOptions options = isolated();
  options.supportedDepths = {kOfxBitDepthFloat};
  options.omittedHostProperties = {kOfxImageEffectPropSupportsTiles};
  Host host(options);
  ofxhost::PropertySet &props = host.props();
  EXPECT_EQ(props.getString(kOfxPropType), kOfxTypeImageEffectHost);
  EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedPixelDepths),
            (std::vector<std::string>{kOfxBitDepthFloat}));
  EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedComponents),
            (std::vector<std::string>{kOfxImageComponentRGBA,
                                      kOfxImageComponentAlpha}));
  EXPECT_FALSE(props.has(kOfxImageEffectPropSupportsTiles));
  EXPECT_EQ(props.getInt(kOfxImageEffectPropSupportsMultiResolution), 1);
  // The plug-in reads the same set through the handle it is given.
  EXPECT_EQ(host.ofxHost()->host, props.handle());
}

TEST(HostTest, HostsFollowingEachOtherEachDriveThePlugin) {
  for (int round = 0; round < 3; ++round) {
    Host host(isolated());
    auto loaded = host.addBundle(bundle("HostProbe"));
    ASSERT_EQ(loaded.size(), 1u) << "round " << round;
    auto instance = loaded[0]->createInstance(kOfxImageEffectContextFilter);
    ASSERT_TRUE(instance) << "round " << round;
    auto image = std::make_shared<ofxhost::Image>(OfxRectI{0, 0, 4, 4},
                                                  ofxhost::BitDepth::Byte,
                                                  ofxhost::Components::RGBA);
    instance->setSource(image);
    instance->setOutput(std::make_shared<ofxhost::Image>(
        OfxRectI{0, 0, 4, 4}, ofxhost::BitDepth::Byte,
        ofxhost::Components::RGBA));
    ofxhost::RenderRequest request;
    request.window = {0, 0, 4, 4};
    EXPECT_TRUE(instance->render(request).ok()) << "round " << round;
  }
}

} // namespace
