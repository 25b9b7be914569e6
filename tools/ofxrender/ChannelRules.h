// How a file's channels become an image's and back (the rules ImageFile.h
// states): which of a file's channels are read, how they fill RGBA or
// alpha-only pixels, and which channels an output file gets.
#pragma once

#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "ofxhost/Host.h"

namespace ofxrender {

// The file channels read, in the order grey[, alpha] or R, G, B[, A], for a
// --channels request ("" for the file's own; see ReadRequest). Throws a
// file ToolError for a channel the file lacks or a file whose colour
// channels cannot be told, a usage ToolError for more than four names.
std::vector<int> pickChannels(const std::string &path,
                              const OIIO::ImageSpec &spec,
                              const std::string &request);

// What becomes of each of a file's channels in a render.
struct ChannelPlan {
  std::vector<int> picked; // read into the image, as pickChannels returns
  // A lone channel named A or alpha: transparent black of that coverage.
  bool loneAlpha = false;
  // The output channels the image's channels (RGBA, or A) are written to,
  // or empty for the plain names R, G, B, A.
  std::vector<std::string> renderedNames;
  std::vector<int> kept; // passed through to the output unchanged
};

// The plan for a --channels request and alpha-only renders. Throws as
// pickChannels does, and a file ToolError for an alpha-only render of a
// file without alpha.
ChannelPlan planChannels(const std::string &path, const OIIO::ImageSpec &spec,
                         const std::string &request, bool alphaOnly);

// Of pixels read as span channels starting at channel first, the picked
// channels, packed in the picked order.
std::vector<unsigned char> gatherChannels(std::vector<unsigned char> pixels,
                                          int span,
                                          const std::vector<int> &picked,
                                          int first, size_t componentBytes);

// Premultiplies, in place, every channel of pixels of `channels` channels
// of the depth's component type by the channel at alphaIndex, rounded to
// the nearest value the type holds.
void premultiply(std::vector<unsigned char> &pixels, int channels,
                 int alphaIndex, ofxhost::BitDepth depth);

// Fills image from top-down file pixels of nch channels (grey[, alpha] or
// R, G, B[, A], or a lone alpha) of the image's component type.
void fillFromFile(const std::vector<unsigned char> &fileBytes, int nch,
                  bool loneAlpha, ofxhost::Image &image);

// The channels an output file holds.
struct FileChannels {
  int imageChannels = 4; // per pixel of the image: 4, or 1 for alpha only
  int count = 4;         // the image's first `count` channels go to the file
  bool alphaOnly = false;
};

// For a format that can hold an alpha channel or not (JPEG).
FileChannels outputChannels(const ofxhost::Image &image, bool formatHoldsAlpha);

// Names spec's channels and says which is alpha: OpenImageIO
// un-premultiplies colour by it when the format stores straight alpha.
// renderedNames (see ChannelPlan) names the image's channels when given.
void labelChannels(const FileChannels &channels,
                   const std::vector<std::string> &renderedNames,
                   OIIO::ImageSpec &spec);

} // namespace ofxrender
