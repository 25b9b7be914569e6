// ofxrender as a render pipeline runs it: inputs never overwritten, the
// picture's format kept across a sequence, stopping when told, bounded cost
// on hostile files, and a sequence split over several processes.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

enum Exit { kFile = 3, kSigint = 130, kSigterm = 143 };

class Pipeline : public ToolTest {
protected:
  void writeInput(const std::string &name, int width = 40, int height = 30) {
    writeFile(path(name), width, height, 4, OIIO::TypeDesc::UINT8,
              pattern(width, height, 4, false));
  }

  // The failure's single line, that nothing new was left in the folder and
  // that the inputs kept their bytes.
  void expectRefused(const RunResult &run, int exitCode,
                     const std::string &message, const Names &before,
                     const std::string &input, const std::string &inputBytes) {
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(listDir(dir_), before);
    EXPECT_EQ(fileContents(input), inputBytes);
  }
};

// ------------------------------------------------------------ inputs safe

TEST_F(Pipeline, RefusesAnOutputThatIsAnInputByAnyName) {
  writeInput("x.png");
  writeInput("f.1.png");
  writeInput("f.2.png");
  fs::create_directory(path("d"));
  fs::create_symlink(path("x.png"), path("link.png"));
  fs::create_hard_link(path("x.png"), path("hard.png"));
  const Names before = listDir(dir_);
  const std::string bytes = fileContents(path("x.png"));
  struct Case {
    std::string input, output;
    Names extra;
  };
  const Case cases[] = {
      {"x.png", "x.png", {}},
      {"x.png", "d/../x.png", {}},
      {"x.png", "link.png", {}},
      {"link.png", "x.png", {}},
      {"x.png", "hard.png", {}},
      {"f.#.png", "f.#.png", {"--frames", "1-2"}},
      // A later frame's output is an earlier frame's input.
      {"f.1.png", "f.#.png", {"--frames", "1-2"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.input + " -> " + c.output);
    const RunResult run =
        render(kProbe, path(c.input), path(c.output), c.extra);
    expectRefused(run, kFile, "is the same file as an input of this render",
                  before, path("x.png"), bytes);
  }
}

TEST_F(Pipeline, NoClobberRefusesExistingOutputsOthersAreReplaced) {
  writeInput("in.png");
  std::ofstream(path("out.2.png")) << "an earlier render";
  const Names before = listDir(dir_);
  const RunResult refused = render(kProbe, path("in.png"), path("out.#.png"),
                                   {"--frames", "1-3", "-n"});
  expectRefused(refused, kFile, "out.2.png: exists, and --no-clobber", before,
                path("out.2.png"), "an earlier render");

  const RunResult replaced =
      render(kProbe, path("in.png"), path("out.#.png"), {"--frames", "1-3"});
  EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_EQ(readFile(path("out.2.png")).spec.width, 40);
}

// ------------------------------------------------------------ format kept

// The probe grows its region of definition by margin; an animated margin
// gives every frame a different region.
TEST_F(Pipeline, KeepsTheInputsFormatAcrossASequence) {
  writeInput("in.png");
  writeFile(path("in.exr"), 40, 30, 4, OIIO::TypeDesc::FLOAT,
            pattern(40, 30, 4, true), placedIn(5, 7, 60, 50));
  const Names animated = {"--frames",   "1-3",   "--key",
                          "margin@1=1", "--key", "margin@3=6"};
  struct Case {
    std::string input, output;
    Names extra;
    int x, y, width, height; // data window of every frame
  };
  const Case cases[] = {
      {"in.png", "png.#.png", animated, 0, 0, 40, 30},
      {"in.png", "tif.#.tif", animated, 0, 0, 40, 30},
      {"in.png", "jpg.#.jpg", animated, 0, 0, 40, 30},
      // A margin of 3.5 is rounded out to 4 pixels.
      {"in.png",
       "over.#.png",
       {"--frames", "2", "--set", "margin=3.5", "--overscan"},
       0,
       0,
       48,
       38},
      {"in.exr",
       "crop.#.exr",
       {"--frames", "1-3", "--set", "margin=2", "--crop"},
       5,
       7,
       40,
       30},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult run =
        render(kProbe, path(c.input), path(c.output), c.extra);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (int frame : {1, 2, 3}) {
      const std::string name = c.output.substr(0, c.output.find('#')) +
                               std::to_string(frame) +
                               c.output.substr(c.output.find('#') + 1);
      if (!fileExists(path(name)))
        continue;
      const OIIO::ImageSpec spec = readFile(path(name)).spec;
      EXPECT_EQ(spec.x, c.x) << name;
      EXPECT_EQ(spec.y, c.y) << name;
      EXPECT_EQ(spec.width, c.width) << name;
      EXPECT_EQ(spec.height, c.height) << name;
    }
  }

  // EXR keeps the display window and holds the whole region in the data
  // window: nothing drawn outside the frame is lost.
  const RunResult run =
      render(kProbe, path("in.exr"), path("out.#.exr"), animated);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (int frame : {1, 3}) {
    const int margin = frame == 1 ? 1 : 6;
    const OIIO::ImageSpec spec =
        readFile(path("out." + std::to_string(frame) + ".exr")).spec;
    EXPECT_EQ(spec.full_width, 60);
    EXPECT_EQ(spec.full_height, 50);
    EXPECT_EQ(spec.x, 5 - margin);
    EXPECT_EQ(spec.y, 7 - margin);
    EXPECT_EQ(spec.width, 40 + 2 * margin);
  }
}

// --------------------------------------------------------- stopping

// A render held by the probe until the host asks it to abort; the signal
// is sent once the tool has said (with -v) that the render starts.
class Stopping : public Pipeline {
protected:
  RunningTool startHeldRender(const Names &extra) {
    writeInput("in.png");
    Names args = renderArgs(kProbe, path("in.png"), path("out.png"),
                            {"-v", "--set", "holdSeconds=60"});
    args.insert(args.end(), extra.begin(), extra.end());
    const RunningTool tool = startTool(args);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fileContents(tool.outPath).find("threads:") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return tool;
  }

  void expectStopped(const RunResult &run, int exitCode,
                     const std::string &message) {
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(listDir(dir_), Names{"in.png"});
  }
};

TEST_F(Stopping, ASignalDuringTheRenderAbortsItAndLeavesNoFile) {
  const struct {
    int signal, exitCode;
    const char *message;
  } cases[] = {{SIGINT, kSigint, "interrupted by SIGINT"},
               {SIGTERM, kSigterm, "interrupted by SIGTERM"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    const RunningTool tool = startHeldRender({});
    const auto start = std::chrono::steady_clock::now();
    ::kill(tool.pid, c.signal);
    expectStopped(waitTool(tool), c.exitCode, c.message);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(10));
  }
}

TEST_F(Stopping, ASecondCtrlCEndsARenderThatIgnoresTheFirst) {
  const RunningTool tool = startHeldRender({"--set", "holdIgnoresAbort=1"});
  const auto start = std::chrono::steady_clock::now();
  ::kill(tool.pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(tool.pid, SIGINT);
  expectStopped(waitTool(tool), kSigint, "interrupted again");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// ------------------------------------------------------------ bounded cost

// A little-endian TIFF header whose one directory declares a grey picture
// of width x height pixels in a single strip that is not there.
std::string tiffDeclaring(unsigned width, unsigned height) {
  std::string bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&](unsigned v) {
    bytes += static_cast<char>(v & 0xff);
    bytes += static_cast<char>(v >> 8 & 0xff);
  };
  auto put32 = [&](unsigned v) {
    put16(v & 0xffff);
    put16(v >> 16);
  };
  const unsigned entries[][3] = {
      {256, 4, width}, {257, 4, height}, {258, 3, 8},
      {259, 3, 1},     {262, 3, 1},      {273, 4, 200},
      {277, 3, 1},     {278, 4, height}, {279, 4, 1000}};
  put16(sizeof entries / sizeof entries[0]);
  for (const auto &entry : entries) {
    put16(entry[0]);
    put16(entry[1]);
    put32(1);
    put32(entry[2]);
  }
  put32(0);
  bytes.resize(300, '\0');
  return bytes;
}

TEST_F(Pipeline, HostileInputsFailFastInOneShortLine) {
  std::ofstream(path("huge.tif"), std::ios::binary)
      << tiffDeclaring(100000, 100000);
  writeFile(path("whole.tif"), 512, 512, 4, OIIO::TypeDesc::UINT8,
            pattern(512, 512, 4, false), [](OIIO::ImageSpec &spec) {
              spec.attribute("tiff:RowsPerStrip", 1);
            });
  const std::string whole = fileContents(path("whole.tif"));
  std::ofstream(path("cut.tif"), std::ios::binary)
      << whole.substr(0, whole.size() / 3);
  fs::remove(path("whole.tif"));
  const Names before = listDir(dir_);
  for (const auto &[input, message] :
       {std::pair<std::string, std::string>{"huge.tif",
                                            "declares 100000x100000 pixels"},
        {"cut.tif", "cut.tif: cannot read"}}) {
    SCOPED_TRACE(input);
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = render(kProbe, path(input), path("out.png"));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(10));
    expectRefused(run, kFile, message, before, path(input),
                  fileContents(path(input)));
    EXPECT_LT(run.err.size(), 400u) << run.err;
  }
}

TEST_F(Pipeline, TilesAreCappedAtTheWindowsPixels) {
  writeInput("in.png", 30, 20);
  const RunResult capped =
      render(kProbe, path("in.png"), path("capped.png"), {"--tile", "4096"});
  ASSERT_EQ(capped.exitCode, 0) << capped.err;
  EXPECT_NE(capped.err.find("ofxrender: warning: --tile 4096 asks for more "
                            "tiles than the window"),
            std::string::npos)
      << capped.err;
  const RunResult whole = render(kProbe, path("in.png"), path("whole.png"));
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(fileContents(path("capped.png")), fileContents(path("whole.png")));
}

// --------------------------------------------------- what pipelines expect

TEST_F(Pipeline, FrameListsRenderEachListedFrameOnce) {
  writeInput("in.png", 4, 4);
  const RunResult run = render(kProbe, path("in.png"), path("out.##.png"),
                               {"--frames", "1-3,5,7-12x2,-1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(listDir(dir_), (Names{"in.png", "out.-01.png", "out.01.png",
                                  "out.02.png", "out.03.png", "out.05.png",
                                  "out.07.png", "out.09.png", "out.11.png"}));
}

