// Draws the demo's sample picture and lays out contact sheets for the README.
//
//   qfx-demo-pictures inputs DIR
//       writes DIR/sample.png (8-bit), DIR/sample16.tif (16-bit) and
//       DIR/samplef.exr (float): one RGBA picture of anti-aliased shapes and
//       text on transparency. Everything is drawn here from geometry, so the
//       files come out the same on every machine (no fonts involved).
//   qfx-demo-pictures sheet OUT IN...
//       puts the pictures side by side over a checkerboard (so transparency
//       shows) and writes OUT, an 8-bit PNG.
//   qfx-demo-pictures icon outline|gradient OUT.png [OUT.svg]
//       draws an effect's 128 x 128 icon, the picture hosts show beside its
//       name: an outlined letter for the outline, a two-colour ramp for the
//       gradient. The SVG is the same drawing as vector shapes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

namespace {

const double kPi = 3.14159265358979323846;

struct Point {
  double x, y;
};

struct Colour {
  float r, g, b, a; // unpremultiplied
};

// A premultiplied float RGBA canvas, row 0 at the top.
class Canvas {
public:
  Canvas(int width, int height)
      : width_(width), height_(height), pixels_(width * height * 4, 0.0f) {}

  int width() const { return width_; }
  int height() const { return height_; }
  float *pixel(int x, int y) { return &pixels_[(y * width_ + x) * 4]; }
  const std::vector<float> &pixels() const { return pixels_; }

  // Lays colour over the canvas with coverage(x, y) in 0..1 at pixel centres.
  template <class Coverage>
  void paint(const Colour &colour, Coverage coverage) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const double c = coverage(x + 0.5, y + 0.5);
        if (c <= 0.0)
          continue;
        const float a = static_cast<float>(std::min(c, 1.0)) * colour.a;
        float *p = pixel(x, y);
        p[0] = colour.r * a + p[0] * (1 - a);
        p[1] = colour.g * a + p[1] * (1 - a);
        p[2] = colour.b * a + p[2] * (1 - a);
        p[3] = a + p[3] * (1 - a);
      }
  }

private:
  int width_, height_;
  std::vector<float> pixels_;
};

// Coverage of a shape from its signed distance: a one-pixel ramp.
double fromDistance(double signedDistance) {
  return std::clamp(0.5 - signedDistance, 0.0, 1.0);
}

