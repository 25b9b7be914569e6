// Host-owned pixel buffers with configurable row layout.
#include "Internal.h"

#include <cstring>
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

} // namespace ofxhost
