#ifndef OFXS_PIXELFORMAT_H
#define OFXS_PIXELFORMAT_H

// The pixel formats an effect of this library renders, and the one place
// that turns a run-time depth and component layout into the C++ component
// type and component count a processor is written against. A plug-in names
// its processor once, in a generic callable, instead of keeping a table of
// its own that could drift from the formats it declares.

#include "ofxsCore.h"

#include <type_traits>

namespace OFX {

// Stands for the component type PIX in a call of withPixelFormat; the value
// carries nothing, only its type matters.
template <class PIX> struct PixelType { using type = PIX; };

template <int N> using ComponentCount = std::integral_constant<int, N>;

// The component value that stands for 1.0: the full range of an integer
// type, 1 for floats.
template <class PIX> struct PixelMax;
template <>
struct PixelMax<unsigned char> : std::integral_constant<int, 255> {};
template <>
struct PixelMax<unsigned short> : std::integral_constant<int, 65535> {};
template <> struct PixelMax<float> : std::integral_constant<int, 1> {};

struct PixelFormat {
  BitDepthEnum depth = eBitDepthNone;
  PixelComponentEnum components = ePixelComponentNone;
};

inline bool operator==(const PixelFormat &a, const PixelFormat &b) {
  return a.depth == b.depth && a.components == b.components;
}
inline bool operator!=(const PixelFormat &a, const PixelFormat &b) {
  return !(a == b);
}

namespace Private {

template <class PIX, class Fn>
bool withComponentCount(PixelComponentEnum components, Fn &&fn) {
  switch (components) {
  case ePixelComponentRGBA:
    fn(PixelType<PIX>{}, ComponentCount<4>{});
    return true;
  case ePixelComponentAlpha:
    fn(PixelType<PIX>{}, ComponentCount<1>{});
    return true;
  default:
    return false;
  }
}

} // namespace Private

// Calls fn(PixelType<PIX>{}, ComponentCount<N>{}) for the six formats
// (8-bit, 16-bit and float, each RGBA or Alpha) and returns true. Any other
// format (half floats, RGB, custom layouts, none) has no processor that
// could write it correctly: fn is not called and the answer is false, so
// the caller decides how to refuse.
template <class Fn> bool withPixelFormat(PixelFormat format, Fn &&fn) {
  switch (format.depth) {
  case eBitDepthUByte:
    return Private::withComponentCount<unsigned char>(format.components, fn);
  case eBitDepthUShort:
    return Private::withComponentCount<unsigned short>(format.components, fn);
  case eBitDepthFloat:
    return Private::withComponentCount<float>(format.components, fn);
  default:
    return false;
  }
}

template <class Fn>
bool withPixelFormat(BitDepthEnum depth, PixelComponentEnum components,
                     Fn &&fn) {
  return withPixelFormat(PixelFormat{depth, components}, fn);
}

// Makes the processor of an effect's template for the format, built with
// `effect`, and hands it to fn: the whole of an effect's format dispatch.
// Processor is written as Processor<PIX, nComponents, maxValue>.
template <template <class, int, int> class Processor, class Effect, class Fn>
bool withProcessorFor(PixelFormat format, Effect &effect, Fn &&fn) {
  return withPixelFormat(format, [&](auto pixel, auto nComponents) {
    using PIX = typename decltype(pixel)::type;
    Processor<PIX, decltype(nComponents)::value, PixelMax<PIX>::value>
        processor(effect);
    fn(processor);
  });
}

inline bool isRenderedPixelFormat(PixelFormat format) {
  return withPixelFormat(format, [](auto, auto) {});
}

} // namespace OFX

#endif // OFXS_PIXELFORMAT_H
