// Host images: row layout with padding and negative row bytes.
#include "HostTestSupport.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using ofxhost::BitDepth;
using ofxhost::Components;
using ofxhost::Image;
using ofxhost::ImageLayout;

TEST(ImageTest, PaddedRowsSitRowBytesApart) {
  Image image({-2, 3, 5, 7}, BitDepth::Short, Components::RGBA, {8, false});
  EXPECT_EQ(image.pixelBytes(), 8);
  EXPECT_EQ(image.rowBytes(), 7 * 8 + 8);
  auto *origin = static_cast<unsigned char *>(image.data());
  EXPECT_EQ(image.pixelAddress(-2, 3), origin);
  EXPECT_EQ(image.pixelAddress(0, 5), origin + 2 * 64 + 2 * 8);
  EXPECT_EQ(image.pixelAddress(5, 3), nullptr);
  EXPECT_EQ(image.pixelAddress(-3, 3), nullptr);
  EXPECT_EQ(image.pixelAddress(0, 7), nullptr);
}

TEST(ImageTest, NegativeRowBytesStoreTheTopRowFirst) {
  Image image({0, 0, 3, 4}, BitDepth::Float, Components::Alpha, {4, true});
  EXPECT_EQ(image.rowBytes(), -(3 * 4 + 4));
  auto *bottom = static_cast<unsigned char *>(image.pixelAddress(0, 0));
  auto *top = static_cast<unsigned char *>(image.pixelAddress(0, 3));
  EXPECT_EQ(bottom, image.data());
  EXPECT_EQ(top, bottom + 3 * image.rowBytes());
  EXPECT_LT(top, bottom);
}

TEST(ImageTest, BorrowedPixelsAreUsedInPlaceAndKeptAlive) {
  auto pixels = std::make_shared<std::vector<std::uint16_t>>(2 * 3 * 4);
  std::weak_ptr<void> watched = pixels;
  {
    // Rows top first, as an array shows a picture: (0, 0) is the last row.
    Image image({0, 0, 3, 2}, BitDepth::Short, Components::RGBA,
                pixels->data() + 3 * 4, -3 * 8, pixels);
    pixels.reset();
    EXPECT_EQ(image.layout().negativeRowBytes, true);
    EXPECT_EQ(image.layout().rowPaddingBytes, 0);
    image.pixel<std::uint16_t>(2, 1)[3] = 7; // top row, last pixel's alpha
    EXPECT_EQ(static_cast<std::uint16_t *>(image.pixelAddress(0, 1))[11], 7);
    EXPECT_FALSE(watched.expired());
  }
  EXPECT_TRUE(watched.expired());
  std::uint8_t byte = 0;
  EXPECT_THROW(
      Image({0, 0, 2, 1}, BitDepth::Byte, Components::RGBA, &byte, 4, nullptr),
      std::invalid_argument);
}

TEST(ImageTest, FillBytesLeavesThePaddingAlone) {
  for (bool negative : {false, true}) {
    Image image({0, 0, 2, 3}, BitDepth::Byte, Components::RGBA, {4, negative});
    image.fillBytes(0xAB);
    for (int y = 0; y < 3; ++y) {
      auto *row = static_cast<unsigned char *>(image.pixelAddress(0, y));
      for (int b = 0; b < 8; ++b)
        EXPECT_EQ(row[b], 0xAB) << "row " << y << " byte " << b;
      for (int b = 8; b < 12; ++b)
        EXPECT_EQ(row[b], 0) << "padding of row " << y << " byte " << b
                             << (negative ? " (negative)" : "");
    }
  }
}

TEST(ImageTest, ImpossibleImagesAreRefused) {
  EXPECT_THROW(Image({5, 0, 2, 2}, BitDepth::Byte, Components::RGBA),
               std::invalid_argument);
  EXPECT_THROW(Image({0, 0, 2, 2}, BitDepth::None, Components::RGBA),
               std::invalid_argument);
  Image empty({0, 0, 0, 0}, BitDepth::Byte, Components::Alpha);
  empty.fillBytes(1); // nothing to fill, nothing to break
  EXPECT_EQ(empty.pixelAddress(0, 0), nullptr);
}

TEST(PixelNamesTest, NamesRoundTrip) {
  for (BitDepth depth :
       {BitDepth::Byte, BitDepth::Short, BitDepth::Half, BitDepth::Float})
    EXPECT_EQ(ofxhost::bitDepthFromName(ofxhost::bitDepthName(depth)), depth);
  for (Components c : {Components::RGBA, Components::RGB, Components::Alpha})
    EXPECT_EQ(ofxhost::componentsFromName(ofxhost::componentsName(c)), c);
  EXPECT_EQ(ofxhost::bitDepthFromName("nonsense"), BitDepth::None);
  EXPECT_EQ(ofxhost::statusName(kOfxStatErrFormat), "kOfxStatErrFormat");
  EXPECT_EQ(ofxhost::statusName(1234), "status 1234");
  EXPECT_EQ(ofxhost::ActionResult::failure("OfxActionLoad", 4).message,
            "OfxActionLoad failed: kOfxStatErrMissingHostFeature (4)");
}

} // namespace
