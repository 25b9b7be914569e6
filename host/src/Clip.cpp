// Clips of an instance: the images the caller supplies, handed to the
// plug-in as fresh image property sets that it must release.
#include "Effects.h"
#include "Handles.h"

#include <stdexcept>

namespace ofxhost {
namespace {

OfxRectD emptyRect() { return OfxRectD{0, 0, 0, 0}; }

// The canonical region an image covers: pixels divided by the render scale,
// and x also times the pixel aspect ratio (a 2:1 anamorphic pixel is two
// canonical units wide).
OfxRectD canonicalBounds(const Image &image) {
  const OfxRectI &b = image.bounds();
  const double par =
      image.pixelAspectRatio > 0.0 ? image.pixelAspectRatio : 1.0;
  const double sx = image.renderScale.x / par;
  const double sy = image.renderScale.y;
  if (sx <= 0.0 || sy <= 0.0)
    return OfxRectD{double(b.x1), double(b.y1), double(b.x2), double(b.y2)};
  return OfxRectD{b.x1 / sx, b.y1 / sy, b.x2 / sx, b.y2 / sy};
}

// The image a tiling host would hand out for `bounds`: the same format,
// row layout and properties as the caller's, holding its pixels where the
// two overlap and zeros elsewhere.
ImagePtr copyOfRegion(const Image &whole, const OfxRectI &bounds) {
  auto part = std::make_shared<Image>(bounds, whole.depth(), whole.components(),
                                      whole.layout());
  part->renderScale = whole.renderScale;
  part->pixelAspectRatio = whole.pixelAspectRatio;
  part->premultiplication = whole.premultiplication;
  part->field = whole.field;
  part->copyPixelsFrom(whole);
  return part;
}

void describeImage(PropertySet &props, Image &image, const std::string &id) {
  const OfxRectI &b = image.bounds();
  props.setString(kOfxPropType, kOfxTypeImage);
  props.setString(kOfxImageEffectPropPixelDepth, bitDepthName(image.depth()));
  props.setString(kOfxImageEffectPropComponents,
                  componentsName(image.components()));
  props.setString(kOfxImageEffectPropPreMultiplication,
                  image.premultiplication);
  props.setDoubles(kOfxImageEffectPropRenderScale,
                   {image.renderScale.x, image.renderScale.y});
  props.setDouble(kOfxImagePropPixelAspectRatio, image.pixelAspectRatio);
  props.setPointer(kOfxImagePropData, image.data());
  props.setInts(kOfxImagePropBounds, {b.x1, b.y1, b.x2, b.y2});
  props.setInts(kOfxImagePropRegionOfDefinition, {b.x1, b.y1, b.x2, b.y2});
  props.setInt(kOfxImagePropRowBytes, static_cast<int>(image.rowBytes()));
  props.setString(kOfxImagePropField, image.field);
  props.setString(kOfxImagePropUniqueIdentifier, id);
}

} // namespace

// ---------------------------------------------------------------- Impl

Clip::Impl::Impl(Instance::Impl *instance, std::string name)
    : instance(instance), name(std::move(name)) {
  registerHandle(this, HandleKind::Clip);
}

Clip::Impl::~Impl() {
  unregisterHandle(this);
  std::lock_guard<std::mutex> lock(mutex);
  outstanding.clear();
}

ImagePtr Clip::Impl::imageAt(double time) const {
  std::function<ImagePtr(double)> source;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = timedImages.find(time);
    if (it != timedImages.end())
      return it->second;
    if (!provider)
      return defaultImage;
    source = provider;
  }
  // Outside the lock: a provider may well look at the clip itself.
  return source(time);
}

OfxStatus Clip::Impl::fetchImage(double time, OfxPropertySetHandle *out) {
  const Faults &faults = instance->faults;
  if (faults.imageFetch != kOfxStatOK &&
      (faults.imageFetchClip.empty() || faults.imageFetchClip == name))
    return faults.imageFetch;
  if (!props.getInt(kOfxImageClipPropConnected))
    return kOfxStatFailed;
  ImagePtr image = imageAt(time);
  if (!image)
    return kOfxStatFailed;

  auto imageProps = std::make_unique<PropertySet>();
  imageProps->impl()->imageClip = this;
  std::lock_guard<std::mutex> lock(mutex);
  ImagePtr writeBackTo;
  if (requestedBounds) {
    ImagePtr whole = std::move(image);
    image = copyOfRegion(*whole, *requestedBounds);
    if (isOutput())
      writeBackTo = std::move(whole);
  }
  describeImage(*imageProps, *image,
                name + ":" + std::to_string(nextImageId++));
  OfxPropertySetHandle handle = imageProps->handle();
  outstanding[handle] = FetchedImage{std::move(image), std::move(imageProps),
                                     std::move(writeBackTo)};
  ++fetched;
  *out = handle;
  return kOfxStatOK;
}

