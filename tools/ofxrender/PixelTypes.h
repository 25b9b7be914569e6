// The three component types of host images, and the one place that turns a
// runtime depth into a compile-time type.
#pragma once

#include <cstdint>

#include "ToolError.h"
#include "ofxhost/Host.h"

namespace ofxrender {

template <class T> struct PixelTraits;
template <> struct PixelTraits<std::uint8_t> {
  static std::uint8_t opaque() { return 255; }
};
template <> struct PixelTraits<std::uint16_t> {
  static std::uint16_t opaque() { return 65535; }
};
template <> struct PixelTraits<float> {
  static float opaque() { return 1.0f; }
};

// Calls fn with a value of the component type of depth (its value is zero
// and unused; only its type matters).
template <class Fn> void withComponentType(ofxhost::BitDepth depth, Fn &&fn) {
  switch (depth) {
  case ofxhost::BitDepth::Byte:
    fn(std::uint8_t{});
    return;
  case ofxhost::BitDepth::Short:
    fn(std::uint16_t{});
    return;
  case ofxhost::BitDepth::Float:
    fn(float{});
    return;
  default:
    throw renderError(std::string("unsupported pixel depth ") +
                      ofxhost::bitDepthName(depth));
  }
}

} // namespace ofxrender