double segmentDistance(Point p, Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = p.x - (a.x + t * dx), ey = p.y - (a.y + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

// ------------------------------------------------------------ stroke font

using Stroke = std::vector<Point>; // a polyline in glyph units, y up
using Glyph = std::vector<Stroke>;

Stroke arc(Point centre, double rx, double ry, double fromDeg, double toDeg) {
  Stroke stroke;
  const int steps = 40;
  for (int i = 0; i <= steps; ++i) {
    const double t = (fromDeg + (toDeg - fromDeg) * i / steps) * kPi / 180;
    stroke.push_back(
        {centre.x + rx * std::cos(t), centre.y + ry * std::sin(t)});
  }
  return stroke;
}

// Glyphs 0.6 wide and 1 high, baseline at y = 0.
Glyph glyphFor(char c) {
  switch (c) {
  case 'O':
    return {arc({0.3, 0.5}, 0.3, 0.5, 0, 360)};
  case 'F':
    return {{{0, 0}, {0, 1}, {0.55, 1}}, {{0, 0.52}, {0.42, 0.52}}};
  case 'X':
    return {{{0, 0}, {0.6, 1}}, {{0, 1}, {0.6, 0}}};
  case 'D': {
    Stroke bowl = arc({0.22, 0.5}, 0.38, 0.5, 90, -90);
    bowl.insert(bowl.begin(), {0, 1});
    bowl.push_back({0, 0});
    bowl.push_back({0, 1});
    return {bowl};
  }
  case 'E':
    return {{{0.55, 1}, {0, 1}, {0, 0}, {0.55, 0}}, {{0, 0.52}, {0.45, 0.52}}};
  case 'M':
    return {{{0, 0}, {0, 1}, {0.3, 0.42}, {0.6, 1}, {0.6, 0}}};
  case 'Q':
    return {arc({0.3, 0.5}, 0.3, 0.5, 0, 360), {{0.36, 0.2}, {0.62, -0.08}}};
  default:
    return {};
  }
}

// Segments of a line of text in pixels: top-left origin, y down.
std::vector<std::pair<Point, Point>> layoutText(const std::string &text,
                                                Point baseline, double size) {
  std::vector<std::pair<Point, Point>> segments;
  double x = baseline.x;
  for (char c : text) {
    for (const Stroke &stroke : glyphFor(c))
      for (size_t i = 1; i < stroke.size(); ++i) {
        const Point a{x + stroke[i - 1].x * size,
                      baseline.y - stroke[i - 1].y * size};
        const Point b{x + stroke[i].x * size, baseline.y - stroke[i].y * size};
        segments.push_back({a, b});
      }
    x += (c == ' ' ? 0.45 : 0.85) * size;
  }
  return segments;
}

// ------------------------------------------------------------ the picture

Canvas drawSample() {
  Canvas canvas(480, 270);

  // A solid disc.
  canvas.paint({1.0f, 0.55f, 0.1f, 1.0f}, [](double x, double y) {
    return fromDistance(std::hypot(x - 90, y - 88) - 55);
  });

  // A translucent rounded rectangle overlapping it.
  canvas.paint({0.1f, 0.7f, 0.75f, 0.7f}, [](double x, double y) {
    const double cx = 200, cy = 80, hw = 70, hh = 45, r = 16;
    const double qx = std::fabs(x - cx) - (hw - r);
    const double qy = std::fabs(y - cy) - (hh - r);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return fromDistance(outside + std::min(std::max(qx, qy), 0.0) - r);
  });

  // A triangle.
  canvas.paint({0.6f, 0.3f, 0.9f, 1.0f}, [](double x, double y) {
    const Point v[3] = {{385, 30}, {450, 140}, {320, 140}};
    double distance = 1e9;
    bool inside = true;
    for (int i = 0; i < 3; ++i) {
      const Point a = v[i], b = v[(i + 1) % 3];
      distance = std::min(distance, segmentDistance({x, y}, a, b));
      const double cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
      inside = inside && cross >= 0;
    }
    return fromDistance(inside ? -distance : distance);
  });

  // A ring.
  canvas.paint({0.95f, 0.85f, 0.2f, 1.0f}, [](double x, double y) {
    return fromDistance(std::fabs(std::hypot(x - 300, y - 165) - 22) - 5);
  });

  // Text, drawn as strokes with round ends.
  const auto segments = layoutText("OFX DEMO", {28, 232}, 50);
  canvas.paint({0.97f, 0.97f, 1.0f, 1.0f}, [&](double x, double y) {
    if (y < 170 || y > 240)
      return 0.0;
    double distance = 1e9;
    for (const auto &[a, b] : segments)
      distance = std::min(distance, segmentDistance({x, y}, a, b));
    return fromDistance(distance - 3.5);
  });

  // A bar whose alpha ramps from 0 to 1, for premultiplication checks.
  canvas.paint({0.3f, 0.6f, 1.0f, 1.0f}, [](double x, double y) {
    if (y < 250 || y > 262 || x < 20 || x > 460)
      return 0.0;
    return (x - 20) / 440;
  });
  return canvas;
}

bool writeImage(const std::string &path, const Canvas &canvas,
                OIIO::TypeDesc type, const char *compression) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), OIIO::geterror().c_str());
    return false;
  }
  OIIO::ImageSpec spec(canvas.width(), canvas.height(), 4, type);
  if (compression)
    spec.attribute("compression", compression);
  if (!out->open(path, spec) ||
      !out->write_image(OIIO::TypeDesc::FLOAT, canvas.pixels().data()) ||
      !out->close()) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), out->geterror().c_str());
    return false;
  }
  return true;
}

int writeInputs(const std::string &dir) {
  const Canvas sample = drawSample();
  const bool ok =
      writeImage(dir + "/sample.png", sample, OIIO::TypeDesc::UINT8, nullptr) &&
      writeImage(dir + "/sample16.tif", sample, OIIO::TypeDesc::UINT16,
                 "zip") &&
      writeImage(dir + "/samplef.exr", sample, OIIO::TypeDesc::FLOAT, "zip");
  return ok ? 0 : 1;
}

// ------------------------------------------------------------ contact sheet

bool readRgba(const std::string &path, int &width, int &height,
              std::vector<float> &rgba) {
  auto in = OIIO::ImageInput::open(path);
  if (!in) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), OIIO::geterror().c_str());
    return false;
  }
  const OIIO::ImageSpec &spec = in->spec();
  width = spec.width;
  height = spec.height;
  std::vector<float> file(static_cast<size_t>(width) * height * spec.nchannels);
  if (!in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT,
                      file.data())) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), in->geterror().c_str());
    return false;
  }
  rgba.assign(static_cast<size_t>(width) * height * 4, 1.0f);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    const float *p = &file[i * spec.nchannels];
    for (int c = 0; c < 3; ++c)
      rgba[i * 4 + c] = p[std::min(c, spec.nchannels - 1)];
    if (spec.nchannels == 4 || spec.nchannels == 2)
      rgba[i * 4 + 3] = p[spec.nchannels - 1];
  }
  return true;
}

