#ifndef PROBE_PROCESSOR_H
#define PROBE_PROCESSOR_H

// The probe's pixel work: output = source * gain + tint per channel (in
// normalised units), or a picture of the band split, or an exception.

#include "ProbeNames.h"

#include "ofxsImageEffect.h"
#include "ofxsProcessing.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

namespace probe {

// Throws the exception a test asked for.
[[noreturn]] inline void throwProbeException(int kind, int status) {
  switch (kind) {
  case eThrowSuite:
    throw OFX::Exception::Suite(status, "probe");
  case eThrowHostInadequate:
    throw OFX::Exception::HostInadequate("probe");
  case eThrowPropertyUnknown:
    throw OFX::Exception::PropertyUnknownToHost("probe");
  case eThrowBadAlloc:
    throw std::bad_alloc();
  case eThrowRuntimeError:
    throw std::runtime_error("probe");
  default:
    throw 42;
  }
}

class ProbeProcessorBase : public OFX::ImageProcessor {
public:
  explicit ProbeProcessorBase(OFX::ImageEffect &effect)
      : OFX::ImageProcessor(effect) {}

  void setSrcImg(OFX::Image *image) { srcImg_ = image; }
  void setGain(double gain) { gain_ = gain; }
  void setTint(double r, double g, double b, double a) {
    tint_[0] = r;
    tint_[1] = g;
    tint_[2] = b;
    tint_[3] = a;
  }
  void setMode(int mode, int throwKind, int throwWhere, int throwStatus) {
    mode_ = mode;
    throwKind_ = throwKind;
    throwWhere_ = throwWhere;
    throwStatus_ = throwStatus;
  }

protected:
  bool throwsInBands() const {
    return mode_ == eModeThrow && throwWhere_ == eThrowInBands;
  }

  OFX::Image *srcImg_ = nullptr;
  double gain_ = 1.0;
  double tint_[4] = {0.0, 0.0, 0.0, 0.0};
  int mode_ = eModeNormal;
  int throwKind_ = eThrowSuite;
  int throwWhere_ = eThrowInRender;
  int throwStatus_ = kOfxStatFailed;
};

template <class PIX, int nComponents, int maxValue>
class ProbeProcessor : public ProbeProcessorBase {
public:
  using ProbeProcessorBase::ProbeProcessorBase;

  void multiThreadProcessImages(OfxRectI procWindow) override {
    if (throwsInBands())
      throwProbeException(throwKind_, throwStatus_);
    if (mode_ == eModeBands) {
      drawBand(procWindow);
      return;
    }
    if (mode_ == eModeInspect) {
      drawSourceProperties(procWindow);
      return;
    }
    for (int y = procWindow.y1; y < procWindow.y2; ++y) {
      // Skip, don't stop: tests count which rows an abort left untouched.
      if (_effect.abort())
        continue;
      processRow(y, procWindow.x1, procWindow.x2);
    }
  }

private:
  static PIX store(double normalised) {
    double value = normalised * maxValue;
    if (maxValue == 1)
      return static_cast<PIX>(value);
    value = std::min<double>(std::max(value, 0.0), maxValue);
    return static_cast<PIX>(std::lround(value));
  }

  // Integer formats saturate; float keeps the value as it is.
  static PIX storeRaw(double value) {
    if (maxValue == 1)
      return static_cast<PIX>(value);
    return static_cast<PIX>(std::min<double>(std::max(value, 0.0), maxValue));
  }

  void processRow(int y, int x1, int x2) {
    // The alpha-only layout keeps its one channel in the tint's alpha slot.
    const int tintOffset = nComponents == 1 ? 3 : 0;
    for (int x = x1; x < x2; ++x) {
      PIX *dst = static_cast<PIX *>(_dstImg->getPixelAddress(x, y));
      if (!dst)
        continue;
      const PIX *src =
          srcImg_ ? static_cast<const PIX *>(srcImg_->getPixelAddress(x, y))
                  : nullptr;
      for (int c = 0; c < nComponents; ++c) {
        const double in = src ? static_cast<double>(src[c]) / maxValue : 0.0;
        dst[c] = store(in * gain_ + tint_[c + tintOffset]);
      }
    }
  }

  void drawBand(OfxRectI band) {
    const double values[4] = {double(band.y1 - _renderWindow.y1),
                              double(band.y2 - _renderWindow.y1),
                              double(OFX::MultiThread::getThreadIndex()), 1.0};
    fill(band, values);
  }

  void drawSourceProperties(OfxRectI band) {
    if (!srcImg_)
      return;
    const double values[4] = {srcImg_->getRenderScale().x,
                              srcImg_->getRenderScale().y,
                              srcImg_->getPixelAspectRatio(),
                              double(srcImg_->getPremultiplication())};
    fill(band, values);
  }

  // Writes raw values, not normalised ones, so tests read them back exactly.
  void fill(OfxRectI band, const double (&values)[4]) {
    for (int y = band.y1; y < band.y2; ++y) {
      for (int x = band.x1; x < band.x2; ++x) {
        PIX *dst = static_cast<PIX *>(_dstImg->getPixelAddress(x, y));
        if (!dst)
          continue;
        for (int c = 0; c < nComponents; ++c)
          dst[c] = storeRaw(values[c]);
      }
    }
  }
};

} // namespace probe

#endif // PROBE_PROCESSOR_H
