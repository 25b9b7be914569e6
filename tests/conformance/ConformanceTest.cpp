// Drives the conformance probe through every action the host sends, in the
// host library and in ofxrender, and fails on each of its findings by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "EffectHost.h"
#include "ofxhost/Host.h"

namespace {

const std::string kFindingPrefix = "OfxMessageError: conformance: ";
const std::string kCheckedPrefix = "OfxMessageLog: conformance checked: ";

std::string probeBundle() {
  return ofxhost::bundlePathIn(QFX_TEST_BUNDLE_OUTPUT_DIR, "ConformanceProbe");
}

// What the probe reported: its findings, and the kinds of object it checked.
struct Report {
  std::vector<std::string> findings;
  std::set<std::string> checked;
};

Report reportFromMessages(const std::vector<std::string> &messages) {
  Report report;
  for (const std::string &message : messages) {
    if (message.rfind(kFindingPrefix, 0) == 0)
      report.findings.push_back(message.substr(kFindingPrefix.size()));
    else if (message.rfind(kCheckedPrefix, 0) == 0)
      report.checked.insert(message.substr(kCheckedPrefix.size()));
  }
  return report;
}

std::string listed(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += "\n  " + line;
  return text;
}

// As many threads as the machine has, as an application would run it.
ofxhost::HostOptions isolatedOptions() { return qfx_test::isolatedOptions(0); }

ofxhost::ImagePtr rgbaImage() {
  return std::make_shared<ofxhost::Image>(OfxRectI{0, 0, 8, 6},
                                          ofxhost::BitDepth::Float,
                                          ofxhost::Components::RGBA);
}

// Every action the host library sends, in the order an application would.
void driveEveryAction(ofxhost::Host &host, const std::string &context) {
  std::string error;
  std::vector<ofxhost::Plugin *> loaded = host.addBundle(probeBundle(), &error);
  ASSERT_EQ(loaded.size(), 1u) << error;
  ofxhost::ActionResult result;
  auto instance = loaded.front()->createInstance(context, &result);
  ASSERT_TRUE(instance) << result.message;
  instance->setSource(rgbaImage());
  instance->setOutput(rgbaImage());
  OfxRectD rod{};
  EXPECT_TRUE(instance->regionOfDefinition(0, {1, 1}, rod).ok());
  std::map<std::string, OfxRectD> rois;
  EXPECT_TRUE(instance->regionsOfInterest(0, {1, 1}, {0, 0, 8, 6}, rois).ok());
  EXPECT_TRUE(instance->beginSequenceRender(0, 1).ok());
  for (double time : {0.0, 1.0}) {
    ofxhost::RenderRequest request;
    request.time = time;
    request.window = OfxRectI{0, 0, 8, 6};
    result = instance->render(request);
    EXPECT_TRUE(result.ok()) << result.message;
  }
  EXPECT_TRUE(instance->endSequenceRender(0, 1).ok());
}

Report probeHost(const std::string &context,
                 ofxhost::HostOptions options = isolatedOptions()) {
  ofxhost::Host host(options);
  driveEveryAction(host, context);
  return reportFromMessages(host.messages());
}

TEST(Conformance, HostLibraryHandsOverEveryPropertyTheStandardLists) {
  // Everything the probe must have looked at, so that a probe that stopped
  // checking cannot pass for a clean host.
  const std::vector<std::string> mustCheck = {
      "host",
      "effect descriptor",
      "context descriptor",
      "clip descriptor",
      "parameter set descriptor",
      "parameter set instance",
      "parameter descriptor integer",
      "parameter descriptor double",
      "parameter descriptor strchoice",
      "parameter descriptor custom",
      "parameter descriptor pushbutton",
      "parameter descriptor page",
      "parameter instance double2d",
      "parameter instance string",
      "effect instance",
      "clip instance at create",
      "clip instance at render",
      "image",
      "OfxImageEffectActionDescribeInContext inArgs",
      "OfxImageEffectActionGetClipPreferences outArgs",
      "OfxImageEffectActionGetRegionOfDefinition inArgs",
      "OfxImageEffectActionGetRegionOfDefinition outArgs",
      "OfxImageEffectActionGetRegionsOfInterest inArgs",
      "OfxImageEffectActionBeginSequenceRender inArgs",
      "OfxImageEffectActionRender inArgs",
      "OfxImageEffectActionEndSequenceRender inArgs",
      "defaults of host",
      "defaults of effect descriptor",
      "defaults of clip descriptor",
      "defaults of parameter set descriptor",
      "defaults of parameter descriptor integer",
      "defaults of parameter descriptor double2d",
      "defaults of parameter descriptor string",
      "defaults of parameter descriptor choice",
      "defaults of effect instance",
      "defaults of clip instance at create",
      "defaults of OfxImageEffectActionGetClipPreferences outArgs",
      "defaults of OfxImageEffectActionRender inArgs",
      "spatial defaults",
      "action order",
  };
  for (const char *context :
       {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}) {
    SCOPED_TRACE(context);
    const Report report = probeHost(context);
    EXPECT_TRUE(report.findings.empty())
        << report.findings.size()
        << " properties missing or wrong:" << listed(report.findings);
    for (const std::string &kind : mustCheck)
      EXPECT_TRUE(report.checked.count(kind))
          << "the probe never checked " << kind;
  }
}

// The probe must see what a careless host leaves out: the same run with
// properties withheld names exactly those.
TEST(Conformance, ProbeNamesWhatTheHostLeavesOut) {
  ofxhost::HostOptions options = isolatedOptions();
  options.omittedHostProperties = {kOfxPropHostOSHandle,
                                   kOfxImageEffectPropSupportsTiles,
                                   kOfxImageEffectPropRenderQualityDraft,
                                   "OfxImageEffectPropOpenGLRenderSupported",
                                   "OfxImageEffectPropCudaRenderSupported"};
  options.withheldSuites = {"OfxTimeLineSuite"};
  const Report report = probeHost(kOfxImageEffectContextFilter, options);
  const std::set<std::string> found(report.findings.begin(),
                                    report.findings.end());
  const std::set<std::string> expected = {
      "host: OfxPropHostOSHandle is missing",
      "host: OfxImageEffectPropSupportsTiles is missing",
      "host: OfxImageEffectPropRenderQualityDraft is missing",
      "host: OfxImageEffectPropRenderQualityDraft is missing: its default is "
      "0",
      "host: OfxImageEffectPropOpenGLRenderSupported is missing",
      "host: OfxImageEffectPropOpenGLRenderSupported is missing: it must "
      "say \"false\"",
      "host: OfxImageEffectPropCudaRenderSupported is missing: it must "
      "say \"false\"",
      "host: OfxTimeLineSuite version 1 is not offered",
  };
  EXPECT_EQ(found, expected) << listed(report.findings);
}

// A caller that connects no source (a generator's, say) still gets the
// clip preferences before the sequence begins.
TEST(Conformance, SequenceBeginsAfterTheClipPreferences) {
  ofxhost::Host host(isolatedOptions());
  std::string error;
  std::vector<ofxhost::Plugin *> loaded = host.addBundle(probeBundle(), &error);
  ASSERT_EQ(loaded.size(), 1u) << error;
  auto instance = loaded.front()->createInstance(kOfxImageEffectContextGeneral);
  ASSERT_TRUE(instance);
  EXPECT_TRUE(instance->beginSequenceRender(0, 1).ok());
  EXPECT_TRUE(instance->endSequenceRender(0, 1).ok());
  const Report report = reportFromMessages(host.messages());
  EXPECT_TRUE(report.findings.empty()) << listed(report.findings);
  EXPECT_TRUE(report.checked.count("action order"));
}

// Spatial defaults given normalised become canonical in the project the
// instance is made in; the older normalised types keep what was given.
TEST(Conformance, NormalisedDefaultsFollowTheProject) {
  ofxhost::HostOptions options = isolatedOptions();
  options.projectSize = {64.0, 48.0};
  options.projectOffset = {10.0, 5.0};
  ofxhost::Host host(options);
  std::string error;
  std::vector<ofxhost::Plugin *> loaded = host.addBundle(probeBundle(), &error);
  ASSERT_EQ(loaded.size(), 1u) << error;
  auto instance = loaded.front()->createInstance(kOfxImageEffectContextFilter);
  ASSERT_TRUE(instance);
  const struct {
    const char *param;
    std::vector<double> value;
  } cases[] = {
      {"cornerNormalised", {10 + 0.4 * 64, 5 + 0.6 * 48}},
      {"sizeNormalised", {0.25 * 64, 0.5 * 48}},
      {"widthNormalised", {0.25 * 64}},
      {"topNormalised", {5 + 0.75 * 48}},
      {"cornerCanonical", {12, 34}},
      {"cornerOldStyle", {0.4, 0.6}},
      {"sizeOldStyle", {0.25, 0.5}},
      {"angleNormalised", {0.5}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.param);
    const std::vector<double> value = instance->param(c.param).valueAt(0);
    ASSERT_EQ(value.size(), c.value.size());
    for (size_t i = 0; i < value.size(); ++i)
      EXPECT_NEAR(value[i], c.value[i], 1e-9);
  }
  EXPECT_EQ(instance->props().getDoubles(kOfxImageEffectPropProjectExtent),
            (std::vector<double>{74.0, 53.0}));
  const Report report = reportFromMessages(host.messages());
  EXPECT_TRUE(report.findings.empty()) << listed(report.findings);
  EXPECT_TRUE(report.checked.count("spatial defaults"));
}

// ---------------------------------------------------------------- ofxrender

class ScratchDir {
public:
  ScratchDir() {
    char pattern[] = "/tmp/qfx-conformance-XXXXXX";
    const char *made = ::mkdtemp(pattern);
    if (made)
      path_ = made;
  }
  ~ScratchDir() {
    if (!path_.empty())
      std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

std::vector<std::string> linesOf(const std::string &file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

TEST(Conformance, OfxrenderHandsOverEveryPropertyTheStandardLists) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string report = dir.path() + "/report.txt";
  const std::string command =
      "QFX_CONFORMANCE_REPORT='" + report + "' OFX_PLUGIN_PATH= '" +
      OFXRENDER_BIN + "' render --plugin-path '" + QFX_TEST_BUNDLE_OUTPUT_DIR +
      "' net.qeffects.test.ConformanceProbe '" + QFX_DEMO_INPUTS +
      "/sample.png' '" + dir.path() + "/out.####.png' --frames 1-2 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

  std::vector<std::string> findings;
  std::set<std::string> checked;
  for (const std::string &line : linesOf(report)) {
    if (line.rfind("checked: ", 0) == 0)
      checked.insert(line.substr(9));
    else
      findings.push_back(line);
  }
  EXPECT_TRUE(findings.empty())
      << findings.size() << " properties missing or wrong:" << listed(findings);
  for (const char *kind :
       {"host", "effect instance", "image", "clip instance at render",
        "OfxImageEffectActionRender inArgs",
        "OfxImageEffectActionBeginSequenceRender inArgs", "action order"})
    EXPECT_TRUE(checked.count(kind)) << "the probe never checked " << kind;
}

// What ofxrender prints for one command, stdout and stderr together.
std::string ofxrenderOutput(const std::string &arguments) {
  const std::string command = "OFX_PLUGIN_PATH= OFXRENDER_NO_CACHE=1 '" +
                              std::string(OFXRENDER_BIN) + "' " + arguments +
                              " --plugin-path '" + QFX_TEST_BUNDLE_OUTPUT_DIR +
                              "' 2>&1";
  std::string output;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe)
    return output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

// The lines describing one parameter: its heading ("  NAME (Type)") and
// the lines indented under it.
std::string paramBlock(const std::string &text, const std::string &name) {
  const size_t start = text.find("\n  " + name + " (");
  if (start == std::string::npos)
    return "";
  size_t end = start + 1;
  while ((end = text.find('\n', end + 1)) != std::string::npos &&
         text.compare(end + 1, 4, "    ") == 0)
    ;
  return text.substr(start, end == std::string::npos ? end : end - start);
}

// describe and render --help say in which coordinates a spatial
// parameter's values are, and when its default was given normalised.
TEST(Conformance, OfxrenderSaysWhichCoordinatesAParameterTakes) {
  const struct {
    const char *param;
    const char *text; // "" for a parameter that is not spatial
    const char *json;
  } cases[] = {
      {"cornerNormalised",
       "coordinates:   canonical (pixels at full scale; default given "
       "normalised)",
       R"("coordinates": "canonical",
      "defaultCoordinates": "normalised")"},
      {"cornerCanonical", "coordinates:   canonical (pixels at full scale)",
       R"("coordinates": "canonical",
      "defaultCoordinates": "canonical")"},
      {"cornerOldStyle",
       "coordinates:   normalised (fractions of the project size)",
       R"("coordinates": "normalised")"},
      {"angleNormalised", "", ""},
  };
  const std::string probe = "net.qeffects.test.ConformanceProbe";
  const std::string described = ofxrenderOutput("describe " + probe);
  const std::string help = ofxrenderOutput("render " + probe + " --help");
  const std::string json = ofxrenderOutput("describe --json " + probe);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.param);
    for (const std::string *text : {&described, &help}) {
      const std::string block = paramBlock(*text, c.param);
      ASSERT_FALSE(block.empty()) << *text;
      if (*c.text)
        EXPECT_NE(block.find(c.text), std::string::npos) << block;
      else
        EXPECT_EQ(block.find("coordinates:"), std::string::npos) << block;
    }
    const size_t at = json.find("\"name\": \"" + std::string(c.param) + "\"");
    ASSERT_NE(at, std::string::npos) << json;
    const std::string entry = json.substr(at, json.find('}', at) - at);
    if (*c.json)
      EXPECT_NE(entry.find(c.json), std::string::npos) << entry;
    else
      EXPECT_EQ(entry.find("coordinates"), std::string::npos) << entry;
  }
}

} // namespace
