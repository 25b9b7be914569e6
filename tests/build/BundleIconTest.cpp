// Each effect's bundle carries the icon hosts show beside its name:
// Contents/Resources/IDENTIFIER.png (128 x 128) and IDENTIFIER.svg, named
// after the identifier the plug-in declares, and drawn by the demo picture
// generator as it draws them today.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <ofxhost/Host.h>

namespace {

namespace fs = std::filesystem;

struct EffectIcon {
  const char *bundle;
  const char *drawing; // qfx-demo-pictures icon DRAWING
};

void PrintTo(const EffectIcon &icon, std::ostream *out) { *out << icon.bundle; }

const EffectIcon kIcons[] = {{"Rimlet", "outline"}, {"Tintrow", "gradient"}};

struct Pixels {
  std::string format;
  int width = 0, height = 0, channels = 0;
  std::vector<float> values;
};

Pixels readPixels(const std::string &path) {
  Pixels pixels;
  auto in = OIIO::ImageInput::open(path);
  if (!in)
    return pixels;
  const OIIO::ImageSpec &spec = in->spec();
  pixels.format = in->format_name();
  pixels.width = spec.width;
  pixels.height = spec.height;
  pixels.channels = spec.nchannels;
  pixels.values.resize(static_cast<size_t>(spec.image_pixels()) *
                       spec.nchannels);
  if (!in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT,
                      pixels.values.data()))
    pixels.values.clear();
  return pixels;
}

std::string fileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class BundleIcon : public ::testing::TestWithParam<EffectIcon> {
protected:
  void SetUp() override {
    bundle_ = ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, GetParam().bundle);
    if (!fs::exists(bundle_))
      GTEST_SKIP() << GetParam().bundle << " is not part of this build";
    std::string error;
    const std::vector<ofxhost::Plugin *> plugins =
        host_.addBundle(bundle_, &error);
    ASSERT_EQ(plugins.size(), 1u) << error;
    identifier_ = plugins[0]->identifier();
    resources_ = plugins[0]->bundlePath() + "/Contents/Resources/";
  }

  ofxhost::Host host_;
  std::string bundle_, identifier_, resources_;
};

TEST_P(BundleIcon, IsA128PixelSquarePngAndAnSvgNamedAfterTheIdentifier) {
  const Pixels png = readPixels(resources_ + identifier_ + ".png");
  EXPECT_EQ(png.format, "png") << resources_ << identifier_ << ".png";
  EXPECT_EQ(png.width, 128);
  EXPECT_EQ(png.height, 128);
  EXPECT_EQ(png.channels, 4); // the icon sits on the host's own background
  EXPECT_FALSE(png.values.empty()) << "unreadable pixels";

  const std::string svg = fileText(resources_ + identifier_ + ".svg");
  EXPECT_EQ(svg.rfind("<svg ", 0), 0u) << resources_ << identifier_ << ".svg";
  EXPECT_NE(svg.find("viewBox=\"0 0 128 128\""), std::string::npos) << svg;
}

// The committed icons can be made again: the generator draws the same
// pictures (to within one 8-bit step, for other compilers' rounding).
TEST_P(BundleIcon, IsWhatTheGeneratorDraws) {
  const fs::path scratch =
      fs::temp_directory_path() /
      ("qfx-icon-" + std::to_string(::getpid()) + "-" + GetParam().drawing);
  fs::create_directories(scratch);
  const std::string png = (scratch / "icon.png").string();
  const std::string svg = (scratch / "icon.svg").string();
  const std::string command = std::string("'") + QFX_DEMO_PICTURES + "' icon " +
                              GetParam().drawing + " '" + png + "' '" + svg +
                              "'";
  const int status = std::system(command.c_str());
  const Pixels drawn = readPixels(png);
  const Pixels shipped = readPixels(resources_ + identifier_ + ".png");
  const std::string drawnSvg = fileText(svg);
  fs::remove_all(scratch);

  ASSERT_EQ(status, 0) << command;
  ASSERT_EQ(drawn.values.size(), shipped.values.size());
  for (size_t i = 0; i < drawn.values.size(); ++i)
    ASSERT_LE(std::fabs(drawn.values[i] - shipped.values[i]), 1.5f / 255)
        << "value " << i << " of " << identifier_
        << ".png; run demo/make-icons.sh";
  EXPECT_EQ(drawnSvg, fileText(resources_ + identifier_ + ".svg"))
      << "run demo/make-icons.sh";
}

INSTANTIATE_TEST_SUITE_P(Effects, BundleIcon, ::testing::ValuesIn(kIcons),
                         [](const auto &info) {
                           return std::string(info.param.bundle);
                         });

} // namespace
