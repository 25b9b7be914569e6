// Both effects in a host that tiles: each render is handed an output image
// that covers only its window and a source image that covers only the
// region of interest the effect asked for. Tile by tile, every pixel must
// equal the whole-image render bit for bit.
#include "ReliabilityTestSupport.h"

#include <algorithm>
#include <optional>
#include <random>

namespace reliability {
namespace {

// One random picture, effect setting and tiling.
struct TileCase {
  std::string bundle;
  PixelFormat format;
  double scale = 1.0;
  unsigned cpus = 1;
  OfxRectI sourceBounds{0, 0, 0, 0}; // in pixels at the render scale
  ofxhost::ImageLayout layout;
  std::vector<std::pair<std::string, std::vector<double>>> params;
  std::string describe() const {
    std::ostringstream out;
    out << bundle << " " << formatName(format) << " scale " << scale << ", "
        << cpus << " thread(s), source (" << sourceBounds.x1 << ", "
        << sourceBounds.y1 << ")-(" << sourceBounds.x2 << ", "
        << sourceBounds.y2 << "), padding " << layout.rowPaddingBytes
        << (layout.negativeRowBytes ? ", negative row bytes" : "");
    for (const auto &[name, value] : params) {
      out << ", " << name << " =";
      for (double v : value)
        out << " " << v;
    }
    return out.str();
  }
};

// Random alphas in clumps, with fully transparent and fully opaque runs,
// premultiplied colours; `alphaScale` above 1 makes float alphas above 1.
void paintRandom(ofxhost::Image &image, std::mt19937 &rng,
                 double alphaScale = 1.0) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const OfxRectI b = image.bounds();
  const int n = ofxhost::componentCount(image.components());
  const double cx = b.x1 + unit(rng) * image.width();
  const double cy = b.y1 + unit(rng) * image.height();
  const double radius = 1.0 + unit(rng) * image.width() / 2.0;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      const double d = std::hypot(x - cx, y - cy);
      double alpha = d < radius ? 1.0 : unit(rng) < 0.08 ? unit(rng) : 0.0;
      if (d < radius && d > radius - 2.0)
        alpha = unit(rng);
      alpha *= alphaScale;
      if (n == 1) {
        storeComponent(image, x, y, 0, alpha);
        continue;
      }
      for (int c = 0; c < 3; ++c)
        storeComponent(image, x, y, c, std::min(1.0, alpha) * unit(rng));
      storeComponent(image, x, y, 3, alpha);
    }
  }
}

// Cuts [a, b) at random places; every cut when `everyPixel`.
std::vector<int> randomCuts(int a, int b, bool everyPixel, std::mt19937 &rng) {
  std::vector<int> cuts{a};
  std::uniform_int_distribution<int> count(0, 4);
  if (everyPixel) {
    for (int v = a + 1; v < b; ++v)
      cuts.push_back(v);
  } else if (b - a > 1) {
    std::uniform_int_distribution<int> at(a + 1, b - 1);
    for (int i = count(rng); i > 0; --i)
      cuts.push_back(at(rng));
  }
  cuts.push_back(b);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  return cuts;
}

std::vector<OfxRectI> randomTiles(const OfxRectI &window, std::mt19937 &rng) {
  const bool everyPixel = std::uniform_int_distribution<int>(0, 7)(rng) == 0;
  const std::vector<int> xs = randomCuts(window.x1, window.x2, everyPixel, rng);
  const std::vector<int> ys = randomCuts(window.y1, window.y2, everyPixel, rng);
  std::vector<OfxRectI> tiles;
  for (size_t j = 0; j + 1 < ys.size(); ++j)
    for (size_t i = 0; i + 1 < xs.size(); ++i)
      tiles.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
  return tiles;
}

// Either the whole frame, or a window that straddles the source's edge.
OfxRectI randomWindow(const OfxRectI &frame, const OfxRectI &source,
                      std::mt19937 &rng) {
  if (std::uniform_int_distribution<int>(0, 2)(rng) == 0)
    return frame;
  auto between = [&](int a, int b) {
    return std::uniform_int_distribution<int>(a, std::max(a, b))(rng);
  };
  OfxRectI w{between(frame.x1, source.x1), between(frame.y1, source.y1),
             between(source.x1, frame.x2), between(source.y1, frame.y2)};
  w.x2 = std::max(w.x2, w.x1 + 1);
  w.y2 = std::max(w.y2, w.y1 + 1);
  w.x2 = std::min(w.x2, frame.x2);
  w.y2 = std::min(w.y2, frame.y2);
  return w;
}

