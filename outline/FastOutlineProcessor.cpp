#include "FastOutlineProcessor.h"

#include <memory>
#include <new>

FastOutlineProcessorBase::FastOutlineProcessorBase(OFX::ImageEffect &effect)
    : OFX::ImageProcessor(effect), alphaTable_(rimlet::makeAlphaTable()),
      falloffTable_(rimlet::makeFalloffTable()) {}

FastOutlineProcessorBase::~FastOutlineProcessorBase() = default;

void FastOutlineProcessorBase::setOutlineColor(double red, double green,
                                               double blue) {
  colorR_ = red;
  colorG_ = green;
  colorB_ = blue;
}

void FastOutlineProcessorBase::setImageBounds(const OfxRectI &bounds) {
  bounds_ = bounds;
  // Reversed bounds hold no pixel: an empty field rather than a negative size.
  const auto width = std::max<std::int64_t>(
      0, static_cast<std::int64_t>(bounds.x2) - bounds.x1);
  const auto height = std::max<std::int64_t>(
      0, static_cast<std::int64_t>(bounds.y2) - bounds.y1);
  const auto maxCells =
      static_cast<std::int64_t>(std::allocator<float>().max_size());
  if (width > 0 && height > maxCells / width)
    throw std::bad_alloc();
}

void FastOutlineProcessorBase::allocateField(const OfxRectI &area) {
  fieldArea_ = area;
  fieldWidth_ = static_cast<std::int64_t>(area.x2) - area.x1;
  fieldHeight_ = static_cast<std::int64_t>(area.y2) - area.y1;
  rimlet::FieldStorage &storage =
      fieldStorage_ != nullptr ? *fieldStorage_ : ownFieldStorage_;
  field_ = storage.reserve(fieldWidth_ * fieldHeight_);
}

namespace {

// How far the field must reach beyond the cells read at this quality and
// width when no seed lies below lowestSeed (see rimlet::fieldReach).
rimlet::FieldReach reachOfField(rimlet::OutlineQuality level, float w,
                                float lowestSeed) {
  const auto seeding = level == rimlet::OutlineQuality::Draft
                           ? rimlet::FieldSeeding::Draft
                           : rimlet::FieldSeeding::Smooth;
  return rimlet::fieldReach(
      seeding, rimlet::settledFieldValue(level, w, lowestSeed), lowestSeed);
}

// Each of the host's threads takes its share of the pipeline's runs.
class FieldBuildThreads : public OFX::MultiThread::Processor {
public:
  explicit FieldBuildThreads(rimlet::FieldBuildPipeline &pipeline)
      : pipeline_(pipeline) {}

  void multiThreadFunction(unsigned /*threadId*/,
                           unsigned /*nThreads*/) override {
    pipeline_.work();
  }

private:
  rimlet::FieldBuildPipeline &pipeline_;
};

} // namespace

void FastOutlineProcessorBase::buildOnHostThreads(
    rimlet::FieldBuildPipeline &pipeline, unsigned cpus) {
  FieldBuildThreads threads(pipeline);
  try {
    threads.multiThread(cpus);
  } catch (const OFX::Exception::Suite &) {
    // The host ran none or only some of the threads; nothing is lost, as
    // whatever they did not claim is still there to claim below.
  }
  pipeline.work();
  pipeline.waitUntilBuilt();
}

OfxRectI FastOutlineProcessorBase::fieldAreaFor(const OfxRectI &area,
                                                float lowestSeed) const {
  const rimlet::FieldReach reach =
      reachOfField(quality(), static_cast<float>(widthPx_), lowestSeed);
  if (!reach.bounded)
    return bounds_;
  const auto grown = [](int edge, std::int64_t by, int limit, bool lower) {
    const std::int64_t moved = lower ? std::max<std::int64_t>(limit, edge - by)
                                     : std::min<std::int64_t>(limit, edge + by);
    return static_cast<int>(moved);
  };
  return {grown(area.x1, reach.towardsLower, bounds_.x1, true),
          grown(area.y1, reach.towardsLower, bounds_.y1, true),
          grown(area.x2, reach.towardsUpper, bounds_.x2, false),
          grown(area.y2, reach.towardsUpper, bounds_.y2, false)};
}

rimlet::FieldReach FastOutlineProcessorBase::sourceReach(int qualityLevel,
                                                         double widthPx) {
  const rimlet::OutlineQuality level = qualityOf(qualityLevel);
  // Byte and short alphas, and float alphas up to 1, seed no deeper.
  rimlet::FieldReach reach =
      reachOfField(level, static_cast<float>(widthPx), rimlet::kDraftSeed);
  if (reach.bounded && level == rimlet::OutlineQuality::Best)
    ++reach.towardsUpper;
  return reach;
}

rimlet::OutlineQuality FastOutlineProcessorBase::quality() const {
  return qualityOf(qualityLevel_);
}

rimlet::OutlineQuality FastOutlineProcessorBase::qualityOf(int qualityLevel) {
  switch (qualityLevel) {
  case 0:
    return rimlet::OutlineQuality::Draft;
  case 2:
    return rimlet::OutlineQuality::Best;
  default:
    return rimlet::OutlineQuality::Good;
  }
}

OfxRectI FastOutlineProcessorBase::writableArea(const OfxRectI &band) const {
  OfxRectI area = band;
  const OfxRectI limits[2] = {bounds_, _dstImg != nullptr
                                           ? _dstImg->getBounds()
                                           : OfxRectI{0, 0, 0, 0}};
  for (const OfxRectI &limit : limits) {
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