TEST_F(Pipeline, WritesJpegHalfExrAndReadsChosenExrChannels) {
  writeInput("in.png");
  const RunResult jpeg = render(kProbe, path("in.png"), path("out.jpg"));
  ASSERT_EQ(jpeg.exitCode, 0) << jpeg.err;
  EXPECT_NE(jpeg.err.find("ofxrender: warning: JPEG has no alpha"),
            std::string::npos);
  EXPECT_EQ(std::count(jpeg.err.begin(), jpeg.err.end(), '\n'), 1);
  EXPECT_EQ(readFile(path("out.jpg")).channels(), 3);
  const RunResult matte =
      render(kProbe, path("in.png"), path("matte.jpg"), {"--alpha"});
  ASSERT_EQ(matte.exitCode, 0) << matte.err;
  EXPECT_EQ(matte.err, "");
  EXPECT_EQ(readFile(path("matte.jpg")).channels(), 1);

  // Six channels: the colour ones under a layer, in an unusual order.
  const std::vector<float> rgba = pattern(8, 6, 4, true);
  std::vector<float> six;
  for (size_t p = 0; p < rgba.size() / 4; ++p) {
    six.push_back(0.25f); // Z
    for (int c : {3, 0, 1, 2})
      six.push_back(rgba[p * 4 + c]);
    six.push_back(0.5f); // other
  }
  writeFile(path("layers.exr"), 8, 6, 6, OIIO::TypeDesc::FLOAT, six,
            [](OIIO::ImageSpec &spec) {
              spec.channelnames = {"Z",        "beauty.A", "beauty.R",
                                   "beauty.G", "beauty.B", "other"};
              spec.alpha_channel = 1;
            });
  writeFile(path("plain.exr"), 8, 6, 4, OIIO::TypeDesc::FLOAT, rgba);
  for (const char *channels :
       {"beauty", "beauty.R,beauty.G,beauty.B,beauty.A"}) {
    const RunResult run = render(kProbe, path("layers.exr"), path("layer.exr"),
                                 {"--channels", channels});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(render(kProbe, path("plain.exr"), path("plain-out.exr")).exitCode,
              0);
    // The result goes back into the layer; Z and other are kept.
    const FileImage layer = readFile(path("layer.exr"));
    const FileImage plain = readFile(path("plain-out.exr"));
    ASSERT_EQ(layer.channels(), 6) << channels;
    const Names rgba = {"R", "G", "B", "A"};
    for (size_t p = 0; p < plain.values.size() / 4; ++p)
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(
            layer.values[p * 6 + layer.spec.channelindex("beauty." + rgba[c])],
            plain.values[p * 4 + c])
            << channels << ", pixel " << p << " channel " << c;
  }

  const RunResult half = render(kProbe, path("plain.exr"), path("half.exr"),
                                {"--output-type", "HALF"});
  ASSERT_EQ(half.exitCode, 0) << half.err;
  const FileImage halfImage = readFile(path("half.exr"));
  EXPECT_EQ(halfImage.spec.format, OIIO::TypeDesc::HALF);
  const FileImage floatImage = readFile(path("plain-out.exr"));
  for (size_t i = 0; i < floatImage.values.size(); ++i)
    EXPECT_NEAR(halfImage.values[i], floatImage.values[i], 1e-3);
}

