// Finding and opening bundles: search order, the environment path, and
// every way a bundle can be unusable without stopping the scan.
#include "EffectHost.h"
#include "HostTestSupport.h"
#include "TestPlatform.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using hosttest::bundle;
using ofxhost::BundleError;
using ofxhost::Host;
using ofxhost::HostOptions;
using ofxhost::Plugin;
using qfx_test::isModuleLoaded;

const char *const kProbeId = "net.qeffects.test.HostProbe";

#if defined(_WIN32)
const char kPathListSeparator = ';';
#else
const char kPathListSeparator = ':';
#endif

HostOptions isolated() {
  HostOptions options = qfx_test::isolatedOptions(0);
  // Scans here read each bundle in a child first, as ofxrender does.
  options.probeInChildProcess = true;
  options.probeProgram = QFX_PROBE_PROGRAM;
  return options;
}

// A scratch directory removed with the test. Names are UTF-8, whatever
// the system's code page.
class ScratchDir {
public:
  explicit ScratchDir(const std::string &suffix = "") {
    static int counter = 0;
    path_ = fs::temp_directory_path() /
            fs::u8path("ofxhost-test-" + std::to_string(qfx_test::processId()) +
                       "-" + std::to_string(counter++) + suffix);
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string str() const { return path_.u8string(); }
  std::string sub(const std::string &name) const {
    return (path_ / fs::u8path(name)).u8string();
  }
  // Copies a built test bundle into sub (created when missing).
  void install(const std::string &name, const std::string &sub = "") const {
    installAs(name, name, sub);
  }
  // The same under another name, its binary renamed to match.
  void installAs(const std::string &name, const std::string &as,
                 const std::string &sub = "") const {
    fs::path dir = path_ / fs::u8path(sub);
    fs::create_directories(dir);
    const std::string copy = ofxhost::bundlePathIn(dir.u8string(), as);
    fs::copy(fs::u8path(bundle(name)), fs::u8path(copy),
             fs::copy_options::recursive);
    const fs::path binary = fs::u8path(ofxhost::bundleBinaryPath(copy));
    fs::rename(binary.parent_path() / fs::u8path(name + ".ofx"), binary);
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

// Seconds since the watch was made.
class Stopwatch {
public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                         start_)
        .count();
  }

private:
  std::chrono::steady_clock::time_point start_ =
      std::chrono::steady_clock::now();
};

// Sets an environment variable for the scope's life.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const std::string &value) : name_(name) {
    if (const char *old = std::getenv(name))
      saved_ = old, hadValue_ = true;
    qfx_test::setEnv(name, value);
  }
  ~ScopedEnv() {
    if (hadValue_)
      qfx_test::setEnv(name_, saved_);
    else
      qfx_test::unsetEnv(name_);
  }

private:
  const char *name_;
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

// A copy cut short by a failed copy or download, early in the path, is
// reported and passed over: the first copy that loads wins.
TEST(BundleScanTest, ABrokenCopyEarlierInThePathDoesNotHideAWorkingOne) {
  ScratchDir broken, working;
  broken.install("HostProbe");
  working.install("HostProbe");
  const std::string brokenBundle =
      ofxhost::bundlePathIn(broken.str(), "HostProbe");
  const fs::path binary = fs::u8path(ofxhost::bundleBinaryPath(brokenBundle));
  fs::resize_file(binary, fs::file_size(binary) / 2);
  Host host(isolated());
  host.addSearchPath(broken.str());
  host.addSearchPath(working.str());
  host.scan();
  ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.plugins()[0]->bundlePath(),
            ofxhost::bundlePathIn(working.str(), "HostProbe"));
  ASSERT_EQ(host.errors().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.errors()[0].path, brokenBundle);
}

