// Where pixels go and what happens to them between the input file, the
// plug-in and the output file: orientation, data window, channel rules and
// premultiplication. The probe plug-in with its default parameters is the
// identity (source * 1 + 0), so whatever changes is the tool's doing.
#include <cmath>
#include <cstring>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

struct PixelFormat {
  const char *name;
  OIIO::TypeDesc type;
  const char *depth; // --depth value
  bool alphaOnly;
};

std::ostream &operator<<(std::ostream &out, const PixelFormat &format) {
  return out << format.name;
}

const PixelFormat kSixFormats[] = {
    {"byte RGBA", OIIO::TypeDesc::UINT8, "byte", false},
    {"short RGBA", OIIO::TypeDesc::UINT16, "short", false},
    {"float RGBA", OIIO::TypeDesc::FLOAT, "float", false},
    {"byte Alpha", OIIO::TypeDesc::UINT8, "byte", true},
    {"short Alpha", OIIO::TypeDesc::UINT16, "short", true},
    {"float Alpha", OIIO::TypeDesc::FLOAT, "float", true},
};

std::vector<std::string> formatOptions(const PixelFormat &format) {
  std::vector<std::string> options = {"--depth", format.depth};
  if (format.alphaOnly)
    options.push_back("--alpha");
  return options;
}

// Compares two files' pixels element by element in their native type and
// reports the first difference with its place and both values.
void expectSamePixels(const std::string &what, const FileImage &expected,
                      const FileImage &actual) {
  ASSERT_EQ(actual.spec.width, expected.spec.width) << what;
  ASSERT_EQ(actual.spec.height, expected.spec.height) << what;
  ASSERT_EQ(actual.channels(), expected.channels()) << what;
  ASSERT_EQ(actual.spec.format, expected.spec.format) << what;
  const size_t elementBytes = expected.spec.format.size();
  for (size_t i = 0; i < expected.values.size(); ++i) {
    if (std::memcmp(&expected.bytes[i * elementBytes],
                    &actual.bytes[i * elementBytes], elementBytes) == 0)
      continue;
    const int nch = expected.channels();
    const size_t pixel = i / nch;
    FAIL() << what << ": pixel (" << pixel % expected.spec.width << ", "
           << pixel / expected.spec.width << ") channel " << i % nch
           << ": expected " << expected.values[i] << ", got "
           << actual.values[i];
  }
}

// ------------------------------------------------- the six pixel formats

class SixFormats : public ToolTest,
                   public ::testing::WithParamInterface<PixelFormat> {};

TEST_P(SixFormats, AssociatedTiffPassesThroughBitForBit) {
  const PixelFormat &format = GetParam();
  const int channels = format.alphaOnly ? 1 : 4;
  writeFile(path("in.tif"), 7, 5, channels, format.type,
            pattern(7, 5, channels, true));
  const RunResult run =
      render(kProbe, path("in.tif"), path("out.tif"), formatOptions(format));
  ASSERT_EQ(run.exitCode, 0) << format << ": " << run.err;
  expectSamePixels(format.name, readFile(path("in.tif")),
                   readFile(path("out.tif")));
}

