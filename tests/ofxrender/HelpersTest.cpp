// Direct tests of the tool's pure helpers: frame ranges and patterns, the
// rounding of regions to pixels, tiling and window parsing, and the lines
// that report broken bundles.
#include <gtest/gtest.h>

#include "ListPlugins.h"
#include "Progress.h"
#include "RenderJob.h"
#include "Sequence.h"
#include "ToolError.h"

namespace ofxrender {
namespace {

TEST(FrameRange, ParsesRangesSingleFramesAndNegatives) {
  EXPECT_EQ(parseFrameRange("1-24").first, 1);
  EXPECT_EQ(parseFrameRange("1-24").last, 24);
  EXPECT_EQ(parseFrameRange("7").first, 7);
  EXPECT_EQ(parseFrameRange("7").last, 7);
  EXPECT_EQ(parseFrameRange("-5--1").first, -5);
  EXPECT_EQ(parseFrameRange("-5--1").last, -1);
  EXPECT_EQ(parseFrameRange("-2-3").count(), 6);
}

TEST(FrameRange, RejectsMalformedAndBackwardRanges) {
  for (const char *bad : {"", "a-b", "1-", "-", "1-2-3", "1..3", "1-3x", "5-1",
                          "99999999999-1"}) {
    try {
      parseFrameRange(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const ToolError &error) {
      EXPECT_EQ(error.code(), kExitUsage) << bad;
      EXPECT_NE(std::string(error.what()).find("--frames"), std::string::npos);
    }
  }
}

TEST(FramePattern, PadsEachRunToItsLength) {
  EXPECT_EQ(expandFramePattern("in.####.png", 12), "in.0012.png");
  EXPECT_EQ(expandFramePattern("in.#.png", 12), "in.12.png");
  EXPECT_EQ(expandFramePattern("a##/b###.exr", 7), "a07/b007.exr");
  EXPECT_EQ(expandFramePattern("in.###.png", -4), "in.-004.png");
  EXPECT_EQ(expandFramePattern("still.png", 3), "still.png");
  EXPECT_TRUE(hasFramePattern("x.#.png"));
  EXPECT_FALSE(hasFramePattern("x.png"));
}

TEST(PixelBounds, RoundsOutwardButIgnoresRoundingNoise) {
  // 480 pixels at scale 0.3 are 1600 canonical units; 1600 * 0.3 is
  // 480.00000000000006 in doubles and must stay 480.
  const OfxRectD rod{0, 0, 480 / 0.3, 270 / 0.3};
  const OfxRectI bounds = pixelBounds(rod, 0.3);
  EXPECT_EQ(bounds.x2, 480);
  EXPECT_EQ(bounds.y2, 270);

  const OfxRectI grown = pixelBounds({-2.5, -0.25, 10.2, 10.0}, 1.0);
  EXPECT_EQ(grown.x1, -3);
  EXPECT_EQ(grown.y1, -1);
  EXPECT_EQ(grown.x2, 11);
  EXPECT_EQ(grown.y2, 10);

  const OfxRectI half = pixelBounds({-3, -3, 13, 13}, 0.5);
  EXPECT_EQ(half.x1, -2); // -1.5 rounds out
  EXPECT_EQ(half.x2, 7);  // 6.5 rounds out
}

TEST(Tiles, CoverTheWindowExactlyOnce) {
  const OfxRectI window{-3, 5, 14, 12};
  for (int n : {1, 2, 3, 7, 20}) {
    std::vector<int> hits(17 * 7, 0);
    for (const OfxRectI &tile : splitIntoTiles(window, n)) {
      ASSERT_LT(tile.x1, tile.x2);
      ASSERT_LT(tile.y1, tile.y2);
      for (int y = tile.y1; y < tile.y2; ++y)
        for (int x = tile.x1; x < tile.x2; ++x)
          ++hits[(y - 5) * 17 + (x + 3)];
    }
    for (size_t i = 0; i < hits.size(); ++i)
      ASSERT_EQ(hits[i], 1) << "n " << n << ", pixel index " << i;
  }
  EXPECT_EQ(splitIntoTiles(window, 3).size(), 9u);
  // More tiles than pixels in a row: the empty ones are left out.
  EXPECT_EQ(splitIntoTiles({0, 0, 2, 2}, 4).size(), 4u);
}

TEST(Window, ParsesFourWholeNumbersAndRejectsTheRest) {
  const OfxRectI w = parseWindow("-2,3,40,50");
  EXPECT_EQ(w.x1, -2);
  EXPECT_EQ(w.y1, 3);
  EXPECT_EQ(w.x2, 40);
  EXPECT_EQ(w.y2, 50);
  for (const char *bad : {"1,2,3", "1,2,3,4,5", "a,b,c,d", "0,0,0,5", "5,0,1,5",
                          "1.5,0,4,4", ""}) {
    EXPECT_THROW(parseWindow(bad), ToolError) << bad;
  }
}

// What the bar draws: frames done, then the plug-in's own progress filling
// the current frame's share.
TEST(ProgressBar, ShowsFramesAndThePluginsProgressWithinTheFrame) {
  std::FILE *stream = std::tmpfile();
  ASSERT_TRUE(stream);
  {
    ProgressBar bar(2, true, stream, true);
    bar.update(1, "b.png");
    bar.pluginProgress("Blurring", 0.5);
  }
  std::rewind(stream);
  std::string drawn;
  for (int c; (c = std::fgetc(stream)) != EOF;)
    drawn += static_cast<char>(c);
  std::fclose(stream);
  const std::string erase = "\033[K";
  EXPECT_EQ(drawn, "\r[###############...............] 1/2 b.png" + erase +
                       "\r[######################........] 1/2 b.png: "
                       "Blurring 50%" +
                       erase + "\n");
}

// A bundle's errors, however many and however interleaved with another's,
// make one line in the order the bundles first failed; repeats are said
// once, and past a few distinct reasons only their number is.
TEST(BundleProblems, OneLinePerBundleWithItsDistinctReasons) {
  std::vector<ofxhost::BundleError> errors = {{"a", "cut short"},
                                              {"b", "twice"}};
  for (int i = 0; i < 1000; ++i)
    errors.push_back({"b", "twice"});
  for (const char *reason : {"one", "two", "three", "four", "five"})
    errors.push_back({"a", reason});
  EXPECT_EQ(bundleProblems(errors),
            (std::vector<std::string>{"a: cut short; one; two; and 3 more",
                                      "b: twice"}));
  EXPECT_TRUE(bundleProblems({}).empty());
}

} // namespace
} // namespace ofxrender
