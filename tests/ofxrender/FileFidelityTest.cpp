// What an input file held beyond the pixels rendered comes back out: other
// channels and layers, pixel types, compression and metadata, and no colour
// tag the tool did not earn. Also how alpha is read: premultiplied at the
// depth rendered, and a lone alpha channel taken as alpha.
#include <cmath>
#include <set>

#include "ToolRunner.h"

namespace ofxrender_test {
namespace {

using Names = std::vector<std::string>;

enum Exit { kUsage = 2, kFile = 3 };

// Every value of the named channel, row by row.
std::vector<float> channel(const FileImage &image, const std::string &name) {
  const int c = image.spec.channelindex(name);
  EXPECT_GE(c, 0) << "no channel " << name;
  std::vector<float> values;
  if (c < 0)
    return values;
  for (int row = 0; row < image.spec.height; ++row)
    for (int col = 0; col < image.spec.width; ++col)
      values.push_back(image.at(col, row, c));
  return values;
}

std::set<std::string> channelNames(const FileImage &image) {
  return {image.spec.channelnames.begin(), image.spec.channelnames.end()};
}

std::string attributeText(const FileImage &image, const std::string &name) {
  const OIIO::ParamValue *value = image.spec.find_attribute(name);
  return value ? image.spec.metadata_val(*value) : "(none)";
}

// Whether a PNG carries an sRGB or gAMA chunk.
bool pngTagged(const std::string &path) {
  const std::string bytes = fileContents(path);
  const std::string head = bytes.substr(0, bytes.find("IDAT"));
  return head.find("sRGB") != std::string::npos ||
         head.find("gAMA") != std::string::npos;
}

using FileFidelity = ToolTest;

// The issue's sequence, three frames of it: layers of half and float
// channels, pixel aspect 2, piz, a time code per frame and studio
// attributes. The probe grows the picture by two canonical units on every
// side, which the wide pixels make one pixel across and two down;
// everything else is as it went in, the channels it does not render zero
// where the input had no pixels.
TEST_F(FileFidelity, LayeredExrSequenceKeepsEveryChannelAndAttribute) {
  const Names names = {"R",         "G",         "B",         "A",
                       "diffuse.R", "diffuse.G", "diffuse.B", "Z"};
  for (unsigned frame = 1; frame <= 3; ++frame)
    writeFile(path("in.000" + std::to_string(frame) + ".exr"), 6, 4, 8,
              OIIO::TypeDesc::HALF, pattern(6, 4, 8, false),
              [&](OIIO::ImageSpec &spec) {
                spec.channelnames = names;
                spec.channelformats.assign(7, OIIO::TypeDesc::HALF);
                spec.channelformats.push_back(OIIO::TypeDesc::FLOAT);
                spec.attribute("compression", "piz");
                spec.attribute("PixelAspectRatio", 2.0f);
                const unsigned timeCode[2] = {0x01000000u | frame, 0};
                spec.attribute("smpte:TimeCode", OIIO::TypeTimeCode, timeCode);
                const int fps[2] = {24, 1};
                spec.attribute("FramesPerSecond", OIIO::TypeRational, fps);
                spec.attribute("Copyright", "Example Studio");
                spec.attribute("ImageDescription", "plate, take 3");
                spec.attribute("studio:shot", "sh010");
              });
  const RunResult run =
      render(kProbe, path("in.####.exr"), path("out.####.exr"),
             {"--frames", "1-3", "--set", "margin=2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");

  for (int frame = 1; frame <= 3; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const FileImage in =
        readFile(path("in.000" + std::to_string(frame) + ".exr"));
    const FileImage out =
        readFile(path("out.000" + std::to_string(frame) + ".exr"));
    ASSERT_EQ(channelNames(out), channelNames(in));
    for (const std::string &name : names)
      EXPECT_EQ(out.spec.channelformat(out.spec.channelindex(name)),
                in.spec.channelformat(in.spec.channelindex(name)))
          << name;
    for (const OIIO::ParamValue &attribute : in.spec.extra_attribs)
      EXPECT_EQ(attributeText(out, attribute.name().string()),
                attributeText(in, attribute.name().string()))
          << attribute.name();
    ASSERT_EQ(out.spec.width, 8);
    ASSERT_EQ(out.spec.height, 8);
    for (const std::string &name : names) {
      const int ci = in.spec.channelindex(name);
      const int co = out.spec.channelindex(name);
      for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
          const bool inside = col >= 1 && col < 7 && row >= 2 && row < 6;
          ASSERT_EQ(out.at(col, row, co),
                    inside ? in.at(col - 1, row - 2, ci) : 0.0f)
              << name << " at file pixel (" << col << ", " << row << ")";
        }
    }
  }
}

// --channels LAYER renders the layer and writes the result back into it
// (with the alpha the layer lacked); the other channels stay as they were.
// A format without room for them drops them and says so once.
TEST_F(FileFidelity, ChosenLayerGoesBackAndTheRestStay) {
  writeFile(path("in.exr"), 5, 3, 5, OIIO::TypeDesc::FLOAT,
            pattern(5, 3, 5, false), [](OIIO::ImageSpec &spec) {
              spec.channelnames = {"R", "G", "B", "spec.R", "Z"};
              spec.channelformats.clear();
            });
  ASSERT_EQ(
      render(kProbe, path("in.exr"), path("out.exr"), {"--channels", "R,G,B"})
          .exitCode,
      0);
  writeFile(path("layered.exr"), 5, 3, 7, OIIO::TypeDesc::FLOAT,
            pattern(5, 3, 7, false), [](OIIO::ImageSpec &spec) {
              spec.channelnames = {"R",         "G",         "B",        "A",
                                   "diffuse.R", "diffuse.G", "diffuse.B"};
            });
  const RunResult run = render(kProbe, path("layered.exr"), path("out.exr"),
                               {"--channels", "diffuse"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const FileImage in = readFile(path("layered.exr"));
  const FileImage out = readFile(path("out.exr"));
  EXPECT_EQ(channelNames(out),
            (std::set<std::string>{"R", "G", "B", "A", "diffuse.R", "diffuse.G",
                                   "diffuse.B", "diffuse.A"}));
  for (const char *name :
       {"R", "G", "B", "A", "diffuse.R", "diffuse.G", "diffuse.B"})
    EXPECT_EQ(channel(out, name), channel(in, name)) << name;
  EXPECT_EQ(channel(out, "diffuse.A"), std::vector<float>(15, 1.0f));

  const RunResult dropped = render(kProbe, path("layered.exr"),
                                   path("out.####.tif"), {"--frames", "1-2"});
  ASSERT_EQ(dropped.exitCode, 0) << dropped.err;
  EXPECT_EQ(dropped.err, "ofxrender: warning: TIFF files hold no further "
                         "channels; " +
                             path("out.0001.tif") +
                             " drops diffuse.R, diffuse.G, diffuse.B (write "
                             "EXR to keep them)\n");
  EXPECT_EQ(readFile(path("out.0002.tif")).channels(), 4);

  // A second part of a file is not rendered; that is said too.
  auto writer = OIIO::ImageOutput::create(path("parts.exr"));
  const OIIO::ImageSpec parts[2] = {
      OIIO::ImageSpec(2, 2, 4, OIIO::TypeDesc::FLOAT),
      OIIO::ImageSpec(2, 2, 4, OIIO::TypeDesc::FLOAT)};
  const std::vector<float> pixels(16, 0.5f);
  ASSERT_TRUE(writer->open(path("parts.exr"), 2, parts));
  ASSERT_TRUE(writer->write_image(OIIO::TypeDesc::FLOAT, pixels.data()));
  ASSERT_TRUE(writer->open(path("parts.exr"), parts[1],
                           OIIO::ImageOutput::AppendSubimage));
  ASSERT_TRUE(writer->write_image(OIIO::TypeDesc::FLOAT, pixels.data()));
  ASSERT_TRUE(writer->close());
  const RunResult twoParts =
      render(kProbe, path("parts.exr"), path("parts-out.exr"));
  ASSERT_EQ(twoParts.exitCode, 0) << twoParts.err;
  EXPECT_EQ(twoParts.err, "ofxrender: warning: " + path("parts.exr") +
                              " has 2 parts; only the first is rendered and "
                              "written\n");
}

// Compression and metadata are kept in the same format, the portable
// metadata across formats, and --compression and --quality choose.
TEST_F(FileFidelity, CompressionAndMetadataCarryOver) {
  const auto tiffLzw = [](OIIO::ImageSpec &spec) {
    spec.attribute("compression", "lzw");
    spec.attribute("Artist", "A. Artist");
    spec.attribute("ImageDescription", "a plate");
    spec.attribute("XResolution", 300.0f);
    spec.attribute("YResolution", 300.0f);
    spec.attribute("ResolutionUnit", "in");
  };
  writeFile(path("in.tif"), 4, 4, 4, OIIO::TypeDesc::UINT16,
            pattern(4, 4, 4, true), tiffLzw);
  writeFile(path("in.exr"), 4, 4, 4, OIIO::TypeDesc::FLOAT,
            pattern(4, 4, 4, true), [](OIIO::ImageSpec &spec) {
              spec.attribute("compression", "dwaa");
              spec.attribute("Copyright", "Example Studio");
              spec.attribute("openexr:dwaCompressionLevel", 60.0f);
              spec.attribute("studio:take", 3);
            });
  const std::string icc(200, 'p');
  writeFile(path("in.png"), 4, 4, 4, OIIO::TypeDesc::UINT8,
            pattern(4, 4, 4, false), [&](OIIO::ImageSpec &spec) {
              spec.attribute("oiio:ColorSpace", "GammaCorrected");
              spec.attribute("oiio:Gamma", 1.8f);
              spec.attribute("XResolution", 72.0f);
              spec.attribute("YResolution", 72.0f);
              spec.attribute("ResolutionUnit", "in");
            });
  writeFile(path("plain.png"), 4, 4, 4, OIIO::TypeDesc::UINT8,
            pattern(4, 4, 4, false));
  // Each kept attribute reads back as in the input; each other one is gone.
  struct Case {
    const char *input, *output;
    Names options;
    const char *compression; // nullptr: not checked
    Names kept, gone;
  };
  const Case cases[] = {
      {"in.tif",
       "out.tif",
       {},
       "lzw",
       {"Artist", "ImageDescription", "XResolution", "ResolutionUnit"},
       {}},
      {"in.tif", "out.tif", {"--compression", "PackBits"}, "packbits", {}, {}},
      {"in.tif",
       "out.exr",
       {"--depth", "float"},
       "zip",
       {"Artist"},
       {"tiff:RowsPerStrip"}},
      {"in.exr",
       "out.exr",
       {},
       "dwaa",
       {"Copyright", "openexr:dwaCompressionLevel", "studio:take"},
       {}},
      {"in.exr", "out.exr", {"--compression", "b44a"}, "b44a", {}, {}},
      {"in.exr", "out.tif", {}, "zip", {"Copyright"}, {"studio:take"}},
      {"in.png",
       "out.png",
       {},
       nullptr,
       {"oiio:ColorSpace", "oiio:Gamma", "XResolution"},
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
    const RunResult run =
        render(kProbe, path(c.input), path(c.output), c.options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path(c.input));
    const FileImage out = readFile(path(c.output));
    if (c.compression) {
      EXPECT_EQ(attributeText(out, "compression"),
                "\"" + std::string(c.compression) + "\"");
    }
    for (const std::string &name : c.kept) {
      EXPECT_NE(attributeText(in, name), "(none)") << name;
      EXPECT_EQ(attributeText(out, name), attributeText(in, name)) << name;
    }
    for (const std::string &name : c.gone)
      EXPECT_EQ(attributeText(out, name), "(none)") << name;
  }

  // No colour tag the input did not have: the tool manages no colour.
  EXPECT_TRUE(pngTagged(path("out.png")));
  for (const char *input : {"plain.png", "in.exr"}) {
    ASSERT_EQ(
        render(kProbe, path(input), path("untagged.png"), {"--depth", "byte"})
            .exitCode,
        0);
    EXPECT_FALSE(pngTagged(path("untagged.png"))) << input;
  }

  // JPEG quality: lower is smaller.
  writeFile(path("big.png"), 64, 64, 3, OIIO::TypeDesc::UINT8,
            pattern(64, 64, 3, false));
  for (const char *quality : {"10", "100"})
    ASSERT_EQ(render(kProbe, path("big.png"),
                     path(std::string("q") + quality + ".jpg"),
                     {"--quality", quality})
                  .exitCode,
              0);
  EXPECT_LT(fileContents(path("q10.jpg")).size(),
            fileContents(path("q100.jpg")).size());

  const std::vector<std::pair<Names, const char *>> refused = {
      {{"out.exr", "--compression", "lzw"}, "is not one of none, rle, zips"},
      {{"out.tif", "--compression", "piz"}, "is not one of none, lzw, zip"},
      {{"out.png", "--compression", "zip"}, "for EXR and TIFF outputs only"},
      {{"out.jpg", "--compression", "zip"}, "JPEG takes --quality"},
      {{"out.png", "--quality", "50"}, "--quality is for JPEG outputs only"},
      {{"out.jpg", "--quality", "0"}, "--quality"},
  };
  for (const auto &[args, message] : refused) {
    Names options(args.begin() + 1, args.end());
    const RunResult run =
        render(kProbe, path("in.tif"), path(args[0]), options);
    EXPECT_EQ(run.exitCode, kUsage) << args[0] << " " << args[2];
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

TEST_F(FileFidelity, HalfStaysHalfUnlessTheOutputTypeSays) {
  writeFile(path("in.exr"), 3, 3, 4, OIIO::TypeDesc::HALF,
            pattern(3, 3, 4, true));
  for (const auto &[options, type] :
       {std::pair{Names{}, OIIO::TypeDesc::HALF},
        std::pair{Names{"--depth", "float"}, OIIO::TypeDesc::HALF},
        std::pair{Names{"--output-type", "float"}, OIIO::TypeDesc::FLOAT}}) {
    ASSERT_EQ(render(kProbe, path("in.exr"), path("out.exr"), options).exitCode,
              0);
    EXPECT_EQ(readFile(path("out.exr")).spec.format, type);
  }
}

// An 8-bit straight-alpha PNG rendered deeper keeps the colour of its soft
// edge: premultiplying at 8 bits would round a colour at alpha 2/255 to a
// level or two.
TEST_F(FileFidelity, StraightAlphaIsPremultipliedAtTheDepthRendered) {
  writeFile(path("in.png"), 1, 1, 4, OIIO::TypeDesc::UINT8,
            {187.0f / 255, 40.0f / 255, 1.0f, 2.0f / 255},
            [](OIIO::ImageSpec &spec) {
              spec.attribute("oiio:UnassociatedAlpha", 1);
            });
  ASSERT_EQ(
      render(kProbe, path("in.png"), path("out.exr"), {"--depth", "float"})
          .exitCode,
      0);
  const FileImage exr = readFile(path("out.exr"));
  EXPECT_NEAR(exr.at(0, 0, 0) / exr.at(0, 0, 3) * 255, 187, 1e-3);
  ASSERT_EQ(
      render(kProbe, path("in.png"), path("out.png"), {"--depth", "short"})
          .exitCode,
      0);
  const FileImage png = readFile(path("out.png"));
  EXPECT_NEAR(png.at(0, 0, 0) * 255, 187, 0.5);
  EXPECT_NEAR(png.at(0, 0, 1) * 255, 40, 0.5);
}

// A file of one channel named A (or alpha) is a matte: transparent black
// of that coverage, not grey. --alpha wants an alpha channel to read.
TEST_F(FileFidelity, LoneAlphaChannelIsAlpha) {
  for (const char *name : {"A", "alpha", "mask.A"}) {
    writeFile(path("matte.exr"), 4, 3, 1, OIIO::TypeDesc::FLOAT,
              pattern(4, 3, 1, false),
              [&](OIIO::ImageSpec &spec) { spec.channelnames = {name}; });
    const RunResult run = render(kProbe, path("matte.exr"), path("out.exr"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const FileImage in = readFile(path("matte.exr"));
    const FileImage out = readFile(path("out.exr"));
    ASSERT_EQ(out.channels(), 4) << name;
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 4; ++col) {
        EXPECT_EQ(out.at(col, row, 3), in.at(col, row, 0)) << name;
        for (int c = 0; c < 3; ++c)
          EXPECT_EQ(out.at(col, row, c), 0.0f) << name;
      }
  }
  writeFile(path("rgb.tif"), 4, 3, 3, OIIO::TypeDesc::UINT8,
            pattern(4, 3, 3, false));
  const RunResult noAlpha =
      render(kProbe, path("rgb.tif"), path("out.tif"), {"--alpha"});
  EXPECT_EQ(noAlpha.exitCode, kFile);
  EXPECT_NE(noAlpha.err.find("rgb.tif: has no alpha channel for --alpha"),
            std::string::npos)
      << noAlpha.err;
  EXPECT_FALSE(fileExists(path("out.tif")));
}

} // namespace
} // namespace ofxrender_test
