// The project's two effects through ofxrender, on the demo's sample
// pictures. Each case skips while its effect's bundle is not built.
#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

const char *const kSamples[] = {"sample.png", "sample16.tif", "samplef.exr"};

std::string sample(const std::string &name) {
  return std::string(QFX_DEMO_INPUTS) + "/" + name;
}

std::string extensionOf(const std::string &name) {
  return name.substr(name.rfind('.'));
}

class Effects : public ToolTest {
protected:
  void requireBundle(const char *bundle) {
    if (!fileExists(bundleDir() + "/" + bundle +
                    ".ofx.bundle/Contents/"
                    "Linux-x86-64/" +
                    bundle + ".ofx"))
      GTEST_SKIP() << bundle << " is not built";
  }

  // Renders and returns the output file's bytes.
  std::string renderFile(const std::string &plugin, const std::string &input,
                         const std::string &output,
                         const std::vector<std::string> &options) {
    const RunResult run = render(plugin, input, path(output), options);
    EXPECT_EQ(run.exitCode, 0) << plugin << " " << output << ": " << run.err;
    return fileContents(path(output));
  }

  void expectTilesMatchOneRender(const std::string &plugin,
                                 const std::vector<std::string> &options) {
    for (const char *name : kSamples) {
      const std::string out = "out" + extensionOf(name);
      const std::string whole = renderFile(plugin, sample(name), out, options);
      // Tiles of the whole images, then tiles handed only what they need,
      // as a host that tiles would.
      for (const char *images : {"whole", "requested"}) {
        auto tiled = options;
        tiled.insert(tiled.end(),
                     {"--tile", "3", "--threads", "3", "--images", images});
        EXPECT_EQ(renderFile(plugin, sample(name), out, tiled), whole)
            << plugin << " on " << name << ": 3 x 3 tiles of " << images
            << " images differ from one render";
      }
    }
  }
};

TEST_F(Effects, GradientTilesGiveTheSameFileAsOneRender) {
  requireBundle("Tintrow");
  expectTilesMatchOneRender("qgradient", {});
  expectTilesMatchOneRender("qgradient", {"--set", "gradientType=Radial",
                                          "--set", "startPosition=0.2,0.5",
                                          "--set", "endColor=0,1,0,1"});
}

TEST_F(Effects, GradientKeepsAlphaAndRecolours) {
  requireBundle("Tintrow");
  renderFile("qgradient", sample("samplef.exr"), "out.exr", {});
  const FileImage in = readFile(sample("samplef.exr"));
  const FileImage out = readFile(path("out.exr"));
  ASSERT_EQ(out.values.size(), in.values.size());
  bool recoloured = false;
  for (size_t i = 0; i < in.values.size(); i += 4) {
    ASSERT_EQ(out.values[i + 3], in.values[i + 3])
        << "alpha of pixel " << i / 4;
    recoloured = recoloured || out.values[i] != in.values[i];
  }
  EXPECT_TRUE(recoloured);
}

TEST_F(Effects, GradientChoiceByTextOrIndexIsTheSame) {
  requireBundle("Tintrow");
  EXPECT_EQ(renderFile("qgradient", sample("sample.png"), "a.png",
                       {"--set", "gradientType=Radial"}),
            renderFile("qgradient", sample("sample.png"), "b.png",
                       {"--set", "gradientType=1"}));
}

TEST_F(Effects, OutlineTilesGiveTheSameFileAsOneRenderAtEveryQuality) {
  requireBundle("Rimlet");
  for (const char *quality : {"0", "1", "2"})
    expectTilesMatchOneRender("qoutline", {"--set", "outlineWidth=5", "--set",
                                           std::string("quality=") + quality});
}

TEST_F(Effects, OutlineGrowsTheImageByItsWidth) {
  requireBundle("Rimlet");
  renderFile("qoutline", sample("samplef.exr"), "out.exr",
             {"--set", "outlineWidth=2.5"});
  const FileImage out = readFile(path("out.exr"));
  EXPECT_EQ(out.spec.x, -3);
  EXPECT_EQ(out.spec.y, -3);
  EXPECT_EQ(out.spec.width, 486);
  EXPECT_EQ(out.spec.height, 276);
  EXPECT_EQ(out.spec.full_width, 480);
  EXPECT_EQ(out.spec.full_height, 270);
}

