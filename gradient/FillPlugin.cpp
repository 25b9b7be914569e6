#include "FillPlugin.h"

#include "FillProcessor.h"
#include "GradientNames.h"

#include <memory>

namespace tintrow {

FillPlugin::FillPlugin(OfxImageEffectHandle handle) : OFX::ImageEffect(handle) {
  dstClip_ = fetchClip(names::kOutputClip);
  srcClip_ = fetchClip(names::kSourceClip);
  startColor_ = fetchRGBAParam(names::kStartColor);
  endColor_ = fetchRGBAParam(names::kEndColor);
  startPosition_ = fetchDouble2DParam(names::kStartPosition);
  endPosition_ = fetchDouble2DParam(names::kEndPosition);
  gradientType_ = fetchChoiceParam(names::kGradientType);
}

void FillPlugin::render(const OFX::RenderArguments &args) {
  // Chosen from the output clip before any image is fetched, so an
  // unsupported format fails without touching the host's buffers.
  const OFX::PixelFormat format{dstClip_->getPixelDepth(),
                                dstClip_->getPixelComponents()};
  const bool rendered =
      OFX::withPixelFormat(format, [&](auto pixel, auto nComponents) {
        using PIX = typename decltype(pixel)::type;
        constexpr int kComponents = decltype(nComponents)::value;
        FillProcessor<PIX, kComponents, OFX::PixelMax<PIX>::value> processor(*this);
        setupAndProcess(processor, args, format);
      });
  if (!rendered)
    OFX::throwSuiteStatusException(kOfxStatErrUnsupported);
}

void FillPlugin::setupAndProcess(FillProcessorBase &processor,
                                 const OFX::RenderArguments &args,
                                 OFX::PixelFormat format) {
  // Declared output first so that the source is released first.
  std::unique_ptr<OFX::Image> dst(dstClip_->fetchImage(args.time));
  if (!dst)
    OFX::throwSuiteStatusException(kOfxStatFailed);
  const OFX::BitDepthEnum dstDepth = dst->getPixelDepth();
  const OFX::PixelComponentEnum dstComponents = dst->getPixelComponents();
  // The processor was picked from the clip; writing an image of another
  // layout with it would run past the image's memory.
  if (dstDepth != format.depth || dstComponents != format.components)
    OFX::throwSuiteStatusException(kOfxStatErrFormat);

  // A missing source is allowed: the processor writes zeros where it has
  // no source pixel.
  std::unique_ptr<OFX::Image> src(srcClip_->fetchImage(args.time));
  if (src && (src->getPixelDepth() != dstDepth ||
              src->getPixelComponents() != dstComponents))
    OFX::throwSuiteStatusException(kOfxStatErrFormat);

  const OfxRGBAColourD startColor = startColor_->getValueAtTime(args.time);
  const OfxRGBAColourD endColor = endColor_->getValueAtTime(args.time);
  const OfxPointD startPosition = startPosition_->getValueAtTime(args.time);
  const OfxPointD endPosition = endPosition_->getValueAtTime(args.time);
  const int typeIndex = gradientType_->getValueAtTime(args.time);

  // The colours' alpha components are declared for the user but take no
  // part in the blend: the source alpha is always kept.
  processor.setDstImg(dst.get());
  processor.setSrcImg(src.get());
  processor.setRenderWindow(args.renderWindow);
  processor.setColors(startColor.r, startColor.g, startColor.b, endColor.r,
                      endColor.g, endColor.b);
  processor.setPositions(startPosition.x, startPosition.y, endPosition.x,
                         endPosition.y);
  processor.setTypeIndex(typeIndex);
  // The positions are fractions of the whole output frame, not of the image
  // handed over: a host that tiles hands each tile an image of its own, and
  // the gradient must run on across them.
  processor.setImageBounds(
      dstClip_->getPixelRegionOfDefinitionOr(args.time, args.renderScale,
                                             dst->getBounds()));
  processor.process();
}

bool FillPlugin::getRegionOfDefinition(
    const OFX::RegionOfDefinitionArguments &args, OfxRectD &rod) {
  // The gradient only recolours existing pixels, so it never reaches past
  // the source, wherever its positions lie.
  rod = srcClip_->getRegionOfDefinition(args.time);
  return true;
}

void FillPlugin::getRegionsOfInterest(
    const OFX::RegionsOfInterestArguments &args,
    OFX::RegionOfInterestSetter &setter) {
  // Each output pixel reads only the source pixel at the same place.
  setter.setRegionOfInterest(*srcClip_, args.regionOfInterest);
}

} // namespace tintrow
