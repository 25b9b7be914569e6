#include "ofxsProcessing.h"

#include <algorithm>
#include <cstdint>

namespace OFX {

ImageProcessor::ImageProcessor(ImageEffect &effect)
    : _effect(effect), _dstImg(nullptr), _renderWindow{0, 0, 0, 0} {}

ImageProcessor::~ImageProcessor() = default;

void ImageProcessor::multiThreadFunction(unsigned threadId, unsigned nThreads) {
  if (nThreads == 0 || threadId >= nThreads)
    return;
  if (rowsPerClaim_ > 0) {
    processClaimedRuns(nThreads);
    return;
  }
  // 64-bit arithmetic: i * dy overflows an int for tall windows.
  const std::int64_t dy = static_cast<std::int64_t>(_renderWindow.y2) -
                          static_cast<std::int64_t>(_renderWindow.y1);
  if (dy <= 0)
    return;
  const std::int64_t first = threadId * dy / nThreads;
  const std::int64_t last =
      std::min<std::int64_t>((threadId + 1) * dy / nThreads, dy);
  if (first >= last)
    return;
  OfxRectI band = _renderWindow;
  band.y1 = static_cast<int>(_renderWindow.y1 + first);
  band.y2 = static_cast<int>(_renderWindow.y1 + last);
  multiThreadProcessImages(band);
}

void ImageProcessor::processClaimedRuns(unsigned nThreads) {
  const std::int64_t dy = static_cast<std::int64_t>(_renderWindow.y2) -
                          static_cast<std::int64_t>(_renderWindow.y1);
  // A window may be far taller than the image it is rendered into: runs
  // grow so that each thread claims a bounded number of them. Every thread
  // of the call gets the same nThreads, so all claim alike.
  constexpr std::int64_t kMostClaimsPerThread = 64;
  const std::int64_t most = kMostClaimsPerThread * nThreads;
  const std::int64_t rows =
      std::max<std::int64_t>(rowsPerClaim_, (dy + most - 1) / most);
  while (!aborted_.load(std::memory_order_relaxed)) {
    const std::int64_t first =
        nextClaimedRow_.fetch_add(rows, std::memory_order_relaxed);
    if (first >= dy)
      return;
    OfxRectI run = _renderWindow;
    run.y1 = static_cast<int>(_renderWindow.y1 + first);
    run.y2 = static_cast<int>(_renderWindow.y1 +
                              std::min<std::int64_t>(first + rows, dy));
    multiThreadProcessImages(run);
  }
}

bool ImageProcessor::abortRequested() {
  if (!_effect.abort())
    return false;
  aborted_.store(true, std::memory_order_relaxed);
  return true;
}

void ImageProcessor::process() {
  if (!_dstImg)
    return;
  nextClaimedRow_.store(0, std::memory_order_relaxed);
  aborted_.store(false, std::memory_order_relaxed);
  preProcess();
  multiThread();
  postProcess();
}

} // namespace OFX
