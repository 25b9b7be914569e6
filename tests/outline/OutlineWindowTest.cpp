// A render window builds the field only over the part of the destination
// that can change one of its pixels. These tests check the promise that
// comes with it: every pixel of any window is, bit for bit, the pixel the
// whole-frame render gives, and nothing outside the window is touched.
// Pictures, widths, windows and bounds are random (from fixed seeds), with
// the cases that stress the field's reach: float alphas deep enough to
// freeze cells, widths from a tenth of a pixel to 20, windows on the edges,
// one pixel wide, or the whole frame, and sources offset from, smaller or
// larger than the destination.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "EffectHost.h"
#include "OutlineTestFormats.h"
#include "ofxhost/Host.h"

namespace {

using namespace rimlet_test;

constexpr unsigned char kSentinelByte = 0xA5;

using qfx_test::makeImage;

std::string describeRect(const OfxRectI &r) {
  std::ostringstream out;
  out << "(" << r.x1 << ", " << r.y1 << ")-(" << r.x2 << ", " << r.y2 << ")";
  return out.str();
}

// One host with the processor probe for the whole program.
struct ProbeHost {
  static qfx_test::EffectHost &get() {
    static qfx_test::EffectHost host(
        ofxhost::bundlePathIn(QFX_TEST_BUNDLE_DIR, "RimletCoreProbe"));
    return host;
  }
};

struct Scene {
  ofxhost::ImagePtr source; // null: no source image
  OfxRectI dstBounds{0, 0, 0, 0};
  double width = 2.0;
  double red = 1.0, green = 0.5, blue = 0.25;
  int quality = 1;
  // Rows of the processor's strips; 0 lets it choose.
  int stripRows = 0;
};

// An instance of the probe set up for one scene, rendering any window of
// it into a fresh output image.
template <class F> class SceneRenderer {
public:
  explicit SceneRenderer(const Scene &scene) : scene_(scene) {
    qfx_test::EffectHost &probe = ProbeHost::get();
    if (probe.plugin() == nullptr) {
      ADD_FAILURE() << "the probe bundle did not load: " << probe.error();
      return;
    }
    ofxhost::ActionResult created;
    instance_ =
        probe.plugin()->createInstance(kOfxImageEffectContextFilter, &created);
    if (!instance_) {
      ADD_FAILURE() << created.message;
      return;
    }
    if (scene.source)
      instance_->setSource(scene.source);
    instance_->clip(kOfxImageEffectOutputClipName)
        .setFormat(F::kDepth, F::kLayout);
    instance_->param("outlineColor")
        .setValue({scene.red, scene.green, scene.blue, 1.0});
    instance_->param("outlineWidth").setValue({scene.width});
    instance_->param("quality").setValue({static_cast<double>(scene.quality)});
  }

  ofxhost::ImagePtr render(OfxRectI window, unsigned cpus, int stripRows = 0) {
    if (!instance_)
      return nullptr;
    instance_->param("stripRows").setValue({static_cast<double>(stripRows)});
    ProbeHost::get().host().setCpuCount(cpus);
    auto output = makeImage<F>(scene_.dstBounds);
    output->fillBytes(kSentinelByte);
    instance_->setOutput(output);
    ofxhost::RenderRequest request;
    request.window = window;
    const ofxhost::ActionResult rendered = instance_->render(request);
    if (!rendered.ok()) {
      ADD_FAILURE() << F::name() << ": " << rendered.message;
      return nullptr;
    }
    return output;
  }

private:
  Scene scene_;
  std::unique_ptr<ofxhost::Instance> instance_;
};

template <class F>
ofxhost::ImagePtr render(const Scene &scene, OfxRectI window, unsigned cpus,
                         int stripRows = 0) {
  return SceneRenderer<F>(scene).render(window, cpus, stripRows);
}

// Every pixel of the window (inside the destination) equals the whole
// frame's; every other pixel still holds the sentinel.
template <class F>
::testing::AssertionResult windowMatchesWholeFrame(const ofxhost::Image &got,
                                                   const ofxhost::Image &whole,
                                                   OfxRectI window) {
  using PIX = typename F::PIX;
  const OfxRectI b = whole.bounds();
  std::vector<unsigned char> sentinel(sizeof(PIX) * F::kComponents,
                                      kSentinelByte);
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      const PIX *g = got.template pixel<PIX>(x, y);
      const bool inside =
          x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
      const void *expected =
          inside ? static_cast<const void *>(whole.template pixel<PIX>(x, y))
                 : sentinel.data();
      if (std::memcmp(g, expected, sentinel.size()) == 0)
        continue;
      return ::testing::AssertionFailure()
             << F::name() << " pixel (" << x << ", " << y << ") "
             << (inside ? "inside" : "outside") << " the window: got "
             << describePixel(g, F::kComponents) << ", expected "
             << describePixel(static_cast<const PIX *>(expected),
                              F::kComponents);
    }
  return ::testing::AssertionSuccess();
}

