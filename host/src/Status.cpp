// Status names, action results and pixel format names.
#include "Suites.h"

namespace ofxhost {

std::string statusName(OfxStatus status) {
  static const char *const names[] = {"kOfxStatOK",
                                      "kOfxStatFailed",
                                      "kOfxStatErrFatal",
                                      "kOfxStatErrUnknown",
                                      "kOfxStatErrMissingHostFeature",
                                      "kOfxStatErrUnsupported",
                                      "kOfxStatErrExists",
                                      "kOfxStatErrFormat",
                                      "kOfxStatErrMemory",
                                      "kOfxStatErrBadHandle",
                                      "kOfxStatErrBadIndex",
                                      "kOfxStatErrValue",
                                      "kOfxStatReplyYes",
                                      "kOfxStatReplyNo",
                                      "kOfxStatReplyDefault",
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

namespace {

// The plug-in's text is not ours to trust: a line break in it would split
// the one line a report has, and a runaway message would bury the rest.
std::string oneLine(const std::string &text) {
  const size_t limit = 2000;
  std::string line = text.substr(0, limit);
  for (char &c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      c = ' ';
  if (text.size() > limit)
    line += "...";
  return line;
}

} // namespace

ActionResult ActionResult::failure(const std::string &action, OfxStatus status,
                                   const std::string &pluginMessage) {
  ActionResult result;
  result.status = status;
  result.pluginMessage = pluginMessage;
  result.message = failureText(action, status);
  if (!pluginMessage.empty())
    result.message += ": " + oneLine(pluginMessage);
  return result;
}

ActionResult actionResult(const std::string &action, OfxStatus status,
                          const std::string &pluginMessage) {
  ActionResult result;
  result.status = status;
  if (!result.ok())
    result = ActionResult::failure(action, status, pluginMessage);
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
