// Shared pieces of the outline effect's tests through a real host: the
// shared host (tests/common) with the Rimlet bundle loaded, images in the
// six formats, the effect's settings, and a reference render assembled from
// the field and the pixel rules (tested on their own), so that a render
// tells whether the instance handed the processor the right images and
// values.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "OutlineField.h"
#include "OutlineNames.h"
#include "OutlinePixelRules.h"
#include "OutlineTestFormats.h"
#include "TestHost.h"
#include "ofxhost/Host.h"

namespace outline_plugin_test {

using ofxhost::BitDepth;
using ofxhost::Components;
using qfx_test::makeImage;
using qfx_test::renderOf;
using rimlet_test::AllFormats;
using rimlet_test::ByteAlpha;
using rimlet_test::ByteRGBA;
using rimlet_test::FloatAlpha;
using rimlet_test::FloatRGBA;
using rimlet_test::FormatNames;
using rimlet_test::ShortAlpha;
using rimlet_test::ShortRGBA;
namespace names = rimlet::names;

constexpr unsigned char kSentinelByte = 0x5A;

// ------------------------------------------------------------ settings

// The effect's parameters as a test sets them; defaults are the declared
// defaults. The colour's alpha belongs to the parameter but not to the
// outline.
struct OutlineSettings {
  std::array<double, 4> color{1.0, 1.0, 1.0, 1.0};
  double width = 2.0;
  int quality = 1; // 0 Draft, 1 Good, 2 Best
};

inline void applySettings(ofxhost::Instance &instance,
                          const OutlineSettings &s) {
  instance.param(names::kOutlineColor)
      .setValue({s.color[0], s.color[1], s.color[2], s.color[3]});
  instance.param(names::kOutlineWidth).setValue({s.width});
  instance.param(names::kQuality).setValue({double(s.quality)});
}

// ------------------------------------------------------------ images

// Premultiplied soft-edged discs of several opacities, two of them cut by
// the image's edges, so that every rule of the outline has pixels to act on.
template <class F> void paintShapes(ofxhost::Image &image) {
  using PIX = typename F::PIX;
  const OfxRectI b = image.bounds();
  struct Disc {
    double cx, cy, radius, alpha;
  };
  const Disc discs[] = {{0.25, 0.3, 0.12, 1.0},
                        {0.6, 0.55, 0.18, 0.6},
                        {0.95, 0.15, 0.1, 1.0},
                        {0.1, 0.95, 0.08, 0.85}};
  const double w = b.x2 - b.x1, h = b.y2 - b.y1;
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      double a = 0.0;
      for (const Disc &d : discs) {
        const double dx = (x - b.x1) - d.cx * w, dy = (y - b.y1) - d.cy * h;
        const double inside = d.radius * std::min(w, h) - std::hypot(dx, dy);
        a = std::max(a, std::clamp(inside + 0.5, 0.0, 1.0) * d.alpha);
      }
      PIX *p = image.pixel<PIX>(x, y);
      if (F::kComponents == 1) {
        p[0] = F::fromUnit(a);
        continue;
      }
      p[0] = F::fromUnit(0.9 * a);
      p[1] = F::fromUnit(0.4 * a);
      p[2] = F::fromUnit(0.1 * a);
      p[3] = F::fromUnit(a);
    }
}

// The first pixel that differs, bit for bit, naming the format, the pixel
// and both values.
template <class F>
::testing::AssertionResult sameImage(const ofxhost::Image &got,
                                     const ofxhost::Image &expected) {
  using PIX = typename F::PIX;
  const OfxRectI b = expected.bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      const PIX *g = got.pixel<PIX>(x, y);
      const PIX *e = expected.pixel<PIX>(x, y);
      if (g == nullptr)
        return ::testing::AssertionFailure()
               << F::name() << " pixel (" << x << ", " << y << ") missing";
      if (std::memcmp(g, e, sizeof(PIX) * F::kComponents) != 0)
        return ::testing::AssertionFailure()
               << F::name() << " pixel (" << x << ", " << y << "): got "
               << rimlet_test::describePixel(g, F::kComponents) << ", expected "
               << rimlet_test::describePixel(e, F::kComponents);
    }
  return ::testing::AssertionSuccess();
}