std::vector<std::pair<std::string, std::vector<double>>>
randomParams(const std::string &bundle, std::mt19937 &rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_real_distribution<double> position(-1.0, 2.0);
  if (bundle == "Rimlet") {
    // Widths across the whole range, thin ones as often as thick ones.
    const double width = 0.1 * std::pow(200.0, unit(rng));
    return {
        {rimlet::names::kOutlineWidth, {width}},
        {rimlet::names::kQuality,
         {double(std::uniform_int_distribution<int>(0, 2)(rng))}},
        {rimlet::names::kOutlineColor, {unit(rng), unit(rng), unit(rng), 1.0}}};
  }
  return {{tintrow::names::kStartColor, {unit(rng), unit(rng), unit(rng), 1.0}},
          {tintrow::names::kEndColor, {unit(rng), unit(rng), unit(rng), 1.0}},
          {tintrow::names::kStartPosition, {position(rng), position(rng)}},
          {tintrow::names::kEndPosition, {position(rng), position(rng)}},
          {tintrow::names::kGradientType,
           {double(std::uniform_int_distribution<int>(0, 1)(rng))}}};
}

class TiledRender : public ::testing::TestWithParam<std::string> {
protected:
  static ofxhost::HostOptions options(ofxhost::ImagePolicy policy) {
    ofxhost::HostOptions o = isolatedOptions();
    o.imagePolicy = policy;
    return o;
  }

  TiledRender()
      : whole_(GetParam(), options(ofxhost::ImagePolicy::Whole)),
        tiled_(GetParam(), options(ofxhost::ImagePolicy::Requested)) {}

  // An instance of `host` set up for the case, with the source connected.
  std::unique_ptr<ofxhost::Instance>
  instanceFor(EffectHost &host, const TileCase &c, ofxhost::ImagePtr source) {
    host.host().setCpuCount(c.cpus);
    auto instance = host.createFilter();
    if (!instance)
      return nullptr;
    for (const auto &[name, value] : c.params)
      instance->param(name).setValue(value);
    instance->setSource(std::move(source));
    return instance;
  }

  // The output's region of definition in pixels at the case's scale.
  static OfxRectI frameOf(ofxhost::Instance &instance, const TileCase &c) {
    OfxRectD rod{};
    EXPECT_TRUE(instance.regionOfDefinition(0.0, {c.scale, c.scale}, rod).ok());
    return ofxhost::canonicalToPixels(rod, {c.scale, c.scale});
  }

  // Renders `windows` one after another into a frame-sized output that
  // starts out filled with a marker, so unwritten pixels compare too.
  static ofxhost::ImagePtr renderInto(ofxhost::Instance &instance,
                                      const TileCase &c, const OfxRectI &frame,
                                      const std::vector<OfxRectI> &windows) {
    auto output = makeImage(frame, c.format, c.layout);
    output->fillBytes(0x5a);
    output->renderScale = {c.scale, c.scale};
    instance.setOutput(output);
    for (const OfxRectI &window : windows) {
      ofxhost::RenderRequest request = renderOf(window);
      request.scale = {c.scale, c.scale};
      const ofxhost::ActionResult result = instance.render(request);
      EXPECT_TRUE(result.ok()) << result.message;
    }
    instance.setOutput(nullptr);
    return output;
  }

  // Any format, or the one given; the row padding stays a whole number of
  // components, as the host requires.
  TileCase randomCase(std::mt19937 &rng,
                      std::optional<PixelFormat> format = std::nullopt) {
    TileCase c;
    c.bundle = GetParam();
    c.format = format.value_or(
        allFormats()[std::uniform_int_distribution<size_t>(0, 5)(rng)]);
    c.scale = std::uniform_int_distribution<int>(0, 1)(rng) ? 1.0 : 0.5;
    c.cpus = std::uniform_int_distribution<unsigned>(1, 4)(rng);
    std::uniform_int_distribution<int> offset(-20, 20), size(1, 36);
    const int x1 = offset(rng), y1 = offset(rng);
    c.sourceBounds = {x1, y1, x1 + size(rng), y1 + size(rng)};
    const int componentBytes = ofxhost::bytesPerComponent(c.format.depth);
    c.layout.rowPaddingBytes =
        componentBytes * std::uniform_int_distribution<int>(0, 3)(rng);
    c.layout.negativeRowBytes = std::uniform_int_distribution<int>(0, 1)(rng);
    c.params = randomParams(c.bundle, rng);
    return c;
  }

