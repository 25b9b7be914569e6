// Picture input and output through OpenImageIO. The channel rules live in
// ChannelRules, the write-then-rename in AtomicWrite.
#include "ImageFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "AtomicWrite.h"
#include "ChannelRules.h"
#include "MutedStderr.h"
#include "ToolError.h"

namespace fs = std::filesystem;
using ofxhost::BitDepth;
using ofxhost::Components;

namespace ofxrender {
namespace {

// OpenImageIO errors can span lines, and a damaged file makes the library
// underneath repeat one complaint per strip or scanline; ours are one short
// line each, so each distinct message is kept once.
std::string oneLine(const std::string &text) {
  const size_t kMostCharacters = 300;
  std::vector<std::string> seen;
  std::string result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
      line.pop_back();
    start = end + 1;
    if (line.empty() || std::find(seen.begin(), seen.end(), line) != seen.end())
      continue;
    seen.push_back(line);
    result += (result.empty() ? "" : "; ") + line;
  }
  if (result.size() > kMostCharacters)
    result = result.substr(0, kMostCharacters) + "...";
  return result.empty() ? "unknown error" : result;
}

OIIO::TypeDesc fileTypeOf(BitDepth depth) {
  switch (depth) {
  case BitDepth::Byte:
    return OIIO::TypeDesc::UINT8;
  case BitDepth::Short:
    return OIIO::TypeDesc::UINT16;
  default:
    return OIIO::TypeDesc::FLOAT;
  }
}

// -------------------------------------------------------------- outputs

struct OutputFormat {
  const char *name;    // OpenImageIO's format name
  const char *display; // for messages
  bool holdsByte, holdsShort, holdsFloat;
  bool recordsPlacement; // data and display windows
  bool holdsAlpha;
};

const OutputFormat kOutputFormats[] = {
    {"png", "PNG", true, true, false, false, true},
    {"tiff", "TIFF", true, true, true, true, true},
    {"openexr", "EXR", false, false, true, true, true},
    {"jpeg", "JPEG", true, false, false, false, false},
};

bool holds(const OutputFormat &format, BitDepth depth) {
  switch (depth) {
  case BitDepth::Byte:
    return format.holdsByte;
  case BitDepth::Short:
    return format.holdsShort;
  case BitDepth::Float:
    return format.holdsFloat;
  default:
    return false;
  }
}

// The extension is the command line's choice, so a format that cannot be
// written is a usage error, as is a depth the format cannot hold.
const OutputFormat &outputFormatFor(const std::string &path) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out)
    throw usageError(path + ": no image format is known for the extension '" +
                     fs::path(path).extension().string() + "'");
  for (const OutputFormat &format : kOutputFormats)
    if (format.name == std::string(out->format_name()))
      return format;
  throw usageError(path + ": cannot write " + out->format_name() +
                   " files; use .png, .tif, .exr or .jpg");
}

std::string depthWords(BitDepth depth) {
  switch (depth) {
  case BitDepth::Byte:
    return "8-bit";
  case BitDepth::Short:
    return "16-bit";
  default:
    return "float";
  }
}

// Copies the area of image into a top-down, tightly packed buffer; pixels
// of the area outside the image stay zero (transparent black).
std::vector<unsigned char> packTopDown(const ofxhost::Image &image,
                                       const OfxRectI &area) {
  const size_t pixelBytes = image.pixelBytes();
  const int width = area.x2 - area.x1;
  const int height = area.y2 - area.y1;
  std::vector<unsigned char> packed(pixelBytes * width * height, 0);
  const OfxRectI &bounds = image.bounds();
  const int x1 = std::max(area.x1, bounds.x1);
  const int x2 = std::min(area.x2, bounds.x2);
  if (x1 >= x2)
    return packed;
  for (int row = 0; row < height; ++row) {
    const int y = area.y2 - 1 - row;
    if (y < bounds.y1 || y >= bounds.y2)
      continue;
    const void *src = image.pixelAddress(x1, y);
    unsigned char *dst =
        packed.data() +
        (static_cast<size_t>(row) * width + (x1 - area.x1)) * pixelBytes;
    std::memcpy(dst, src, (x2 - x1) * pixelBytes);
  }
  return packed;
}

// Gives the output file a data window that keeps the input's area where the
// input had it, and the input's display window. The source's row H - 1 is
// the input file's first row, so image y maps to file row (H - 1 - y)
// relative to the input's data window.
void placeDataWindow(const OutputFormat &format, const OfxRectI &area,
                     const FilePlacement &in, OIIO::ImageSpec &spec) {
  const int x = in.dataX + area.x1;
  const int y = in.dataY + (in.height - area.y2);
  // TIFF positions are unsigned and its display window starts at 0: a
  // placement it cannot hold is left out (the file then starts at the
  // output's corner, as a PNG does) rather than written wrong.
  if (std::string(format.name) == "tiff" &&
      (x < 0 || y < 0 || in.fullX != 0 || in.fullY != 0))
    return;
  spec.x = x;
  spec.y = y;
  spec.full_x = in.fullX;
  spec.full_y = in.fullY;
  spec.full_width = in.fullWidth;
  spec.full_height = in.fullHeight;
}

} // namespace

