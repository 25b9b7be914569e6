// Every render option, checked through what ends up in the output file.
// The probe computes source * gain + tint; "mode" Bands writes each pixel's
// band rows and thread index, "mode" Inspect the source's render scale.
#include <cmath>
#include <set>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

class RenderOptions : public ToolTest {
public:
  using ToolTest::path;

protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeFile(path("in.exr"), 8, 6, 4, OIIO::TypeDesc::FLOAT,
              pattern(8, 6, 4, true));
    input_ = readFile(path("in.exr"));
  }

  // Renders in.exr into out.exr with the options and reads the result.
  FileImage renderWith(const std::vector<std::string> &options,
                       const std::string &plugin = kProbe) {
    const RunResult run =
        render(plugin, path("in.exr"), path("out.exr"), options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readFile(path("out.exr"));
  }

  // Checks out == input * gain + tint in every channel.
  void expectGainAndTint(const FileImage &out, float gain,
                         const std::vector<float> &tint,
                         const std::string &what) {
    ASSERT_EQ(out.values.size(), input_.values.size()) << what;
    for (size_t i = 0; i < input_.values.size(); ++i) {
      const float expected = input_.values[i] * gain + tint[i % 4];
      ASSERT_NEAR(out.values[i], expected, 1e-6)
          << what << ": pixel (" << (i / 4) % 8 << ", " << (i / 4) / 8
          << ") channel " << i % 4;
    }
  }

  FileImage input_;
};

TEST_F(RenderOptions, SetTakesNumbersComponentsAndChoices) {
  expectGainAndTint(renderWith({"--set", "gain=0.5"}), 0.5f, {0, 0, 0, 0},
                    "gain=0.5");
  expectGainAndTint(renderWith({"--set", "tint=0.25,0,0.5,0"}), 1.0f,
                    {0.25f, 0, 0.5f, 0}, "tint");
  expectGainAndTint(
      renderWith({"--set", "gain=2", "--set", " tint = 0.1, 0.2, 0.3, 0.4"}),
      2.0f, {0.1f, 0.2f, 0.3f, 0.4f}, "gain and tint with blanks");
  expectGainAndTint(renderWith({"--set", "tint=0.5,0,0"}), 1.0f,
                    {0.5f, 0, 0, 1.0f}, "an RGB colour is opaque");

  // A choice by option text and by index select the same option.
  const FileImage byText = renderWith({"--set", "mode=Inspect"});
  const FileImage byIndex = renderWith({"--set", "mode=3"});
  EXPECT_EQ(byText.values, byIndex.values);
  EXPECT_NE(byText.values, input_.values);
}

// The last value given wins; a parameter given twice (a key: twice at one
// time) is pointed out once, by name.
TEST_F(RenderOptions, RepeatedSetsAndKeysWarnOnceAndTheLastWins) {
  struct Case {
    std::vector<std::string> options;
    float gain;
    const char *warning; // nullptr: none
  };
  const Case cases[] = {
      {{"--set", "gain=3", "--set", "gain=2", "--set", "gain=0.5"},
       0.5f,
       "warning: --set gives gain 3 times; the last one is used\n"},
      {{"--key", "gain@0=3", "--key", "gain@0=0.25"},
       0.25f,
       "warning: --key gives gain at time 0 2 times; the last one is used\n"},
      {{"--key", "gain@0=0.5", "--key", "gain@10=0.5"}, 0.5f, nullptr},
      {{"--set", "gain=0.5", "--set", "tint=0,0,0,0"}, 0.5f, nullptr},
  };
  for (const Case &c : cases) {
    const RunResult run =
        render(kProbe, path("in.exr"), path("out.exr"), c.options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, c.warning ? std::string("ofxrender: ") + c.warning : "");
    expectGainAndTint(readFile(path("out.exr")), c.gain, {0, 0, 0, 0},
                      c.options[1]);
  }
}

