// What the gradient module tells a host about its effect, read back through
// the host's property sets exactly as an application would see it.
#include "GradientTestSupport.h"

namespace gradient_test {
namespace {

// Names and labels are spelled out here, not taken from the names header:
// projects store values under them, so this is where a rename must show as
// the break it is.

using Strings = std::vector<std::string>;
using Doubles = std::vector<double>;

class GradientDescriptionTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(fixture_.plugin(), nullptr) << fixture_.error();
    ofxhost::ActionResult result = fixture_.plugin()->describe();
    ASSERT_TRUE(result.ok()) << result.message;
    result = fixture_.plugin()->describeInContext(kOfxImageEffectContextFilter);
    ASSERT_TRUE(result.ok()) << result.message;
  }

  ofxhost::PropertySet &effect() {
    return fixture_.plugin()->descriptor().props();
  }
  ofxhost::Descriptor &filter() {
    return *fixture_.plugin()->contextDescriptor(kOfxImageEffectContextFilter);
  }

  GradientHost fixture_;
};

TEST_F(GradientDescriptionTest, ModuleCarriesOneEffectAtVersionOneZero) {
  const auto plugins = fixture_.host().plugins();
  ASSERT_EQ(plugins.size(), 1u);
  ofxhost::Plugin &plugin = *plugins.front();
  const std::string &id = plugin.identifier();
  const std::string suffix = ".qgradient";
  ASSERT_GT(id.size(), suffix.size());
  EXPECT_EQ(id.substr(id.size() - suffix.size()), suffix) << id;
  EXPECT_EQ(plugin.versionMajor(), 1u);
  EXPECT_EQ(plugin.versionMinor(), 0u);
  EXPECT_EQ(plugin.apiName(), kOfxImageEffectPluginApi);
  EXPECT_EQ(plugin.apiVersion(), 1);
  EXPECT_EQ(fixture_.host().find("qgradient"), &plugin);
}

TEST_F(GradientDescriptionTest, EffectWideProperties) {
  ofxhost::PropertySet &p = effect();
  EXPECT_EQ(p.getString(kOfxPropLabel), "Q_Gradient");
  EXPECT_EQ(p.getString(kOfxPropShortLabel), "Q_Gradient");
  EXPECT_EQ(p.getString(kOfxPropLongLabel), "Q_Gradient");
  EXPECT_EQ(p.getString(kOfxImageEffectPluginPropGrouping), "Filter");
  EXPECT_EQ(p.getString(kOfxPropPluginDescription),
            "Fill RGB channels with advanced gradient while preserving alpha");
  EXPECT_EQ(p.getStrings(kOfxImageEffectPropSupportedContexts),
            Strings{kOfxImageEffectContextFilter});
  // Half float is deliberately absent: the processor has no half format.
  EXPECT_EQ(p.getStrings(kOfxImageEffectPropSupportedPixelDepths),
            (Strings{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropSingleInstance), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropHostFrameThreading), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsMultiResolution), 1);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsMultipleClipPARs), 0);
  // Thread safety is not declared, so the standard's default stands.
  if (p.has(kOfxImageEffectPluginRenderThreadSafety)) {
    EXPECT_EQ(p.getString(kOfxImageEffectPluginRenderThreadSafety),
              kOfxImageEffectRenderInstanceSafe);
  }
}