int writeSheet(const std::string &outPath,
               const std::vector<std::string> &inputs) {
  const int gap = 8;
  std::vector<std::vector<float>> pictures(inputs.size());
  std::vector<int> widths(inputs.size()), heights(inputs.size());
  int total = gap, tallest = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!readRgba(inputs[i], widths[i], heights[i], pictures[i]))
      return 1;
    total += widths[i] + gap;
    tallest = std::max(tallest, heights[i]);
  }
  Canvas sheet(total, tallest + 2 * gap);
  for (int y = 0; y < sheet.height(); ++y)
    for (int x = 0; x < sheet.width(); ++x) {
      const float grey = ((x / 12 + y / 12) % 2) ? 0.62f : 0.78f;
      float *p = sheet.pixel(x, y);
      p[0] = p[1] = p[2] = grey;
      p[3] = 1.0f;
    }
  int left = gap;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const int top = gap + (tallest - heights[i]) / 2;
    for (int y = 0; y < heights[i]; ++y)
      for (int x = 0; x < widths[i]; ++x) {
        const float *src = &pictures[i][(y * widths[i] + x) * 4];
        float *dst = sheet.pixel(left + x, top + y);
        for (int c = 0; c < 3; ++c) // premultiplied over
          dst[c] = src[c] + dst[c] * (1 - src[3]);
      }
    left += widths[i] + gap;
  }
  return writeImage(outPath, sheet, OIIO::TypeDesc::UINT8, nullptr) ? 0 : 1;
}

// ------------------------------------------------------------ icons

const int kIconSize = 128;

// Both icons are described once as shapes and drawn twice, into pixels for
// the PNG and as SVG elements, so the two files always agree.

struct OutlineIcon {
  std::vector<std::pair<Point, Point>> segments; // the letter's strokes
  double strokeRadius;                           // half the letter's weight
  double outlineWidth;                           // around the letter
  Colour letter, outline;
};

OutlineIcon outlineIcon() {
  // A 'Q' 88 pixels high, centred; its tail reaches below the baseline.
  const double size = 88;
  const double left = (kIconSize - 0.62 * size) / 2;
  const double baseline = kIconSize / 2.0 + size / 2 - 4;
  return {layoutText("Q", {left, baseline}, size),
          7.0,
          6.0,
          {1.0f, 1.0f, 1.0f, 1.0f},
          {0.92f, 0.16f, 0.12f, 1.0f}};
}

struct GradientIcon {
  double inset, cornerRadius; // a rounded square
  Point from, to;             // where the ramp starts and ends
  Colour start, end;
};

GradientIcon gradientIcon() {
  return {8,
          18,
          {8, 120},
          {120, 8},
          {1.0f, 0.78f, 0.1f, 1.0f},
          {0.45f, 0.1f, 0.85f, 1.0f}};
}

double strokeDistance(const OutlineIcon &icon, double x, double y) {
  double distance = 1e9;
  for (const auto &[a, b] : icon.segments)
    distance = std::min(distance, segmentDistance({x, y}, a, b));
  return distance;
}

Canvas drawOutlineIcon() {
  const OutlineIcon icon = outlineIcon();
  Canvas canvas(kIconSize, kIconSize);
  canvas.paint(icon.outline, [&](double x, double y) {
    return fromDistance(strokeDistance(icon, x, y) - icon.strokeRadius -
                        icon.outlineWidth);
  });
  canvas.paint(icon.letter, [&](double x, double y) {
    return fromDistance(strokeDistance(icon, x, y) - icon.strokeRadius);
  });
  return canvas;
}

double roundedSquareDistance(const GradientIcon &icon, double x, double y) {
  const double half = kIconSize / 2.0 - icon.inset, r = icon.cornerRadius;
  const double qx = std::fabs(x - kIconSize / 2.0) - (half - r);
  const double qy = std::fabs(y - kIconSize / 2.0) - (half - r);
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  return outside + std::min(std::max(qx, qy), 0.0) - r;
}

Canvas drawGradientIcon() {
  const GradientIcon icon = gradientIcon();
  Canvas canvas(kIconSize, kIconSize);
  const double dx = icon.to.x - icon.from.x, dy = icon.to.y - icon.from.y;
  const double length2 = dx * dx + dy * dy;
  // paint() lays one colour, and the ramp's changes from pixel to pixel, so
  // each pixel is written here: the ramp's colour at the square's coverage.
  for (int y = 0; y < kIconSize; ++y)
    for (int x = 0; x < kIconSize; ++x) {
      const double px = x + 0.5, py = y + 0.5;
      const double coverage = fromDistance(roundedSquareDistance(icon, px, py));
      if (coverage <= 0)
        continue;
      const double t = std::clamp(
          ((px - icon.from.x) * dx + (py - icon.from.y) * dy) / length2, 0.0,
          1.0);
      const auto mix = [t](float a, float b) {
        return static_cast<float>(a + (b - a) * t);
      };
      const float a = static_cast<float>(coverage);
      float *p = canvas.pixel(x, y);
      p[0] = mix(icon.start.r, icon.end.r) * a;
      p[1] = mix(icon.start.g, icon.end.g) * a;
      p[2] = mix(icon.start.b, icon.end.b) * a;
      p[3] = a;
    }
  return canvas;
}