// A dry run checks the whole job and prints each frame, writing nothing.
TEST_F(RenderOptions, DryRunPrintsEveryFrameAndWritesNothing) {
  for (const char *name : {"seq.1.exr", "seq.2.exr", "seq.3.exr"})
    writeFile(path(name), 8, 6, 4, OIIO::TypeDesc::FLOAT,
              pattern(8, 6, 4, true));
  const std::vector<std::string> before = listDir(dir_);
  const RunResult run = render(kProbe, path("seq.#.exr"), path("out.#.png"),
                               {"--dry-run", "--frames", "1-3", "--depth",
                                "short", "--set", "gain=0.5"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(listDir(dir_), before);
  for (int frame = 1; frame <= 3; ++frame) {
    const std::string n = std::to_string(frame);
    const std::string line = "time " + n + ": " + path("seq." + n + ".exr") +
                             " -> " + path("out." + n + ".png") +
                             " (8x6, short OfxImageComponentRGBA)\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
  }
  EXPECT_NE(run.out.find("settings: scale 1, depth short, --set gain=0.5\n"),
            std::string::npos)
      << run.out;
}

TEST_F(RenderOptions, KeysAreInterpolatedAtTheRenderTime) {
  const std::vector<std::string> keys = {
      "--key", "gain@0=0", "--key", "gain@10=1", "--key", "tint@10=0,0,0,0.5"};
  auto at = [&](const char *time) {
    std::vector<std::string> options = keys;
    options.insert(options.end(), {"--time", time});
    return renderWith(options);
  };
  expectGainAndTint(at("0"), 0.0f, {0, 0, 0, 0.5f}, "time 0");
  expectGainAndTint(at("5"), 0.5f, {0, 0, 0, 0.5f}, "time 5");
  expectGainAndTint(at("2.5"), 0.25f, {0, 0, 0, 0.5f}, "time 2.5");
  expectGainAndTint(at("20"), 1.0f, {0, 0, 0, 0.5f}, "after the last key");
}

TEST_F(RenderOptions, FramesRenderASequenceAtTimeN) {
  for (int n = 2; n <= 4; ++n)
    writeFile(path("seq." + std::to_string(n) + ".exr"), 8, 6, 4,
              OIIO::TypeDesc::FLOAT,
              std::vector<float>(8 * 6 * 4, 0.25f * n - 0.25f));
  const RunResult run =
      render(kProbe, path("seq.#.exr"), path("out.###.exr"),
             {"--frames", "2-4", "--key", "gain@2=1", "--key", "gain@4=2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (int n = 2; n <= 4; ++n) {
    const FileImage out = readFile(path("out.00" + std::to_string(n) + ".exr"));
    const float gain = 1.0f + 0.5f * (n - 2);
    const float expected = (0.25f * n - 0.25f) * gain;
    for (size_t i = 0; i < out.values.size(); ++i)
      ASSERT_NEAR(out.values[i], expected, 1e-6)
          << "frame " << n << ", element " << i;
  }
  EXPECT_FALSE(fileExists(path("out.001.exr")));
  EXPECT_FALSE(fileExists(path("out.005.exr")));
}

TEST_F(RenderOptions, FramesOverAStillInputAnimateItsParameters) {
  const RunResult run =
      render(kProbe, path("in.exr"), path("anim.##.exr"),
             {"--frames", "0-1", "--key", "gain@0=0", "--key", "gain@1=1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  expectGainAndTint(readFile(path("anim.00.exr")), 0.0f, {0, 0, 0, 0},
                    "frame 0");
  expectGainAndTint(readFile(path("anim.01.exr")), 1.0f, {0, 0, 0, 0},
                    "frame 1");
}

TEST_F(RenderOptions, ScaleReachesThePlugin) {
  // Inspect writes the source image's render scale into red and green.
  const FileImage out =
      renderWith({"--set", "mode=Inspect", "--scale", "0.25"});
  EXPECT_EQ(out.spec.width, 8) << "the input is taken to be at that scale";
  for (size_t p = 0; p < out.values.size() / 4; ++p) {
    ASSERT_FLOAT_EQ(out.values[p * 4 + 0], 0.25f) << "pixel " << p;
    ASSERT_FLOAT_EQ(out.values[p * 4 + 1], 0.25f) << "pixel " << p;
  }
}

// Renders a 16-bit picture in the probe's Bands mode and returns, per
// pixel, the band's first and end row relative to the render window.
// (Short pixels hold row numbers; float outputs would be clamped to 1.)
std::vector<std::pair<int, int>>
bandRows(RenderOptions &test, const std::vector<std::string> &extra) {
  writeFile(test.path("in16.tif"), 8, 6, 4, OIIO::TypeDesc::UINT16,
            std::vector<float>(8 * 6 * 4, 0.5f));
  std::vector<std::string> options = {"--set", "mode=Bands"};
  options.insert(options.end(), extra.begin(), extra.end());
  const RunResult run =
      render(kProbe, test.path("in16.tif"), test.path("bands.tif"), options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const FileImage out = readFile(test.path("bands.tif"));
  std::vector<std::pair<int, int>> rows;
  for (size_t p = 0; p < out.values.size() / 4; ++p)
    rows.push_back(
        {static_cast<int>(std::lround(out.values[p * 4] * 65535)),
         static_cast<int>(std::lround(out.values[p * 4 + 1] * 65535))});
  return rows;
}

std::set<int> bandStarts(const std::vector<std::pair<int, int>> &rows) {
  std::set<int> starts;
  for (const auto &row : rows)
    starts.insert(row.first);
  return starts;
}

TEST_F(RenderOptions, ThreadsSetTheNumberOfBands) {
  EXPECT_EQ(bandStarts(bandRows(*this, {"--threads", "1"})),
            (std::set<int>{0}));
  EXPECT_EQ(bandStarts(bandRows(*this, {"--threads", "3"})).size(), 3u);
  // Whatever the threads, a normal render gives the same pixels.
  EXPECT_EQ(renderWith({"--threads", "1"}).bytes,
            renderWith({"--threads", "4"}).bytes);
}

TEST_F(RenderOptions, TilesGiveExactlyTheSameFileAsOneRender) {
  const RunResult whole = render(kProbe, path("in.exr"), path("one.exr"),
                                 {"--set", "gain=0.7", "--set", "margin=3"});
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  for (const char *n : {"2", "3", "5"}) {
    const RunResult tiled =
        render(kProbe, path("in.exr"), path("tiled.exr"),
               {"--set", "gain=0.7", "--set", "margin=3", "--tile", n});
    ASSERT_EQ(tiled.exitCode, 0) << tiled.err;
    EXPECT_EQ(fileContents(path("tiled.exr")), fileContents(path("one.exr")))
        << n << " x " << n << " tiles";
  }
  // Each tile is its own render action over a 4 x 3 window.
  for (const auto &[start, end] :
       bandRows(*this, {"--threads", "1", "--tile", "2"})) {
    ASSERT_EQ(start, 0);
    ASSERT_EQ(end, 3);
  }
}

TEST_F(RenderOptions, WindowLeavesTheRestOfTheImageEmpty) {
  const FileImage out = renderWith({"--window", "2,1,5,3"});
  for (int row = 0; row < 6; ++row)
    for (int col = 0; col < 8; ++col) {
      // Image rows 1..2 are file rows 3..4.
      const bool rendered = col >= 2 && col < 5 && row >= 3 && row < 5;
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(out.at(col, row, c), rendered ? input_.at(col, row, c) : 0.0f)
            << "file pixel (" << col << ", " << row << ") channel " << c;
    }
}

TEST_F(RenderOptions, DepthChoosesTheRenderedAndWrittenType) {
  writeFile(path("in8.png"), 4, 4, 4, OIIO::TypeDesc::UINT8,
            std::vector<float>(4 * 4 * 4, 1.0f));
  struct Case {
    const char *depth, *output;
    OIIO::TypeDesc written;
  };
  for (const Case &c : {Case{nullptr, "a.png", OIIO::TypeDesc::UINT8},
                        Case{"short", "b.png", OIIO::TypeDesc::UINT16},
                        Case{"float", "c.exr", OIIO::TypeDesc::FLOAT},
                        Case{"byte", "d.tif", OIIO::TypeDesc::UINT8}}) {
    std::vector<std::string> options;
    if (c.depth)
      options = {"--depth", c.depth};
    const RunResult run =
        render(kProbe, path("in8.png"), path(c.output), options);
    ASSERT_EQ(run.exitCode, 0) << c.output << ": " << run.err;
    const FileImage out = readFile(path(c.output));
    EXPECT_EQ(out.spec.format, c.written) << c.output;
    EXPECT_EQ(out.values, std::vector<float>(4 * 4 * 4, 1.0f)) << c.output;
  }
  // The file's own depth by default: 16-bit stays short, half becomes float.
  writeFile(path("in16.tif"), 2, 2, 4, OIIO::TypeDesc::UINT16,
            std::vector<float>(16, 0.5f));
  ASSERT_EQ(render(kProbe, path("in16.tif"), path("e.tif")).exitCode, 0);
  EXPECT_EQ(readFile(path("e.tif")).spec.format, OIIO::TypeDesc::UINT16);
  writeFile(path("inh.exr"), 2, 2, 4, OIIO::TypeDesc::HALF,
            std::vector<float>(16, 0.5f));
  ASSERT_EQ(render(kProbe, path("inh.exr"), path("f.tif")).exitCode, 0);
  EXPECT_EQ(readFile(path("f.tif")).spec.format, OIIO::TypeDesc::FLOAT);
}

TEST_F(RenderOptions, PluginIsFoundByIdentifierLastLabelLabelOrPath) {
  const std::string bundle = probeBundleDir() + "/QfxTestPlugin.ofx.bundle";
  for (const std::string &name :
       {std::string(kProbe), std::string("probe"), std::string("PROBE"),
        std::string("QFX Probe"), std::string("qfx probe"), bundle}) {
    const RunResult run = render(name, path("in.exr"), path("by-name.exr"));
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
  }
}

TEST_F(RenderOptions, VerbosePrintsRegionsWindowFormatThreadsAndTime) {
  const RunResult run =
      render(kProbe, path("in.exr"), path("out.exr"),
             {"-v", "--set", "margin=1", "--threads", "2", "--tile", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char *expected :
       {"source region of definition: (0, 0, 8, 6)",
        "output region of definition: (-1, -1, 9, 7)",
        "output image bounds: (-1, -1, 9, 7) pixels",
        "render window: (-1, -1, 9, 7) pixels in 4 tile(s)",
        "region of interest of Source: (-2, -2, 10, 8)",
        "format: float "
        "OfxImageComponentRGBA, render scale 1",
        "threads: 2", "render time: "})
    EXPECT_NE(run.out.find(expected), std::string::npos)
        << "missing '" << expected << "' in:\n"
        << run.out;
}

TEST_F(RenderOptions, QuietRendersPrintNothing) {
  const RunResult single = render(kProbe, path("in.exr"), path("out.exr"));
  EXPECT_EQ(single.exitCode, 0);
  EXPECT_EQ(single.out, "");
  EXPECT_EQ(single.err, "");
}

} // namespace
} // namespace ofxrender_test
