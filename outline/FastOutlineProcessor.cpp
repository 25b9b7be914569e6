#include "FastOutlineProcessor.h"

#include <new>

FastOutlineProcessorBase::FastOutlineProcessorBase(OFX::ImageEffect& effect)
    : OFX::ImageProcessor(effect),
      alphaTable_(rimlet::makeAlphaTable()),
      falloffTable_(rimlet::makeFalloffTable()) {}

FastOutlineProcessorBase::~FastOutlineProcessorBase() = default;

void FastOutlineProcessorBase::setOutlineColor(double red, double green, double blue) {
  colorR_ = red;
  colorG_ = green;
  colorB_ = blue;
}

void FastOutlineProcessorBase::setImageBounds(const OfxRectI& bounds) {
  bounds_ = bounds;
  // Reversed bounds hold no pixel: an empty field rather than a negative size.
  fieldWidth_ = std::max<std::int64_t>(0, static_cast<std::int64_t>(bounds.x2) - bounds.x1);
  fieldHeight_ = std::max<std::int64_t>(0, static_cast<std::int64_t>(bounds.y2) - bounds.y1);
  const auto maxCells = static_cast<std::int64_t>(field_.max_size());
  if (fieldWidth_ > 0 && fieldHeight_ > maxCells / fieldWidth_)
    throw std::bad_alloc();
  field_.resize(static_cast<std::size_t>(fieldWidth_ * fieldHeight_), 0.0f);
}

rimlet::OutlineQuality FastOutlineProcessorBase::quality() const {
  switch (qualityLevel_) {
  case 0:
    return rimlet::OutlineQuality::Draft;
  case 2:
    return rimlet::OutlineQuality::Best;
  default:
    return rimlet::OutlineQuality::Good;
  }
}

OfxRectI FastOutlineProcessorBase::writableArea(const OfxRectI& band) const {
  OfxRectI area = band;
  const OfxRectI limits[2] = {bounds_, _dstImg != nullptr ? _dstImg->getBounds() : OfxRectI{0, 0, 0, 0}};
  for (const OfxRectI& limit : limits) {
    area.x1 = std::max(area.x1, limit.x1);
    area.y1 = std::max(area.y1, limit.y1);
    area.x2 = std::min(area.x2, limit.x2);
    area.y2 = std::min(area.y2, limit.y2);
  }
  return area;
}

template class FastOutlineProcessor<unsigned char, 4, 255>;
template class FastOutlineProcessor<unsigned short, 4, 65535>;
template class FastOutlineProcessor<float, 4, 1>;
template class FastOutlineProcessor<unsigned char, 1, 255>;
template class FastOutlineProcessor<unsigned short, 1, 65535>;
template class FastOutlineProcessor<float, 1, 1>;