std::string svgColour(const Colour &colour) {
  char text[8];
  const auto byte = [](float v) {
    return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255));
  };
  std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(colour.r),
                byte(colour.g), byte(colour.b));
  return text;
}

std::string svgNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string svgOpen() {
  const std::string size = std::to_string(kIconSize);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size +
         "\" height=\"" + size + "\" viewBox=\"0 0 " + size + " " + size +
         "\">\n";
}

// The letter as round-capped strokes: once wide in the outline colour, then
// at its own weight on top, the same construction as the pixels'.
std::string outlineIconSvg() {
  const OutlineIcon icon = outlineIcon();
  std::string path;
  Point end{-1, -1};
  for (const auto &[a, b] : icon.segments) {
    if (a.x != end.x || a.y != end.y) // a new stroke, not the next segment
      path += "M" + svgNumber(a.x) + " " + svgNumber(a.y);
    path += "L" + svgNumber(b.x) + " " + svgNumber(b.y);
    end = b;
  }
  const auto stroke = [&](const Colour &colour, double radius) {
    return "  <path d=\"" + path + "\" fill=\"none\" stroke=\"" +
           svgColour(colour) + "\" stroke-width=\"" + svgNumber(2 * radius) +
           "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
  };
  return svgOpen() +
         stroke(icon.outline, icon.strokeRadius + icon.outlineWidth) +
         stroke(icon.letter, icon.strokeRadius) + "</svg>\n";
}

std::string gradientIconSvg() {
  const GradientIcon icon = gradientIcon();
  const double side = kIconSize - 2 * icon.inset;
  return svgOpen() +
         "  <defs>\n    <linearGradient id=\"ramp\" "
         "gradientUnits=\"userSpaceOnUse\" x1=\"" +
         svgNumber(icon.from.x) + "\" y1=\"" + svgNumber(icon.from.y) +
         "\" x2=\"" + svgNumber(icon.to.x) + "\" y2=\"" + svgNumber(icon.to.y) +
         "\">\n      <stop offset=\"0\" stop-color=\"" + svgColour(icon.start) +
         "\"/>\n      <stop offset=\"1\" stop-color=\"" + svgColour(icon.end) +
         "\"/>\n    </linearGradient>\n  </defs>\n" + "  <rect x=\"" +
         svgNumber(icon.inset) + "\" y=\"" + svgNumber(icon.inset) +
         "\" width=\"" + svgNumber(side) + "\" height=\"" + svgNumber(side) +
         "\" rx=\"" + svgNumber(icon.cornerRadius) +
         "\" fill=\"url(#ramp)\"/>\n</svg>\n";
}

bool writeText(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (out)
    return true;
  std::fprintf(stderr, "%s: cannot write\n", path.c_str());
  return false;
}

int writeIcon(const std::string &effect, const std::string &pngPath,
              const std::string &svgPath) {
  const bool outline = effect == "outline";
  if (!outline && effect != "gradient") {
    std::fprintf(stderr, "qfx-demo-pictures: no icon for '%s'\n",
                 effect.c_str());
    return 2;
  }
  const Canvas canvas = outline ? drawOutlineIcon() : drawGradientIcon();
  if (!writeImage(pngPath, canvas, OIIO::TypeDesc::UINT8, nullptr))
    return 1;
  if (svgPath.empty())
    return 0;
  return writeText(svgPath, outline ? outlineIconSvg() : gradientIconSvg()) ? 0
                                                                            : 1;
}

} // namespace

int main(int argc, char **argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "inputs" && argc == 3)
    return writeInputs(argv[2]);
  if (command == "sheet" && argc >= 4)
    return writeSheet(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  if (command == "icon" && (argc == 4 || argc == 5))
    return writeIcon(argv[2], argv[3], argc == 5 ? argv[4] : "");
  std::fprintf(stderr, "usage: qfx-demo-pictures inputs DIR\n"
                       "       qfx-demo-pictures sheet OUT IN...\n"
                       "       qfx-demo-pictures icon outline|gradient OUT.png "
                       "[OUT.svg]\n");
  return 2;
}
