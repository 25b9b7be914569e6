#include "FastOutlineProcessor.h"

#include <limits>
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

void FastOutlineProcessorBase::allocateWholeField(const OfxRectI &area) {
  rimlet::FieldStorage &storage =
      fieldStorage_ != nullptr ? *fieldStorage_ : ownFieldStorage_;
  wholeField_.area = area;
  wholeField_.cells = storage.reserve(wholeField_.extent().cellCount());
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

OfxRectI FastOutlineProcessorBase::cellsReadFor(const OfxRectI &area) const {
  OfxRectI read = area;
  // Compared before adding: bounds may end at the largest int.
  if (quality() == rimlet::OutlineQuality::Best) {
    if (read.x2 < bounds_.x2)
      ++read.x2;
    if (read.y2 < bounds_.y2)
      ++read.y2;
  }
  return read;
}

OfxRectI FastOutlineProcessorBase::fieldAreaFor(const OfxRectI &area) const {
  const rimlet::FieldReach reach =
      reachOfField(quality(), static_cast<float>(widthPx_), lowestSeed_);
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

namespace {

// A strip's buffer is sized for the cache: chosen by measurement at 8K
// (see bench/), where a row of cells is 30 KB. Each thread has one, and
// all of a render's together stay within kStripBytesPerRender as long as
// that leaves each strip more rows of its own than of overlap.
constexpr std::int64_t kStripBytes = std::int64_t(4) << 20;
constexpr std::int64_t kStripBytesPerRender = std::int64_t(16) << 20;

} // namespace

bool FastOutlineProcessorBase::planStrips(const OfxRectI &area) {
  stripRows_ = 0;
  if (stripRowsAsked_ < 0)
    return false;
  const rimlet::FieldReach reach =
      reachOfField(quality(), static_cast<float>(widthPx_), lowestSeed_);
  if (!reach.bounded)
    return false;
  const auto boundsWidth = static_cast<std::int64_t>(bounds_.x2) - bounds_.x1;
  const auto boundsHeight = static_cast<std::int64_t>(bounds_.y2) - bounds_.y1;
  const auto areaWidth = static_cast<std::int64_t>(area.x2) - area.x1;
  const auto areaHeight = static_cast<std::int64_t>(area.y2) - area.y1;
  // Rows and columns a strip's field has beyond the strip's own: Best's
  // block, and the reach on both sides.
  const std::int64_t beyond = 1 + reach.towardsLower + reach.towardsUpper;
  const std::int64_t fieldWidth = std::min(boundsWidth, areaWidth + beyond);
  const unsigned buffers = std::max(1u, OFX::MultiThread::getNumCPUs());
  const bool chosen = stripRowsAsked_ == 0;
  std::int64_t rows = stripRowsAsked_;
  if (chosen) {
    const std::int64_t shareRows =
        std::min(kStripBytes, kStripBytesPerRender / buffers) /
        static_cast<std::int64_t>(sizeof(float)) / fieldWidth;
    rows = std::min<std::int64_t>(std::max(shareRows - beyond, beyond + 1),
                                  kTileSize);
    // Strips that would sweep their overlap more often than their own
    // rows cost more than the field's trip through memory saves.
    if (rows < beyond - 1 && rows < areaHeight)
      return false;
  }
  rows = std::min(rows, std::max<std::int64_t>(areaHeight, 1));
  const std::int64_t fieldHeight = std::min(boundsHeight, rows + beyond);
  const std::int64_t cells = fieldWidth * fieldHeight;
  const auto maxCells = static_cast<std::int64_t>(
      std::numeric_limits<std::size_t>::max() / sizeof(float));
  if (cells > maxCells / static_cast<std::int64_t>(buffers))
    throw std::bad_alloc();
  // Buffers that together hold more than one field for the window would
  // only take more memory (small frames, many threads).
  if (chosen &&
      cells * buffers >= FieldView{nullptr, fieldAreaFor(cellsReadFor(area))}
                             .extent()
                             .cellCount())
    return false;
  rimlet::FieldStorage &storage =
      fieldStorage_ != nullptr ? *fieldStorage_ : ownFieldStorage_;
  stripBuffers_ = storage.reserve(cells * buffers);
  stripCells_ = cells;
  stripRows_ = static_cast<int>(rows);
  freeStrips_.clear();
  for (unsigned i = buffers; i > 0; --i)
    freeStrips_.push_back(static_cast<int>(i - 1));
  return true;
}

FastOutlineProcessorBase::StripBuffer::StripBuffer(
    FastOutlineProcessorBase &processor)
    : processor_(processor) {
  {
    std::lock_guard<std::mutex> lock(processor.stripMutex_);
    if (!processor.freeStrips_.empty()) {
      slot_ = processor.freeStrips_.back();
      processor.freeStrips_.pop_back();
    }
  }
  if (slot_ >= 0) {
    cells_ = processor.stripBuffers_ + slot_ * processor.stripCells_;
    return;
  }
  // More bands at once than the host said it had threads: this one gets
  // a buffer of its own.
  own_.resize(static_cast<std::size_t>(processor.stripCells_));
  cells_ = own_.data();
}

FastOutlineProcessorBase::StripBuffer::~StripBuffer() {
  if (slot_ < 0)
    return;
  std::lock_guard<std::mutex> lock(processor_.stripMutex_);
  processor_.freeStrips_.push_back(slot_);
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
