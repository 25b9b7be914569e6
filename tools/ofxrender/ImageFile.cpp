#include "ImageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "Interrupt.h"
#include "PixelTypes.h"
#include "Text.h"
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
    if (line.empty() ||
        std::find(seen.begin(), seen.end(), line) != seen.end())
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

// One file pixel of nch channels as (r, g, b, a) by the channel rules.
template <class T>
void fileToRgba(const T *src, int nch, T opaque, T out[4]) {
  if (nch >= 3) {
    out[0] = src[0];
    out[1] = src[1];
    out[2] = src[2];
    out[3] = nch >= 4 ? src[3] : opaque;
    return;
  }
  out[0] = out[1] = out[2] = src[0];
  out[3] = nch == 2 ? src[1] : opaque;
}

template <class T>
void fillImage(const std::vector<unsigned char> &fileBytes, int nch,
               ofxhost::Image &image) {
  const T *file = reinterpret_cast<const T *>(fileBytes.data());
  const int w = image.width();
  const int h = image.height();
  const bool alphaOnly = image.components() == Components::Alpha;
  const T opaque = PixelTraits<T>::opaque();
  for (int row = 0; row < h; ++row) {
    T *dst = image.pixel<T>(0, h - 1 - row);
    const T *src = file + static_cast<size_t>(row) * w * nch;
    for (int col = 0; col < w; ++col, src += nch) {
      T rgba[4];
      fileToRgba(src, nch, opaque, rgba);
      if (alphaOnly) {
        // A single channel is the alpha itself, not an opaque grey.
        *dst++ = nch == 1 ? src[0] : rgba[3];
        continue;
      }
      for (int c = 0; c < 4; ++c)
        *dst++ = rgba[c];
    }
  }
}

// Image libraries underneath OpenImageIO (libpng) print their own error
// text on stderr before OpenImageIO reports the same error to us. ofxrender
// promises one clear line per failure, so their stream is muted while a file
// is read or written; the errors still come back through OpenImageIO.
class MutedStderr {
public:
  MutedStderr() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    const int null = ::open("/dev/null", O_WRONLY);
    if (saved_ < 0 || null < 0) {
      if (null >= 0)
        ::close(null);
      return;
    }
    ::dup2(null, 2);
    ::close(null);
  }
  ~MutedStderr() {
    if (saved_ < 0)
      return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
  }
  MutedStderr(const MutedStderr &) = delete;
  MutedStderr &operator=(const MutedStderr &) = delete;

private:
  int saved_ = -1;
};

// -------------------------------------------------------------- outputs

struct OutputFormat {
  const char *name;     // OpenImageIO's format name
  const char *display;  // for messages
  bool holdsByte, holdsShort, holdsFloat;
  bool recordsPlacement; // data and display windows
};