// ------------------------------------------------------------ reference

// What the output must hold after rendering `window` with the processor
// given `widthPx` pixels: one field over the output's bounds, the rule of
// the quality inside the window, the sentinel everywhere else.
template <class F>
ofxhost::ImagePtr referenceRender(const ofxhost::Image *src, OfxRectI dstBounds,
                                  OfxRectI window, const OutlineSettings &s,
                                  double widthPx) {
  using PIX = typename F::PIX;
  using rimlet::OutlineQuality;
  static const rimlet::AlphaTable alphaTable = rimlet::makeAlphaTable();
  static const rimlet::FalloffTable falloffTable = rimlet::makeFalloffTable();
  const OutlineQuality quality = s.quality == 0   ? OutlineQuality::Draft
                                 : s.quality == 2 ? OutlineQuality::Best
                                                  : OutlineQuality::Good;
  const rimlet::FieldExtent extent{dstBounds.x2 - dstBounds.x1,
                                   dstBounds.y2 - dstBounds.y1};
  std::vector<float> cells(static_cast<std::size_t>(extent.cellCount()));
  auto lookup = [src](int x, int y) -> const PIX * {
    return src != nullptr ? src->pixel<PIX>(x, y) : nullptr;
  };
  if (quality == OutlineQuality::Draft) {
    rimlet::seedField<PIX, F::kComponents, F::kMax>(
        cells.data(), extent, dstBounds.x1, dstBounds.y1,
        rimlet::FieldSeeding::Draft, alphaTable, lookup);
    rimlet::sweepForwardOnly(cells.data(), extent);
  } else {
    rimlet::seedField<PIX, F::kComponents, F::kMax>(
        cells.data(), extent, dstBounds.x1, dstBounds.y1,
        rimlet::FieldSeeding::Smooth, alphaTable, lookup);
    rimlet::sweepTwoPass(cells.data(), extent);
  }

  const rimlet::OutlinePixelRules<PIX, F::kComponents, F::kMax> rules(
      {s.color[0], s.color[1], s.color[2]}, alphaTable, falloffTable);
  const float w = static_cast<float>(widthPx);
  auto out = makeImage<F>(dstBounds);
  out->fillBytes(kSentinelByte);
  for (int y = std::max(window.y1, dstBounds.y1);
       y < std::min(window.y2, dstBounds.y2); ++y)
    for (int x = std::max(window.x1, dstBounds.x1);
         x < std::min(window.x2, dstBounds.x2); ++x) {
      const int c = x - dstBounds.x1, r = y - dstBounds.y1;
      PIX *dst = out->template pixel<PIX>(x, y);
      const float f = rimlet::fieldAt(cells.data(), extent, c, r);
      switch (quality) {
      case OutlineQuality::Draft:
        rules.template renderPixel<OutlineQuality::Draft>(lookup(x, y), dst, f,
                                                          w);
        break;
      case OutlineQuality::Good:
        rules.template renderPixel<OutlineQuality::Good>(lookup(x, y), dst, f,
                                                         w);
        break;
      case OutlineQuality::Best:
        rules.template renderPixel<OutlineQuality::Best>(
            lookup(x, y), dst,
            rimlet::fieldSmoothedAt(cells.data(), extent, c, r), w);
        break;
      }
    }
  return out;
}

// ------------------------------------------------------------ host

// A host with the outline module loaded and its one plug-in at hand.
class OutlineHost : public qfx_test::TestHost {
public:
  OutlineHost()
      : TestHost(ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, "Rimlet")) {}
};

} // namespace outline_plugin_test