// Random pictures: soft discs and hard rectangles of random colour and
// alpha. Floats also get alphas above 1.5 (seeds below the transform's
// threshold, some deep) and below 0 (not covered).
template <class F> class ScenePainter {
public:
  explicit ScenePainter(std::mt19937 &random) : random_(random) {}

  void paint(ofxhost::Image &image) {
    const OfxRectI b = image.bounds();
    const int shapes = uniformInt(0, 7);
    for (int i = 0; i < shapes; ++i) {
      const double alpha = pickAlpha();
      const double r = uniform(0, 1), g = uniform(0, 1), bl = uniform(0, 1);
      const double cx = uniform(b.x1 - 5, b.x2 + 5),
                   cy = uniform(b.y1 - 5, b.y2 + 5);
      const double radius = uniform(0.3, 18);
      const bool disc = uniformInt(0, 1) == 0;
      for (int y = b.y1; y < b.y2; ++y)
        for (int x = b.x1; x < b.x2; ++x) {
          const double dx = x - cx, dy = y - cy;
          double coverage;
          if (disc)
            coverage = std::clamp(radius - std::sqrt(dx * dx + dy * dy) + 0.5,
                                  0.0, 1.0);
          else
            coverage = std::fabs(dx) <= radius && std::fabs(dy) <= radius * 0.6
                           ? 1.0
                           : 0.0;
          if (coverage <= 0)
            continue;
          set(image, x, y, r, g, bl, alpha * coverage);
        }
    }
  }

private:
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<>(lo, hi)(random_);
  }
  int uniformInt(int lo, int hi) {
    return std::uniform_int_distribution<>(lo, hi)(random_);
  }

  double pickAlpha() {
    switch (uniformInt(0, F::kIsFloat ? 5 : 2)) {
    case 0:
      return 1.0;
    case 1:
      return uniform(0.01, 1.0);
    case 2:
      return uniformInt(1, 20) / 20.0;
    case 3:
      return uniform(1.5, 3.0); // just below the threshold
    case 4:
      return uniform(3.0, 12.0); // deep: freezes cells around it
    default:
      return -uniform(0.1, 2.0); // negative: not covered
    }
  }

  static void set(ofxhost::Image &image, int x, int y, double r, double g,
                  double b, double a) {
    auto *p = image.template pixel<typename F::PIX>(x, y);
    if (F::kComponents == 1) {
      p[0] = F::fromUnit(a);
      return;
    }
    const double colourScale = std::clamp(a, 0.0, 1.0);
    p[0] = F::fromUnit(r * colourScale);
    p[1] = F::fromUnit(g * colourScale);
    p[2] = F::fromUnit(b * colourScale);
    p[3] = F::fromUnit(a);
  }

  std::mt19937 &random_;
};

class RandomScenes {
public:
  explicit RandomScenes(unsigned seed) : random_(seed) {}