TEST_F(Pipeline, ChoicesByShortTextAndThePluginsOwnHelp) {
  writeInput("in.png", 4, 4);
  // The probe's modes: "Normal", "Bands", "Throw", "Inspect".
  for (const char *mode :
       {"mode=0", "mode=Normal", "mode=normal", "mode=NORMAL"})
    EXPECT_EQ(render(kProbe, path("in.png"), path("out.png"),
                     {"--set", mode, "--set", "gain=0.5"})
                  .exitCode,
              0)
        << mode;
  // Options of several words are named by their first ones.
  if (fs::exists(bundleDir() + "/Rimlet.ofx.bundle")) {
    ASSERT_EQ(render("qoutline", path("in.png"), path("best.png"),
                     {"--set", "quality=best"})
                  .exitCode,
              0);
    ASSERT_EQ(render("qoutline", path("in.png"), path("two.png"),
                     {"--set", "quality=2"})
                  .exitCode,
              0);
    EXPECT_EQ(fileContents(path("best.png")), fileContents(path("two.png")));
  }
  const RunResult ambiguous =
      render(kProbe, path("in.png"), path("out.png"), {"--set", "throwKind=h"});
  EXPECT_EQ(ambiguous.exitCode, 2);

  const RunResult help =
      runTool({"render", kProbe, "--help", "--plugin-path", probeBundleDir()});
  EXPECT_EQ(help.exitCode, 0) << help.err;
  for (const char *line :
       {"--no-clobber", "--overscan", "--output-type", "gain (Double)",
        "range:         0 to 10", "default:       1", "1: \"Bands\""})
    EXPECT_NE(help.out.find(line), std::string::npos) << line;

  // The warning, then (with nothing found) where the tool looked.
  const RunResult missingFolder =
      runTool({"list", "--plugin-path", path("no-such-folder")});
  EXPECT_EQ(missingFolder.err.substr(0, missingFolder.err.find('\n') + 1),
            "ofxrender: warning: --plugin-path " + path("no-such-folder") +
                " is not a folder\n");
}