// ------------------------------------------------------------------ reading

BitDepth naturalDepth(const std::string &fileType) {
  const OIIO::TypeDesc type(fileType);
  if (type.basetype == OIIO::TypeDesc::UINT8 ||
      type.basetype == OIIO::TypeDesc::INT8)
    return BitDepth::Byte;
  if (type.basetype == OIIO::TypeDesc::UINT16 ||
      type.basetype == OIIO::TypeDesc::INT16)
    return BitDepth::Short;
  return BitDepth::Float;
}

namespace {

// Declared sizes are believed only up to a limit: a header costs nothing to
// forge, the memory it would claim does.
void checkDeclaredSize(const std::string &path, const OIIO::ImageSpec &spec) {
  const long long pixels = static_cast<long long>(spec.width) * spec.height;
  if (pixels <= kMaxPicturePixels)
    return;
  throw fileError(path + ": declares " + std::to_string(spec.width) + "x" +
                  std::to_string(spec.height) + " pixels, more than the " +
                  std::to_string(kMaxPicturePixels) +
                  " pixels ofxrender reads");
}

// The file's alpha channel when the file stores colour not multiplied by
// it (PNG, some TIFF), or -1.
int straightAlphaChannel(const OIIO::ImageSpec &spec) {
  if (spec.get_int_attribute("oiio:UnassociatedAlpha") == 0)
    return -1;
  return spec.alpha_channel;
}

// The shape of the file's pixels, width over height; a missing, zero or
// absurd value means square pixels, as every reader takes it.
double pixelAspectOf(const OIIO::ImageSpec &spec) {
  const float par = spec.get_float_attribute("PixelAspectRatio", 1.0f);
  return std::isfinite(par) && par > 0.0f ? par : 1.0;
}

} // namespace

Picture readPicture(const std::string &path, const ReadRequest &request) {
  std::error_code error;
  if (!fs::exists(path, error))
    throw fileError(path + ": no such file");
  if (fs::is_directory(path, error))
    throw fileError(path + ": is a directory, not an image file");

  MutedStderr muted;
  // Straight alpha is read as stored and premultiplied here: OpenImageIO's
  // own premultiplication truncates, which darkens every partly
  // transparent pixel by up to a level.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in)
    throw fileError(path + ": cannot read: " + oneLine(OIIO::geterror()));
  const OIIO::ImageSpec spec = in->spec();
  if (spec.deep)
    throw fileError(path + ": deep images are not supported");
  if (spec.width <= 0 || spec.height <= 0 || spec.depth > 1 ||
      spec.nchannels <= 0)
    throw fileError(path + ": has no two-dimensional pixels");
  const std::vector<int> channels = pickChannels(path, spec, request.channels);
  checkDeclaredSize(path, spec);

  Picture picture;
  picture.fileChannels = spec.nchannels;
  picture.fileFormat = in->format_name();
  picture.fileType = spec.format.c_str();
  picture.placement = {spec.x,          spec.y,          spec.width,
                       spec.height,     spec.full_x,     spec.full_y,
                       spec.full_width, spec.full_height};

  const BitDepth depth = request.depth != BitDepth::None
                             ? request.depth
                             : naturalDepth(picture.fileType);
  // The colour read is premultiplied by the file's alpha even when the
  // alpha itself is not picked, so the alpha is read along with it.
  const int straightAlpha = straightAlphaChannel(spec);
  std::vector<int> read = channels;
  if (straightAlpha >= 0)
    read.push_back(straightAlpha);
  const int first = *std::min_element(read.begin(), read.end());
  const int last = *std::max_element(read.begin(), read.end());
  const int span = last - first + 1;
  const size_t componentBytes = ofxhost::bytesPerComponent(depth);
  std::vector<unsigned char> fileBytes;
  try {
    fileBytes.resize(static_cast<size_t>(spec.width) * spec.height * span *
                     componentBytes);
  } catch (const std::bad_alloc &) {
    throw fileError(path + ": " + std::to_string(spec.width) + "x" +
                    std::to_string(spec.height) +
                    " pixels are too many to hold in memory");
  }
  if (!in->read_image(0, 0, first, last + 1, fileTypeOf(depth),
                      fileBytes.data()) ||
      in->has_error())
    throw fileError(path + ": cannot read: " + oneLine(in->geterror()));
  in->close();
  if (straightAlpha >= 0)
    premultiply(fileBytes, span, straightAlpha - first, depth);
  const int nch = static_cast<int>(channels.size());
  fileBytes = gatherChannels(std::move(fileBytes), span, channels, first,
                             componentBytes);

  auto image = std::make_shared<ofxhost::Image>(
      OfxRectI{0, 0, spec.width, spec.height}, depth,
      request.alphaOnly ? Components::Alpha : Components::RGBA);
  fillFromFile(fileBytes, nch, *image);
  image->pixelAspectRatio = pixelAspectOf(spec);
  picture.image = std::move(image);
  return picture;
}

