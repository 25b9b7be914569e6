#ifndef OFXS_FILTER_H
#define OFXS_FILTER_H

// The plumbing every filter of this library shares: one source clip and the
// output, one of the six pixel formats on both, images checked against the
// output clip's format before a processor touches them. An effect derived
// from FilterEffect keeps only its parameters and its arithmetic.

#include "ofxsImageEffect.h"
#include "ofxsPixelFormat.h"

#include <memory>

namespace OFX {

// What every filter tells the host in describe: the filter context, 8-bit,
// 16-bit and float pixels, tiles and proxy renders, one frame at a time,
// and all clips of one depth and pixel aspect ratio (the processors read
// the source with the output's layout).
void describeFilter(ImageEffectDescriptor &desc);

// The source and output clips of describe-in-context, both RGBA or Alpha.
void defineFilterClips(ImageEffectDescriptor &desc);

// The images of one render. The output is declared first so that the
// source is released first, the reverse of the order they were fetched in.
struct FilterImages {
  std::unique_ptr<Image> dst;
  // Null when the host has no source image at that time, which is no
  // failure: the processors then have no source pixel to read.
  std::unique_ptr<Image> src;
  // Of the output clip and of both images.
  PixelFormat format;
};

class FilterEffect : public ImageEffect {
public:
  explicit FilterEffect(OfxImageEffectHandle handle);

  // Refuses the formats without a processor before any image is fetched,
  // so the host's buffers are never touched for them; then fetches and
  // checks the images and hands them to renderImages.
  void render(const RenderArguments &args) final;

protected:
  // What each effect does itself in a render: its parameters and processor,
  // dispatched on images.format, which is one of the six.
  virtual void renderImages(const RenderArguments &args,
                            FilterImages &images) = 0;

  // Owned by the ImageEffect base; never deleted here.
  Clip *dstClip_ = nullptr;
  Clip *srcClip_ = nullptr;

private:
  PixelFormat renderedOutputFormat() const;
  FilterImages fetchImages(const RenderArguments &args, PixelFormat format);
};

} // namespace OFX

#endif // OFXS_FILTER_H
