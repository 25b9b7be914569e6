// Every way a render can fail: one clear line on stderr, the exit code of
// its kind, and no output file (nor any temporary file) left behind.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

enum Exit { kRenderFailed = 1, kUsage = 2, kFile = 3 };

struct ErrorCase {
  const char *name;
  std::vector<std::string> args; // after "render --plugin-path DIR"; see below
  int exitCode;
  const char *message; // must appear in stderr
};

void PrintTo(const ErrorCase &error, std::ostream *out) { *out << error.name; }

// In args, "IN.png", "IN.exr", "OUT.png", ... name files of the scratch
// directory: IN.* exist (valid pictures, 8-bit PNG and float EXR), OUT.* not.
const ErrorCase kErrors[] = {
    {"MissingInput",
     {"probe", "nothere.png", "OUT.png"},
     kFile,
     "nothere.png: no such file"},
    {"UnreadableInput",
     {"probe", "TEXT.png", "OUT.png"},
     kFile,
     "TEXT.png: cannot read"},
    {"TruncatedPng",
     {"probe", "CUT.png", "OUT.png"},
     kFile,
     "CUT.png: cannot read"},
    {"TruncatedExr",
     {"probe", "CUT.exr", "OUT.exr"},
     kFile,
     "CUT.exr: cannot read"},
    {"UnknownPlugin",
     {"nosuchplugin", "IN.png", "OUT.png"},
     kUsage,
     "nosuchplugin"},
    {"UnknownParameter",
     {"probe", "IN.png", "OUT.png", "--set", "nosuch=1"},
     kUsage,
     "unknown parameter 'nosuch'"},
    {"WrongShape",
     {"probe", "IN.png", "OUT.png", "--set", "tint=1,2"},
     kUsage,
     "tint: '1,2' has 2 component(s); RGBA takes 3 or 4 separated by commas"},
    {"TooManyComponents",
     {"probe", "IN.png", "OUT.png", "--set", "gain=1,2"},
     kUsage,
     "gain: '1,2' has 2 component(s)"},
    {"NotANumber",
     {"probe", "IN.png", "OUT.png", "--set", "gain=abc"},
     kUsage,
     "gain: 'abc' is not a number"},
    {"NotAWholeNumber",
     {"probe", "IN.png", "OUT.png", "--set", "throwStatus=1.5"},
     kUsage,
     "throwStatus: '1.5' is not a whole number"},
    {"NotABoolean",
     {"probe", "IN.png", "OUT.png", "--set", "answerRegions=maybe"},
     kUsage,
     "answerRegions: 'maybe' is not a boolean"},
    {"UnknownOption",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Sideways"},
     kUsage,
     "mode: 'Sideways' is not one of its options"},
    {"OptionIndexOutOfRange",
     {"probe", "IN.png", "OUT.png", "--set", "mode=4"},
     kUsage,
     "mode: '4' is not an option index (0 to 3)"},
    {"ValueOutOfRange",
     {"probe", "IN.png", "OUT.png", "--set", "gain=11"},
     kUsage,
     "gain: '11' is outside the parameter's range: 0 to 10"},
    {"KeyOnAParameterThatDoesNotAnimate",
     {"probe", "IN.png", "OUT.png", "--key", "mode@1=1"},
     kUsage,
     "mode: does not animate"},
    {"SetAndKeyTogether",
     {"probe", "IN.png", "OUT.png", "--set", "gain=1", "--key", "gain@2=2"},
     kUsage,
     "gain: is given both --set and --key"},
    {"SetWithoutValue",
     {"probe", "IN.png", "OUT.png", "--set", "gain"},
     kUsage,
     "'gain' is not of the form NAME=VALUE"},
    {"KeyWithoutTime",
     {"probe", "IN.png", "OUT.png", "--key", "gain=1"},
     kUsage,
     "'gain=1' is not of the form NAME@TIME=VALUE"},
    // The message states the bound, not the largest double in full.
    {"ScaleZero",
     {"probe", "IN.png", "OUT.png", "--scale", "0"},
     kUsage,
     "--scale: must be a number greater than 0\n"},
    {"ScaleNegative",
     {"probe", "IN.png", "OUT.png", "--scale", "-2"},
     kUsage,
     "--scale: must be a number greater than 0\n"},
    {"DepthUnknown",
     {"probe", "IN.png", "OUT.png", "--depth", "half"},
     kUsage,
     "--depth"},
    {"TileZero",
     {"probe", "IN.png", "OUT.png", "--tile", "0"},
     kUsage,
     "--tile"},
    {"ThreadsZero",
     {"probe", "IN.png", "OUT.png", "--threads", "0"},
     kUsage,
     "--threads"},
    {"WindowMalformed",
     {"probe", "IN.png", "OUT.png", "--window", "1,2,3"},
     kUsage,
     "--window: '1,2,3' is not four whole numbers"},
    {"WindowEmpty",
     {"probe", "IN.png", "OUT.png", "--window", "3,0,3,4"},
     kUsage,
     "--window: 3,0,3,4 is empty"},
    {"WindowOutsideTheImage",
     {"probe", "IN.png", "OUT.png", "--window", "0,0,100,4"},
     kUsage,
     "reaches outside the output image (0, 0, 8, 6)"},
    {"FramesMalformed",
     {"probe", "IN.png", "OUT.#.png", "--frames", "1..3"},
     kUsage,
     "--frames: '1..3' is not a frame range"},
    {"FramesWithoutPattern",
     {"probe", "IN.png", "OUT.png", "--frames", "1-3"},
     kUsage,
     "OUTPUT needs a run of #"},
    {"FramesAndTime",
     {"probe", "IN.png", "OUT.#.png", "--frames", "1-3", "--time", "2"},
     kUsage,
     "--time and --frames exclude each other"},
    {"FrameListWithAnEmptyItem",
     {"probe", "IN.png", "OUT.#.png", "--frames", "1-3,"},
     kUsage,
     "--frames: '1-3,' is not a frame range"},
    {"FrameListWithAZeroStep",
     {"probe", "IN.png", "OUT.#.png", "--frames", "1-9x0"},
     kUsage,
     "--frames: '1-9x0' is not a frame range"},
    {"OutputIsTheInput",
     {"probe", "IN.png", "IN.png"},
     kFile,
     "IN.png: is the same file as an input of this render"},
    {"CropAndOverscan",
     {"probe", "IN.png", "OUT.png", "--crop", "--overscan"},
     kUsage,
     "--crop and --overscan exclude each other"},
    {"HalfIntoPng",
     {"probe", "IN.exr", "OUT.png", "--output-type", "half"},
     kUsage,
     "--output-type half: only EXR outputs"},
    {"HalfWithByteDepth",
     {"probe", "IN.exr", "OUT.exr", "--output-type", "half", "--depth", "byte"},
     kUsage,
     "cannot go with --depth byte"},
    {"MissingChannel",
     {"probe", "IN.exr", "OUT.exr", "--channels", "Z"},
     kFile,
     "IN.exr: has no channel or layer 'Z'; its channels are R, G, B, A"},
    {"UnknownCommandLineOption",
     {"probe", "IN.png", "OUT.png", "--bogus"},
     kUsage,
     "--bogus"},
    // The output's format is the command line's choice, so a depth it
    // cannot hold is a usage error, whether --depth or the input chose it.
    {"FloatIntoPng",
     {"probe", "IN.exr", "OUT.png"},
     kUsage,
     "PNG files cannot hold float pixels"},
    {"FloatIntoPngByDepth",
     {"probe", "IN.png", "OUT.png", "--depth", "float"},
     kUsage,
     "PNG files cannot hold float pixels"},
    {"ByteIntoExr",
     {"probe", "IN.png", "OUT.exr"},
     kUsage,
     "EXR files cannot hold 8-bit pixels"},
    {"ByteIntoExrByDepth",
     {"probe", "IN.exr", "OUT.exr", "--depth", "byte"},
     kUsage,
     "EXR files cannot hold 8-bit pixels"},
    {"OutputDirectoryMissing",
     {"probe", "IN.png", "nodir/out.png"},
     kFile,
     "the directory"},
    {"UnknownOutputFormat",
     {"probe", "IN.png", "OUT.xyzzy"},
     kUsage,
     "no image format is known for the extension '.xyzzy'"},
    // A dry run fails as the render would, before printing anything.
    {"DryRunMissingInput",
     {"probe", "nothere.png", "OUT.png", "--dry-run"},
     kFile,
     "nothere.png: no such file"},
    {"DryRunUnreadableInput",
     {"probe", "TEXT.png", "OUT.png", "--dry-run"},
     kFile,
     "TEXT.png: cannot read"},
    {"DryRunMissingChannel",
     {"probe", "IN.exr", "OUT.exr", "--channels", "Z", "--dry-run"},
     kFile,
     "IN.exr: has no channel or layer 'Z'"},
    {"DryRunBadValue",
     {"probe", "IN.png", "OUT.png", "--set", "gain=11", "--dry-run"},
     kUsage,
     "gain: '11' is outside the parameter's range"},
    {"DryRunFloatIntoPng",
     {"probe", "IN.exr", "OUT.png", "--dry-run"},
     kUsage,
     "PNG files cannot hold float pixels"},
    {"DryRunOutputIsTheInput",
     {"probe", "IN.png", "IN.png", "--dry-run"},
     kFile,
     "IN.png: is the same file as an input of this render"},
    {"RenderThrowsAStatus",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Throw", "--set",
      "throwStatus=7"},
     kRenderFailed,
     "OfxImageEffectActionRender failed: kOfxStatErrFormat (7): OpenFX suite "
     "call failed with kOfxStatErrFormat (probe)\n"},
    {"RenderFailsInItsBands",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Throw", "--set",
      "throwWhere=Bands", "--set", "throwKind=bad_alloc"},
     kRenderFailed,
     "OfxImageEffectActionRender failed: kOfxStatErrMemory (8)\n"},
    {"RenderFailsInItsBandsSayingWhy",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Throw", "--set",
      "throwWhere=Bands", "--set", "throwKind=runtime_error", "--threads", "3"},
     kRenderFailed,
     "OfxImageEffectActionRender failed: kOfxStatFailed (1): probe\n"},
    {"BeginSequenceFails",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Throw", "--set",
      "throwWhere=BeginSequence", "--set", "throwKind=HostInadequate"},
     kRenderFailed,
     "OfxImageEffectActionBeginSequenceRender failed: "
     "kOfxStatErrMissingHostFeature (4): probe\n"},
    {"RegionOfDefinitionFails",
     {"probe", "IN.png", "OUT.png", "--set", "mode=Throw", "--set",
      "throwWhere=Regions"},
     kRenderFailed,
     "OfxImageEffectActionGetRegionOfDefinition failed: kOfxStatFailed (1): "
     "OpenFX suite call failed with kOfxStatFailed (probe)\n"},
};