TEST_P(SixFormats, TheFileTopRowIsTheImageTopRow) {
  // A one-pixel window at image (0, 0), the bottom-left pixel, must land in
  // the file's last row; one at image (6, 4) in the file's first row.
  const PixelFormat &format = GetParam();
  const int channels = format.alphaOnly ? 1 : 4;
  writeFile(path("in.tif"), 7, 5, channels, format.type,
            pattern(7, 5, channels, true));
  const FileImage in = readFile(path("in.tif"));
  struct Case {
    const char *window;
    int col, row; // where the pixel is in the files
  };
  for (const Case &c :
       {Case{"0,0,1,1", 0, 4}, Case{"6,4,7,5", 6, 0}, Case{"2,1,3,2", 2, 3}}) {
    auto options = formatOptions(format);
    options.insert(options.end(), {"--window", c.window});
    const RunResult run =
        render(kProbe, path("in.tif"), path("w.tif"), options);
    ASSERT_EQ(run.exitCode, 0) << format << ": " << run.err;
    const FileImage out = readFile(path("w.tif"));
    ASSERT_EQ(out.spec.width, 7);
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 7; ++col)
        for (int ch = 0; ch < channels; ++ch) {
          const bool rendered = col == c.col && row == c.row;
          const float expected = rendered ? in.at(col, row, ch) : 0.0f;
          ASSERT_EQ(out.at(col, row, ch), expected)
              << format << ", window " << c.window << ", file pixel (" << col
              << ", " << row << ") channel " << ch;
        }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, SixFormats, ::testing::ValuesIn(kSixFormats),
                         [](const auto &info) {
                           std::string name = info.param.name;
                           name.replace(name.find(' '), 1, "_");
                           return name;
                         });

// ------------------------------------------------------------ data window

struct Container {
  const char *extension;
  OIIO::TypeDesc type;
};

class DataWindow : public ToolTest,
                   public ::testing::WithParamInterface<Container> {};

TEST_P(DataWindow, GrownOutputKeepsTheInputAreaInPlace) {
  // The probe grows its region of definition by "margin" on every side.
  // EXR holds the grown image by default, TIFF when asked to.
  const Container &container = GetParam();
  const std::string in = path(std::string("in.") + container.extension);
  const std::string out = path(std::string("out.") + container.extension);
  writeFile(in, 6, 4, 4, container.type, pattern(6, 4, 4, true),
            placedIn(3, 5, 20, 16));
  const RunResult run =
      render(kProbe, in, out, {"--set", "margin=2", "--overscan"});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const FileImage source = readFile(in);
  const FileImage result = readFile(out);
  EXPECT_EQ(result.spec.width, 10);
  EXPECT_EQ(result.spec.height, 8);
  EXPECT_EQ(result.spec.x, 1);
  EXPECT_EQ(result.spec.y, 3);
  EXPECT_EQ(result.spec.full_x, 0);
  EXPECT_EQ(result.spec.full_y, 0);
  EXPECT_EQ(result.spec.full_width, 20);
  EXPECT_EQ(result.spec.full_height, 16);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 10; ++col)
      for (int ch = 0; ch < 4; ++ch) {
        const bool inside = col >= 2 && col < 8 && row >= 2 && row < 6;
        const float expected = inside ? source.at(col - 2, row - 2, ch) : 0.0f;
        ASSERT_EQ(result.at(col, row, ch), expected)
            << container.extension << " file pixel (" << col << ", " << row
            << ") channel " << ch;
      }
}