const OutputFormat kOutputFormats[] = {
    {"png", "PNG", true, true, false, false},
    {"tiff", "TIFF", true, true, true, true},
    {"openexr", "EXR", false, false, true, true},
    {"jpeg", "JPEG", true, false, false, false},
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

const OutputFormat &outputFormatFor(const std::string &path) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out)
    throw fileError(path + ": no image format is known for the extension '" +
                    fs::path(path).extension().string() + "'");
  for (const OutputFormat &format : kOutputFormats)
    if (format.name == std::string(out->format_name()))
      return format;
  throw fileError(path + ": cannot write " + out->format_name() +
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

// ------------------------------------------------------- temporary files

// The file being written, beside its target. Its name is made unique by
// creating it exclusively, so processes on several machines writing into one
// shared folder never pick the same name (a process id alone can repeat).
class TempFile {
public:
  explicit TempFile(const std::string &target) {
    const fs::path targetPath(target);
    std::string name = (targetPath.parent_path() /
                        ("." + targetPath.filename().string() + ".part-XXXXXX"))
                           .string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
      throw fileError(target + ": cannot create a temporary file beside it: " +
                      std::strerror(errno));
    ::close(fd);
    path_ = name;
    registerTempFile(path_);
  }
  ~TempFile() {
    if (!committed_)
      ::unlink(path_.c_str());
    unregisterTempFile();
  }
  const std::string &path() const { return path_; }
  void commitTo(const std::string &target) {
    // Past this point the target is replaced: a stop asked for while the
    // file was written must win.
    throwIfInterrupted();
    std::error_code error;
    fs::rename(path_, target, error);
    if (error)
      throw fileError(target + ": cannot move the finished file into place: " +
                      error.message());
    committed_ = true;
  }

private:
  std::string path_;
  bool committed_ = false;
};

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
        packed.data() + (static_cast<size_t>(row) * width + (x1 - area.x1)) *
                            pixelBytes;
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

std::string channelList(const OIIO::ImageSpec &spec) {
  std::string list;
  for (int c = 0; c < spec.nchannels; ++c)
    list += (c ? ", " : "") + std::string(spec.channel_name(c));
  return list;
}

int channelIndex(const OIIO::ImageSpec &spec, const std::string &name) {
  for (int c = 0; c < spec.nchannels; ++c)
    if (spec.channel_name(c) == name)
      return c;
  return -1;
}

// R, G, B and A if the file has them under prefix, else nothing.
std::vector<int> colourChannels(const OIIO::ImageSpec &spec,
                                const std::string &prefix) {
  std::vector<int> picked;
  for (const char *name : {"R", "G", "B"}) {
    const int index = channelIndex(spec, prefix + name);
    if (index < 0)
      return {};
    picked.push_back(index);
  }
  const int alpha = channelIndex(spec, prefix + "A");
  if (alpha >= 0)
    picked.push_back(alpha);
  return picked;
}

// The file channels read, in the order grey[, alpha] or R, G, B[, A].
// Beyond four channels nothing says which are colour and which alpha (an EXR
// may hold depth or other passes), so only named colour channels are taken.
std::vector<int> pickChannels(const std::string &path,
                              const OIIO::ImageSpec &spec,
                              const std::string &request) {
  if (request.empty()) {
    if (spec.nchannels <= 4) {
      std::vector<int> all(spec.nchannels);
      for (int c = 0; c < spec.nchannels; ++c)
        all[c] = c;
      return all;
    }
    std::vector<int> picked = colourChannels(spec, "");
    if (!picked.empty())
      return picked;
    throw fileError(path + ": has " + std::to_string(spec.nchannels) +
                    " channels (" + channelList(spec) +
                    ") and none named R, G, B; choose with --channels");
  }
  if (request.find(',') == std::string::npos) {
    std::vector<int> layer = colourChannels(spec, request + ".");
    if (!layer.empty())
      return layer;
  }
  const std::vector<std::string> names = splitAtCommas(request);
  if (names.size() > 4)
    throw usageError("--channels: '" + request +
                     "' names more than four channels");
  std::vector<int> picked;
  for (const std::string &name : names) {
    const int index = channelIndex(spec, name);
    if (index < 0)
      throw fileError(path + ": has no channel or layer '" + name +
                      "'; its channels are " + channelList(spec));
    picked.push_back(index);
  }
  return picked;
}

// Declared sizes are believed only up to a limit: a header costs nothing to
// forge, the memory it would claim does.
void checkDeclaredSize(const std::string &path, const OIIO::ImageSpec &spec) {
  const long long pixels = static_cast<long long>(spec.width) * spec.height;
  if (pixels <= kMaxPicturePixels)
    return;
  throw fileError(path + ": declares " + std::to_string(spec.width) + "x" +
                  std::to_string(spec.height) +
                  " pixels, more than the " +
                  std::to_string(kMaxPicturePixels) +
                  " pixels ofxrender reads");
}

// The picked channels of pixels read as span channels starting at first,
// packed in the picked order.
std::vector<unsigned char> gatherChannels(std::vector<unsigned char> pixels,
                                          int span,
                                          const std::vector<int> &picked,
                                          int first, size_t componentBytes) {
  bool inOrder = static_cast<int>(picked.size()) == span;
  for (size_t i = 0; inOrder && i < picked.size(); ++i)
    inOrder = picked[i] == first + static_cast<int>(i);
  if (inOrder)
    return pixels;
  const size_t count = pixels.size() / (span * componentBytes);
  std::vector<unsigned char> gathered(count * picked.size() * componentBytes);
  unsigned char *dst = gathered.data();
  for (size_t p = 0; p < count; ++p) {
    const unsigned char *pixel = pixels.data() + p * span * componentBytes;
    for (int channel : picked) {
      std::memcpy(dst, pixel + (channel - first) * componentBytes,
                  componentBytes);
      dst += componentBytes;
    }
  }
  return gathered;
}

} // namespace