  ofxhost::ImagePtr sourceFor(const TileCase &c, std::mt19937 &rng,
                              double alphaScale = 1.0) {
    auto source = makeImage(c.sourceBounds, c.format, c.layout);
    source->renderScale = {c.scale, c.scale};
    paintRandom(*source, rng, alphaScale);
    return source;
  }

  EffectHost whole_;
  EffectHost tiled_;
};

TEST_P(TiledRender, EveryTileEqualsTheWholeImageRender) {
  ASSERT_TRUE(whole_.plugin()) << whole_.error();
  ASSERT_TRUE(tiled_.plugin()) << tiled_.error();
  std::mt19937 rng(20261208);
  for (int round = 0; round < 120; ++round) {
    const TileCase c = randomCase(rng);
    SCOPED_TRACE("case " + std::to_string(round) + ": " + c.describe());
    const ofxhost::ImagePtr source = sourceFor(c, rng);
    auto reference = instanceFor(whole_, c, source);
    auto tiledInstance = instanceFor(tiled_, c, source);
    ASSERT_TRUE(reference && tiledInstance);
    const OfxRectI frame = frameOf(*reference, c);
    const OfxRectI window = randomWindow(frame, c.sourceBounds, rng);
    const auto expected = renderInto(*reference, c, frame, {window});
    const auto tiled =
        renderInto(*tiledInstance, c, frame, randomTiles(window, rng));
    ASSERT_EQ(firstDifference(*tiled, *expected), "");
    ASSERT_EQ(tiledInstance->clip(kOfxImageEffectSimpleSourceClipName)
                  .imagesOutstanding(),
              0);
  }
}

// Float alphas above 1 seed deeper than any region asked for in advance
// can cover. A tile is exact with respect to the source pixels it is
// handed; those outside its region of interest reach it no further than an
// alpha of 1 would, so the tile equals a whole render in which they are 1.
// (The gradient reads only the pixel under each pixel.)
using TiledOutline = TiledRender;

TEST_P(TiledOutline, AlphasAboveOneOutsideTheRegionCountAsOne) {
  std::mt19937 rng(7);
  for (int round = 0; round < 24; ++round) {
    TileCase c =
        randomCase(rng, PixelFormat{BitDepth::Float, Components::RGBA});
    c.params[1].second = {double(round % 3)};
    SCOPED_TRACE("case " + std::to_string(round) + ": " + c.describe());
    const ofxhost::ImagePtr source = sourceFor(c, rng, 6.0);
    auto tiledInstance = instanceFor(tiled_, c, source);
    ASSERT_TRUE(tiledInstance);
    const OfxRectI frame = frameOf(*tiledInstance, c);
    for (const OfxRectI &tile : randomTiles(frame, rng)) {
      std::map<std::string, OfxRectD> rois;
      const OfxRectD canonicalTile{tile.x1 / c.scale, tile.y1 / c.scale,
                                   tile.x2 / c.scale, tile.y2 / c.scale};
      ASSERT_TRUE(
          tiledInstance
              ->regionsOfInterest(0.0, {c.scale, c.scale}, canonicalTile, rois)
              .ok());
      const OfxRectI roi = ofxhost::canonicalToPixels(
          rois[kOfxImageEffectSimpleSourceClipName], {c.scale, c.scale});
      auto limited = makeImage(c.sourceBounds, c.format);
      limited->copyPixelsFrom(*source);
      limited->renderScale = source->renderScale;
      for (int y = c.sourceBounds.y1; y < c.sourceBounds.y2; ++y)
        for (int x = c.sourceBounds.x1; x < c.sourceBounds.x2; ++x) {
          float *alpha = limited->pixel<float>(x, y) + 3;
          const bool inside =
              x >= roi.x1 && x < roi.x2 && y >= roi.y1 && y < roi.y2;
          if (!inside)
            *alpha = std::min(*alpha, 1.0f);
        }
      auto reference = instanceFor(whole_, c, limited);
      ASSERT_TRUE(reference);
      const auto expected = renderInto(*reference, c, frame, {tile});
      const auto got = renderInto(*tiledInstance, c, frame, {tile});
      ASSERT_EQ(firstDifference(*got, *expected), "")
          << "tile (" << tile.x1 << ", " << tile.y1 << ")-(" << tile.x2 << ", "
          << tile.y2 << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothEffects, TiledRender,
                         ::testing::ValuesIn(effectBundles()),
                         [](const auto &info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Outline, TiledOutline, ::testing::Values("Rimlet"),
                         [](const auto &info) { return info.param; });

} // namespace
} // namespace reliability
