// ofxrender as a render farm runs it: outputs the artists can read, no
// temporary file outliving its writer whatever ended it, and a failed job
// re-run for the frames that are missing.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::vector<std::string> tempFilesIn(const std::string &dir) {
  std::vector<std::string> temps;
  for (const std::string &name : listDir(dir))
    if (name.find(".part-") != std::string::npos)
      temps.push_back(name);
  return temps;
}

mode_t modeOf(const std::string &path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Field 22 of /proc/PID/stat, as the tool reads it to judge a writer.
unsigned long long startTimeOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string field;
  for (int number = 3; number < 22; ++number)
    fields >> field;
  unsigned long long start = 0;
  fields >> start;
  return start;
}

// Running and not yet a zombie waiting to be reaped.
bool running(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat) || stat.rfind(')') == std::string::npos)
    return false;
  return stat[stat.rfind(')') + 2] != 'Z';
}

class Farm : public ToolTest {
protected:
  void writeSmall(const std::string &name) {
    writeFile(path(name), 8, 6, 4, OIIO::TypeDesc::UINT8,
              pattern(8, 6, 4, false));
  }

  // What a signal sent while the output's temporary file exists does. The
  // file is there only while the picture is written, so the input is large
  // enough for that to take a while, and a run whose write was missed is
  // tried again.
  RunResult signalWhileWriting(int sig, const std::string &output,
                               const Names &extra = {}, int times = 1) {
    if (!fileExists(path("big.tif")))
      writeFile(path("big.tif"), 1600, 1200, 4, OIIO::TypeDesc::UINT16,
                pattern(1600, 1200, 4, false));
    RunResult result;
    for (int attempt = 0; attempt < 5; ++attempt) {
      const RunningTool tool =
          startTool(renderArgs(kProbe, path("big.tif"), path(output), extra));
      bool seen = false;
      while (!seen && running(tool.pid)) {
        seen = !tempFilesIn(dir_).empty();
        if (!seen)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      // Apart, so that the second is not merged into the first.
      for (int n = 0; seen && n < times; ++n) {
        if (n > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(tool.pid, sig);
      }
      result = waitTool(tool);
      if (seen && result.exitCode == 128 + sig)
        return result;
      for (const std::string &name : listDir(dir_))
        if (name != "big.tif")
          fs::remove(path(name));
    }
    ADD_FAILURE() << "never caught the output being written";
    return result;
  }
};

// ------------------------------------------------------------ file modes

TEST_F(Farm, OutputsTakeTheUmasksModeAndAReplacedFileKeepsItsOwn) {
  writeSmall("in.png");
  const struct {
    mode_t umask;
    mode_t existing; // 0: the output is new
    mode_t expected;
  } cases[] = {{022, 0, 0644},    {027, 0, 0640},    {077, 0664, 0664},
               {022, 0600, 0600}, {002, 0444, 0444}, {077, 0, 0600}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << "umask " << c.umask
                                    << ", existing " << c.existing);
    const std::string output = path("out.png");
    fs::remove(output);
    if (c.existing) {
      writeSmall("out.png");
      ::chmod(output.c_str(), c.existing);
    }
    const mode_t saved = ::umask(c.umask);
    const RunResult run = render(kProbe, path("in.png"), output);
    ::umask(saved);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(modeOf(output), c.expected);
  }
}

// ------------------------------------------------------------ temporary files

// A second request ends the process from the signal handler, which removes
// the file itself.
TEST_F(Farm, StopSignalsWhileWritingLeaveNoTemporaryFile) {
  const struct {
    int signal, times;
  } cases[] = {{SIGQUIT, 1}, {SIGUSR1, 1}, {SIGUSR2, 1},
               {SIGPIPE, 1}, {SIGHUP, 1},  {SIGINT, 2}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << strsignal(c.signal) << " x" << c.times);
    const RunResult run = signalWhileWriting(c.signal, "out.png", {}, c.times);
    EXPECT_EQ(run.exitCode, 128 + c.signal) << run.err;
    EXPECT_NE(run.err.find("interrupted "), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(listDir(dir_), Names{"big.tif"});
  }
}

TEST_F(Farm, AReaderGoneFromStdoutStopsTheRenderCleanly) {
  writeSmall("in.png");
  const RunningTool tool = startTool(
      renderArgs(kProbe, path("in.png"), path("out.png"), {"-v"}), {}, true);
  const RunResult run = waitTool(tool);
  EXPECT_EQ(run.exitCode, 128 + SIGPIPE) << run.err;
  EXPECT_NE(run.err.find("interrupted by SIGPIPE"), std::string::npos)
      << run.err;
  EXPECT_EQ(listDir(dir_), Names{"in.png"});
}

// A killed writer's file is removed by the next run writing the same
// outputs on this host; a live writer's, another host's and another
// output's are not.
TEST_F(Farm, TheNextRunRemovesTheFileOfAKilledWriterAndNoOtherOne) {
  const Names frame = {"--frames", "1"};
  signalWhileWriting(SIGKILL, "out.####.png", frame);
  const Names left = tempFilesIn(dir_);
  ASSERT_EQ(left.size(), 1u);
  // ".out.0001.png.part-HOST-NAMESPACE-PID-START-XXXXXX"
  const std::string killed = left[0];
  std::string tag = killed.substr(0, killed.rfind('-'));
  tag = tag.substr(0, tag.rfind('-'));
  tag = tag.substr(0, tag.rfind('-') + 1);
  const std::string hostTag = tag.substr(tag.find(".part-"));
  const std::string me = std::to_string(::getpid());
  const unsigned long long myStart = startTimeOf(::getpid());
  const struct {
    std::string name;
    bool kept;
  } planted[] = {
      {".out.0007.png" + hostTag + me + "-" + std::to_string(myStart) +
           "-live01",
       true},
      {".out.0008.png" + hostTag + me + "-" + std::to_string(myStart + 1) +
           "-reuse1",
       false},
      {".out.0009.png.part-elsewhere-1-999999-1-other1", true},
      {".out.txt" + hostTag + "999999-1-notour", true},
      {".out.0010.png" + hostTag + "1-2-3-odd001", true},
  };
  for (const auto &file : planted)
    std::ofstream(path(file.name)) << "partial";

  const RunResult run =
      render(kProbe, path("big.tif"), path("out.####.png"), {"--frames", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_FALSE(fileExists(path(killed)));
  for (const auto &file : planted) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(fileExists(path(file.name)), file.kept);
  }
}

// ------------------------------------------------------------ resuming

TEST_F(Farm, SkipExistingRendersOnlyTheMissingFramesAndSaysWhichItLeft) {
  writeSmall("in.png");
  const Names existing = {"out.0002.png", "out.0003.png", "out.0005.png",
                          "out.0008.png"};
  for (const std::string &name : existing)
    std::ofstream(path(name)) << "kept";
  const struct {
    Names extra;
    std::string line;
  } cases[] = {
      {{"--frames", "1-8"}, "skipped 4 existing frames: 2-3,5,8\n"},
      // Frame 1 is there now too; -n has nothing left to refuse.
      {{"--frames", "8,5,1-3", "-n"}, "skipped 5 existing frames: 8,5,1-3\n"},
      {{"--frames", "2"}, "skipped 1 existing frame: 2\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    Names args = c.extra;
    args.push_back("--skip-existing");
    const RunResult run =
        render(kProbe, path("in.png"), path("out.####.png"), args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "ofxrender: " + c.line);
    for (const std::string &name : existing)
      EXPECT_EQ(fileContents(path(name)), "kept") << name;
  }
  for (const char *name : {"out.0001.png", "out.0004.png", "out.0006.png"})
    EXPECT_EQ(readFile(path(name)).spec.width, 8) << name;

  const RunResult single =
      render(kProbe, path("in.png"), path("out.0002.png"), {"--skip-existing"});
  EXPECT_EQ(single.exitCode, 0) << single.err;
  EXPECT_NE(single.err.find("skipped"), std::string::npos) << single.err;
  EXPECT_EQ(fileContents(path("out.0002.png")), "kept");
}

// Refusals name the first frame in the job's order, not the folder's.
// An output that another job writes while this one renders the same frame
// is kept, not replaced at the last moment, when existing outputs are to
// be kept: -n says so and fails, --skip-existing counts it as skipped.
TEST_F(Farm, AnOutputWrittenMeanwhileIsKeptWhenOutputsAreToBeKept) {
  writeSmall("in.png");
  const struct {
    const char *option;
    int exitCode;
    const char *message;
  } cases[] = {
      {"-n", 3, "out.png: appeared while it was rendered; it is kept"},
      {"--skip-existing", 0, "ofxrender: skipped "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.option);
    fs::remove(path("out.png"));
    const RunningTool tool =
        startTool(renderArgs(kProbe, path("in.png"), path("out.png"),
                             {c.option, "--set", "holdSeconds=4"}));
    // Well into the render's wait, long after the checks before it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ofstream(path("out.png")) << "another job's frame";
    const RunResult run = waitTool(tool);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(fileContents(path("out.png")), "another job's frame");
    EXPECT_EQ(tempFilesIn(dir_), Names{});
  }
}

TEST_F(Farm, RefusalsNameTheFirstFrameInTheJobsOrder) {
  for (int n = 1; n <= 9; ++n)
    writeSmall("in." + std::to_string(n) + ".png");
  for (int n : {2, 4, 5, 7, 9})
    std::ofstream(path("out." + std::to_string(n) + ".png")) << "kept";
  for (int n : {3, 6, 8})
    fs::create_hard_link(path("in." + std::to_string(n) + ".png"),
                         path("same." + std::to_string(n) + ".png"));
  const struct {
    std::string output, frames, named, message;
  } cases[] = {
      {"out.#.png", "1-9", "out.2.png", "--no-clobber"},
      {"out.#.png", "6-9,1-5", "out.7.png", "--no-clobber"},
      {"out.#.png", "9,1-8", "out.9.png", "--no-clobber"},
      {"same.#.png", "1-9", "same.3.png", "same file as an input"},
      {"same.#.png", "7-9,1-6", "same.8.png", "same file as an input"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.output + " " + c.frames);
    const RunResult run = render(kProbe, path("in.#.png"), path(c.output),
                                 {"--frames", c.frames, "-n"});
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find(path(c.named) + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

} // namespace
} // namespace ofxrender_test