TEST(BundleScanTest, EnvironmentPathIsSearchedAfterTheGivenDirectories) {
  ScratchDir given, fromEnv;
  fromEnv.install("HostProbe");
  ScopedEnv env("OFX_PLUGIN_PATH", std::string("/nonexistent/dir") +
                                       kPathListSeparator + kPathListSeparator +
                                       fromEnv.str());
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

// Paths are UTF-8 throughout: a bundle in folders named in other scripts,
// with spaces the probe's command line must quote, is found through each
// route of the scan, probed, and opened here. The default folder is only
// tried on Windows, where it follows %CommonProgramFiles% (on Linux it is
// /usr/OFX/Plugins, which a test cannot point elsewhere).
TEST(BundleScanTest, FoldersNamedInAnyScriptAreFoundAndLoaded) {
  enum class Route { SearchPath, Environment, DefaultFolder };
#if defined(_WIN32)
  const Route routes[] = {Route::SearchPath, Route::Environment,
                          Route::DefaultFolder};
#else
  const Route routes[] = {Route::SearchPath, Route::Environment};
#endif
  ScratchDir dir(u8" café ü");
  const std::string common = dir.sub(u8"共通 files");
  for (Route route : routes) {
    const std::string folder = route == Route::DefaultFolder
                                   ? common + "/OFX/Plugins"
                                   : dir.sub(u8"漢字 é");
    const fs::path copy =
        fs::u8path(ofxhost::bundlePathIn(folder, "HostProbe"));
    if (!fs::exists(copy)) {
      fs::create_directories(copy.parent_path());
      fs::copy(fs::u8path(bundle("HostProbe")), copy,
               fs::copy_options::recursive);
    }
    ScopedEnv pluginPath("OFX_PLUGIN_PATH",
                         route == Route::Environment ? folder : "");
    ScopedEnv commonFiles("CommonProgramFiles", common);
    HostOptions options = isolated();
    options.searchEnvironmentPath = route == Route::Environment;
    options.searchDefaultPath = route == Route::DefaultFolder;
    Host host(options);
    if (route == Route::SearchPath)
      host.addSearchPath(folder);
    host.scan();
    ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
    Plugin *plugin = host.plugins()[0];
    EXPECT_EQ(plugin->bundlePath(), ofxhost::bundlePathIn(folder, "HostProbe"));
    const ofxhost::ActionResult described = plugin->describe();
    EXPECT_TRUE(described.ok()) << described.message;
    EXPECT_TRUE(isModuleLoaded(plugin->binaryPath()));
  }
}

TEST(BundleScanTest, BadBundlesAreReportedAndTheScanGoesOn) {
  ScratchDir dir;
  for (const char *name : {"BrokenLoad", "HostProbe", "MixedRecords",
                           "NoEntryPoints", "ZeroPlugins"})
    dir.install(name);
  const fs::path text = fs::u8path(
      ofxhost::bundleBinaryPath(ofxhost::bundlePathIn(dir.str(), "Text")));
  fs::create_directories(text.parent_path());
  std::ofstream(text) << "this is not a shared library\n";
  fs::create_directories(fs::u8path(dir.sub("Empty.ofx.bundle")));

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

std::string fileBytes(const std::string &path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string patched(std::string bytes, size_t at,
                    std::initializer_list<unsigned char> values) {
  for (unsigned char value : values)
    bytes[at++] = static_cast<char>(value);
  return bytes;
}

std::string notABinary(const std::string &) {
  return "#!/bin/sh\necho not a plug-in\n";
}

// A broken binary, made by the test from a good one or (without make)
// taken as built.
struct BrokenBinary {
  const char *name;
  const char *reason;
  bool crashesInProcess; // only the child probe survives it
  std::function<std::string(const std::string &good)> make;
};

#if defined(_WIN32)
// Where a DLL's PE header starts: the machine follows the signature, the
// characteristics 18 bytes later, the optional header's magic after them.
size_t peAt(const std::string &dll) {
  const auto byte = [&dll](size_t at) {
    return size_t(static_cast<unsigned char>(dll[at]));
  };
  return byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
}

const BrokenBinary kBrokenBinaries[] = {
    {"Truncated", "the binary is cut short: it has 5000 bytes", false,
     [](const std::string &dll) { return dll.substr(0, 5000); }},
    {"WrongMachine", "built for another processor (ARM64, PE machine 0xAA64)",
     false,
     [](const std::string &dll) {
       return patched(dll, peAt(dll) + 4, {0x64, 0xAA});
     }},
    {"ThirtyTwoBit", "built for a 32-bit system", false,
     [](const std::string &dll) {
       return patched(patched(dll, peAt(dll) + 4, {0x4C, 0x01}), peAt(dll) + 24,
                      {0x0B, 0x01});
     }},
    {"NotMz", "not a shared library (no MZ header)", false, notABinary},
    {"NoPeHeader", "not a shared library (no PE header)", false,
     [](const std::string &dll) {
       return patched(dll, peAt(dll), {'N', 'E'});
     }},
    {"Program", "not a shared library (a program, not a DLL)", false,
     [](const std::string &dll) {
       const size_t flagsHigh = peAt(dll) + 4 + 19;
       return patched(dll, flagsHigh,
                      {static_cast<unsigned char>(dll[flagsHigh] & ~0x20)});
     }},
    {"MissingDependency", "it needs libQfxVanishedDependency.dll", false, {}},
    {"CrashEntry",
     "crashed (0xC0000409, fast fail: an abort or a failed security check) "
     "while calling OfxGetNumberOfPlugins",
     true,
     {}},
    {"CrashLoad",
     "crashed (0xC0000005, access violation) while loading",
     true,
     {}},
};
#else
// A crash is named by the step it ended only: under a sanitizer its
// handler turns the signal into an exit status.
const BrokenBinary kBrokenBinaries[] = {
    {"Truncated", "the binary is cut short: it has 5000 bytes", false,
     [](const std::string &elf) { return elf.substr(0, 5000); }},
    {"WrongMachine", "built for another processor (ELF machine 183)", false,
     [](const std::string &elf) {
       return patched(elf, 18, {183, 0});
     }},
    {"ThirtyTwoBit", "built for a 32-bit system", false,
     [](const std::string &elf) { return patched(elf, 4, {1}); }},
    {"NotElf", "not a shared library (no ELF header)", false, notABinary},
    {"MissingDependency", "libQfxVanishedDependency.so", false, {}},
    {"CrashEntry", "while calling OfxGetNumberOfPlugins", true, {}},
    {"CrashLoad", "while loading", true, {}},
};
#endif

// Every kind of broken binary is one error naming it, and the plug-ins
// beside it are still found: with the probe in a started program, in a
// fork (not on Windows, which has none), and, for those a check before
// the system's loader catches, without a child.
TEST(BundleScanTest, BrokenBinariesAreReportedWithoutTakingTheHostDown) {
  ScratchDir dir;
  dir.install("HostProbe");
  const std::string good =
      fileBytes(ofxhost::bundleBinaryPath(bundle("HostProbe")));
  for (const BrokenBinary &broken : kBrokenBinaries) {
    if (!broken.make) {
      dir.install(broken.name);
      continue;
    }
    const fs::path bin = fs::u8path(ofxhost::bundleBinaryPath(
        ofxhost::bundlePathIn(dir.str(), broken.name)));
    fs::create_directories(bin.parent_path());
    std::ofstream(bin, std::ios::binary) << broken.make(good);
  }

  enum class Probe { Program, Fork, None };
#if defined(_WIN32)
  const Probe modes[] = {Probe::Program, Probe::None};
#else
  const Probe modes[] = {Probe::Program, Probe::Fork, Probe::None};
#endif
  for (Probe mode : modes) {
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
      EXPECT_FALSE(isModuleLoaded(ofxhost::bundleBinaryPath(path)))
          << broken.name;
    }
    auto found = host.addBundle(ofxhost::bundlePathIn(dir.str(), "HostProbe"));
    ASSERT_EQ(found.size(), 1u) << listErrors(host);
    EXPECT_TRUE(found[0]->describe().ok());
  }

  HostOptions options = isolated();
  options.probeProgram = dir.str() + "/no-such-probe";
  std::string error;
  EXPECT_TRUE(Host(options).addBundle(bundle("HostProbe"), &error).empty());
  EXPECT_NE(error.find("cannot start the probe " + options.probeProgram),
            std::string::npos)
      << error;
#if defined(_WIN32)
  // Without a name the probe is the one beside this program, which the
  // build puts elsewhere.
  options.probeProgram.clear();
  const std::string besideThis =
      (fs::u8path(qfx_test::programPath()).parent_path() / "ofxhost-probe.exe")
          .u8string();
  EXPECT_TRUE(Host(options).addBundle(bundle("HostProbe"), &error).empty());
  EXPECT_NE(error.find("cannot start the probe " + besideThis),
            std::string::npos)
      << error;
#endif
}

// A scan opens nothing in this process; using one plug-in opens its binary
// alone, and only the plug-ins that were loaded are described and unloaded
// (the strict ones abort the test otherwise).
TEST(BundleScanTest, OnlyTheBundlesInUseAreOpenedAndLoadsPairWithDescribes) {
  ScratchDir dir;
  dir.install("HostProbe");
  fs::copy(
      fs::u8path(ofxhost::bundlePathIn(QFX_PROBE_BUNDLE_DIR, "StrictPair")),
      fs::u8path(dir.sub("StrictPair.ofx.bundle")),
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
    EXPECT_FALSE(isModuleLoaded(strict));
    Plugin *plugin = host.find(name);
    ASSERT_NE(plugin, nullptr) << name;
    EXPECT_FALSE(isModuleLoaded(strict)) << "finding " << name << " opened it";
    EXPECT_TRUE(plugin->load().ok()) << name;
    EXPECT_TRUE(isModuleLoaded(strict));
    EXPECT_FALSE(isModuleLoaded(probe));
  }
  // Loaded through addBundle and never used: described at the end, then
  // unloaded.
  Host host(isolated());
  EXPECT_EQ(
      host.addBundle(ofxhost::bundlePathIn(dir.str(), "StrictPair")).size(),
      2u);
}

// Packages keep folders and bundles named with a leading '@' out of scans;
// named explicitly, such a bundle still loads.
TEST(BundleScanTest, NamesBeginningWithAtAreLeftOutOfScans) {
  ScratchDir dir;
  dir.install("HostProbe", "@hidden");
  dir.installAs("HostProbe", "@Off");
  Host host(isolated());
  host.addSearchPath(dir.str());
  host.scan();
  EXPECT_TRUE(host.plugins().empty());
  EXPECT_TRUE(host.errors().empty()) << listErrors(host);

  std::string error;
  EXPECT_EQ(
      host.addBundle(ofxhost::bundlePathIn(dir.str(), "@Off"), &error).size(),
      1u)
      << error;
}

// Linked folders are searched like real ones; a link back up the tree is
// searched once, not until the depth limit.
TEST(BundleScanTest, LinkedFoldersAreSearchedOnce) {
  ScratchDir dir;
  dir.install("HostProbe", "elsewhere/real");
  const fs::path search = fs::u8path(dir.sub("search"));
  fs::create_directories(search);
  std::error_code ec;
  fs::create_directory_symlink(fs::u8path(dir.sub("elsewhere")),
                               search / "linked", ec);
  if (ec)
    GTEST_SKIP() << "no folder links here: " << ec.message();
  fs::create_directory_symlink(search, search / "loop", ec);
  fs::create_directory_symlink(fs::u8path(dir.sub("elsewhere")),
                               search / "again", ec);
  Host host(isolated());
  host.addSearchPath(search.u8string());
  host.scan();
  ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.plugins()[0]->bundlePath(),
            ofxhost::bundlePathIn((search / "again" / "real").u8string(),
                                  "HostProbe"));
  EXPECT_TRUE(host.errors().empty()) << listErrors(host);
}

// The same plug-in in two folders: the first searched is used, and the one
// line about the other names both.
TEST(BundleScanTest, AnIdentifierInTwoFoldersNamesTheCopyUsed) {
  ScratchDir first, second;
  first.install("HostProbe");
  second.installAs("HostProbe", "ProbeCopy");
  Host host(isolated());
  host.addSearchPath(first.str());
  host.addSearchPath(second.str());
  host.scan();
  const std::string used = ofxhost::bundlePathIn(first.str(), "HostProbe");
  const std::string ignored = ofxhost::bundlePathIn(second.str(), "ProbeCopy");
  ASSERT_EQ(host.plugins().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.plugins()[0]->bundlePath(), used);
  ASSERT_EQ(host.errors().size(), 1u) << listErrors(host);
  EXPECT_EQ(host.errors()[0].path, ignored);
  EXPECT_EQ(host.errors()[0].reason,
            std::string("plug-in ") + kProbeId + " is already loaded from " +
                used + ", which is used; this copy is ignored");
}

// A binary that reports one plug-in 64 000 times costs one line and time
// in proportion, with the probe in a program or without a child; a stop
// asked for meanwhile leaves it unlisted and unblamed.
TEST(BundleScanTest, OnePluginReportedManyTimesIsOneLine) {
  for (bool inChild : {true, false}) {
    HostOptions options = isolated();
    options.probeInChildProcess = inChild;
    // Wine passes the probe's 128 000 lines through its pipe slowly: the
    // time bound holds on Linux, and the limit must not cut Wine short.
    options.probeTimeoutMs = 120000;
    Host host(options);
    const Stopwatch watch;
    const auto loaded = host.addBundle(bundle("RepeatedRecord"));
#if !defined(_WIN32)
    EXPECT_LT(watch.seconds(), 20.0);
#endif
    ASSERT_EQ(loaded.size(), 1u) << listErrors(host);
    ASSERT_EQ(host.errors().size(), 1u) << listErrors(host).substr(0, 1000);
    EXPECT_NE(host.errors()[0].reason.find(
                  "plug-in net.qeffects.test.Repeated appears 64000 times in " +
                  ofxhost::bundleBinaryPath(bundle("RepeatedRecord")) +
                  "; the first is used"),
              std::string::npos)
        << host.errors()[0].reason;
  }
  HostOptions options = isolated();
  options.probeInChildProcess = false;
  int asked = 0;
  options.stopRequested = [&asked] { return ++asked > 2; };
  Host host(options);
  EXPECT_TRUE(host.addBundle(bundle("RepeatedRecord")).empty());
  EXPECT_TRUE(host.scanStopped());
  EXPECT_TRUE(host.errors().empty()) << listErrors(host);
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

// ---------------------------------------------------------------- probes

enum class Probe { Program, Fork };

std::vector<Probe> childProbes() {
#if defined(_WIN32)
  return {Probe::Program};
#else
  return {Probe::Program, Probe::Fork};
#endif
}

HostOptions probingWith(Probe probe) {
  HostOptions options = isolated();
  if (probe == Probe::Fork)
    options.probeProgram.clear();
  return options;
}

const char *probeName(Probe probe) {
  return probe == Probe::Program ? "probe program" : "fork";
}

// A probe that hangs, or that closes its answers and lives on, is ended at
// the time limit; one whose plug-in leaves a helper running five seconds
// (holding what it inherited) answers at once.
TEST(BundleProbeTest, ProbesEndWithinTheirTimeLimit) {
  struct Case {
    const char *bundle;
    int timeoutMs;
    const char *reason; // "" when the bundle is usable
  };
  const Case cases[] = {
      {"HangEntry", 1000,
       "did not answer within 1 s while calling OfxGetNumberOfPlugins"},
      {"HangClosedOutput", 1000, "did not answer within 1 s"},
      {"SpawnsHelper", 20000, ""},
  };
  for (Probe probe : childProbes()) {
    for (const Case &c : cases) {
      HostOptions options = probingWith(probe);
      options.probeTimeoutMs = c.timeoutMs;
      Host host(options);
      const Stopwatch watch;
      std::string error;
      const auto loaded = host.addBundle(bundle(c.bundle), &error);
      EXPECT_LT(watch.seconds(), 4.0) << c.bundle << ", " << probeName(probe);
      if (!*c.reason) {
        EXPECT_EQ(loaded.size(), 1u) << c.bundle << ": " << error;
        continue;
      }
      EXPECT_TRUE(loaded.empty()) << c.bundle;
      EXPECT_NE(error.find(c.reason), std::string::npos)
          << c.bundle << ", " << probeName(probe) << ": " << error;
    }
  }
}

// A stop asked for while a probe hangs ends it within moments: nothing is
// held against the bundle, the bundles after it are not read, and the host
// says the scan stopped. The next scan runs in full.
TEST(BundleProbeTest, AStopEndsTheProbeAndTheScanWithoutBlame) {
  ScratchDir dir;
  dir.install("HangEntry");
  dir.install("HostProbe");
  for (Probe probe : childProbes()) {
    HostOptions options = probingWith(probe);
    options.probeTimeoutMs = 20000;
    const Stopwatch watch;
    options.stopRequested = [&watch] { return watch.seconds() > 0.3; };
    Host host(options);
    host.addSearchPath(dir.str());
    host.scan();
    EXPECT_LT(watch.seconds(), 5.0) << probeName(probe);
    EXPECT_TRUE(host.scanStopped()) << probeName(probe);
    EXPECT_TRUE(host.plugins().empty()) << probeName(probe);
    EXPECT_TRUE(host.errors().empty()) << listErrors(host);

    std::string error;
    EXPECT_TRUE(host.addBundle(bundle("HostProbe"), &error).empty());
    EXPECT_TRUE(host.scanStopped());
    EXPECT_NE(error.find("stopped"), std::string::npos) << error;
    EXPECT_TRUE(host.errors().empty()) << listErrors(host);
  }
  HostOptions options = isolated();
  options.probeTimeoutMs = 1000;
  options.stopRequested = [] { return false; };
  Host host(options);
  host.addSearchPath(dir.str());
  host.scan();
  EXPECT_FALSE(host.scanStopped());
  EXPECT_EQ(host.plugins().size(), 1u);
  EXPECT_TRUE(hasErrorContaining(host, "HangEntry", "did not answer"));
}

#if !defined(_WIN32)
std::atomic<bool> interruptSeen{false};
void noteInterrupt(int) { interruptSeen = true; }

// Ctrl-C at a terminal reaches its whole foreground process group. Here
// the test's own group stands for it: the program catches the signal and
// asks the scan to stop; the probe, in a group of its own, never sees it,
// so no plug-in is blamed for a crash.
TEST(BundleProbeDeathTest, ATerminalInterruptReachesTheHostNotTheProbe) {
  ScratchDir dir;
  dir.install("HangEntry");
  const auto interruptedScan = [&dir] {
    ::setpgid(0, 0);
    std::signal(SIGINT, noteInterrupt);
    HostOptions options = isolated();
    options.probeTimeoutMs = 20000;
    options.stopRequested = [] { return interruptSeen.load(); };
    Host host(options);
    host.addSearchPath(dir.str());
    std::thread terminal([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      ::kill(0, SIGINT);
    });
    host.scan();
    terminal.join();
    std::fprintf(stderr, "stopped %d, errors:%s\n", host.scanStopped(),
                 listErrors(host).c_str());
    std::exit(host.scanStopped() && host.errors().empty() ? 0 : 1);
  };
  EXPECT_EXIT(interruptedScan(), ::testing::ExitedWithCode(0),
              "stopped 1, errors:\n");
}
#endif

#if defined(__linux__)
// The numbers of the processes running now.
std::vector<long> processes() {
  std::vector<long> pids;
  for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos)
      pids.push_back(std::stol(name));
  }
  return pids;
}

