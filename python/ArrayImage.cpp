#include "ArrayImage.h"

#include <cstring>
#include <string>

namespace py = pybind11;
using ofxhost::BitDepth;
using ofxhost::Components;

namespace ofxpy {
namespace {

bool nativeOrder(const py::dtype &dtype) {
  return dtype.attr("isnative").cast<bool>();
}

BitDepth depthOf(const py::dtype &dtype) {
  if (!nativeOrder(dtype))
    return BitDepth::None;
  if (dtype.kind() == 'u' && dtype.itemsize() == 1)
    return BitDepth::Byte;
  if (dtype.kind() == 'u' && dtype.itemsize() == 2)
    return BitDepth::Short;
  if (dtype.kind() == 'f' && dtype.itemsize() == 4)
    return BitDepth::Float;
  return BitDepth::None;
}

Components componentsOf(const py::array &pixels) {
  if (pixels.ndim() == 2)
    return Components::Alpha;
  if (pixels.ndim() != 3)
    return Components::None;
  if (pixels.shape(2) == 4)
    return Components::RGBA;
  if (pixels.shape(2) == 1)
    return Components::Alpha;
  return Components::None;
}

std::string shapeText(const py::array &pixels) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < pixels.ndim(); ++i)
    text += (i ? ", " : "") + std::to_string(pixels.shape(i));
  return text + (pixels.ndim() == 1 ? ",)" : ")");
}

// Pixel (x1, y2 - 1): the first byte of an image whose rows run top row
// first in memory.
unsigned char *topRow(ofxhost::Image &image) {
  const OfxRectI &b = image.bounds();
  return static_cast<unsigned char *>(image.pixelAddress(b.x1, b.y2 - 1));
}

ofxhost::ImageLayout topDownRows() {
  ofxhost::ImageLayout layout;
  layout.negativeRowBytes = true;
  return layout;
}

// A plug-in may ask for half floats in its clip preferences.
py::dtype dtypeOf(BitDepth depth) {
  switch (depth) {
  case BitDepth::Byte:
    return py::dtype::of<uint8_t>();
  case BitDepth::Short:
    return py::dtype::of<uint16_t>();
  case BitDepth::Half:
    return py::dtype("float16");
  default:
    return py::dtype::of<float>();
  }
}

// Plain rows in aligned, writable memory are handed to the plug-in as they
// lie. Writable, because a plug-in that wrongly writes to its source would
// fault on a read-only buffer where it only spoils a copy.
bool canBorrow(const py::array &pixels) {
  const int flags = py::detail::array_proxy(pixels.ptr())->flags;
  const int needed = py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_ |
                     py::detail::npy_api::NPY_ARRAY_ALIGNED_ |
                     py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return (flags & needed) == needed;
}

// The array's rows top row first, so the image's rows run backwards: the
// standard's negative row bytes. The array is let go with the GIL held,
// from whichever thread drops the image last.
ofxhost::ImagePtr borrowedImage(const py::array &pixels, const OfxRectI &bounds,
                                BitDepth depth, Components components) {
  // Contiguous rows lie a row of pixels apart (numpy may give a single
  // row's stride any value).
  const std::ptrdiff_t rowBytes =
      static_cast<std::ptrdiff_t>(pixels.nbytes()) / (bounds.y2 - bounds.y1);
  auto *first = static_cast<unsigned char *>(
      const_cast<void *>(static_cast<const void *>(pixels.data())));
  std::shared_ptr<void> owner(new py::object(pixels), [](void *p) {
    py::gil_scoped_acquire gil;
    delete static_cast<py::object *>(p);
  });
  return std::make_shared<ofxhost::Image>(bounds, depth, components,
                                          first + rowBytes * (bounds.y2 - 1),
                                          -rowBytes, std::move(owner));
}

} // namespace

ofxhost::ImagePtr imageFromArray(const py::array &given) {
  const BitDepth depth = depthOf(given.dtype());
  if (depth == BitDepth::None)
    throw py::type_error(
        "pixels must be uint8, uint16 or float32 in the machine's byte "
        "order, not " +
        std::string(py::str(given.dtype())));
  const Components components = componentsOf(given);
  if (components == Components::None)
    throw py::value_error("pixels must be H x W x 4 (RGBA), H x W x 1 or "
                          "H x W (alpha), not " +
                          shapeText(given));
  const py::ssize_t height = given.shape(0), width = given.shape(1);
  if (height < 1 || width < 1)
    throw py::value_error("pixels hold no pixel: shape " + shapeText(given));
  const py::ssize_t limit = 1 << 28; // as many pixels as ofxrender reads
  if (height > limit / width)
    throw py::value_error("pixels: " + shapeText(given) +
                          " is more pixels than an image may hold");

  const OfxRectI bounds{0, 0, static_cast<int>(width),
                        static_cast<int>(height)};
  if (canBorrow(given))
    return borrowedImage(given, bounds, depth, components);
  // Views with strides of their own (a crop, a channel slice), and arrays
  // a plug-in could not be trusted with, are copied into plain rows.
  const py::array pixels =
      py::module_::import("numpy").attr("ascontiguousarray")(given);
  auto image = std::make_shared<ofxhost::Image>(bounds, depth, components,
                                                topDownRows());
  std::memcpy(topRow(*image), pixels.data(),
              static_cast<size_t>(pixels.nbytes()));
  return image;
}

ofxhost::ImagePtr outputImage(const OfxRectI &bounds, BitDepth depth,
                              Components components) {
  return std::make_shared<ofxhost::Image>(bounds, depth, components,
                                          topDownRows());
}

py::array arrayOfImage(const ofxhost::ImagePtr &image, bool flat) {
  const py::dtype dtype = dtypeOf(image->depth());
  const py::ssize_t channels = ofxhost::componentCount(image->components());
  const py::ssize_t component = ofxhost::bytesPerComponent(image->depth());
  const py::ssize_t height = image->height(), width = image->width();
  const py::ssize_t rowBytes = width * channels * component;
  // The array owns a reference to the image, so its memory lives as long
  // as any view of it does.
  auto *owner = new ofxhost::ImagePtr(image);
  py::capsule base(owner,
                   [](void *p) { delete static_cast<ofxhost::ImagePtr *>(p); });
  if (flat && channels == 1)
    return py::array(dtype, {height, width}, {rowBytes, component},
                     topRow(*image), base);
  return py::array(dtype, {height, width, channels},
                   {rowBytes, channels * component, component}, topRow(*image),
                   base);
}

} // namespace ofxpy