TEST_P(DataWindow, CropWritesOnlyTheInputArea) {
  const Container &container = GetParam();
  const std::string in = path(std::string("in.") + container.extension);
  const std::string out = path(std::string("out.") + container.extension);
  writeFile(in, 6, 4, 4, container.type, pattern(6, 4, 4, true));
  const RunResult run =
      render(kProbe, in, out, {"--set", "margin=3", "--crop"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage result = readFile(out);
  EXPECT_EQ(result.spec.x, 0);
  EXPECT_EQ(result.spec.y, 0);
  expectSamePixels(container.extension, readFile(in), result);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, DataWindow,
    ::testing::Values(Container{"exr", OIIO::TypeDesc::FLOAT},
                      Container{"tif", OIIO::TypeDesc::UINT16}),
    [](const auto &info) { return std::string(info.param.extension); });

using PlacementTest = ToolTest;

TEST_F(PlacementTest, PngHoldsTheWholeGrownImageFromItsCorner) {
  writeFile(path("in.png"), 5, 3, 4, OIIO::TypeDesc::UINT8,
            std::vector<float>(5 * 3 * 4, 1.0f));
  const RunResult run = render(kProbe, path("in.png"), path("out.png"),
                               {"--set", "margin=1", "--overscan"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage out = readFile(path("out.png"));
  ASSERT_EQ(out.spec.width, 7);
  ASSERT_EQ(out.spec.height, 5);
  for (int row = 0; row < 5; ++row)
    for (int col = 0; col < 7; ++col) {
      const bool inside = col >= 1 && col < 6 && row >= 1 && row < 4;
      ASSERT_EQ(out.at(col, row, 3), inside ? 1.0f : 0.0f)
          << "file pixel (" << col << ", " << row << ")";
    }
}

TEST_F(PlacementTest, TiffWithoutRoomForNegativePositionsStartsAtItsCorner) {
  // TIFF positions are unsigned: a grown output cannot say it starts at
  // (-1, -1), so it is written like a PNG, the whole image from its corner.
  writeFile(path("in.tif"), 5, 3, 4, OIIO::TypeDesc::UINT8,
            std::vector<float>(5 * 3 * 4, 1.0f));
  const RunResult run = render(kProbe, path("in.tif"), path("out.tif"),
                               {"--set", "margin=1", "--overscan"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage out = readFile(path("out.tif"));
  EXPECT_EQ(out.spec.x, 0);
  EXPECT_EQ(out.spec.y, 0);
  EXPECT_EQ(out.spec.width, 7);
  EXPECT_EQ(out.spec.height, 5);
  EXPECT_EQ(out.at(0, 0, 3), 0.0f);
  EXPECT_EQ(out.at(1, 1, 3), 1.0f);
}

TEST_F(PlacementTest, ScaledInputKeepsItsPixelSize) {
  // At scale 0.5 a margin of 4 canonical units is 2 pixels.
  writeFile(path("in.exr"), 6, 4, 4, OIIO::TypeDesc::FLOAT,
            pattern(6, 4, 4, true));
  const RunResult run = render(kProbe, path("in.exr"), path("out.exr"),
                               {"--set", "margin=4", "--scale", "0.5"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage out = readFile(path("out.exr"));
  EXPECT_EQ(out.spec.width, 10);
  EXPECT_EQ(out.spec.height, 8);
  EXPECT_EQ(out.spec.x, -2);
  EXPECT_EQ(out.spec.y, -2);
}

// ------------------------------------------------------ channels and alpha

using ChannelRules = ToolTest;

TEST_F(ChannelRules, ThreeChannelFilesGetAnOpaqueAlpha) {
  writeFile(path("in.tif"), 4, 3, 3, OIIO::TypeDesc::UINT16,
            pattern(4, 3, 3, false));
  const RunResult run = render(kProbe, path("in.tif"), path("out.tif"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage in = readFile(path("in.tif"));
  const FileImage out = readFile(path("out.tif"));
  ASSERT_EQ(out.channels(), 4);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(out.at(col, row, c), in.at(col, row, c))
            << "pixel (" << col << ", " << row << ") channel " << c;
      ASSERT_EQ(out.at(col, row, 3), 1.0f)
          << "pixel (" << col << ", " << row << ") alpha";
    }
}

TEST_F(ChannelRules, GreyAndGreyAlphaSpreadToRgb) {
  for (int channels : {1, 2}) {
    SCOPED_TRACE(std::to_string(channels) + " channel(s)");
    writeFile(path("in.tif"), 4, 3, channels, OIIO::TypeDesc::FLOAT,
              pattern(4, 3, channels, true));
    const RunResult run = render(kProbe, path("in.tif"), path("out.tif"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("in.tif"));
    const FileImage out = readFile(path("out.tif"));
    ASSERT_EQ(out.channels(), 4);
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(out.at(col, row, c), in.at(col, row, 0))
              << "pixel (" << col << ", " << row << ") channel " << c;
        const float alpha = channels == 2 ? in.at(col, row, 1) : 1.0f;
        ASSERT_EQ(out.at(col, row, 3), alpha)
            << "pixel (" << col << ", " << row << ") alpha";
      }
  }
}

TEST_F(ChannelRules, AlphaOnlyTakesTheAlphaOrTheOnlyChannel) {
  struct Case {
    int channels;
    int alphaChannel; // -1: opaque
  };
  // Three channels have no alpha to take, which is an error.
  for (const Case &c : {Case{4, 3}, Case{2, 1}, Case{1, 0}}) {
    SCOPED_TRACE(std::to_string(c.channels) + " channel(s)");
    writeFile(path("in.tif"), 4, 3, c.channels, OIIO::TypeDesc::FLOAT,
              pattern(4, 3, c.channels, true));
    const RunResult run =
        render(kProbe, path("in.tif"), path("out.exr"), {"--alpha"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("in.tif"));
    const FileImage out = readFile(path("out.exr"));
    ASSERT_EQ(out.channels(), 1);
    EXPECT_EQ(out.spec.channelnames[0], "A");
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        const float expected =
            c.alphaChannel < 0 ? 1.0f : in.at(col, row, c.alphaChannel);
        ASSERT_EQ(out.at(col, row, 0), expected)
            << "pixel (" << col << ", " << row << ")";
      }
  }
}

// ------------------------------------------------------- premultiplication

using Premultiplication = ToolTest;

// The error an 8-bit premultiply/un-premultiply round trip may add to a
// colour component of a pixel with alpha a.
float roundTripTolerance(float alpha, float step) {
  return step / alpha + step;
}

TEST_F(Premultiplication, PngRoundTripKeepsAlphaAndOpaqueColoursExactly) {
  for (auto [type, step] :
       {std::pair{OIIO::TypeDesc(OIIO::TypeDesc::UINT8), 1.0f / 255},
        std::pair{OIIO::TypeDesc(OIIO::TypeDesc::UINT16), 1.0f / 65535}}) {
    SCOPED_TRACE(type.c_str());
    writeFile(path("in.png"), 9, 7, 4, type, pattern(9, 7, 4, false),
              [](OIIO::ImageSpec &spec) {
                spec.attribute("oiio:UnassociatedAlpha", 1);
              });
    const RunResult run = render(kProbe, path("in.png"), path("out.png"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("in.png"));
    const FileImage out = readFile(path("out.png"));
    ASSERT_EQ(out.spec.format, in.spec.format);
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 9; ++col) {
        const float alpha = in.at(col, row, 3);
        ASSERT_EQ(out.at(col, row, 3), alpha)
            << "pixel (" << col << ", " << row << ") alpha";
        for (int c = 0; c < 3; ++c) {
          const float expected = alpha == 0 ? 0.0f : in.at(col, row, c);
          const float tolerance =
              alpha == 0 || alpha == 1 ? 0.0f : roundTripTolerance(alpha, step);
          ASSERT_NEAR(out.at(col, row, c), expected, tolerance)
              << "pixel (" << col << ", " << row << ") channel " << c
              << ", alpha " << alpha;
        }
      }
  }
}

TEST_F(Premultiplication, PngIsPremultipliedOnReading) {
  writeFile(path("in.png"), 9, 7, 4, OIIO::TypeDesc::UINT8,
            pattern(9, 7, 4, false), [](OIIO::ImageSpec &spec) {
              spec.attribute("oiio:UnassociatedAlpha", 1);
            });
  const RunResult run =
      render(kProbe, path("in.png"), path("out.exr"), {"--depth", "float"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage in = readFile(path("in.png"));
  const FileImage out = readFile(path("out.exr"));
  for (int row = 0; row < 7; ++row)
    for (int col = 0; col < 9; ++col) {
      const float alpha = in.at(col, row, 3);
      ASSERT_EQ(out.at(col, row, 3), alpha);
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(out.at(col, row, c), in.at(col, row, c) * alpha, 1.0f / 255)
            << "pixel (" << col << ", " << row << ") channel " << c;
    }
}

// Every pair of 8-bit colour and alpha values, and a spread of 16-bit
// ones, as grey and alpha: the premultiplied colour is the nearest value to
// colour * alpha / max, neither truncated nor biased. The identity render
// writes it to an associated-alpha TIFF, which holds it as it is.
TEST_F(Premultiplication, PngColourIsRoundedToNearestOnReading) {
  struct Case {
    OIIO::TypeDesc type;
    double max;
    int colourStep, alphaStep; // between columns and rows of 256
  };
  for (const Case &test : {Case{OIIO::TypeDesc::UINT8, 255, 1, 1},
                           Case{OIIO::TypeDesc::UINT16, 65535, 251, 257}}) {
    SCOPED_TRACE(test.type.c_str());
    std::vector<float> values;
    for (int row = 0; row < 256; ++row)
      for (int col = 0; col < 256; ++col) {
        values.push_back(static_cast<float>(col * test.colourStep / test.max));
        values.push_back(static_cast<float>(row * test.alphaStep / test.max));
      }
    writeFile(path("in.png"), 256, 256, 2, test.type, values,
              [](OIIO::ImageSpec &spec) {
                spec.attribute("oiio:UnassociatedAlpha", 1);
              });
    const RunResult run = render(kProbe, path("in.png"), path("out.tif"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("in.png"));
    const FileImage out = readFile(path("out.tif"));
    ASSERT_EQ(out.spec.format, test.type);
    for (int row = 0; row < 256; ++row)
      for (int col = 0; col < 256; ++col) {
        const double colour = std::round(in.at(col, row, 0) * test.max);
        const double alpha = std::round(in.at(col, row, 1) * test.max);
        const double expected = std::round(colour * alpha / test.max);
        ASSERT_EQ(std::round(out.at(col, row, 0) * test.max), expected)
            << "colour " << colour << ", alpha " << alpha;
        ASSERT_EQ(std::round(out.at(col, row, 3) * test.max), alpha);
      }
  }
}

TEST_F(Premultiplication, PngIsUnpremultipliedOnWriting) {
  writeFile(path("in.exr"), 9, 7, 4, OIIO::TypeDesc::FLOAT,
            pattern(9, 7, 4, true));
  const RunResult run =
      render(kProbe, path("in.exr"), path("out.png"), {"--depth", "short"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage in = readFile(path("in.exr"));
  const FileImage out = readFile(path("out.png"));
  ASSERT_EQ(out.spec.format, OIIO::TypeDesc::UINT16);
  for (int row = 0; row < 7; ++row)
    for (int col = 0; col < 9; ++col) {
      const float alpha = in.at(col, row, 3);
      ASSERT_NEAR(out.at(col, row, 3), alpha, 1.0f / 65535);
      if (alpha < 0.05f)
        continue; // colour is unrecoverable, or nearly so
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(out.at(col, row, c), in.at(col, row, c) / alpha,
                    roundTripTolerance(alpha, 1.0f / 65535))
            << "pixel (" << col << ", " << row << ") channel " << c;
    }
}

TEST_F(Premultiplication, ExrPassesThroughAtHalfAndFloat) {
  for (OIIO::TypeDesc type : {OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT}) {
    SCOPED_TRACE(type.c_str());
    writeFile(path("in.exr"), 9, 7, 4, type, pattern(9, 7, 4, true));
    const RunResult run = render(kProbe, path("in.exr"), path("out.exr"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("in.exr"));
    const FileImage out = readFile(path("out.exr"));
    ASSERT_EQ(out.spec.format, type);
    ASSERT_EQ(out.values.size(), in.values.size());
    for (size_t i = 0; i < in.values.size(); ++i)
      ASSERT_EQ(out.values[i], in.values[i])
          << "pixel (" << (i / 4) % 9 << ", " << (i / 4) / 9 << ") channel "
          << i % 4;
  }
}

} // namespace
} // namespace ofxrender_test
