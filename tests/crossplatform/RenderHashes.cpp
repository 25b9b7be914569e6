// qfx-render-hashes BUNDLE_DIR
//
// Renders a fixed table of cases through both effect bundles in BUNDLE_DIR
// and prints one line per case: its name and a hash of the output's pixels.
// Built for Linux and for Windows from this one source, it is run on both,
// and the two listings must be the same line for line: an effect that
// renders one bit differently on another system is a bug, whatever its
// size. The pictures come from integer arithmetic alone, so that nothing
// but the effects themselves could make the two listings differ.
#include "EffectHost.h"
#include "GradientNames.h"
#include "OutlineNames.h"
#include "ofxhost/Host.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using ofxhost::BitDepth;
using ofxhost::Components;

struct Format {
  const char *name;
  BitDepth depth;
  Components components;
};

const Format kFormats[] = {{"ByteRGBA", BitDepth::Byte, Components::RGBA},
                           {"ShortRGBA", BitDepth::Short, Components::RGBA},
                           {"FloatRGBA", BitDepth::Float, Components::RGBA},
                           {"ByteAlpha", BitDepth::Byte, Components::Alpha},
                           {"ShortAlpha", BitDepth::Short, Components::Alpha},
                           {"FloatAlpha", BitDepth::Float, Components::Alpha}};

using Params = std::vector<std::pair<std::string, std::vector<double>>>;

struct Setting {
  const char *bundle;
  const char *name;
  Params params;
};

std::vector<Setting> settings() {
  namespace on = rimlet::names;
  namespace gr = tintrow::names;
  std::vector<Setting> all;
  const char *qualities[] = {"Draft", "Good", "Best"};
  for (int quality = 0; quality < 3; ++quality)
    all.push_back({"Rimlet",
                   qualities[quality],
                   {{on::kOutlineWidth, {3.7}},
                    {on::kQuality, {double(quality)}},
                    {on::kOutlineColor, {0.9, 0.35, 0.1, 1.0}}}});
  const char *types[] = {"Linear", "Radial"};
  for (int type = 0; type < 2; ++type)
    all.push_back({"Tintrow",
                   types[type],
                   {{gr::kStartColor, {0.1, 0.8, 0.3, 1.0}},
                    {gr::kEndColor, {0.7, 0.2, 0.9, 0.5}},
                    {gr::kStartPosition, {0.2, -0.1}},
                    {gr::kEndPosition, {0.9, 1.3}},
                    {gr::kGradientType, {double(type)}}}});
  return all;
}

// A small deterministic generator (splitmix64).
struct Noise {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % std::uint64_t(n)); }
};

// Stores level / 255 in component c of pixel (x, y); float images get the
// exact quotient, integer ones the level scaled to their full range.
void store(ofxhost::Image &image, int x, int y, int c, int level) {
  void *pixel = image.pixelAddress(x, y);
  switch (image.depth()) {
  case BitDepth::Byte:
    static_cast<std::uint8_t *>(pixel)[c] = static_cast<std::uint8_t>(level);
    return;
  case BitDepth::Short:
    static_cast<std::uint16_t *>(pixel)[c] =
        static_cast<std::uint16_t>(level * 257);
    return;
  case BitDepth::Float:
    static_cast<float *>(pixel)[c] = static_cast<float>(level) / 255.0f;
    return;
  default:
    return;
  }
}

// Solid discs and bars with soft rims and scattered specks: edges of every
// alpha for the outline, and every alpha for the gradient's weighting.
void paint(ofxhost::Image &image, std::uint64_t seed) {
  Noise noise{seed};
  const OfxRectI b = image.bounds();
  const int n = ofxhost::componentCount(image.components());
  struct Disc {
    int x, y, r2;
  };
  std::vector<Disc> discs;
  for (int i = 0; i < 4; ++i) {
    const int r = 2 + noise.below(image.width() / 4 + 1);
    discs.push_back({b.x1 + noise.below(image.width()),
                     b.y1 + noise.below(image.height()), r * r});
  }
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      int alpha = noise.below(19) == 0 ? noise.below(256) : 0;
      for (const Disc &d : discs) {
        const int d2 = (x - d.x) * (x - d.x) + (y - d.y) * (y - d.y);
        if (d2 <= d.r2)
          alpha = 255;
        else if (d2 <= d.r2 + 6 * d.r2 / 10 + 4)
          alpha = std::max(alpha, 255 - (d2 - d.r2) * 200 / (d.r2 + 4));
      }
      if ((x - b.x1) % 17 < 3 && (y - b.y1) % 11 < 7)
        alpha = 255;
      if (n == 1) {
        store(image, x, y, 0, alpha);
        continue;
      }
      for (int c = 0; c < 3; ++c)
        store(image, x, y, c, alpha * noise.below(256) / 255);
      store(image, x, y, 3, alpha);
    }
  }
}