TEST_F(Effects, OutlineQualityByOptionTextAndKeysAtTwoTimes) {
  requireBundle("Rimlet");
  EXPECT_EQ(renderFile("qoutline", sample("sample.png"), "a.png",
                       {"--set", "quality=Best (Highest Quality)"}),
            renderFile("qoutline", sample("sample.png"), "b.png",
                       {"--set", "quality=2"}));
  // Halfway between keys the width is the average of the two.
  const std::vector<std::string> keys = {"--key", "outlineWidth@0=1",
                                         "--key", "outlineWidth@10=11",
                                         "--key", "outlineColor@0=1,0,0,1"};
  auto keyed = [&](const char *time, const char *out) {
    auto options = keys;
    options.insert(options.end(), {"--time", time});
    return renderFile("qoutline", sample("sample.png"), out, options);
  };
  EXPECT_EQ(
      keyed("5", "k5.png"),
      renderFile("qoutline", sample("sample.png"), "s6.png",
                 {"--set", "outlineWidth=6", "--set", "outlineColor=1,0,0,1"}));
  EXPECT_EQ(keyed("10", "k10.png"),
            renderFile(
                "qoutline", sample("sample.png"), "s11.png",
                {"--set", "outlineWidth=11", "--set", "outlineColor=1,0,0,1"}));
}

TEST_F(Effects, OutlineRendersAlphaOnlyImages) {
  requireBundle("Rimlet");
  renderFile("qoutline", sample("sample16.tif"), "alpha.tif",
             {"--alpha", "--set", "outlineWidth=3"});
  const FileImage out = readFile(path("alpha.tif"));
  EXPECT_EQ(out.channels(), 1);
  EXPECT_EQ(out.spec.format, OIIO::TypeDesc::UINT16);
}

// Both effects work in pixels, so an anamorphic plate (pixels twice as wide
// as tall) renders to the same pixels and the same data window as a square
// one, whole or tiled by a host that hands over only what each tile needs:
// the regions answered in canonical units cover every pixel drawn. The
// file keeps its aspect.
TEST_F(Effects, AnamorphicPlatesRenderTheSamePixelsAndKeepTheirAspect) {
  requireBundle("Rimlet");
  requireBundle("Tintrow");
  const FileImage sampleImage = readFile(sample("samplef.exr"));
  const auto writePlate = [&](const std::string &name, float aspect) {
    writeFile(path(name), sampleImage.spec.width, sampleImage.spec.height, 4,
              OIIO::TypeDesc::FLOAT, sampleImage.values,
              [aspect](OIIO::ImageSpec &spec) {
                spec.attribute("PixelAspectRatio", aspect);
              });
  };
  writePlate("square.exr", 1.0f);
  writePlate("anamorphic.exr", 2.0f);
  const struct {
    const char *plugin;
    std::vector<std::string> options;
  } cases[] = {
      {"qoutline", {"--set", "outlineWidth=6", "--set", "quality=0"}},
      {"qoutline", {"--set", "outlineWidth=4.5", "--set", "quality=2"}},
      {"qgradient", {"--set", "gradientType=Radial"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.plugin + (" " + c.options[1]));
    renderFile(c.plugin, path("square.exr"), "square-out.exr", c.options);
    const FileImage square = readFile(path("square-out.exr"));
    auto tiled = c.options;
    tiled.insert(tiled.end(), {"--tile", "3", "--images", "requested"});
    for (const auto &options : {c.options, tiled}) {
      renderFile(c.plugin, path("anamorphic.exr"), "anamorphic-out.exr",
                 options);
      const FileImage anamorphic = readFile(path("anamorphic-out.exr"));
      EXPECT_EQ(anamorphic.spec.get_float_attribute("PixelAspectRatio"), 2.0f);
      EXPECT_EQ(anamorphic.spec.x, square.spec.x);
      EXPECT_EQ(anamorphic.spec.y, square.spec.y);
      EXPECT_EQ(anamorphic.spec.width, square.spec.width);
      EXPECT_EQ(anamorphic.spec.height, square.spec.height);
      EXPECT_TRUE(anamorphic.bytes == square.bytes)
          << "the anamorphic render's pixels differ"
          << (options.size() > c.options.size() ? " when tiled" : "");
    }
  }
}

} // namespace
} // namespace ofxrender_test
