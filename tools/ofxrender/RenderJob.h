// The render command: reads each input, renders it through one instance of
// the plug-in and writes each output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxrender {

struct RenderSettings {
  std::string plugin;
  std::string input;
  std::string output;
  std::vector<std::string> sets;     // NAME=VALUE
  std::vector<std::string> keys;     // NAME@TIME=VALUE
  std::optional<double> time;        // default 0
  std::optional<std::string> frames; // "A-B" or a list "1-10,15,20-30x2"
  double scale = 1.0;
  std::optional<std::string> window; // "X1,Y1,X2,Y2"
  int tiles = 1;                     // N x N
  // What each render is handed: the whole images, or only the regions it
  // needs, as a host that tiles would.
  ofxhost::ImagePolicy images = ofxhost::ImagePolicy::Whole;
  unsigned threads = 0; // 0: all CPUs
  std::string depth;    // "", "byte", "short", "float"
  bool alphaOnly = false;
  bool crop = false;
  bool overscan = false;  // the whole region of definition in every format
  bool noClobber = false; // refuse existing outputs
  std::string outputType; // "", "half", "float": EXR pixel type
  std::string channels;   // "", a layer name or a list "R,G,B,A"
  std::vector<std::string> pluginPaths;
  bool verbose = false;
  // Check everything up to the pixels and print the frames; render nothing.
  bool dryRun = false;
  std::string compression; // "": the input's, in the same format
  int quality = 0;         // JPEG; 0: the default
  // Leave outputs that exist as they are and render only the others.
  bool skipExisting = false;
};

// Throws a ToolError on failure; nothing is left at an output path whose
// frame failed.
void runRender(const RenderSettings &settings);

// "X1,Y1,X2,Y2" in pixels; throws a usage ToolError unless x1 < x2, y1 < y2.
OfxRectI parseWindow(const std::string &text);

// The pixel bounds covering a region of definition at a render scale and
// pixel aspect ratio, rounded outward (with a small tolerance so that
// W / S * S stays W).
OfxRectI pixelBounds(const OfxRectD &rod, double scale,
                     double pixelAspectRatio = 1.0);

using ofxhost::splitIntoTiles;

} // namespace ofxrender
