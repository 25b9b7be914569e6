// Image files <-> host images, with the pixel and placement rules every
// ofxrender user (and every tool comparing against it) can rely on:
//
//  - The file's pixel (col, row), row 0 at the top of its data window, is the
//    source pixel (col, H - 1 - row); the source bounds are (0, 0, W, H),
//    W x H being the data window's size. Images are y-up, files top-down.
//  - 4-channel files are RGBA; 3-channel files get an opaque alpha; 1- and
//    2-channel files are grey (and alpha) spread to RGB, a lone channel
//    named A or alpha is a matte over transparent black. Alpha-only images
//    take the file's alpha or its only channel; colour alone has none.
//  - Files storing unassociated alpha (PNG) are premultiplied at the depth
//    rendered, rounded to the nearest value, and un-premultiplied on
//    writing by OpenImageIO; associated-alpha TIFF and EXR pass through
//    unchanged.
//  - An output file holds the whole output image (or only the input's area
//    with crop) at the rendered depth: byte -> 8 bit, short -> 16 bit,
//    float -> 32-bit float, or half when the channels read were. EXR and
//    TIFF record a data window that keeps the input's area where the input
//    had it, and copy the input's display window.
//  - The result goes back into the channels read; an EXR output keeps the
//    input's other channels. Compression and metadata carry over within a
//    format, the portable metadata across formats; a colour tag only where
//    the input had one, as no colour is managed.
#pragma once

#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "ofxhost/Host.h"

namespace ofxrender {

// Where a file's pixels sat, in the file's own coordinates (y down), so the
// output can be put back at the same place.
struct FilePlacement {
  int dataX = 0, dataY = 0;  // origin of the data window
  int width = 0, height = 0; // size of the data window
  int fullX = 0, fullY = 0;  // display window
  int fullWidth = 0, fullHeight = 0;
};

// The channels of a file a render leaves alone, as stored, so they can be
// written back unchanged.
struct KeptChannels {
  std::vector<std::string> names;
  std::vector<OIIO::TypeDesc> types;
  size_t pixelBytes = 0;             // of one pixel of all of them
  std::vector<unsigned char> pixels; // top-down, the file's W x H
};

// What reading a file produced.
struct Picture {
  ofxhost::ImagePtr image; // bounds (0, 0, W, H), premultiplied
  FilePlacement placement;
  int fileChannels = 0;
  int fileParts = 1;       // subimages; only the first is read
  std::string fileFormat;  // OpenImageIO's format name, e.g. "png"
  std::string fileType;    // e.g. "uint8", "half"
  bool halfPixels = false; // the channels read are all half floats
  // The output channels the image's channels go to; empty for R, G, B, A.
  std::vector<std::string> renderedNames;
  KeptChannels kept;
  // The file's metadata and compression, its colour tag only if the file
  // really carries one.
  OIIO::ParamValueList attributes;
};

struct ReadRequest {
  // None: the file's own depth (8-bit -> byte, 16-bit -> short, anything
  // else -> float).
  ofxhost::BitDepth depth = ofxhost::BitDepth::None;
  bool alphaOnly = false;
  // Which of the file's channels to read: "" for its R, G, B, A (or all of
  // a file of at most four channels), a layer name ("diffuse" reads
  // diffuse.R, .G, .B, .A), or names separated by commas, in the order
  // grey[, alpha] or R, G, B[, A].
  std::string channels;
};

// The most pixels a picture may declare; larger declarations are refused
// before any pixel is read.
constexpr long long kMaxPicturePixels = 1LL << 28;

// Throws a file ToolError naming the file for a missing, unreadable or
// truncated file.
Picture readPicture(const std::string &path, const ReadRequest &request);

// What reading a file would produce, from its header alone: the checks
// readPicture makes before it reads a pixel, for a dry run.
struct PictureHeader {
  int width = 0, height = 0;
  int fileChannels = 0;
  std::string fileFormat; // OpenImageIO's format name, e.g. "png"
  std::string fileType;   // e.g. "uint8", "half"
  ofxhost::BitDepth depth = ofxhost::BitDepth::None; // the image's
  ofxhost::Components components = ofxhost::Components::RGBA;
};

// Throws the file ToolError readPicture would for a missing or unreadable
// file, a channel it lacks or a size it may not declare; reads no pixels.
PictureHeader inspectPicture(const std::string &path,
                             const ReadRequest &request);

// The depth a file's pixel type is rendered at by default.
ofxhost::BitDepth naturalDepth(const std::string &fileType);

// Checks, before any rendering, that path can be written: its directory
// exists (else a file ToolError) and its format (from the extension) can
// hold depth (else a usage ToolError). Returns the format name ("png", "tiff",
// "openexr", "jpeg").
std::string checkOutputTarget(const std::string &path, ofxhost::BitDepth depth);

constexpr int kDefaultJpegQuality = 98;

// Checks --compression and --quality against the output format (a name
// checkOutputTarget returns); throws a usage ToolError. Empty and 0 stand
// for not given.
void checkWriteOptions(const std::string &format,
                       const std::string &compression, int quality);

struct WriteRequest {
  FilePlacement inputPlacement; // of the input the image was rendered from
  bool crop = false;            // only the input's area (0, 0, W, H)
  bool halfFloat = false;       // float pixels stored as half (EXR)
  // The picture the image was rendered from, whose other channels and
  // metadata go into the output too; none for a bare image.
  const Picture *input = nullptr;
  std::string compression; // "": the input's in the same format, or zip
  int quality = 0;         // JPEG, 1-100; 0: kDefaultJpegQuality
  // false: an output that exists by the time the picture is written is
  // kept, and TargetAppeared thrown (see AtomicWrite.h).
  bool replaceExisting = true;
};

// Writes image to a temporary file beside path and renames it into place;
// on any failure nothing is left behind and a file ToolError is thrown.
void writePicture(const std::string &path, const ofxhost::Image &image,
                  const WriteRequest &request);

// The pixel rectangle (in image coordinates, y up) an output file holds.
OfxRectI writtenArea(const ofxhost::Image &image, const WriteRequest &request);

} // namespace ofxrender