  int uniformInt(int lo, int hi) {
    return std::uniform_int_distribution<>(lo, hi)(random_);
  }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<>(lo, hi)(random_);
  }

  // Small frames with any width, and now and then a larger frame so that a
  // wide outline's reach still leaves part of the frame out of the field.
  template <class F> Scene next() {
    Scene scene;
    const bool large = uniformInt(0, 4) == 0;
    const int w = large ? uniformInt(120, 220) : uniformInt(1, 70);
    const int h = large ? uniformInt(90, 160) : uniformInt(1, 60);
    const int x0 = uniformInt(-40, 40), y0 = uniformInt(-40, 40);
    scene.dstBounds = {x0, y0, x0 + w, y0 + h};
    scene.width = pickWidth(large);
    scene.red = uniform(0, 1);
    scene.green = uniform(0, 1);
    scene.blue = uniform(0, 1);
    if (uniformInt(0, 9) == 0)
      return scene; // no source image
    // The source may equal the destination, lie inside it, overhang it or
    // cover it with room to spare.
    OfxRectI s = scene.dstBounds;
    switch (uniformInt(0, 3)) {
    case 0:
      break;
    case 1:
      s = {x0 + uniformInt(0, w / 2), y0 + uniformInt(0, h / 2),
           x0 + w - uniformInt(0, w / 3), y0 + h - uniformInt(0, h / 3)};
      break;
    case 2:
      s = {x0 - uniformInt(0, 30), y0 + uniformInt(-20, 20),
           x0 + w + uniformInt(-20, 30), y0 + h + uniformInt(0, 30)};
      break;
    default:
      s = {x0 - 25, y0 - 25, x0 + w + 25, y0 + h + 25};
      break;
    }
    if (s.x1 >= s.x2 || s.y1 >= s.y2)
      s = scene.dstBounds;
    scene.source = makeImage<F>(s);
    ScenePainter<F>(random_).paint(*scene.source);
    return scene;
  }

  // Windows of every kind, clipped or not by the destination.
  OfxRectI window(OfxRectI b) {
    const int w = b.x2 - b.x1, h = b.y2 - b.y1;
    switch (uniformInt(0, 6)) {
    case 0:
      return b;
    case 1: { // one pixel
      const int x = uniformInt(b.x1, b.x2 - 1), y = uniformInt(b.y1, b.y2 - 1);
      return {x, y, x + 1, y + 1};
    }
    case 2: { // along an edge
      const int x = uniformInt(b.x1, b.x2 - 1);
      const int y =
          uniformInt(0, 1) ? b.y1 : b.y2 - std::min(h, uniformInt(1, 6));
      return {x, y, std::min(b.x2, x + uniformInt(1, 40)),
              std::min(b.y2, y + uniformInt(1, 6))};
    }
    case 3: { // in a corner
      const int cw = uniformInt(1, w), ch = uniformInt(1, h);
      const bool right = uniformInt(0, 1), top = uniformInt(0, 1);
      const int x1 = right ? b.x2 - cw : b.x1, y1 = top ? b.y2 - ch : b.y1;
      return {x1, y1, x1 + cw, y1 + ch};
    }
    case 4: // reaching beyond the destination
      return {b.x1 - uniformInt(0, 10), b.y1 + uniformInt(0, h - 1),
              b.x2 + uniformInt(0, 10), b.y2 + uniformInt(0, 10)};
    case 5: { // a single row or column
      if (uniformInt(0, 1)) {
        const int y = uniformInt(b.y1, b.y2 - 1);
        return {b.x1, y, b.x2, y + 1};
      }
      const int x = uniformInt(b.x1, b.x2 - 1);
      return {x, b.y1, x + 1, b.y2};
    }
    default: {
      const int x1 = uniformInt(b.x1, b.x2 - 1),
                y1 = uniformInt(b.y1, b.y2 - 1);
      return {x1, y1, uniformInt(x1 + 1, b.x2), uniformInt(y1 + 1, b.y2)};
    }
    }
  }

private:
  double pickWidth(bool large) {
    static const double kWidths[] = {0.1, 0.5, 1.0, 2.0, 3.0, 4.0, 20.0};
    if (uniformInt(0, 2) == 0)
      return kWidths[uniformInt(0, 6)];
    return large ? uniform(0.1, 20.0) : uniform(0.1, 6.0);
  }

  std::mt19937 random_;
};

template <class F> class WindowAllFormats : public ::testing::Test {};
TYPED_TEST_SUITE(WindowAllFormats, AllFormats, FormatNames);

TYPED_TEST(WindowAllFormats, EveryWindowPixelEqualsTheWholeFrame) {
  using F = TypeParam;
  RandomScenes random(20261208u + F::kComponents * 7 + sizeof(typename F::PIX));
  // Drawn apart, so that the scenes and windows stay what they were.
  RandomScenes strips(7u + F::kComponents);
  constexpr int kScenes = 14;
  constexpr int kWindowsPerScene = 6;
  for (int s = 0; s < kScenes; ++s) {
    Scene scene = random.template next<F>();
    for (int quality : {0, 1, 2}) {
      scene.quality = quality;
      SceneRenderer<F> renderer(scene);
      const auto whole = renderer.render(scene.dstBounds, 1);
      ASSERT_TRUE(whole);
      for (int i = 0; i < kWindowsPerScene; ++i) {
        const OfxRectI window = random.window(scene.dstBounds);
        const unsigned cpus = static_cast<unsigned>(random.uniformInt(1, 3));
        // Strips of the processor's choice, of one row, shorter than the
        // reach, or longer than the frame.
        const int stripRows = strips.uniformInt(0, 3) == 0 ? 0
                              : strips.uniformInt(0, 1) == 0
                                  ? strips.uniformInt(1, 4)
                                  : strips.uniformInt(5, 300);
        const auto got = renderer.render(window, cpus, stripRows);
        ASSERT_TRUE(got);
        ASSERT_TRUE(windowMatchesWholeFrame<F>(*got, *whole, window))
            << "scene " << s << ", quality " << quality << ", width "
            << scene.width << ", destination " << describeRect(scene.dstBounds)
            << ", source "
            << (scene.source ? describeRect(scene.source->bounds()) : "none")
            << ", window " << describeRect(window) << ", " << cpus
            << " CPUs, strips of " << stripRows << " rows";
      }
    }
  }
}