class RenderErrors : public ToolTest,
                     public ::testing::WithParamInterface<ErrorCase> {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    writeFile(path("IN.png"), 8, 6, 4, OIIO::TypeDesc::UINT8,
              pattern(8, 6, 4, false));
    writeFile(path("IN.exr"), 8, 6, 4, OIIO::TypeDesc::FLOAT,
              pattern(8, 6, 4, true));
    std::ofstream(path("TEXT.png")) << "this is not a picture\n";
    writeTruncated("CUT.png", OIIO::TypeDesc::UINT8);
    writeTruncated("CUT.exr", OIIO::TypeDesc::FLOAT);
    inputs_ = listDir(dir_);
  }

  // A picture big enough to have several blocks, cut in the middle.
  void writeTruncated(const std::string &name, OIIO::TypeDesc type) {
    const std::string whole = path("whole-" + name);
    writeFile(whole, 256, 256, 4, type, pattern(256, 256, 4, false));
    const std::string bytes = fileContents(whole);
    std::ofstream(path(name), std::ios::binary)
        << bytes.substr(0, bytes.size() / 2);
    std::filesystem::remove(whole);
  }

  std::string resolve(const std::string &arg) const {
    const bool scratch =
        arg.rfind("IN.", 0) == 0 || arg.rfind("OUT.", 0) == 0 ||
        arg.rfind("TEXT.", 0) == 0 || arg.rfind("CUT.", 0) == 0 ||
        arg.rfind("nothere", 0) == 0 || arg.rfind("nodir", 0) == 0;
    return scratch ? path(arg) : arg;
  }

  std::vector<std::string> inputs_;
};

