#ifndef OFXS_PROCESSING_H
#define OFXS_PROCESSING_H

// Base of every pixel processor: holds the destination image and the
// render window and spreads the window's rows over the host's threads.

#include "ofxsImageEffect.h"
#include "ofxsMultiThread.h"

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
  void setRenderWindow(OfxRectI window) { _renderWindow = window; }

  // Band i of n: the window's full width and rows
  // [y1 + i*dy/n, y1 + min((i+1)*dy/n, dy)), dy the window height.
  void multiThreadFunction(unsigned threadId, unsigned nThreads) override;

  virtual void preProcess() {}
  virtual void multiThreadProcessImages(OfxRectI procWindow) = 0;
  virtual void postProcess() {}

  // Does nothing without a destination image; otherwise preProcess,
  // multiThread, postProcess.
  virtual void process();
};

} // namespace OFX

#endif // OFXS_PROCESSING_H