std::string procFile(long pid, const char *name) {
  return fileBytes("/proc/" + std::to_string(pid) + "/" + name);
}

// The process whose command line holds text, or -1.
long processWithArgument(const std::string &text) {
  for (long pid : processes())
    if (procFile(pid, "cmdline").find(text) != std::string::npos)
      return pid;
  return -1;
}

// A process that parent started, or -1.
long firstChildOf(long parent) {
  for (long pid : processes()) {
    const std::string stat = procFile(pid, "stat");
    const size_t fields = stat.rfind(") ");
    if (fields == std::string::npos)
      continue;
    long parentOfThis = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + fields + 2, "%c %ld", &state,
                    &parentOfThis) == 2 &&
        parentOfThis == parent)
      return pid;
  }
  return -1;
}

// Gone, or a zombie waiting for whoever inherited it.
bool processEnded(long pid) {
  const std::string stat = procFile(pid, "stat");
  const size_t state = stat.rfind(") ");
  return state == std::string::npos || stat[state + 2] == 'Z';
}

bool waitFor(const std::function<bool()> &condition, double seconds) {
  const Stopwatch watch;
  while (!condition()) {
    if (watch.seconds() > seconds)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Out of the terminal's reach, a probe must still end with a host that is
// killed outright (a second Ctrl-C), with the program as with a fork.
TEST(BundleProbeTest, AProbeEndsWithAHostKilledOutright) {
  for (Probe probe : childProbes()) {
    ScratchDir dir;
    dir.install("HangEntry");
    const std::string marker = dir.str(); // in the probe program's arguments
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
      HostOptions options = probingWith(probe);
      options.probeTimeoutMs = 60000;
      Host scanning(options);
      scanning.addSearchPath(dir.str());
      scanning.scan();
      ::_exit(0);
    }
    long probePid = -1;
    const bool started = waitFor(
        [&] {
          probePid = probe == Probe::Program ? processWithArgument(marker)
                                             : firstChildOf(host);
          return probePid > 0;
        },
        10.0);
    // Into the plug-in's hang: a probe still writing would end of a
    // broken pipe anyway.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);
    ASSERT_TRUE(started) << probeName(probe);
    EXPECT_TRUE(waitFor([&] { return processEnded(probePid); }, 5.0))
        << probeName(probe) << ": probe " << probePid << " outlived its host";
  }
}
#endif

// ---------------------------------------------------------------- cache

std::string cacheText(const std::string &path) { return fileBytes(path); }

const char *const kCacheMagic = "qeffects ofxhost plug-in cache, version 1\n";

// A short probe time limit keeps a hanging bundle's cost down; a test
// with none gives a good probe time to start under Wine on a busy machine.
HostOptions cachedIn(const ScratchDir &dir, int probeTimeoutMs = 1000) {
  HostOptions options = isolated();
  options.pluginCachePath = dir.sub("cache/plugins.cache");
  options.probeTimeoutMs = probeTimeoutMs;
  return options;
}

std::vector<std::string> errorLines(const Host &host) {
  std::vector<std::string> lines;
  for (const BundleError &error : host.errors())
    lines.push_back(error.path + ": " + error.reason);
  return lines;
}

// A scan probes only what it has not seen: a bundle that hung costs its
// time limit once, and its failure reads the same from the cache, until
// its binary changes or a rescan is asked for.
TEST(PluginCacheTest, ABrokenBundleCostsItsTimeOnce) {
  ScratchDir plugins, cache;
  for (const char *name : {"HangEntry", "HostProbe", "CrashLoad"})
    plugins.install(name);
  const HostOptions options = cachedIn(cache);
  const auto scanned = [&](const HostOptions &with, double &seconds) {
    auto host = std::make_unique<Host>(with);
    host->addSearchPath(plugins.str());
    const Stopwatch watch;
    host->scan();
    seconds = watch.seconds();
    return host;
  };
  double seconds = 0;
  const auto first = scanned(options, seconds);
  EXPECT_GE(seconds, 1.0);
  ASSERT_EQ(first->plugins().size(), 1u) << listErrors(*first);
  ASSERT_EQ(first->errors().size(), 2u) << listErrors(*first);
  EXPECT_TRUE(hasErrorContaining(*first, "HangEntry", "did not answer"));

  const auto second = scanned(options, seconds);
  EXPECT_LT(seconds, 1.0);
  EXPECT_EQ(errorLines(*second), errorLines(*first));
  ASSERT_EQ(second->plugins().size(), 1u);
  EXPECT_EQ(second->plugins()[0]->identifier(), kProbeId);
  // Found by the label the probe saw, without opening the binary.
  EXPECT_EQ(second->find("Host Probe"), second->plugins()[0]);

  // Changed: the crashing binary now hangs, and is probed again.
  const std::string crashing = ofxhost::bundleBinaryPath(
      ofxhost::bundlePathIn(plugins.str(), "CrashLoad"));
  std::ofstream(fs::u8path(crashing), std::ios::binary | std::ios::trunc)
      << fileBytes(ofxhost::bundleBinaryPath(bundle("HangEntry")));
  const auto changed = scanned(options, seconds);
  EXPECT_TRUE(hasErrorContaining(*changed, "CrashLoad", "did not answer"))
      << listErrors(*changed);

  HostOptions rescan = options;
  rescan.rescanPlugins = true;
  const auto rescanned = scanned(rescan, seconds);
  EXPECT_GE(seconds, 2.0);
  EXPECT_EQ(errorLines(*rescanned), errorLines(*changed));
}

// The cache is only ever a shortcut: a file cut short, damaged, of another
// format or not a file at all is ignored, the bundles are probed, and a
// whole file is written in its place. A whole file is believed.
TEST(PluginCacheTest, DamagedOrForeignCacheFilesAreIgnoredAndRewritten) {
  ScratchDir plugins, cache;
  plugins.install("HostProbe");
  const HostOptions options = cachedIn(cache, 30000);
  const auto identifiers = [&] {
    Host host(options);
    host.addSearchPath(plugins.str());
    host.scan();
    std::string ids;
    for (Plugin *plugin : host.plugins())
      ids += plugin->identifier();
    return ids + listErrors(host);
  };
  ASSERT_EQ(identifiers(), kProbeId);
  const std::string good = cacheText(options.pluginCachePath);
  ASSERT_EQ(good.rfind(kCacheMagic, 0), 0u) << good;
  std::string forged = good;
  const std::string realId = kProbeId;
  forged.replace(forged.find(realId), realId.size(), "net.qeffects.Forged");
  std::string badEscape = forged;
  badEscape.replace(badEscape.find("Forged"), 1, "\\q");

  struct Case {
    const char *name;
    std::string text;
    bool believed;
  };
  const Case cases[] = {
      {"whole", forged, true},
      {"cut short", forged.substr(0, forged.size() - 8), false},
      {"no end line", forged.substr(0, forged.rfind("end\t")), false},
      {"other version",
       "qeffects ofxhost plug-in cache, version 2" +
           forged.substr(forged.find('\n')),
       false},
      {"other format", "[plugins]\n" + forged, false},
      {"bad escape", badEscape, false},
      {"empty", "", false},
  };
  for (const Case &c : cases) {
    std::ofstream(fs::u8path(options.pluginCachePath),
                  std::ios::binary | std::ios::trunc)
        << c.text;
    EXPECT_EQ(identifiers(), c.believed ? "net.qeffects.Forged" : kProbeId)
        << c.name;
    if (!c.believed) {
      EXPECT_EQ(cacheText(options.pluginCachePath), good) << c.name;
    }
  }

  // Not a file: ignored, and the scan goes on without one.
  fs::remove(fs::u8path(options.pluginCachePath));
  fs::create_directories(fs::u8path(options.pluginCachePath));
  EXPECT_EQ(identifiers(), kProbeId);
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