OfxStatus Clip::Impl::releaseImage(const void *handle) {
  FetchedImage released;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = outstanding.find(handle);
    if (it == outstanding.end())
      return kOfxStatErrBadHandle;
    released = std::move(it->second);
    outstanding.erase(it);
  }
  if (released.writeBackTo)
    released.writeBackTo->copyPixelsFrom(*released.image);
  return kOfxStatOK;
}

OfxStatus Clip::Impl::regionOfDefinition(double time, OfxRectD &out) {
  if (instance->faults.regionQuery != kOfxStatOK)
    return instance->faults.regionQuery;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (hasRod) {
      out = rod;
      return kOfxStatOK;
    }
  }
  if (isOutput()) {
    // The caller's output image is the frame being rendered: a host that
    // hands over whole images makes it the effect's region of definition,
    // and under ImagePolicy::Requested each render gets a part of it.
    if (ImagePtr frame = imageAt(time)) {
      out = canonicalBounds(*frame);
      return kOfxStatOK;
    }
    // Otherwise the output covers what the effect says it produces. A
    // plug-in that asks for it while answering that very question gets the
    // default.
    if (instance->rodDepth.load() > 0) {
      out = instance->defaultRegionOfDefinition(time);
      return kOfxStatOK;
    }
    OfxRectD answer = instance->defaultRegionOfDefinition(time);
    PropertySet inArgs, outArgs;
    inArgs.setDouble(kOfxPropTime, time);
    inArgs.setDoubles(kOfxImageEffectPropRenderScale, {1.0, 1.0});
    defineRenderKind(inArgs);
    outArgs.setDoubles(kOfxImageEffectPropRegionOfDefinition,
                       {answer.x1, answer.y1, answer.x2, answer.y2});
    ++instance->rodDepth;
    OfxStatus status = instance->call(
        kOfxImageEffectActionGetRegionOfDefinition, &inArgs, &outArgs);
    --instance->rodDepth;
    if (status == kOfxStatOK) {
      std::vector<double> r =
          outArgs.getDoubles(kOfxImageEffectPropRegionOfDefinition);
      if (r.size() == 4)
        answer = OfxRectD{r[0], r[1], r[2], r[3]};
    }
    out = answer;
    return kOfxStatOK;
  }
  if (!props.getInt(kOfxImageClipPropConnected)) {
    out = emptyRect();
    return kOfxStatOK;
  }
  ImagePtr image = imageAt(time);
  out = image ? canonicalBounds(*image) : emptyRect();
  return kOfxStatOK;
}

void Clip::Impl::setRequestedBounds(std::optional<OfxRectI> bounds) {
  std::lock_guard<std::mutex> lock(mutex);
  requestedBounds = bounds;
}

// ---------------------------------------------------------------- Clip

Clip::Clip(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Clip::~Clip() = default;

const std::string &Clip::name() const { return impl_->name; }
PropertySet &Clip::props() { return impl_->props; }

void Clip::setFormat(BitDepth depth, Components components) {
  PropertySet &props = impl_->props;
  props.setString(kOfxImageEffectPropPixelDepth, bitDepthName(depth));
  props.setString(kOfxImageEffectPropComponents, componentsName(components));
  props.setString(kOfxImageClipPropUnmappedPixelDepth, bitDepthName(depth));
  props.setString(kOfxImageClipPropUnmappedComponents,
                  componentsName(components));
}

BitDepth Clip::depth() const {
  return bitDepthFromName(
      impl_->props.getString(kOfxImageEffectPropPixelDepth));
}

Components Clip::components() const {
  return componentsFromName(
      impl_->props.getString(kOfxImageEffectPropComponents));
}

void Clip::setConnected(bool connected) {
  if (connected != this->connected())
    impl_->instance->clipPreferencesCurrent.store(false);
  impl_->props.setInt(kOfxImageClipPropConnected, connected ? 1 : 0);
}

bool Clip::connected() const {
  return impl_->props.getInt(kOfxImageClipPropConnected) != 0;
}

void Clip::setImage(ImagePtr image) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->defaultImage = std::move(image);
}

void Clip::setImageAt(double time, ImagePtr image) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->timedImages[time] = std::move(image);
}

void Clip::setImageProvider(std::function<ImagePtr(double time)> provider) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->provider = std::move(provider);
}

void Clip::clearImages() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->defaultImage.reset();
  impl_->timedImages.clear();
  impl_->provider = nullptr;
}

ImagePtr Clip::imageAt(double time) const { return impl_->imageAt(time); }

void Clip::setRegionOfDefinition(OfxRectD rod) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->hasRod = true;
  impl_->rod = rod;
}

void Clip::clearRegionOfDefinition() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->hasRod = false;
}

int Clip::imagesOutstanding() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return static_cast<int>(impl_->outstanding.size());
}

int Clip::imagesFetched() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->fetched;
}

OfxImageClipHandle Clip::handle() {
  return reinterpret_cast<OfxImageClipHandle>(impl_.get());
}

} // namespace ofxhost
