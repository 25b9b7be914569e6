// Describe and describe-in-context: what the descriptors write, read back
// through the host.

#include "ProbeTestSupport.h"

namespace probetest {
namespace {

using Strings = std::vector<std::string>;

class SupportDescribe : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(session_.plugin(), nullptr);
    ofxhost::ActionResult result = session_.plugin()->describe();
    ASSERT_EQ(result.status, kOfxStatOK) << result.message;
  }

  ofxhost::Descriptor &describeIn(const char *context) {
    ofxhost::ActionResult result =
        session_.plugin()->describeInContext(context);
    EXPECT_EQ(result.status, kOfxStatOK) << context << ": " << result.message;
    ofxhost::Descriptor *desc = session_.plugin()->contextDescriptor(context);
    if (!desc)
      throw std::runtime_error(std::string("no descriptor for ") + context);
    return *desc;
  }

  ProbeSession session_;
};

TEST_F(SupportDescribe, EffectPropertiesAreWritten) {
  ofxhost::PropertySet &props = session_.plugin()->descriptor().props();
  EXPECT_EQ(props.getString(kOfxPropLabel), probe::kLabel);
  EXPECT_EQ(props.getString(kOfxPropShortLabel), "Probe");
  EXPECT_EQ(props.getString(kOfxPropLongLabel), "QFX Support Probe");
  EXPECT_EQ(props.getString(kOfxImageEffectPluginPropGrouping),
            probe::kGrouping);
  EXPECT_EQ(props.getString(kOfxPropPluginDescription), probe::kDescription);
  EXPECT_EQ(
      props.getStrings(kOfxImageEffectPropSupportedContexts),
      (Strings{kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}));
  EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedPixelDepths),
            (Strings{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
  EXPECT_EQ(props.getInt(kOfxImageEffectPluginPropSingleInstance), 0);
  EXPECT_EQ(props.getInt(kOfxImageEffectPluginPropHostFrameThreading), 0);
  EXPECT_EQ(props.getInt(kOfxImageEffectPropSupportsMultiResolution), 1);
  EXPECT_EQ(props.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(props.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(props.getInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways), 0);
  EXPECT_EQ(props.getInt(kOfxImageEffectPropSupportsMultipleClipPARs), 0);
  EXPECT_EQ(props.getInt(kOfxImageEffectPropSupportsMultipleClipDepths), 0);
}

TEST_F(SupportDescribe, ClipsFollowTheContextAskedFor) {
  ofxhost::Descriptor &filter = describeIn(kOfxImageEffectContextFilter);
  EXPECT_EQ(filter.clipNames(), (Strings{"Source", "Output"}));

  ofxhost::PropertySet &src = filter.clipProps("Source");
  EXPECT_EQ(src.getStrings(kOfxImageEffectPropSupportedComponents),
            (Strings{kOfxImageComponentRGBA, kOfxImageComponentAlpha}));
  EXPECT_EQ(src.getInt(kOfxImageEffectPropTemporalClipAccess), 0);
  EXPECT_EQ(src.getInt(kOfxImageEffectPropSupportsTiles), 1);
  EXPECT_EQ(src.getInt(kOfxImageClipPropIsMask), 0);
  EXPECT_EQ(src.getInt(kOfxImageClipPropOptional), 0);
  EXPECT_EQ(filter.clipProps("Output").getStrings(
                kOfxImageEffectPropSupportedComponents),
            (Strings{kOfxImageComponentRGBA, kOfxImageComponentAlpha}));

  // The probe declares its matte only when told the context is general.
  ofxhost::Descriptor &general = describeIn(kOfxImageEffectContextGeneral);
  EXPECT_EQ(general.clipNames(),
            (Strings{"Source", "Output", probe::kMatteClip}));
  ofxhost::PropertySet &matte = general.clipProps(probe::kMatteClip);
  EXPECT_EQ(matte.getInt(kOfxImageClipPropIsMask), 1);
  EXPECT_EQ(matte.getInt(kOfxImageClipPropOptional), 1);
}

TEST_F(SupportDescribe, ParametersAndPageInDefinitionOrder) {
  ofxhost::Descriptor &desc = describeIn(kOfxImageEffectContextFilter);
  const Strings children{probe::kGain,        probe::kTint,
                         probe::kMode,        probe::kThrowKind,
                         probe::kThrowWhere,  probe::kThrowStatus,
                         probe::kMargin,      probe::kAnswerRegions,
                         probe::kHoldSeconds, probe::kHoldIgnoresAbort};
  Strings all{probe::kPage};
  all.insert(all.end(), children.begin(), children.end());
  EXPECT_EQ(desc.paramNames(), all);
  EXPECT_EQ(desc.paramType(probe::kPage), kOfxParamTypePage);
  EXPECT_EQ(desc.paramProps(probe::kPage).getStrings(kOfxParamPropPageChild),
            children);

  EXPECT_EQ(desc.paramType(probe::kGain), kOfxParamTypeDouble);
  EXPECT_EQ(desc.paramType(probe::kTint), kOfxParamTypeRGBA);
  EXPECT_EQ(desc.paramType(probe::kMode), kOfxParamTypeChoice);
  EXPECT_EQ(desc.paramType(probe::kThrowStatus), kOfxParamTypeInteger);
  EXPECT_EQ(desc.paramType(probe::kAnswerRegions), kOfxParamTypeBoolean);
}

TEST_F(SupportDescribe, ValueParameterSettersWriteTheirProperties) {
  ofxhost::Descriptor &desc = describeIn(kOfxImageEffectContextFilter);
  ofxhost::PropertySet &gain = desc.paramProps(probe::kGain);
  EXPECT_EQ(gain.getString(kOfxPropLabel), "Gain");
  EXPECT_EQ(gain.getString(kOfxPropShortLabel), "Gain");
  EXPECT_EQ(gain.getString(kOfxPropLongLabel), "Source gain");
  EXPECT_EQ(gain.getString(kOfxParamPropHint), "Multiplies the source");
  EXPECT_EQ(gain.getDouble(kOfxParamPropDefault), 1.0);
  EXPECT_EQ(gain.getDouble(kOfxParamPropMin), 0.0);
  EXPECT_EQ(gain.getDouble(kOfxParamPropMax), 10.0);
  EXPECT_EQ(gain.getDouble(kOfxParamPropDisplayMin), 0.0);
  EXPECT_EQ(gain.getDouble(kOfxParamPropDisplayMax), 4.0);
  EXPECT_EQ(gain.getDouble(kOfxParamPropIncrement), 0.05);
  EXPECT_EQ(gain.getInt(kOfxParamPropDigits), 3);
  EXPECT_EQ(gain.getString(kOfxParamPropDoubleType), kOfxParamDoubleTypeScale);
  EXPECT_EQ(gain.getInt(kOfxParamPropAnimates), 1);

  EXPECT_EQ(desc.paramProps(probe::kTint).getDoubles(kOfxParamPropDefault),
            (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
  EXPECT_EQ(desc.paramProps(probe::kMode).getInt(kOfxParamPropAnimates), 0);

  ofxhost::PropertySet &status = desc.paramProps(probe::kThrowStatus);
  EXPECT_EQ(status.getInt(kOfxParamPropDefault), kOfxStatFailed);
  EXPECT_EQ(status.getInt(kOfxParamPropMin), 0);
  EXPECT_EQ(status.getInt(kOfxParamPropMax), 2000);
  EXPECT_EQ(status.getInt(kOfxParamPropDisplayMax), 20);
  EXPECT_EQ(desc.paramProps(probe::kAnswerRegions).getInt(kOfxParamPropDefault),
            1);
}

TEST_F(SupportDescribe, LabelledChoiceOptionsExtendTheHint) {
  ofxhost::Descriptor &desc = describeIn(kOfxImageEffectContextFilter);
  ofxhost::PropertySet &mode = desc.paramProps(probe::kMode);
  EXPECT_EQ(mode.getStrings(kOfxParamPropChoiceOption),
            (Strings{"Normal", "Bands", "Throw", "Inspect"}));
  EXPECT_EQ(mode.getString(kOfxParamPropHint),
            std::string(probe::kModeHint) +
                "\n\nNormal: Source times gain plus tint"
                "\nBands: Band rows and thread index"
                "\nThrow: Throw the chosen exception"
                "\nInspect: Source image properties");
  EXPECT_EQ(mode.getInt(kOfxParamPropDefault), probe::eModeNormal);

  // Options without labels leave the hint exactly as set.
  ofxhost::PropertySet &kind = desc.paramProps(probe::kThrowKind);
  EXPECT_EQ(kind.getStrings(kOfxParamPropChoiceOption),
            (Strings{"Suite", "HostInadequate", "PropertyUnknownToHost",
                     "bad_alloc", "runtime_error", "int"}));
  EXPECT_EQ(kind.getString(kOfxParamPropHint), probe::kThrowKindHint);
}

TEST_F(SupportDescribe, EachContextIsDescribedOnItsOwnDescriptor) {
  ofxhost::Descriptor &filter = describeIn(kOfxImageEffectContextFilter);
  ofxhost::Descriptor &general = describeIn(kOfxImageEffectContextGeneral);
  // Page children are appended, so describing twice into one descriptor
  // would double them; each context must see one list.
  EXPECT_EQ(
      filter.paramProps(probe::kPage).getStrings(kOfxParamPropPageChild).size(),
      10u);
  EXPECT_EQ(general.paramProps(probe::kPage)
                .getStrings(kOfxParamPropPageChild)
                .size(),
            10u);
  EXPECT_EQ(filter.clipNames().size(), 2u);
}

} // namespace
} // namespace probetest
