// Host-owned pixel buffers with configurable row layout.
#include "ofxhost/Host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace ofxhost {

Image::Image(OfxRectI bounds, BitDepth depth, Components components,
             ImageLayout layout)
    : bounds_(bounds), depth_(depth), components_(components) {
  if (bounds.x2 < bounds.x1 || bounds.y2 < bounds.y1)
    throw std::invalid_argument("Image: bounds have x2 < x1 or y2 < y1");
  if (pixelBytes() == 0)
    throw std::invalid_argument("Image: no pixel depth or components");
  if (layout.rowPaddingBytes < 0)
    throw std::invalid_argument("Image: negative row padding");
  const std::ptrdiff_t rowSize =
      static_cast<std::ptrdiff_t>(width()) * pixelBytes() +
      layout.rowPaddingBytes;
  storage_.assign(static_cast<size_t>(rowSize) * height(), 0);
  rowBytes_ = layout.negativeRowBytes ? -rowSize : rowSize;
  if (storage_.empty())
    return;
  // With negative row bytes the bottom row (y1) is the last one in memory,
  // so moving up the image walks backwards through the buffer.
  origin_ = storage_.data();
  if (layout.negativeRowBytes)
    origin_ += rowSize * (height() - 1);
}

Image::Image(OfxRectI bounds, BitDepth depth, Components components,
             void *origin, std::ptrdiff_t rowBytes,
             std::shared_ptr<void> pixelsOwner)
    : bounds_(bounds), depth_(depth), components_(components),
      rowBytes_(rowBytes), pixelsOwner_(std::move(pixelsOwner)),
      origin_(static_cast<unsigned char *>(origin)) {
  if (bounds.x2 < bounds.x1 || bounds.y2 < bounds.y1)
    throw std::invalid_argument("Image: bounds have x2 < x1 or y2 < y1");
  if (pixelBytes() == 0)
    throw std::invalid_argument("Image: no pixel depth or components");
  const std::ptrdiff_t rowSize = rowBytes < 0 ? -rowBytes : rowBytes;
  if (rowSize < static_cast<std::ptrdiff_t>(width()) * pixelBytes())
    throw std::invalid_argument("Image: rows overlap (row bytes too small)");
  if (!origin && width() > 0 && height() > 0)
    throw std::invalid_argument("Image: no pixels");
}

int Image::pixelBytes() const {
  return bytesPerComponent(depth_) * componentCount(components_);
}

void *Image::data() { return origin_; }
const void *Image::data() const { return origin_; }

void *Image::pixelAddress(int x, int y) {
  return const_cast<void *>(
      static_cast<const Image *>(this)->pixelAddress(x, y));
}

const void *Image::pixelAddress(int x, int y) const {
  if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2)
    return nullptr;
  return origin_ + (y - bounds_.y1) * rowBytes_ +
         static_cast<std::ptrdiff_t>(x - bounds_.x1) * pixelBytes();
}

void Image::fillBytes(unsigned char value) {
  const size_t rowPixelsBytes = static_cast<size_t>(width()) * pixelBytes();
  if (rowPixelsBytes == 0)
    return;
  for (int y = bounds_.y1; y < bounds_.y2; ++y)
    std::memset(pixelAddress(bounds_.x1, y), value, rowPixelsBytes);
}

OfxRectI canonicalToPixels(const OfxRectD &rect, OfxPointD scale,
                           double pixelAspectRatio) {
  const double tolerance = 1e-6;
  const auto held = [](double v) {
    if (std::isnan(v))
      return 0;
    return static_cast<int>(std::clamp<double>(
        v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  };
  const double par = pixelAspectRatio > 0.0 ? pixelAspectRatio : 1.0;
  const double sx = scale.x / par;
  return OfxRectI{held(std::floor(rect.x1 * sx + tolerance)),
                  held(std::floor(rect.y1 * scale.y + tolerance)),
                  held(std::ceil(rect.x2 * sx - tolerance)),
                  held(std::ceil(rect.y2 * scale.y - tolerance))};
}

OfxRectI intersection(const OfxRectI &a, const OfxRectI &b) {
  OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
             std::min(a.y2, b.y2)};
  r.x2 = std::max(r.x1, r.x2);
  r.y2 = std::max(r.y1, r.y2);
  return r;
}

std::vector<OfxRectI> splitIntoTiles(const OfxRectI &window, int n) {
  std::vector<OfxRectI> tiles;
  const long long width = window.x2 - window.x1;
  const long long height = window.y2 - window.y1;
  const int across = static_cast<int>(std::min<long long>(n, width));
  const int down = static_cast<int>(std::min<long long>(n, height));
  for (int row = 0; row < down; ++row) {
    const int y1 = window.y1 + static_cast<int>(height * row / down);
    const int y2 = window.y1 + static_cast<int>(height * (row + 1) / down);
    for (int col = 0; col < across; ++col) {
      const int x1 = window.x1 + static_cast<int>(width * col / across);
      const int x2 = window.x1 + static_cast<int>(width * (col + 1) / across);
      if (x1 < x2 && y1 < y2)
        tiles.push_back({x1, y1, x2, y2});
    }
  }
  return tiles;
}

ImageLayout Image::layout() const {
  ImageLayout layout;
  const std::ptrdiff_t rowSize = rowBytes_ < 0 ? -rowBytes_ : rowBytes_;
  layout.rowPaddingBytes = static_cast<int>(
      rowSize - static_cast<std::ptrdiff_t>(width()) * pixelBytes());
  layout.negativeRowBytes = rowBytes_ < 0;
  return layout;
}

void Image::copyPixelsFrom(const Image &from) {
  if (from.depth() != depth_ || from.components() != components_)
    throw std::invalid_argument("Image: copying pixels between formats");
  const OfxRectI both = intersection(from.bounds(), bounds_);
  const size_t rowPixelsBytes =
      static_cast<size_t>(both.x2 - both.x1) * pixelBytes();
  if (rowPixelsBytes == 0)
    return;
  for (int y = both.y1; y < both.y2; ++y)
    std::memcpy(pixelAddress(both.x1, y), from.pixelAddress(both.x1, y),
                rowPixelsBytes);
}

} // namespace ofxhost