Picture readPicture(const std::string &path, const ReadRequest &request) {
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
  const std::vector<int> channels = pickChannels(path, spec, request.channels);
  checkDeclaredSize(path, spec);

  Picture picture;
  picture.fileChannels = spec.nchannels;
  picture.fileFormat = in->format_name();
  picture.fileType = spec.format.c_str();
  picture.placement = {spec.x,      spec.y,          spec.width,
                       spec.height, spec.full_x,     spec.full_y,
                       spec.full_width, spec.full_height};

  const BitDepth depth = request.depth != BitDepth::None
                             ? request.depth
                             : naturalDepth(picture.fileType);
  const int first = *std::min_element(channels.begin(), channels.end());
  const int last = *std::max_element(channels.begin(), channels.end());
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
  const int nch = static_cast<int>(channels.size());
  fileBytes = gatherChannels(std::move(fileBytes), span, channels, first,
                             componentBytes);

  auto image = std::make_shared<ofxhost::Image>(
      OfxRectI{0, 0, spec.width, spec.height}, depth,
      request.alphaOnly ? Components::Alpha : Components::RGBA);
  withComponentType(depth, [&](auto zero) {
    fillImage<decltype(zero)>(fileBytes, nch, *image);
  });
  picture.image = std::move(image);
  return picture;
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
    throw fileError(path + ": " + format.display + " files cannot hold " +
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

  const bool alphaOnly = image.components() == Components::Alpha;
  const int imageChannels = alphaOnly ? 1 : 4;
  // JPEG holds no alpha: its colour is written as it is, premultiplied,
  // which is the picture over black.
  const bool dropAlpha = !alphaOnly && std::string(format.name) == "jpeg";
  const int nch = dropAlpha ? 3 : imageChannels;
  const OIIO::TypeDesc fileType = request.halfFloat
                                      ? OIIO::TypeDesc(OIIO::TypeDesc::HALF)
                                      : fileTypeOf(image.depth());
  OIIO::ImageSpec spec(width, height, nch, fileType);
  if (alphaOnly) {
    spec.channelnames = {"A"};
    spec.alpha_channel = -1; // nothing to un-premultiply against
  }
  if (dropAlpha)
    spec.alpha_channel = -1;
  if (format.recordsPlacement)
    placeDataWindow(format, area, request.inputPlacement, spec);
  // No time stamp, so the same render always gives the same file (and
  // tiled and whole renders can be compared byte for byte).
  spec.attribute("DateTime", "");

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
      static_cast<OIIO::stride_t>(imageChannels) *
      ofxhost::bytesPerComponent(image.depth());
  const bool written = out->write_image(fileTypeOf(image.depth()),
                                        pixels.data(), pixelStride);
  const bool closed = out->close();
  if (!written || !closed)
    throw fileError(path + ": cannot write: " + oneLine(out->geterror()));
  temp.commitTo(path);
}

} // namespace ofxrender
