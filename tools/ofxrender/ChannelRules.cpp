#include "ChannelRules.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "PixelTypes.h"
#include "Text.h"
#include "ToolError.h"

using ofxhost::Components;

namespace ofxrender {
namespace {

// One file pixel of nch channels as (r, g, b, a).
template <class T> void fileToRgba(const T *src, int nch, T opaque, T out[4]) {
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

// Integer components: c * a / max rounded to nearest. max is odd, so the
// exact quotient never ends in one half and adding max / 2 before the
// division rounds it without bias.
template <class T> T premultiplied(T colour, T alpha) {
  if constexpr (std::is_floating_point_v<T>) {
    return colour * alpha;
  } else {
    const std::uint64_t max = PixelTraits<T>::opaque();
    return static_cast<T>((std::uint64_t{colour} * alpha + max / 2) / max);
  }
}

template <class T>
void premultiplyPixels(std::vector<unsigned char> &bytes, int channels,
                       int alphaIndex) {
  T *pixel = reinterpret_cast<T *>(bytes.data());
  const size_t count = bytes.size() / sizeof(T) / channels;
  for (size_t i = 0; i < count; ++i, pixel += channels)
    for (int c = 0; c < channels; ++c)
      if (c != alphaIndex)
        pixel[c] = premultiplied(pixel[c], pixel[alphaIndex]);
}

template <class T>
void fillImage(const std::vector<unsigned char> &fileBytes, int nch,
               bool loneAlpha, ofxhost::Image &image) {
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
      if (loneAlpha) {
        rgba[0] = rgba[1] = rgba[2] = T{};
        rgba[3] = src[0];
      }
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

// The name's last part (after any layer) is A or alpha, in any case.
bool isAlphaName(const std::string &name) {
  const size_t dot = name.rfind('.');
  std::string last = dot == std::string::npos ? name : name.substr(dot + 1);
  for (char &c : last)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return last == "a" || last == "alpha";
}

// The layer a channel belongs to, with its dot ("diffuse." for diffuse.R).
std::string layerPrefix(const std::string &name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(0, dot + 1);
}

// The result goes back into the channels read; colour read from grey, and
// an alpha the file lacked, get the standard names in the layer read.
std::vector<std::string> renderedNamesFor(const OIIO::ImageSpec &spec,
                                          const std::vector<int> &picked,
                                          bool alphaOnly) {
  std::vector<std::string> names;
  for (int index : picked)
    names.emplace_back(spec.channel_name(index));
  const std::string prefix = layerPrefix(names.front());
  const size_t n = names.size();
  const bool hasAlpha = n == 4 || n == 2;
  const std::string alpha =
      hasAlpha ? names.back()
               : (n == 1 && isAlphaName(names[0]) ? names[0] : prefix + "A");
  if (alphaOnly)
    return {alpha};
  if (n >= 3)
    return {names[0], names[1], names[2], alpha};
  return {prefix + "R", prefix + "G", prefix + "B", alpha};
}

} // namespace

ChannelPlan planChannels(const std::string &path, const OIIO::ImageSpec &spec,
                         const std::string &request, bool alphaOnly) {
  ChannelPlan plan;
  plan.picked = pickChannels(path, spec, request);
  const size_t n = plan.picked.size();
  plan.loneAlpha =
      n == 1 && isAlphaName(std::string(spec.channel_name(plan.picked[0])));
  if (alphaOnly && n == 3)
    throw fileError(path + ": has no alpha channel for --alpha among the " +
                    "channels read (" +
                    std::string(spec.channel_name(plan.picked[0])) + ", " +
                    std::string(spec.channel_name(plan.picked[1])) + ", " +
                    std::string(spec.channel_name(plan.picked[2])) + ")");
  // A file read whole keeps the plain names it has always been written
  // with.
  if (request.empty() && static_cast<int>(n) == spec.nchannels)
    return plan;
  plan.renderedNames = renderedNamesFor(spec, plan.picked, alphaOnly);
  for (int c = 0; c < spec.nchannels; ++c) {
    const std::string name(spec.channel_name(c));
    const bool read = std::find(plan.picked.begin(), plan.picked.end(), c) !=
                      plan.picked.end();
    const bool replaced =
        std::find(plan.renderedNames.begin(), plan.renderedNames.end(), name) !=
        plan.renderedNames.end();
    if (!read && !replaced)
      plan.kept.push_back(c);
  }
  return plan;
}

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

void premultiply(std::vector<unsigned char> &pixels, int channels,
                 int alphaIndex, ofxhost::BitDepth depth) {
  withComponentType(depth, [&](auto zero) {
    premultiplyPixels<decltype(zero)>(pixels, channels, alphaIndex);
  });
}

void fillFromFile(const std::vector<unsigned char> &fileBytes, int nch,
                  bool loneAlpha, ofxhost::Image &image) {
  withComponentType(image.depth(), [&](auto zero) {
    fillImage<decltype(zero)>(fileBytes, nch, loneAlpha, image);
  });
}

FileChannels outputChannels(const ofxhost::Image &image,
                            bool formatHoldsAlpha) {
  FileChannels channels;
  channels.alphaOnly = image.components() == Components::Alpha;
  channels.imageChannels = channels.alphaOnly ? 1 : 4;
  // Without alpha the colour is written as it is, premultiplied, which is
  // the picture over black.
  channels.count =
      !channels.alphaOnly && !formatHoldsAlpha ? 3 : channels.imageChannels;
  return channels;
}

void labelChannels(const FileChannels &channels,
                   const std::vector<std::string> &renderedNames,
                   OIIO::ImageSpec &spec) {
  if (!renderedNames.empty())
    for (int c = 0; c < channels.count; ++c)
      spec.channelnames[c] = renderedNames[c];
  if (channels.alphaOnly) {
    if (renderedNames.empty())
      spec.channelnames = {"A"};
    spec.alpha_channel = -1; // nothing to un-premultiply against
  }
  if (channels.count == 3)
    spec.alpha_channel = -1;
}

} // namespace ofxrender
