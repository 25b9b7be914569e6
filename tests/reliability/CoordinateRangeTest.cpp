// Images at the far ends of the pixel coordinate range. A host may place an
// image anywhere its int coordinates reach; both effects lay their work out
// relative to the image's bounds, so a picture moved there must render
// exactly as it does near the origin, without any coordinate arithmetic
// overflowing on the way (the sanitizer builds would report it).
#include "ReliabilityTestSupport.h"

#include <climits>

namespace reliability {
namespace {

constexpr int kWidth = 24;
constexpr int kHeight = 16;

struct Placement {
  const char *name;
  int x1, y1;
};

const Placement kFarPlacements[] = {
    {"TopRightEnd", INT_MAX - kWidth, INT_MAX - kHeight},
    {"BottomLeftEnd", INT_MIN, INT_MIN},
    {"Mixed", INT_MIN, INT_MAX - kHeight},
};

// One setting of the effect's parameters per variant: the outline at each
// quality (Best reads one pixel beyond each block), the gradient linear
// and radial.
struct Variant {
  std::string bundle;
  int choice;
};

void applyVariant(const Variant &v, ofxhost::Instance &instance) {
  if (v.bundle == "Rimlet") {
    instance.param(rimlet::names::kOutlineWidth).setValue({3.0});
    instance.param(rimlet::names::kQuality).setValue({double(v.choice)});
  } else {
    instance.param(tintrow::names::kGradientType).setValue({double(v.choice)});
    instance.param(tintrow::names::kStartPosition).setValue({0.2, 0.1});
    instance.param(tintrow::names::kEndPosition).setValue({0.9, 0.8});
  }
}

class FarCoordinates
    : public ::testing::TestWithParam<std::tuple<Variant, PixelFormat>> {
protected:
  const Variant &variant() const { return std::get<0>(GetParam()); }
  const PixelFormat &format() const { return std::get<1>(GetParam()); }

  // Renders the picture placed at (x1, y1), on three threads so that the
  // bands' edges are far out too.
  ofxhost::ImagePtr renderAt(int x1, int y1) {
    EffectHost fixture(variant().bundle, isolatedOptions(3));
    auto instance = fixture.createFilter();
    if (!instance) {
      ADD_FAILURE() << fixture.error();
      return nullptr;
    }
    const OfxRectI bounds{x1, y1, x1 + kWidth, y1 + kHeight};
    auto source = makeImage(bounds, format());
    paintPicture(*source);
    auto output = makeImage(bounds, format());
    output->fillBytes(0x11);
    instance->setSource(source);
    instance->setOutput(output);
    applyVariant(variant(), *instance);
    const ofxhost::ActionResult result = instance->render(renderOf(bounds));
    EXPECT_TRUE(result.ok())
        << "placed at (" << x1 << ", " << y1 << "): " << result.message;
    return output;
  }
};

TEST_P(FarCoordinates, RenderLikeThePictureAtTheOrigin) {
  const ofxhost::ImagePtr reference = renderAt(0, 0);
  ASSERT_TRUE(reference);
  for (const Placement &far : kFarPlacements) {
    const ofxhost::ImagePtr moved = renderAt(far.x1, far.y1);
    ASSERT_TRUE(moved) << far.name;
    EXPECT_EQ(firstDifference(*moved, *reference), "") << far.name;
  }
}

std::vector<Variant> variants() {
  return {{"Rimlet", 0},
          {"Rimlet", 1},
          {"Rimlet", 2},
          {"Tintrow", 0},
          {"Tintrow", 1}};
}

INSTANTIATE_TEST_SUITE_P(
    BothEffects, FarCoordinates,
    ::testing::Combine(::testing::ValuesIn(variants()),
                       ::testing::ValuesIn(allFormats())),
    [](const ::testing::TestParamInfo<std::tuple<Variant, PixelFormat>> &info) {
      const Variant &v = std::get<0>(info.param);
      return v.bundle + std::to_string(v.choice) + "_" +
             formatName(std::get<1>(info.param));
    });

} // namespace
} // namespace reliability