TEST_P(RenderErrors, OneLineAnExitCodeAndNoFile) {
  const ErrorCase &error = GetParam();
  std::vector<std::string> args = {"render", "--plugin-path", probeBundleDir()};
  for (const std::string &arg : error.args)
    args.push_back(resolve(arg));
  const RunResult run = runTool(args);

  EXPECT_EQ(run.exitCode, error.exitCode) << error.name << ": " << run.err;
  EXPECT_NE(run.err.find(error.message), std::string::npos)
      << error.name << ": expected '" << error.message << "' in: " << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1)
      << error.name << ": not one line: " << run.err;
  EXPECT_EQ(run.err.rfind("ofxrender: error: ", 0), 0u) << run.err;
  EXPECT_EQ(run.out, "") << error.name;
  EXPECT_EQ(listDir(dir_), inputs_) << error.name << ": files left behind";
}

INSTANTIATE_TEST_SUITE_P(Errors, RenderErrors, ::testing::ValuesIn(kErrors),
                         [](const auto &info) { return info.param.name; });

using FailedRenders = ToolTest;

TEST_F(FailedRenders, LeaveAnExistingOutputUntouched) {
  writeFile(path("in.png"), 8, 6, 4, OIIO::TypeDesc::UINT8,
            pattern(8, 6, 4, false));
  std::ofstream(path("out.png")) << "previous result";
  const RunResult run =
      render(kProbe, path("in.png"), path("out.png"), {"--set", "mode=Throw"});
  EXPECT_EQ(run.exitCode, kRenderFailed) << run.err;
  EXPECT_EQ(fileContents(path("out.png")), "previous result");
  EXPECT_EQ(listDir(dir_), (std::vector<std::string>{"in.png", "out.png"}));
}