// FNV-1a over the pixels of every row, without row padding.
std::uint64_t hashPixels(const ofxhost::Image &image) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  const OfxRectI b = image.bounds();
  const std::size_t rowBytes =
      static_cast<std::size_t>(image.width()) * image.pixelBytes();
  for (int y = b.y1; y < b.y2; ++y) {
    const auto *row =
        static_cast<const unsigned char *>(image.pixelAddress(b.x1, y));
    for (std::size_t i = 0; i < rowBytes; ++i) {
      hash ^= row[i];
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

// The window cut into tiles of uneven sizes, rows and columns alike.
std::vector<OfxRectI> tilesOf(const OfxRectI &window) {
  const int cuts[] = {0, 13, 40, 41, 77, 1 << 20};
  std::vector<OfxRectI> tiles;
  for (int j = 0; j + 1 < 6; ++j)
    for (int i = 0; i + 1 < 6; ++i) {
      OfxRectI t{window.x1 + cuts[i], window.y1 + cuts[j],
                 std::min(window.x2, window.x1 + cuts[i + 1]),
                 std::min(window.y2, window.y1 + cuts[j + 1])};
      if (t.x1 < t.x2 && t.y1 < t.y2)
        tiles.push_back(t);
    }
  return tiles;
}

// One case: the render's hash, or an error message in `error`.
std::uint64_t renderCase(const std::string &bundleDir, const Setting &setting,
                         const Format &format, double scale, bool tiled,
                         std::string &error) {
  ofxhost::HostOptions options = qfx_test::isolatedOptions(2);
  options.imagePolicy =
      tiled ? ofxhost::ImagePolicy::Requested : ofxhost::ImagePolicy::Whole;
  qfx_test::EffectHost host(ofxhost::bundlePathIn(bundleDir, setting.bundle),
                            options);
  auto instance = host.createFilter();
  if (!instance) {
    error = host.error();
    return 0;
  }
  for (const auto &[name, value] : setting.params)
    instance->param(name).setValue(value);
  const OfxRectI sourceBounds =
      scale == 1.0 ? OfxRectI{-11, 7, 120, 101} : OfxRectI{-6, 3, 60, 51};
  auto source = std::make_shared<ofxhost::Image>(sourceBounds, format.depth,
                                                 format.components);
  source->renderScale = {scale, scale};
  paint(*source, 20261209);
  instance->setSource(source);

  OfxRectD rod{};
  if (!instance->regionOfDefinition(0.0, {scale, scale}, rod).ok()) {
    error = "no region of definition";
    return 0;
  }
  const OfxRectI frame = ofxhost::canonicalToPixels(rod, {scale, scale});
  auto output =
      std::make_shared<ofxhost::Image>(frame, format.depth, format.components);
  output->fillBytes(0x5a);
  output->renderScale = {scale, scale};
  instance->setOutput(output);
  const std::vector<OfxRectI> windows =
      tiled ? tilesOf(frame) : std::vector<OfxRectI>{frame};
  for (const OfxRectI &window : windows) {
    ofxhost::RenderRequest request;
    request.window = window;
    request.scale = {scale, scale};
    const ofxhost::ActionResult result = instance->render(request);
    if (!result.ok()) {
      error = result.message;
      return 0;
    }
  }
  instance->setOutput(nullptr);
  return hashPixels(*output);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qfx-render-hashes BUNDLE_DIR\n");
    return 2;
  }
  int failures = 0;
  for (const Setting &setting : settings())
    for (const Format &format : kFormats)
      for (double scale : {1.0, 0.5})
        for (bool tiled : {false, true}) {
          std::string error;
          const std::uint64_t hash =
              renderCase(argv[1], setting, format, scale, tiled, error);
          std::printf("%s %s %s scale %.1f %s ", setting.bundle, setting.name,
                      format.name, scale, tiled ? "tiled" : "whole");
          if (!error.empty()) {
            std::printf("failed: %s\n", error.c_str());
            ++failures;
            continue;
          }
          std::printf("%016llx\n", static_cast<unsigned long long>(hash));
        }
  return failures == 0 ? 0 : 1;
}
