#include "ofxsImageEffect.h"
#include "ofxsSuites.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

namespace OFX {

// ---------------------------------------------------------------------------
// Image

namespace {

OfxRectI readRectI(const PropertySet &props, const char *name) {
  return OfxRectI{props.getInt(name, 0), props.getInt(name, 1),
                  props.getInt(name, 2), props.getInt(name, 3)};
}

void releaseImage(OfxPropertySetHandle image) noexcept {
  const OfxImageEffectSuiteV1 *suite = Private::suites().effect;
  if (suite && image)
    suite->clipReleaseImage(image);
}

} // namespace

Image::Image(OfxPropertySetHandle imageHandle) : props_(imageHandle) {
  try {
    data_ = props_.getPointer(kOfxImagePropData);
    rowBytes_ = props_.getInt(kOfxImagePropRowBytes);
    bounds_ = readRectI(props_, kOfxImagePropBounds);
    depth_ =
        mapStringToBitDepth(props_.getString(kOfxImageEffectPropPixelDepth));
    components_ = mapStringToPixelComponents(
        props_.getString(kOfxImageEffectPropComponents));
    pixelBytes_ = componentCount(components_) * bytesPerComponent(depth_);
    // What follows is descriptive only; a host that leaves it out gets the
    // standard's defaults rather than a failed render.
    if (props_.getDimensionOr(kOfxImagePropRegionOfDefinition, 0) == 4)
      regionOfDefinition_ = readRectI(props_, kOfxImagePropRegionOfDefinition);
    else
      regionOfDefinition_ = bounds_;
    renderScale_.x = props_.getDoubleOr(kOfxImageEffectPropRenderScale, 1.0, 0);
    renderScale_.y = props_.getDoubleOr(kOfxImageEffectPropRenderScale, 1.0, 1);
    pixelAspectRatio_ = props_.getDoubleOr(kOfxImagePropPixelAspectRatio, 1.0);
    premultiplication_ = mapStringToPreMultiplication(props_.getStringOr(
        kOfxImageEffectPropPreMultiplication, kOfxImageOpaque));
    field_ = mapStringToField(
        props_.getStringOr(kOfxImagePropField, kOfxImageFieldNone));
    uniqueIdentifier_ = props_.getStringOr(kOfxImagePropUniqueIdentifier, "");
  } catch (...) {
    releaseImage(imageHandle);
    throw;
  }
}

Image::~Image() { releaseImage(props_.handle()); }

void *Image::getPixelAddress(int x, int y) const {
  if (!data_ || pixelBytes_ == 0)
    return nullptr;
  if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2)
    return nullptr;
  // Offsets in ptrdiff_t: row bytes may be negative (bottom row last in
  // memory) and large images overflow int arithmetic.
  const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(y) - bounds_.y1;
  const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(x) - bounds_.x1;
  return static_cast<char *>(data_) + row * rowBytes_ + column * pixelBytes_;
}

// ---------------------------------------------------------------------------
// Clip

Clip::Clip(ImageEffect &effect, const std::string &name,
           OfxImageClipHandle handle, OfxPropertySetHandle props)
    : effect_(effect), name_(name), handle_(handle), props_(props) {}

BitDepthEnum Clip::getPixelDepth() const {
  return mapStringToBitDepth(props_.getString(kOfxImageEffectPropPixelDepth));
}

PixelComponentEnum Clip::getPixelComponents() const {
  return mapStringToPixelComponents(
      props_.getString(kOfxImageEffectPropComponents));
}

BitDepthEnum Clip::getUnmappedPixelDepth() const {
  std::string depth =
      props_.getStringOr(kOfxImageClipPropUnmappedPixelDepth, "");
  return depth.empty() ? getPixelDepth() : mapStringToBitDepth(depth);
}

PixelComponentEnum Clip::getUnmappedPixelComponents() const {
  std::string components =
      props_.getStringOr(kOfxImageClipPropUnmappedComponents, "");
  return components.empty() ? getPixelComponents()
                            : mapStringToPixelComponents(components);
}

PreMultiplicationEnum Clip::getPreMultiplication() const {
  return mapStringToPreMultiplication(props_.getStringOr(
      kOfxImageEffectPropPreMultiplication, kOfxImageOpaque));
}

double Clip::getPixelAspectRatio() const {
  return props_.getDoubleOr(kOfxImagePropPixelAspectRatio, 1.0);
}

bool Clip::isConnected() const {
  return props_.getIntOr(kOfxImageClipPropConnected, 1) != 0;
}

OfxRectD Clip::getRegionOfDefinition(double t) const {
  OfxRectD rod{0.0, 0.0, 0.0, 0.0};
  OfxStatus status =
      Private::effectSuite().clipGetRegionOfDefinition(handle_, t, &rod);
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "region of definition of clip " + name_);
  return rod;
}

OfxRectI Clip::getPixelRegionOfDefinition(double t,
                                          OfxPointD renderScale) const {
  return canonicalToPixelEnclosing(getRegionOfDefinition(t), renderScale,
                                   getPixelAspectRatio());
}

OfxRectI Clip::getPixelRegionOfDefinitionOr(double t, OfxPointD renderScale,
                                            const OfxRectI &fallback) const {
  try {
    return getPixelRegionOfDefinition(t, renderScale);
  } catch (const Exception::Suite &) {
    return fallback;
  }
}

OfxRectI canonicalToPixelEnclosing(const OfxRectD &rect, OfxPointD renderScale,
                                   double pixelAspectRatio) {
  constexpr double kTolerance = 1e-6;
  // Held inside the int range: a region of definition may be unbounded.
  const auto held = [](double v) {
    if (std::isnan(v))
      return 0;
    return static_cast<int>(std::clamp<double>(
        v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  };
  const double par = pixelAspectRatio > 0.0 ? pixelAspectRatio : 1.0;
  const double sx = renderScale.x / par;
  const double sy = renderScale.y;
  return OfxRectI{held(std::floor(rect.x1 * sx + kTolerance)),
                  held(std::floor(rect.y1 * sy + kTolerance)),
                  held(std::ceil(rect.x2 * sx - kTolerance)),
                  held(std::ceil(rect.y2 * sy - kTolerance))};
}

Image *Clip::fetchImage(double t) { return fetchImageImpl(t, nullptr); }

Image *Clip::fetchImage(double t, const OfxRectD &bounds) {
  return fetchImageImpl(t, &bounds);
}

Image *Clip::fetchImageImpl(double t, const OfxRectD *bounds) {
  OfxPropertySetHandle image = nullptr;
  OfxStatus status =
      Private::effectSuite().clipGetImage(handle_, t, bounds, &image);
  if (status == kOfxStatFailed)
    return nullptr;
  if (status != kOfxStatOK)
    throw Exception::Suite(status, "image of clip " + name_);
  if (!image)
    return nullptr;
  // Allocate before taking the image over, so that running out of memory
  // still hands the image back to the host.
  void *memory = ::operator new(sizeof(Image), std::nothrow);
  if (!memory) {
    releaseImage(image);
    throw std::bad_alloc();
  }
  try {
    return new (memory) Image(image);
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

} // namespace OFX