TEST_F(GradientDescriptionTest, SourceAndOutputClips) {
  ofxhost::Descriptor &d = filter();
  EXPECT_EQ(d.clipNames(), (Strings{"Source", "Output"}));
  const Strings layouts{kOfxImageComponentRGBA, kOfxImageComponentAlpha};

  ofxhost::PropertySet &source = d.clipProps("Source");
  EXPECT_EQ(source.getStrings(kOfxImageEffectPropSupportedComponents), layouts);
  EXPECT_EQ(source.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(source.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(source.getInt(kOfxImageClipPropIsMask), 0);
  if (source.has(kOfxImageClipPropOptional)) {
    EXPECT_EQ(source.getInt(kOfxImageClipPropOptional), 0);
  }

  ofxhost::PropertySet &output = d.clipProps("Output");
  EXPECT_EQ(output.getStrings(kOfxImageEffectPropSupportedComponents), layouts);
  EXPECT_EQ(output.getInt(kOfxImageEffectPropSupportsTiles), 1);
}

TEST_F(GradientDescriptionTest, ParametersInPageOrder) {
  ofxhost::Descriptor &d = filter();
  EXPECT_EQ(d.paramNames(),
            (Strings{"Controls", "startColor", "startPosition", "endColor",
                     "endPosition", "gradientType"}));
  EXPECT_EQ(d.paramType("Controls"), kOfxParamTypePage);
  EXPECT_EQ(d.paramType("startColor"), kOfxParamTypeRGBA);
  EXPECT_EQ(d.paramType("startPosition"), kOfxParamTypeDouble2D);
  EXPECT_EQ(d.paramType("endColor"), kOfxParamTypeRGBA);
  EXPECT_EQ(d.paramType("endPosition"), kOfxParamTypeDouble2D);
  EXPECT_EQ(d.paramType("gradientType"), kOfxParamTypeChoice);
  EXPECT_EQ(d.paramProps("Controls").getStrings(kOfxParamPropPageChild),
            (Strings{"startColor", "startPosition", "endColor", "endPosition",
                     "gradientType"}));
}

void expectLabels(ofxhost::PropertySet &p, const std::string &label) {
  EXPECT_EQ(p.getString(kOfxPropLabel), label);
  EXPECT_EQ(p.getString(kOfxPropShortLabel), label);
  EXPECT_EQ(p.getString(kOfxPropLongLabel), label);
}

TEST_F(GradientDescriptionTest, ColourParameters) {
  struct Expected {
    const char *name, *label, *hint;
    Doubles defaults;
  };
  for (const Expected &e : {Expected{"startColor",
                                     "Start Color",
                                     "Gradient start color",
                                     {1.0, 0.0, 0.0, 1.0}},
                            Expected{"endColor",
                                     "End Color",
                                     "Gradient end color",
                                     {0.0, 0.0, 1.0, 1.0}}}) {
    SCOPED_TRACE(e.name);
    ofxhost::PropertySet &p = filter().paramProps(e.name);
    expectLabels(p, e.label);
    EXPECT_EQ(p.getString(kOfxParamPropHint), e.hint);
    EXPECT_EQ(p.getDoubles(kOfxParamPropDefault), e.defaults);
    EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 1);
  }
}

TEST_F(GradientDescriptionTest, PositionParameters) {
  struct Expected {
    const char *name, *label, *hint;
    Doubles defaults;
  };
  for (const Expected &e :
       {Expected{"startPosition",
                 "Start Position",
                 "Position of the start color in the gradient",
                 {0.0, 0.5}},
        Expected{"endPosition",
                 "End Position",
                 "Position of the end color in the gradient",
                 {1.0, 0.5}}}) {
    SCOPED_TRACE(e.name);
    ofxhost::PropertySet &p = filter().paramProps(e.name);
    expectLabels(p, e.label);
    EXPECT_EQ(p.getString(kOfxParamPropHint), e.hint);
    EXPECT_EQ(p.getDoubles(kOfxParamPropDefault), e.defaults);
    EXPECT_EQ(p.getDoubles(kOfxParamPropMin), (Doubles{-1.0, -1.0}));
    EXPECT_EQ(p.getDoubles(kOfxParamPropMax), (Doubles{2.0, 2.0}));
    EXPECT_EQ(p.getDoubles(kOfxParamPropDisplayMin), (Doubles{0.0, 0.0}));
    EXPECT_EQ(p.getDoubles(kOfxParamPropDisplayMax), (Doubles{1.0, 1.0}));
    EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 1);
    // Plain numbers: fractions of the output image, not canonical pixels.
    if (p.has(kOfxParamPropDoubleType)) {
      EXPECT_EQ(p.getString(kOfxParamPropDoubleType), kOfxParamDoubleTypePlain);
    }
  }
}

TEST_F(GradientDescriptionTest, GradientTypeChoice) {
  ofxhost::PropertySet &p = filter().paramProps("gradientType");
  expectLabels(p, "Gradient Type");
  EXPECT_EQ(p.getString(kOfxParamPropHint),
            "Type of gradient calculation\n\n"
            "Linear: Linear gradient between two points\n"
            "Radial: Radial gradient from start to end position");
  EXPECT_EQ(p.getStrings(kOfxParamPropChoiceOption),
            (Strings{"Linear", "Radial"}));
  EXPECT_EQ(p.getInt(kOfxParamPropDefault), 0);
  EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 1);
}

TEST_F(GradientDescriptionTest, EveryContextGetsTheSameDeclarations) {
  ofxhost::ActionResult result =
      fixture_.plugin()->describeInContext(kOfxImageEffectContextGeneral);
  ASSERT_TRUE(result.ok()) << result.message;
  ofxhost::Descriptor *general =
      fixture_.plugin()->contextDescriptor(kOfxImageEffectContextGeneral);
  ASSERT_NE(general, nullptr);
  EXPECT_EQ(general->clipNames(), filter().clipNames());
  EXPECT_EQ(general->paramNames(), filter().paramNames());
  EXPECT_EQ(general->paramProps("gradientType").getString(kOfxParamPropHint),
            filter().paramProps("gradientType").getString(kOfxParamPropHint));
}

TEST(GradientInstanceTest, FreshInstanceHoldsTheDefaults) {
  GradientHost fixture;
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  auto instance = fixture.createFilter();
  ASSERT_TRUE(instance);
  EXPECT_EQ(instance->clipNames(), (Strings{"Source", "Output"}));
  EXPECT_EQ(instance->param("startColor").valueAt(0.0),
            (Doubles{1.0, 0.0, 0.0, 1.0}));
  EXPECT_EQ(instance->param("startPosition").valueAt(0.0), (Doubles{0.0, 0.5}));
  EXPECT_EQ(instance->param("endColor").valueAt(0.0),
            (Doubles{0.0, 0.0, 1.0, 1.0}));
  EXPECT_EQ(instance->param("endPosition").valueAt(0.0), (Doubles{1.0, 0.5}));
  EXPECT_EQ(instance->param("gradientType").valueAt(0.0), (Doubles{0.0}));

  // The declared range keeps a position within one image size outside it.
  instance->param("startPosition").setValue({-5.0, 7.0});
  EXPECT_EQ(instance->param("startPosition").valueAt(0.0),
            (Doubles{-1.0, 2.0}));
}

} // namespace
} // namespace gradient_test
