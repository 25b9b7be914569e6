// Status names, action results and pixel format names.
#include "Internal.h"

namespace ofxhost {

std::string statusName(OfxStatus status) {
  static const char *const names[] = {
      "kOfxStatOK",           "kOfxStatFailed",
      "kOfxStatErrFatal",     "kOfxStatErrUnknown",
      "kOfxStatErrMissingHostFeature",
      "kOfxStatErrUnsupported", "kOfxStatErrExists",
      "kOfxStatErrFormat",    "kOfxStatErrMemory",
      "kOfxStatErrBadHandle", "kOfxStatErrBadIndex",
      "kOfxStatErrValue",     "kOfxStatReplyYes",
      "kOfxStatReplyNo",      "kOfxStatReplyDefault",
      "kOfxStatUnlicensed"};
  const int count = static_cast<int>(sizeof(names) / sizeof(names[0]));
  if (status >= 0 && status < count)
    return names[status];
  if (status == kOfxStatErrImageFormat)
    return "kOfxStatErrImageFormat";
  return "status " + std::to_string(status);
}

std::string failureText(const std::string &what, OfxStatus status) {
  return what + " failed: " + statusName(status) + " (" +
         std::to_string(status) + ")";
}

ActionResult ActionResult::failure(const std::string &action,
                                   OfxStatus status) {
  ActionResult result;
  result.status = status;
  result.message = failureText(action, status);
  return result;
}

namespace {

struct DepthInfo {
  BitDepth depth;
  const char *name;
  int bytes;
};

const DepthInfo depthTable[] = {
    {BitDepth::None, kOfxBitDepthNone, 0},
    {BitDepth::Byte, kOfxBitDepthByte, 1},
    {BitDepth::Short, kOfxBitDepthShort, 2},
    {BitDepth::Half, kOfxBitDepthHalf, 2},
    {BitDepth::Float, kOfxBitDepthFloat, 4},
};

struct ComponentsInfo {
  Components components;
  const char *name;
  int count;
};

const ComponentsInfo componentsTable[] = {
    {Components::None, kOfxImageComponentNone, 0},
    {Components::RGBA, kOfxImageComponentRGBA, 4},
    {Components::RGB, kOfxImageComponentRGB, 3},
    {Components::Alpha, kOfxImageComponentAlpha, 1},
};

} // namespace

const char *bitDepthName(BitDepth depth) {
  for (const DepthInfo &info : depthTable)
    if (info.depth == depth)
      return info.name;
  return kOfxBitDepthNone;
}

const char *componentsName(Components components) {
  for (const ComponentsInfo &info : componentsTable)
    if (info.components == components)
      return info.name;
  return kOfxImageComponentNone;
}

BitDepth bitDepthFromName(const std::string &name) {
  for (const DepthInfo &info : depthTable)
    if (name == info.name)
      return info.depth;
  return BitDepth::None;
}

Components componentsFromName(const std::string &name) {
  for (const ComponentsInfo &info : componentsTable)
    if (name == info.name)
      return info.components;
  return Components::None;
}

int bytesPerComponent(BitDepth depth) {
  for (const DepthInfo &info : depthTable)
    if (info.depth == depth)
      return info.bytes;
  return 0;
}

int componentCount(Components components) {
  for (const ComponentsInfo &info : componentsTable)
    if (info.components == components)
      return info.count;
  return 0;
}

} // namespace ofxhost
