// Picture input and output through OpenImageIO. The channel rules live in
// ChannelRules, the write-then-rename in AtomicWrite.
#include "ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
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

// ------------------------------------------------------- what carries over

std::string lowered(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const std::vector<std::string> &compressionsOf(const std::string &format) {
  static const std::vector<std::string> kExr = {"none", "rle",   "zips", "zip",
                                                "piz",  "pxr24", "b44",  "b44a",
                                                "dwaa", "dwab"};
  static const std::vector<std::string> kTiff = {"none", "lzw", "zip",
                                                 "packbits"};
  static const std::vector<std::string> kNone;
  if (format == "openexr")
    return kExr;
  if (format == "tiff")
    return kTiff;
  return kNone;
}

// How the input stored its pixels, which the output decides afresh.
bool describesStorage(const std::string &name) {
  static const char *const kStorage[] = {"compression",
                                         "planarconfig",
                                         "tiff:Compression",
                                         "tiff:PhotometricInterpretation",
                                         "tiff:PlanarConfiguration",
                                         "tiff:RowsPerStrip",
                                         "tiff:ExtraSamples",
                                         "tiff:SampleFormat",
                                         "openexr:chunkCount",
                                         "openexr:version"};
  if (name.rfind("oiio:", 0) == 0)
    return true;
  for (const char *storage : kStorage)
    if (name == storage)
      return true;
  return false;
}

// Metadata that means the same in every format written; the rest belongs
// to the format it came from.
bool isPortable(const std::string &name, const std::string &toFormat) {
  static const char *const kPortable[] = {
      "ImageDescription", "Artist",         "Copyright",
      "DocumentName",     "DateTime",       "XResolution",
      "YResolution",      "ResolutionUnit", "PixelAspectRatio"};
  for (const char *portable : kPortable)
    if (name == portable)
      return true;
  // A display profile says nothing about an EXR's linear values.
  return name == "ICCProfile" && toFormat != "openexr";
}

bool carriesOver(const std::string &name, const std::string &fromFormat,
                 const std::string &toFormat) {
  // The colour tag of a PNG the tool read (fileAttributes keeps it only
  // when the file had one); any other format's is guessed by the reader.
  if (name == "oiio:ColorSpace" || name == "oiio:Gamma")
    return fromFormat == "png" && toFormat == "png";
  if (fromFormat == toFormat)
    return !describesStorage(name);
  return isPortable(name, toFormat);
}

void carryMetadata(const OutputFormat &format, const WriteRequest &request,
                   OIIO::ImageSpec &spec) {
  if (request.input)
    for (const OIIO::ParamValue &attribute : request.input->attributes)
      if (carriesOver(attribute.name().string(), request.input->fileFormat,
                      format.name))
        spec.extra_attribs.add_or_replace(attribute);
  // No time stamp of its own, so the same render always gives the same
  // file (and tiled and whole renders can be compared byte for byte).
  if (!spec.extra_attribs.contains("DateTime"))
    spec.attribute("DateTime", "");
}

void chooseCompression(const OutputFormat &format, const WriteRequest &request,
                       OIIO::ImageSpec &spec) {
  const std::string name = format.name;
  if (name == "jpeg") {
    const int quality = request.quality ? request.quality : kDefaultJpegQuality;
    spec.attribute("compression", "jpeg:" + std::to_string(quality));
    return;
  }
  if (compressionsOf(name).empty())
    return;
  if (!request.compression.empty()) {
    spec.attribute("compression", lowered(request.compression));
    return;
  }
  const bool sameFormat = request.input && request.input->fileFormat == name;
  const OIIO::ParamValue *kept =
      sameFormat ? request.input->attributes.find_pv("compression") : nullptr;
  spec.attribute("compression", kept ? kept->get_string() : "zip");
}

// The channels of the input written back: only EXR names channels beyond
// colour and alpha; elsewhere they are dropped, which is said once.
const KeptChannels *keptChannelsFor(const OutputFormat &format,
                                    const WriteRequest &request,
                                    const std::string &path) {
  if (!request.input || request.input->kept.names.empty())
    return nullptr;
  if (std::string(format.name) == "openexr")
    return &request.input->kept;
  static bool warned = false;
  if (!warned) {
    std::string names;
    for (const std::string &name : request.input->kept.names)
      names += (names.empty() ? "" : ", ") + name;
    std::fprintf(stderr,
                 "ofxrender: warning: %s files hold no further channels; %s "
                 "drops %s (write EXR to keep them)\n",
                 format.display, path.c_str(), names.c_str());
    warned = true;
  }
  return nullptr;
}

// The output's pixels as stored: each pixel the image's first `count`
// channels converted to renderedType, then the kept channels of the input
// pixel at the same place (zero outside the input's area).
std::vector<unsigned char> composeTopDown(const ofxhost::Image &image,
                                          const OfxRectI &area, int count,
                                          OIIO::TypeDesc renderedType,
                                          const KeptChannels *kept,
                                          const FilePlacement &input) {
  std::vector<unsigned char> packed = packTopDown(image, area);
  const OIIO::TypeDesc imageType = fileTypeOf(image.depth());
  const int imageChannels =
      image.components() == ofxhost::Components::Alpha ? 1 : 4;
  // The common case, whole pixels of one type and nothing kept, in one go.
  if (!kept && count == imageChannels) {
    if (renderedType == imageType)
      return packed;
    std::vector<unsigned char> converted(packed.size() / imageType.size() *
                                         renderedType.size());
    OIIO::convert_pixel_values(
        imageType, packed.data(), renderedType, converted.data(),
        static_cast<int>(packed.size() / imageType.size()));
    return converted;
  }
  const size_t imagePixelBytes = image.pixelBytes();
  const size_t renderedBytes = renderedType.size() * count;
  const size_t keptBytes = kept ? kept->pixelBytes : 0;
  const int width = area.x2 - area.x1;
  const int height = area.y2 - area.y1;
  std::vector<unsigned char> composed(static_cast<size_t>(width) * height *
                                      (renderedBytes + keptBytes));
  unsigned char *dst = composed.data();
  for (int row = 0; row < height; ++row) {
    const int y = area.y2 - 1 - row;
    for (int col = 0; col < width; ++col) {
      const size_t index = static_cast<size_t>(row) * width + col;
      OIIO::convert_pixel_values(imageType,
                                 packed.data() + index * imagePixelBytes,
                                 renderedType, dst, count);
      dst += renderedBytes;
      if (!kept)
        continue;
      const int x = area.x1 + col;
      if (x >= 0 && x < input.width && y >= 0 && y < input.height)
        std::memcpy(
            dst,
            kept->pixels.data() +
                (static_cast<size_t>(input.height - 1 - y) * input.width + x) *
                    keptBytes,
            keptBytes);
      dst += keptBytes;
    }
  }
  return composed;
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

// Where channel c starts within a pixel of spec's channels from `first`
// on, as stored.
size_t nativeOffset(const OIIO::ImageSpec &spec, int first, int c) {
  size_t offset = 0;
  for (int i = first; i < c; ++i)
    offset += spec.channelformat(i).size();
  return offset;
}

KeptChannels readKeptChannels(const std::string &path, OIIO::ImageInput &in,
                              const std::vector<int> &kept) {
  const OIIO::ImageSpec &spec = in.spec();
  KeptChannels result;
  if (kept.empty())
    return result;
  for (int c : kept) {
    result.names.emplace_back(spec.channel_name(c));
    result.types.push_back(spec.channelformat(c));
    result.pixelBytes += spec.channelformat(c).size();
  }
  // Only the channels from the first kept to the last are read, as stored.
  const int first = *std::min_element(kept.begin(), kept.end());
  const int last = *std::max_element(kept.begin(), kept.end());
  const size_t spanBytes = nativeOffset(spec, first, last + 1);
  const size_t pixels = static_cast<size_t>(spec.width) * spec.height;
  std::vector<unsigned char> span;
  try {
    span.resize(pixels * spanBytes);
    result.pixels.resize(pixels * result.pixelBytes);
  } catch (const std::bad_alloc &) {
    throw fileError(path + ": its " + std::to_string(spec.nchannels) +
                    " channels are too many to hold in memory");
  }
  if (!in.read_image(0, 0, first, last + 1, OIIO::TypeDesc::UNKNOWN,
                     span.data()) ||
      in.has_error())
    throw fileError(path + ": cannot read: " + oneLine(in.geterror()));
  std::vector<size_t> offsets;
  for (int c : kept)
    offsets.push_back(nativeOffset(spec, first, c));
  unsigned char *dst = result.pixels.data();
  for (size_t p = 0; p < pixels; ++p)
    for (size_t k = 0; k < kept.size(); ++k) {
      const size_t bytes = result.types[k].size();
      std::memcpy(dst, span.data() + p * spanBytes + offsets[k], bytes);
      dst += bytes;
    }
  return result;
}

// Whether a PNG names its colour space (an sRGB or gAMA chunk). OpenImageIO
// calls every PNG sRGB, tagged or not, and a tag the file lacked must not
// appear in the output.
bool pngNamesColourSpace(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file)
    return false;
  unsigned char header[8];
  bool named = false;
  if (std::fread(header, 1, 8, file) == 8) {
    unsigned char chunk[8];
    while (std::fread(chunk, 1, 8, file) == 8) {
      const unsigned long length =
          (static_cast<unsigned long>(chunk[0]) << 24) | (chunk[1] << 16) |
          (chunk[2] << 8) | chunk[3];
      const std::string type(reinterpret_cast<char *>(chunk + 4), 4);
      if (type == "sRGB" || type == "gAMA") {
        named = true;
        break;
      }
      if (type == "IDAT" || type == "IEND" ||
          std::fseek(file, static_cast<long>(length) + 4, SEEK_CUR) != 0)
        break;
    }
  }
  std::fclose(file);
  return named;
}

OIIO::ParamValueList fileAttributes(const std::string &path,
                                    const std::string &format,
                                    const OIIO::ImageSpec &spec) {
  OIIO::ParamValueList attributes = spec.extra_attribs;
  if (format == "png" && !pngNamesColourSpace(path)) {
    attributes.remove("oiio:ColorSpace");
    attributes.remove("oiio:Gamma");
  }
  return attributes;
}

// Only a file's first part (subimage) is read and written; the others
// would be lost without a word.
void warnOnceOfOtherParts(const std::string &path, int parts) {
  static bool warned = false;
  if (parts <= 1 || warned)
    return;
  std::fprintf(stderr,
               "ofxrender: warning: %s has %d parts; only the first is "
               "rendered and written\n",
               path.c_str(), parts);
  warned = true;
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

void checkIsFile(const std::string &path) {
  std::error_code error;
  if (!fs::exists(path, error))
    throw fileError(path + ": no such file");
  if (fs::is_directory(path, error))
    throw fileError(path + ": is a directory, not an image file");
}

// Opens a file of flat two-dimensional pixels, or throws a file ToolError
// saying why it is not one.
std::unique_ptr<OIIO::ImageInput> openImage(const std::string &path,
                                            const OIIO::ImageSpec *config) {
  auto in = OIIO::ImageInput::open(path, config);
  if (!in)
    throw fileError(path + ": cannot read: " + oneLine(OIIO::geterror()));
  const OIIO::ImageSpec &spec = in->spec();
  if (spec.deep)
    throw fileError(path + ": deep images are not supported");
  if (spec.width <= 0 || spec.height <= 0 || spec.depth > 1 ||
      spec.nchannels <= 0)
    throw fileError(path + ": has no two-dimensional pixels");
  return in;
}

Picture readMuted(const std::string &path, const ReadRequest &request) {
  MutedStderr muted;
  // Straight alpha is read as stored and premultiplied here: OpenImageIO's
  // own premultiplication truncates, which darkens every partly
  // transparent pixel by up to a level.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  const std::unique_ptr<OIIO::ImageInput> in = openImage(path, &config);
  const OIIO::ImageSpec spec = in->spec();
  const ChannelPlan plan =
      planChannels(path, spec, request.channels, request.alphaOnly);
  const std::vector<int> &channels = plan.picked;
  checkDeclaredSize(path, spec);

  Picture picture;
  picture.fileChannels = spec.nchannels;
  picture.fileParts = spec.get_int_attribute("oiio:subimages", 1);
  picture.fileFormat = in->format_name();
  picture.fileType = spec.format.c_str();
  picture.halfPixels = true;
  for (int c : channels)
    picture.halfPixels =
        picture.halfPixels && spec.channelformat(c) == OIIO::TypeDesc::HALF;
  picture.renderedNames = plan.renderedNames;
  picture.attributes = fileAttributes(path, picture.fileFormat, spec);
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
  picture.kept = readKeptChannels(path, *in, plan.kept);
  in->close();
  if (straightAlpha >= 0)
    premultiply(fileBytes, span, straightAlpha - first, depth);
  const int nch = static_cast<int>(channels.size());
  fileBytes = gatherChannels(std::move(fileBytes), span, channels, first,
                             componentBytes);

  auto image = std::make_shared<ofxhost::Image>(
      OfxRectI{0, 0, spec.width, spec.height}, depth,
      request.alphaOnly ? Components::Alpha : Components::RGBA);
  fillFromFile(fileBytes, nch, plan.loneAlpha, *image);
  image->pixelAspectRatio = pixelAspectOf(spec);
  picture.image = std::move(image);
  return picture;
}

} // namespace

Picture readPicture(const std::string &path, const ReadRequest &request) {
  checkIsFile(path);
  Picture picture = readMuted(path, request);
  warnOnceOfOtherParts(path, picture.fileParts);
  return picture;
}

PictureHeader inspectPicture(const std::string &path,
                             const ReadRequest &request) {
  checkIsFile(path);
  MutedStderr muted;
  const std::unique_ptr<OIIO::ImageInput> in = openImage(path, nullptr);
  const OIIO::ImageSpec &spec = in->spec();
  planChannels(path, spec, request.channels, request.alphaOnly);
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

void checkWriteOptions(const std::string &format,
                       const std::string &compression, int quality) {
  if (quality != 0 && format != "jpeg")
    throw usageError("--quality is for JPEG outputs only");
  if (compression.empty())
    return;
  const std::vector<std::string> &names = compressionsOf(format);
  std::string choices;
  for (const std::string &name : names) {
    if (name == lowered(compression))
      return;
    choices += (choices.empty() ? "" : ", ") + name;
  }
  if (names.empty())
    throw usageError(
        "--compression is for EXR and TIFF outputs only" +
        std::string(format == "jpeg" ? "; JPEG takes --quality" : ""));
  throw usageError("--compression: '" + compression + "' is not one of " +
                   choices);
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
  const KeptChannels *kept = keptChannelsFor(format, request, path);
  const int keptCount = kept ? static_cast<int>(kept->names.size()) : 0;
  const bool half = request.halfFloat && image.depth() == BitDepth::Float &&
                    std::string(format.name) == "openexr";
  const OIIO::TypeDesc renderedType =
      half ? OIIO::TypeDesc(OIIO::TypeDesc::HALF) : fileTypeOf(image.depth());
  OIIO::ImageSpec spec(width, height, channels.count + keptCount, renderedType);
  labelChannels(channels,
                request.input ? request.input->renderedNames
                              : std::vector<std::string>{},
                spec);
  if (kept) {
    spec.channelformats.assign(channels.count, renderedType);
    for (int k = 0; k < keptCount; ++k) {
      spec.channelnames[channels.count + k] = kept->names[k];
      spec.channelformats.push_back(kept->types[k]);
    }
    spec.alpha_channel = channels.count == 4 ? 3 : -1;
    spec.z_channel = -1;
  }
  if (format.recordsPlacement)
    placeDataWindow(format, area, request.inputPlacement, spec);
  carryMetadata(format, request, spec);
  chooseCompression(format, request, spec);
  // The output's own aspect, which a plug-in may have chosen, wins over
  // the input's.
  if (image.pixelAspectRatio != 1.0 || spec.find_attribute("PixelAspectRatio"))
    spec.attribute("PixelAspectRatio",
                   static_cast<float>(image.pixelAspectRatio));

  const std::vector<unsigned char> pixels = composeTopDown(
      image, area, channels.count, renderedType, kept, request.inputPlacement);
  MutedStderr muted;
  auto out = OIIO::ImageOutput::create(path);
  if (!out)
    throw fileError(path + ": cannot write: " + oneLine(OIIO::geterror()));
  TempFile temp(path);
  if (!out->open(temp.path(), spec))
    throw fileError(path + ": cannot write: " + oneLine(out->geterror()));
  // Only the results count: OpenImageIO's TIFF writer records a harmless
  // error about its Exif block with some libtiff versions.
  const bool written = out->write_image(OIIO::TypeDesc::UNKNOWN, pixels.data());
  const bool closed = out->close();
  if (!written || !closed)
    throw fileError(path + ": cannot write: " + oneLine(out->geterror()));
  temp.commitTo(path, request.replaceExisting);
}

} // namespace ofxrender