template <class F> class WindowRgbaFormats : public ::testing::Test {};
TYPED_TEST_SUITE(WindowRgbaFormats, RgbaFormats, FormatNames);

// One covered pixel, and one-pixel windows at every distance from it along
// its row, its column and its diagonal, both ways: the windows at the edge
// of the outline's reach are the ones a too-small field would get wrong.
TYPED_TEST(WindowRgbaFormats, OnePixelWindowsAtEveryDistanceFromAShape) {
  using F = TypeParam;
  const OfxRectI bounds{0, 0, 61, 61};
  const int centre = 30;
  const std::vector<double> alphas = F::kIsFloat
                                         ? std::vector<double>{0.6, 2.5, 6.0}
                                         : std::vector<double>{1.0, 0.6};
  for (double alpha : alphas)
    for (double width : {0.1, 2.5, 6.5}) {
      Scene scene;
      scene.dstBounds = bounds;
      scene.width = width;
      scene.source = makeImage<F>(bounds);
      auto *p = scene.source->template pixel<typename F::PIX>(centre, centre);
      p[0] = p[1] = p[2] = F::fromUnit(std::min(alpha, 1.0));
      p[3] = F::fromUnit(alpha);
      for (int quality : {0, 1, 2}) {
        scene.quality = quality;
        SceneRenderer<F> renderer(scene);
        const auto whole = renderer.render(bounds, 1);
        ASSERT_TRUE(whole);
        for (int d = -centre; d <= centre; ++d)
          for (auto [dx, dy] : {std::pair{1, 0}, {0, 1}, {1, 1}}) {
            const int x = centre + d * dx, y = centre + d * dy;
            const OfxRectI window{x, y, x + 1, y + 1};
            const auto got = renderer.render(window, 1);
            ASSERT_TRUE(got);
            ASSERT_TRUE(windowMatchesWholeFrame<F>(*got, *whole, window))
                << "alpha " << alpha << ", width " << width << ", quality "
                << quality << ", window " << describeRect(window);
          }
      }
    }
}

// A shape outside a small window, but inside the destination, still
// outlines the window: here a deep float seed well away from it, whose
// reach only the source's own alphas reveal.
TEST(WindowFloat, DeepSeedOutsideTheWindowStillReachesIt) {
  using F = FloatRGBA;
  Scene scene;
  scene.dstBounds = {0, 0, 200, 40};
  scene.source = makeImage<F>(scene.dstBounds);
  auto *deep = scene.source->pixel<float>(20, 20);
  deep[0] = deep[1] = deep[2] = 1.0f;
  deep[3] = 40.0f; // seed -80: the outline spreads about 80 pixels
  scene.width = 2.0;
  for (int quality : {1, 2}) {
    scene.quality = quality;
    const auto whole = render<F>(scene, scene.dstBounds, 1);
    ASSERT_TRUE(whole);
    // 78 pixels from the seed: the field is -2 there, fully in the outline.
    EXPECT_EQ(whole->pixel<float>(98, 20)[3], 1.0f) << "quality " << quality;
    // The seed's reach is longer than the frame: strips of any height.
    for (const OfxRectI window : {OfxRectI{97, 18, 100, 22}, scene.dstBounds})
      for (int stripRows : {0, 1, 3}) {
        const auto got = render<F>(scene, window, 2, stripRows);
        ASSERT_TRUE(got);
        EXPECT_TRUE(windowMatchesWholeFrame<F>(*got, *whole, window))
            << "quality " << quality << ", window " << describeRect(window)
            << ", strips of " << stripRows << " rows";
      }
  }
}

} // namespace
