#include "ofxsFilter.h"

#include <sstream>
#include <string>

namespace OFX {

namespace {

// The standard's names, which a user can look up; a host's own depth or
// layout has none the library knows, and calling it "none" would mislead.
std::string formatName(PixelFormat format) {
  const std::string depth = format.depth == eBitDepthCustom
                                ? "custom depth"
                                : mapBitDepthToString(format.depth);
  const std::string components =
      format.components == ePixelComponentCustom
          ? "custom components"
          : mapPixelComponentsToString(format.components);
  return depth + " " + components;
}

PixelFormat formatOf(const Image &image) {
  return {image.getPixelDepth(), image.getPixelComponents()};
}

std::string timeText(double t) {
  std::ostringstream text;
  text << t;
  return text.str();
}

ClipDescriptor &defineFilterClip(ImageEffectDescriptor &desc,
                                 const char *name) {
  ClipDescriptor *clip = desc.defineClip(name);
  clip->addSupportedComponent(ePixelComponentRGBA);
  clip->addSupportedComponent(ePixelComponentAlpha);
  clip->setSupportsTiles(true);
  return *clip;
}

} // namespace

void describeFilter(ImageEffectDescriptor &desc) {
  desc.addSupportedContext(eContextFilter);
  desc.addSupportedBitDepth(eBitDepthUByte);
  desc.addSupportedBitDepth(eBitDepthUShort);
  desc.addSupportedBitDepth(eBitDepthFloat);
  desc.setSingleInstance(false);
  desc.setHostFrameThreading(false);
  desc.setSupportsMultiResolution(true);
  desc.setSupportsTiles(true);
  desc.setTemporalClipAccess(false);
  desc.setRenderTwiceAlways(false);
  desc.setSupportsMultipleClipPARs(false);
  desc.setSupportsMultipleClipDepths(false);
}

void defineFilterClips(ImageEffectDescriptor &desc) {
  ClipDescriptor &source =
      defineFilterClip(desc, kOfxImageEffectSimpleSourceClipName);
  source.setTemporalClipAccess(false);
  source.setIsMask(false);
  source.setOptional(false);
  defineFilterClip(desc, kOfxImageEffectOutputClipName);
}

FilterEffect::FilterEffect(OfxImageEffectHandle handle) : ImageEffect(handle) {
  dstClip_ = fetchClip(kOfxImageEffectOutputClipName);
  srcClip_ = fetchClip(kOfxImageEffectSimpleSourceClipName);
}

void FilterEffect::render(const RenderArguments &args) {
  const PixelFormat format = renderedOutputFormat();
  FilterImages images = fetchImages(args, format);
  renderImages(args, images);
}

PixelFormat FilterEffect::renderedOutputFormat() const {
  const PixelFormat format{dstClip_->getPixelDepth(),
                           dstClip_->getPixelComponents()};
  if (!isRenderedPixelFormat(format))
    throwFailure(kOfxStatErrUnsupported, "the output clip's format " +
                                             formatName(format) +
                                             " is not one this effect renders");
  return format;
}

FilterImages FilterEffect::fetchImages(const RenderArguments &args,
                                       PixelFormat format) {
  FilterImages images;
  images.format = format;
  images.dst.reset(dstClip_->fetchImage(args.time));
  if (!images.dst)
    throwFailure(kOfxStatFailed,
                 "no output image at time " + timeText(args.time));
  // The processor is picked from the clip; writing an image of another
  // layout with it would run past the image's memory.
  if (formatOf(*images.dst) != format)
    throwFailure(kOfxStatErrFormat, "the output image's format " +
                                        formatName(formatOf(*images.dst)) +
                                        " differs from its clip's, " +
                                        formatName(format));
  images.src.reset(srcClip_->fetchImage(args.time));
  if (images.src && formatOf(*images.src) != format)
    throwFailure(kOfxStatErrFormat,
                 "source and output images differ in format (source " +
                     formatName(formatOf(*images.src)) + ", output " +
                     formatName(format) + ")");
  return images;
}

} // namespace OFX
