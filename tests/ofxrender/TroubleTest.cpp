// Plug-ins and folders that trouble the tool: a render that crashes, one
// binary that reports a plug-in many times, a scan of slow bundles stopped
// by a signal, and nothing found where the tool looked.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string troubleBundleDir() { return QFX_TROUBLE_BUNDLE_DIR; }

int lineCount(const std::string &text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class Trouble : public ToolTest {
protected:
  void writeInput() {
    writeFile(path("in.png"), 8, 6, 4, OIIO::TypeDesc::UINT8,
              pattern(8, 6, 4, false));
  }
};

// ------------------------------------------------------------ crashes

// The crash ends the tool as it would have ended anyway (the shell's 139
// or 134), but first one line names the plug-in, the signal and the frame.
TEST_F(Trouble, APluginThatCrashesRenderingIsNamedAndItsSignalKept) {
  // The crashes are expected: no core files for them.
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  writeInput();
  const struct {
    const char *bundle;
    const char *output;
    Names extra;
    int exitCode;
    const char *line;
  } cases[] = {
      {"SegfaultInRender",
       "out.png",
       {},
       128 + SIGSEGV,
       "ofxrender: plug-in net.qfx.test.SegfaultInRender crashed (SIGSEGV, "
       "Segmentation fault) while rendering frame 0\n"},
      {"AbortInRender",
       "out.####.png",
       {"--frames", "3-4"},
       128 + SIGABRT,
       "ofxrender: plug-in net.qfx.test.AbortInRender crashed (SIGABRT, "
       "Aborted) while rendering frame 3\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.bundle);
    Names args = {"render", troubleBundleDir() + "/" + c.bundle + ".ofx.bundle",
                  path("in.png"), path(c.output)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult run = runTool(args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.err, c.line);
    EXPECT_EQ(listDir(dir_), Names{"in.png"});
  }
}

// ------------------------------------------------------------ listing

// The repeats are one problem of one bundle: one line on stderr, and the
// plug-in itself listed once.
TEST_F(Trouble, ABinaryReportingOnePluginManyTimesIsOneLineEach) {
  const std::string bundle =
      copyBundle(troubleBundleDir(), "RepeatedPlugin", path("plugins"));
  const RunResult run = runTool({"list", "--plugin-path", path("plugins")});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "net.qfx.test.Repeated\t1.0\tnet.qfx.test.Repeated\t" +
                         bundle + "\n");
  EXPECT_EQ(lineCount(run.err), 1) << run.err;
  EXPECT_EQ(run.err.rfind("ofxrender: warning: " + bundle + ": ", 0), 0u)
      << run.err;
}

// ------------------------------------------------------------ stopping

// A scan of bundles that each take a quarter of a second to load is stopped
// by the signal within a few seconds, well before the scan would end,
// whichever command scans (a sanitized build's exit alone can take a second):
// nothing is listed, no bundle is blamed, and the exit code names the signal.
TEST_F(Trouble, ASignalStopsAScanAtOnceAndBlamesNoBundle) {
  writeInput();
  const struct {
    Names command;
    int signal;
    const char *message;
  } cases[] = {
      {{"list"}, SIGINT, "interrupted by SIGINT; nothing was listed"},
      {{"list"}, SIGTERM, "interrupted by SIGTERM; nothing was listed"},
      {{"describe", "net.qfx.test.SlowLoad"},
       SIGINT,
       "interrupted by SIGINT; nothing was described"},
      {{"render", "net.qfx.test.SlowLoad", path("in.png"), path("out.png")},
       SIGTERM,
       "interrupted by SIGTERM"},
  };
  int run = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    // A folder of its own each time, which no earlier run has read.
    const std::string slow = path("slow" + std::to_string(run++));
    for (int copy = 0; copy < 24; ++copy)
      copyBundle(troubleBundleDir(), "SlowLoad", slow,
                 "Slow" + std::to_string(copy));
    Names args = c.command;
    args.insert(args.end(), {"--plugin-path", slow});
    const RunningTool tool = startTool(args);
    EXPECT_TRUE(waitForChildProcess(tool, std::chrono::seconds(30)))
        << "no probe started";
    // A few bundles in, well before the scan's six seconds are over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(tool.pid, c.signal);
    const RunResult stopped = waitTool(tool);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled,
              std::chrono::milliseconds(3000));
    EXPECT_EQ(stopped.exitCode, 128 + c.signal) << stopped.err;
    EXPECT_EQ(stopped.out, "");
    EXPECT_EQ(stopped.err,
              std::string("ofxrender: error: ") + c.message +
                  (c.command[0] == "render" ? "; nothing was written for the "
                                              "unfinished frame\n"
                                            : "\n"));
    EXPECT_EQ(listDir(dir_).size(), static_cast<size_t>(run) + 1)
        << "files left behind";
  }
}

// ------------------------------------------------------------ not found

// Nothing found: one line says which folders were read, in order, so that
// an empty OFX_PLUGIN_PATH or a bundle given where its folder belongs shows.
TEST_F(Trouble, NothingFoundSaysWhereTheToolLooked) {
  const std::string empty = path("empty");
  fs::create_directories(empty);
  const std::string bundleAsFolder =
      copyBundle(troubleBundleDir(), "RepeatedPlugin", path("plugins"));
  const std::string searched = "searched " + empty + ", " + bundleAsFolder +
                               ", " + path("env1") + ", " + path("env2") +
                               ", /usr/OFX/Plugins";
  const Names environment = {"OFX_PLUGIN_PATH=" + path("env1") +
                             "::" + path("env2") + ":"};
  const Names paths = {"--plugin-path", empty, "--plugin-path", bundleAsFolder};

  Names describe = {"describe", "net.qfx.test.Repeated"};
  describe.insert(describe.end(), paths.begin(), paths.end());
  const RunResult described = runTool(describe, environment);
  EXPECT_EQ(described.exitCode, 2) << described.err;
  EXPECT_EQ(described.err,
            "ofxrender: error: no plug-in named \"net.qfx.test.Repeated\"; " +
                searched + " (see ofxrender list)\n");

  Names list = {"list"};
  list.insert(list.end(), paths.begin(), paths.end());
  const RunResult listed = runTool(list, environment);
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  if (!listed.out.empty())
    GTEST_SKIP() << "this machine has plug-ins in /usr/OFX/Plugins";
  EXPECT_EQ(listed.err, "ofxrender: no plug-ins found; " + searched + "\n");
}

} // namespace
} // namespace ofxrender_test