// --------------------------------------------------------------- scale out

// A farm splits a sequence by frame lists, one process each, all writing
// into one folder at once: the files must be those of a single process.
TEST_F(Pipeline, ConcurrentProcessesOverTheirOwnFramesMatchOneProcess) {
  fs::create_directory(path("one"));
  fs::create_directory(path("many"));
  const Names keys = {"--key", "gain@1=0.5", "--key", "gain@12=2"};
  auto framesArgs = [&](const std::string &folder, const std::string &frames) {
    Names extra = {"--frames", frames, "--threads", "1"};
    extra.insert(extra.end(), keys.begin(), keys.end());
    return renderArgs(kProbe, path("in.exr"), path(folder + "/out.####.exr"),
                      extra);
  };
  writeFile(path("in.exr"), 64, 48, 4, OIIO::TypeDesc::FLOAT,
            pattern(64, 48, 4, true));
  const RunResult one = runTool(framesArgs("one", "1-12"));
  ASSERT_EQ(one.exitCode, 0) << one.err;

  std::vector<RunningTool> tools;
  for (const char *frames : {"1-12x4", "2-12x4", "3-12x4", "4-12x4"})
    tools.push_back(startTool(framesArgs("many", frames)));
  for (const RunningTool &tool : tools) {
    const RunResult run = waitTool(tool);
    EXPECT_EQ(run.exitCode, 0) << run.err;
  }
  const Names names = listDir(path("one"));
  ASSERT_EQ(names.size(), 12u);
  EXPECT_EQ(listDir(path("many")), names);
  for (const std::string &name : names)
    EXPECT_EQ(fileContents(path("many/" + name)),
              fileContents(path("one/" + name)))
        << name;
}

} // namespace
} // namespace ofxrender_test
