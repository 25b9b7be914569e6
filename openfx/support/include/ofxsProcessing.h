#ifndef OFXS_PROCESSING_H
#define OFXS_PROCESSING_H

// Base of every pixel processor: holds the destination image and the
// render window and spreads the window's rows over the host's threads.

#include "ofxsImageEffect.h"
#include "ofxsMultiThread.h"

#include <atomic>
#include <cstdint>

namespace OFX {

class ImageProcessor : public MultiThread::Processor {
protected:
  ImageEffect &_effect;   // the effect rendering; used for abort()
  Image *_dstImg;         // not owned
  OfxRectI _renderWindow; // pixel coordinates

public:
  explicit ImageProcessor(ImageEffect &effect);
  ~ImageProcessor() override;

  void setDstImg(Image *image) { _dstImg = image; }
  void setRenderWindow(OfxRectI window) {
    _renderWindow = window;
    nextClaimedRow_.store(0, std::memory_order_relaxed);
  }

  // With 0 rows (the default), thread i of n gets one band: the window's
  // full width and rows [y1 + i*dy/n, y1 + min((i+1)*dy/n, dy)), dy the
  // window height. With more, every thread claims runs of that many rows
  // (more when the window is so tall that a thread would claim over 64
  // runs) from a shared counter until none are left, so that a thread
  // whose rows cost less, or that started late, takes over the rest of
  // the work instead of waiting for the slowest band.
  void setRowsPerClaim(int rows) { rowsPerClaim_ = rows > 0 ? rows : 0; }

  void multiThreadFunction(unsigned threadId, unsigned nThreads) override;

  virtual void preProcess() {}
  virtual void multiThreadProcessImages(OfxRectI procWindow) = 0;
  virtual void postProcess() {}

  // Does nothing without a destination image; otherwise preProcess,
  // multiThread, postProcess.
  virtual void process();

protected:
  // The host's abort query, with a yes remembered until the next process():
  // once a band has stopped for it, no further run of rows is claimed.
  bool abortRequested();

private:
  void processClaimedRuns(unsigned nThreads);

  int rowsPerClaim_ = 0;
  std::atomic<std::int64_t> nextClaimedRow_{0};
  std::atomic<bool> aborted_{false};
};

} // namespace OFX

#endif // OFXS_PROCESSING_H
