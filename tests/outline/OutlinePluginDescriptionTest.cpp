// What the outline module tells a host about its effect, read back through
// the host's property sets exactly as an application would see it, and the
// values a fresh instance shows.
#include "OutlinePluginTestSupport.h"

namespace outline_plugin_test {
namespace {

// Names and labels are spelled out here, not taken from the names header:
// projects store values under them, so this is where a rename must show as
// the break it is.

using Strings = std::vector<std::string>;
using Doubles = std::vector<double>;

class OutlineDescriptionTest : public ::testing::Test {
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

  OutlineHost fixture_;
};

void expectLabels(ofxhost::PropertySet &p, const std::string &label) {
  EXPECT_EQ(p.getString(kOfxPropLabel), label);
  EXPECT_EQ(p.getString(kOfxPropShortLabel), label);
  EXPECT_EQ(p.getString(kOfxPropLongLabel), label);
}

TEST_F(OutlineDescriptionTest, ModuleCarriesOneEffectAtVersionOneZero) {
  const auto plugins = fixture_.host().plugins();
  ASSERT_EQ(plugins.size(), 1u);
  ofxhost::Plugin &plugin = *plugins.front();
  EXPECT_EQ(plugin.identifier(), "net.qfx.qoutline");
  EXPECT_EQ(plugin.versionMajor(), 1u);
  EXPECT_EQ(plugin.versionMinor(), 0u);
  EXPECT_EQ(plugin.apiName(), kOfxImageEffectPluginApi);
  EXPECT_EQ(plugin.apiVersion(), 1);
  EXPECT_EQ(fixture_.host().find("qoutline"), &plugin);
}

TEST_F(OutlineDescriptionTest, EffectWideProperties) {
  ofxhost::PropertySet &p = effect();
  expectLabels(p, "Q_Outline");
  EXPECT_EQ(p.getString(kOfxImageEffectPluginPropGrouping), "Filter");
  EXPECT_EQ(p.getString(kOfxPropPluginDescription),
            "Add fast high-quality outline to text/shapes (max 20px width)");
  EXPECT_EQ(p.getStrings(kOfxImageEffectPropSupportedContexts),
            Strings{kOfxImageEffectContextFilter});
  // Half float is deliberately absent: there is no processor for it.
  EXPECT_EQ(p.getStrings(kOfxImageEffectPropSupportedPixelDepths),
            (Strings{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropSingleInstance), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropHostFrameThreading), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsMultiResolution), 1);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsMultipleClipPARs), 0);
  EXPECT_EQ(p.getInt(kOfxImageEffectPropSupportsMultipleClipDepths), 0);
  // Thread safety is not declared, so the standard's default stands.
  if (p.has(kOfxImageEffectPluginRenderThreadSafety)) {
    EXPECT_EQ(p.getString(kOfxImageEffectPluginRenderThreadSafety),
              kOfxImageEffectRenderInstanceSafe);
  }
}

TEST_F(OutlineDescriptionTest, SourceAndOutputClips) {
  ofxhost::Descriptor &d = filter();
  EXPECT_EQ(d.clipNames(), (Strings{"Source", "Output"}));
  const Strings layouts{kOfxImageComponentRGBA, kOfxImageComponentAlpha};

  ofxhost::PropertySet &source = d.clipProps("Source");
  EXPECT_EQ(source.getStrings(kOfxImageEffectPropSupportedComponents), layouts);
  EXPECT_EQ(source.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(source.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(source.getInt(kOfxImageClipPropIsMask), 0);
  EXPECT_EQ(source.getInt(kOfxImageClipPropOptional), 0);

  ofxhost::PropertySet &output = d.clipProps("Output");
  EXPECT_EQ(output.getStrings(kOfxImageEffectPropSupportedComponents), layouts);
  EXPECT_EQ(output.getInt(kOfxImageEffectPropSupportsTiles), 1);
}

TEST_F(OutlineDescriptionTest, ParametersInPageOrder) {
  ofxhost::Descriptor &d = filter();
  EXPECT_EQ(d.paramNames(),
            (Strings{"Controls", "outlineColor", "outlineWidth", "quality"}));
  EXPECT_EQ(d.paramType("Controls"), kOfxParamTypePage);
  EXPECT_EQ(d.paramType("outlineColor"), kOfxParamTypeRGBA);
  EXPECT_EQ(d.paramType("outlineWidth"), kOfxParamTypeDouble);
  EXPECT_EQ(d.paramType("quality"), kOfxParamTypeChoice);
  EXPECT_EQ(d.paramProps("Controls").getStrings(kOfxParamPropPageChild),
            (Strings{"outlineColor", "outlineWidth", "quality"}));
}

TEST_F(OutlineDescriptionTest, ColourParameter) {
  ofxhost::PropertySet &p = filter().paramProps("outlineColor");
  expectLabels(p, "Outline Color");
  EXPECT_EQ(p.getString(kOfxParamPropHint), "Color of the outline");
  EXPECT_EQ(p.getDoubles(kOfxParamPropDefault), (Doubles{1.0, 1.0, 1.0, 1.0}));
  EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 1);
}

TEST_F(OutlineDescriptionTest, WidthParameter) {
  ofxhost::PropertySet &p = filter().paramProps("outlineWidth");
  expectLabels(p, "Outline Width");
  EXPECT_EQ(p.getString(kOfxParamPropHint), "Width of the outline in pixels");
  EXPECT_EQ(p.getDouble(kOfxParamPropDefault), 2.0);
  EXPECT_EQ(p.getDouble(kOfxParamPropMin), 0.1);
  EXPECT_EQ(p.getDouble(kOfxParamPropMax), 20.0);
  EXPECT_EQ(p.getDouble(kOfxParamPropDisplayMin), 0.1);
  EXPECT_EQ(p.getDouble(kOfxParamPropDisplayMax), 20.0);
  EXPECT_EQ(p.getDouble(kOfxParamPropIncrement), 0.1);
  EXPECT_EQ(p.getInt(kOfxParamPropDigits), 1);
  EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 1);
  // A plain number: a host must not rescale it as a canonical distance.
  if (p.has(kOfxParamPropDoubleType)) {
    EXPECT_EQ(p.getString(kOfxParamPropDoubleType), kOfxParamDoubleTypePlain);
  }
}

