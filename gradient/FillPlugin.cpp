#include "FillPlugin.h"

#include "FillProcessor.h"
#include "GradientNames.h"

namespace tintrow {

FillPlugin::FillPlugin(OfxImageEffectHandle handle)
    : OFX::FilterEffect(handle) {
  startColor_ = fetchRGBAParam(names::kStartColor);
  endColor_ = fetchRGBAParam(names::kEndColor);
  startPosition_ = fetchDouble2DParam(names::kStartPosition);
  endPosition_ = fetchDouble2DParam(names::kEndPosition);
  gradientType_ = fetchChoiceParam(names::kGradientType);
}

void FillPlugin::renderImages(const OFX::RenderArguments &args,
                              OFX::FilterImages &images) {
  // FilterEffect::render has refused every other format, so this always
  // reaches a processor.
  OFX::withProcessorFor<FillProcessor>(
      images.format, *this,
      [&](auto &processor) { setupAndProcess(processor, args, images); });
}

void FillPlugin::setupAndProcess(FillProcessorBase &processor,
                                 const OFX::RenderArguments &args,
                                 OFX::FilterImages &images) {
  OFX::Image &dst = *images.dst;
  const OfxRGBAColourD startColor = startColor_->getValueAtTime(args.time);
  const OfxRGBAColourD endColor = endColor_->getValueAtTime(args.time);
  const OfxPointD startPosition = startPosition_->getValueAtTime(args.time);
  const OfxPointD endPosition = endPosition_->getValueAtTime(args.time);
  const int typeIndex = gradientType_->getValueAtTime(args.time);

  // The colours' alpha components are declared for the user but take no
  // part in the blend: the source alpha is always kept.
  processor.setDstImg(&dst);
  // A missing source is allowed: the processor writes zeros where it has
  // no source pixel.
  processor.setSrcImg(images.src.get());
  processor.setRenderWindow(args.renderWindow);
  processor.setColors(startColor.r, startColor.g, startColor.b, endColor.r,
                      endColor.g, endColor.b);
  processor.setPositions(startPosition.x, startPosition.y, endPosition.x,
                         endPosition.y);
  processor.setTypeIndex(typeIndex);
  // The positions are fractions of the whole output frame, not of the image
  // handed over: a host that tiles hands each tile an image of its own, and
  // the gradient must run on across them.
  processor.setImageBounds(dstClip_->getPixelRegionOfDefinitionOr(
      args.time, args.renderScale, dst.getBounds()));
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