// Every input is looked for before the first render, so a sequence missing
// a frame fails at once, however long its frame list, rather than after
// rendering the frames before the gap.
TEST_F(FailedRenders, StopASequenceWithAMissingFrameBeforeRendering) {
  for (const char *name : {"in.1.exr", "in.2.exr", "in.4.exr"})
    writeFile(path(name), 4, 4, 4, OIIO::TypeDesc::FLOAT,
              pattern(4, 4, 4, true));
  for (const char *frames : {"1-4", "1,2,3", "1-1000000000"}) {
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = render(kProbe, path("in.#.exr"), path("out.#.exr"),
                                 {"--frames", frames});
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(10))
        << frames;
    EXPECT_EQ(run.exitCode, kFile) << frames;
    EXPECT_EQ(run.err, "ofxrender: error: " + path("in.3.exr") +
                           ": no such file (frame 3); nothing was rendered\n")
        << frames;
    EXPECT_EQ(listDir(dir_),
              (std::vector<std::string>{"in.1.exr", "in.2.exr", "in.4.exr"}))
        << frames;
  }
}

TEST_F(FailedRenders, NameAnUnloadablePluginBundle) {
  const std::string bundle = path("Broken.ofx.bundle");
  std::filesystem::create_directories(bundle + "/Contents/Linux-x86-64");
  std::ofstream(bundle + "/Contents/Linux-x86-64/Broken.ofx")
      << "not a library";
  writeFile(path("in.png"), 2, 2, 4, OIIO::TypeDesc::UINT8,
            pattern(2, 2, 4, false));
  const RunResult run =
      runTool({"render", bundle, path("in.png"), path("out.png")});
  EXPECT_EQ(run.exitCode, kRenderFailed) << run.err;
  EXPECT_NE(run.err.find("cannot load " + bundle), std::string::npos)
      << run.err;
  EXPECT_FALSE(fileExists(path("out.png")));
}

} // namespace
} // namespace ofxrender_test