// Options appended without labels leave the hint exactly as set, and their
// order is the quality level the processor receives.
TEST_F(OutlineDescriptionTest, QualityChoice) {
  ofxhost::PropertySet &p = filter().paramProps("quality");
  expectLabels(p, "Quality");
  EXPECT_EQ(p.getString(kOfxParamPropHint),
            "Processing quality and speed trade-off");
  EXPECT_EQ(p.getStrings(kOfxParamPropChoiceOption),
            (Strings{"Draft (Fastest)", "Good (Balanced)",
                     "Best (Highest Quality)"}));
  EXPECT_EQ(p.getInt(kOfxParamPropDefault), 1);
  EXPECT_EQ(p.getInt(kOfxParamPropAnimates), 0);
}

TEST_F(OutlineDescriptionTest, EveryContextGetsTheSameDeclarations) {
  const ofxhost::ActionResult result =
      fixture_.plugin()->describeInContext(kOfxImageEffectContextGeneral);
  ASSERT_TRUE(result.ok()) << result.message;
  ofxhost::Descriptor *general =
      fixture_.plugin()->contextDescriptor(kOfxImageEffectContextGeneral);
  ASSERT_NE(general, nullptr);
  EXPECT_EQ(general->clipNames(), filter().clipNames());
  EXPECT_EQ(general->paramNames(), filter().paramNames());
  EXPECT_EQ(general->paramProps("quality").getString(kOfxParamPropHint),
            filter().paramProps("quality").getString(kOfxParamPropHint));
}

TEST(OutlineInstanceTest, FreshInstanceShowsWhiteWidthTwoAndGood) {
  OutlineHost fixture;
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  auto instance = fixture.createFilter();
  ASSERT_TRUE(instance);
  EXPECT_EQ(instance->clipNames(), (Strings{"Source", "Output"}));
  EXPECT_EQ(instance->param("outlineColor").valueAt(0.0),
            (Doubles{1.0, 1.0, 1.0, 1.0}));
  EXPECT_EQ(instance->param("outlineWidth").valueAt(0.0), (Doubles{2.0}));
  EXPECT_EQ(instance->param("quality").valueAt(0.0), (Doubles{1.0}));

  // The declared range keeps the width within 0.1 to 20.
  instance->param("outlineWidth").setValue({0.0});
  EXPECT_EQ(instance->param("outlineWidth").valueAt(0.0), (Doubles{0.1}));
  instance->param("outlineWidth").setValue({35.0});
  EXPECT_EQ(instance->param("outlineWidth").valueAt(0.0), (Doubles{20.0}));
}

TEST(OutlineInstanceTest, InstancesKeepTheirOwnValues) {
  OutlineHost fixture;
  ASSERT_NE(fixture.plugin(), nullptr) << fixture.error();
  auto first = fixture.createFilter();
  auto second = fixture.createFilter();
  ASSERT_TRUE(first && second);
  first->param("outlineWidth").setValue({7.5});
  EXPECT_EQ(second->param("outlineWidth").valueAt(0.0), (Doubles{2.0}));
}

} // namespace
} // namespace outline_plugin_test