PictureHeader inspectPicture(const std::string &path,
                             const ReadRequest &request) {
  std::error_code error;
  if (!fs::exists(path, error))
    throw fileError(path + ": no such file");
  if (fs::is_directory(path, error))
    throw fileError(path + ": is a directory, not an image file");
  MutedStderr muted;
  auto in = OIIO::ImageInput::open(path);
  if (!in)
    throw fileError(path + ": cannot read: " + oneLine(OIIO::geterror()));
  const OIIO::ImageSpec spec = in->spec();
  if (spec.deep)
    throw fileError(path + ": deep images are not supported");
  if (spec.width <= 0 || spec.height <= 0 || spec.depth > 1 ||
      spec.nchannels <= 0)
    throw fileError(path + ": has no two-dimensional pixels");
  pickChannels(path, spec, request.channels);
  checkDeclaredSize(path, spec);

  PictureHeader header;
  header.width = spec.width;
  header.height = spec.height;
  header.fileChannels = spec.nchannels;
  header.fileFormat = in->format_name();
  header.fileType = spec.format.c_str();
  header.depth = request.depth != BitDepth::None
                     ? request.depth
                     : naturalDepth(header.fileType);
  header.components = request.alphaOnly ? Components::Alpha : Components::RGBA;
  return header;
}

// ------------------------------------------------------------------ writing

std::string checkOutputTarget(const std::string &path, BitDepth depth) {
  const fs::path target(path);
  if (target.filename().empty())
    throw fileError(path + ": names a directory, not a file");
  const fs::path dir =
      target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code error;
  if (!fs::is_directory(dir, error))
    throw fileError(path + ": the directory " + dir.string() +
                    " does not exist");
  if (fs::is_directory(target, error))
    throw fileError(path + ": is a directory");
  const OutputFormat &format = outputFormatFor(path);
  if (depth != BitDepth::None && !holds(format, depth))
    throw usageError(path + ": " + format.display + " files cannot hold " +
                     depthWords(depth) + " pixels (" +
                     ofxhost::bitDepthName(depth) +
                     "); choose another --depth or output format");
  return format.name;
}

OfxRectI writtenArea(const ofxhost::Image &image, const WriteRequest &request) {
  if (!request.crop)
    return image.bounds();
  return OfxRectI{0, 0, request.inputPlacement.width,
                  request.inputPlacement.height};
}

void writePicture(const std::string &path, const ofxhost::Image &image,
                  const WriteRequest &request) {
  checkOutputTarget(path, image.depth());
  const OutputFormat &format = outputFormatFor(path);
  const OfxRectI area = writtenArea(image, request);
  const int width = area.x2 - area.x1;
  const int height = area.y2 - area.y1;
  if (width <= 0 || height <= 0)
    throw renderError("the output image is empty; nothing to write to " + path);

  const FileChannels channels = outputChannels(image, format.holdsAlpha);
  const OIIO::TypeDesc fileType = request.halfFloat
                                      ? OIIO::TypeDesc(OIIO::TypeDesc::HALF)
                                      : fileTypeOf(image.depth());
  OIIO::ImageSpec spec(width, height, channels.count, fileType);
  labelChannels(channels, spec);
  if (format.recordsPlacement)
    placeDataWindow(format, area, request.inputPlacement, spec);
  // No time stamp, so the same render always gives the same file (and
  // tiled and whole renders can be compared byte for byte).
  spec.attribute("DateTime", "");
  // Anamorphic pixels stay anamorphic.
  if (image.pixelAspectRatio != 1.0)
    spec.attribute("PixelAspectRatio",
                   static_cast<float>(image.pixelAspectRatio));

  const std::vector<unsigned char> pixels = packTopDown(image, area);
  MutedStderr muted;
  auto out = OIIO::ImageOutput::create(path);
  if (!out)
    throw fileError(path + ": cannot write: " + oneLine(OIIO::geterror()));
  TempFile temp(path);
  if (!out->open(temp.path(), spec))
    throw fileError(path + ": cannot write: " + oneLine(out->geterror()));
  // Only the results count: OpenImageIO's TIFF writer records a harmless
  // error about its Exif block with some libtiff versions.
  const OIIO::stride_t pixelStride =
      static_cast<OIIO::stride_t>(channels.imageChannels) *
      ofxhost::bytesPerComponent(image.depth());
  const bool written =
      out->write_image(fileTypeOf(image.depth()), pixels.data(), pixelStride);
  const bool closed = out->close();
  if (!written || !closed)
    throw fileError(path + ": cannot write: " + oneLine(out->geterror()));
  temp.commitTo(path);
}

} // namespace ofxrender
