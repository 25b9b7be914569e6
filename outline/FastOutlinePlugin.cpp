#include "FastOutlinePlugin.h"

#include <algorithm>

#include "FastOutlineProcessor.h"
#include "FieldPool.h"
#include "OutlineNames.h"

namespace rimlet {

namespace {

// The outline reaches `width` beyond every edge of what it surrounds, in
// canonical units on both axes. The processor draws it `width` pixels wide
// across too, and a pixel wider than tall covers more than one canonical
// unit: there the region grows by as many units as those pixels cover, so
// nothing drawn falls outside it.
OfxRectD grownBy(OfxRectD rect, double width, double pixelAspectRatio) {
  const double across = width * std::max(1.0, pixelAspectRatio);
  rect.x1 -= across;
  rect.y1 -= width;
  rect.x2 += across;
  rect.y2 += width;
  return rect;
}

} // namespace

FastOutlinePlugin::FastOutlinePlugin(OfxImageEffectHandle handle)
    : OFX::FilterEffect(handle) {
  outlineColor_ = fetchRGBAParam(names::kOutlineColor);
  outlineWidth_ = fetchDoubleParam(names::kOutlineWidth);
  quality_ = fetchChoiceParam(names::kQuality);
}

void FastOutlinePlugin::renderImages(const OFX::RenderArguments &args,
                                     OFX::FilterImages &images) {
  // FilterEffect::render has refused every other format, so this always
  // reaches a processor.
  OFX::withProcessorFor<FastOutlineProcessor>(
      images.format, *this,
      [&](auto &processor) { setupAndProcess(processor, args, images); });
}

void FastOutlinePlugin::setupAndProcess(FastOutlineProcessorBase &processor,
                                        const OFX::RenderArguments &args,
                                        OFX::FilterImages &images) {
  OFX::Image &dst = *images.dst;
  const OfxRGBAColourD color = outlineColor_->getValueAtTime(args.time);
  const double width = outlineWidth_->getValueAtTime(args.time);
  const int quality = quality_->getValueAtTime(args.time);

  processor.setDstImg(&dst);
  // A missing source is allowed: the processor then has nothing to outline
  // and clears the window.
  processor.setSrcImg(images.src.get());
  processor.setRenderWindow(args.renderWindow);
  // The outline's alpha is its coverage, so the colour's alpha has no say.
  processor.setOutlineColor(color.r, color.g, color.b);
  // The width is in canonical pixels; the images of a proxy render are
  // smaller by the render scale, and so must the outline be, or a preview
  // would show it thicker than the final render and clipped by the region
  // of definition, which grows by the canonical width.
  processor.setOutlineWidth(width * args.renderScale.x);
  processor.setQuality(quality);
  // The field covers the whole output frame, not just the image handed
  // over: a host that tiles hands each tile an image of its own, and the
  // outline of a shape in one tile must reach into the next.
  processor.setImageBounds(dstClip_->getPixelRegionOfDefinitionOr(
      args.time, args.renderScale, dst.getBounds()));
  // Borrowed from the module's pool for this render alone: the memory
  // follows the renders running, not the instances alive.
  FieldPool::Lease field = moduleFieldPool().borrow();
  processor.setFieldStorage(&field.storage());
  processor.process();
}

void FastOutlinePlugin::purgeCaches() { moduleFieldPool().purge(); }

bool FastOutlinePlugin::getRegionOfDefinition(
    const OFX::RegionOfDefinitionArguments &args, OfxRectD &rod) {
  const OfxRectD sourceRod = srcClip_->getRegionOfDefinition(args.time);
  rod = grownBy(sourceRod, outlineWidth_->getValueAtTime(args.time),
                srcClip_->getPixelAspectRatio());
  return true;
}

void FastOutlinePlugin::getRegionsOfInterest(
    const OFX::RegionsOfInterestArguments &args,
    OFX::RegionOfInterestSetter &setter) {
  // An output pixel depends on every source pixel its field value can come
  // from, which lies further than the width: seeds go below zero, Best
  // reads a 2x2 block and fades out beyond the width. The reach is in
  // pixels of this render, as the processor gets the width.
  const double width = outlineWidth_->getValueAtTime(args.time);
  const int quality = quality_->getValueAtTime(args.time);
  const FieldReach reach = FastOutlineProcessorBase::sourceReach(
      quality, width * args.renderScale.x);
  if (!reach.bounded) {
    // A width that is not a number, or beyond any use: the whole source, in
    // the standard's words for an unbounded region, without asking the host
    // for anything that could fail.
    const OfxRectD everything{
        double(kOfxFlagInfiniteMin), double(kOfxFlagInfiniteMin),
        double(kOfxFlagInfiniteMax), double(kOfxFlagInfiniteMax)};
    setter.setRegionOfInterest(*srcClip_, everything);
    return;
  }
  const double unitX = srcClip_->getPixelAspectRatio() / args.renderScale.x;
  const double unitY = 1.0 / args.renderScale.y;
  OfxRectD roi = args.regionOfInterest;
  roi.x1 -= static_cast<double>(reach.towardsLower) * unitX;
  roi.y1 -= static_cast<double>(reach.towardsLower) * unitY;
  roi.x2 += static_cast<double>(reach.towardsUpper) * unitX;
  roi.y2 += static_cast<double>(reach.towardsUpper) * unitY;
  setter.setRegionOfInterest(*srcClip_, roi);
}

} // namespace rimlet
