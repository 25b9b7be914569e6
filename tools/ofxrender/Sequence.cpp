#include "Sequence.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "ToolError.h"

namespace ofxrender {
namespace {

// A whole decimal integer with an optional sign; the rest of text from end.
bool parseFrame(const std::string &text, size_t &pos, int &value) {
  const char *begin = text.c_str() + pos;
  if (*begin != '-' && (*begin < '0' || *begin > '9'))
    return false;
  char *end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || parsed < INT_MIN / 2 ||
      parsed > INT_MAX / 2)
    return false;
  value = static_cast<int>(parsed);
  pos += end - begin;
  return true;
}

} // namespace

FrameRange parseFrameRange(const std::string &text) {
  const std::string error =
      "--frames: '" + text + "' is not a frame range such as 1-24";
  FrameRange range;
  size_t pos = 0;
  if (!parseFrame(text, pos, range.first))
    throw usageError(error);
  if (pos == text.size()) {
    range.last = range.first;
    return range;
  }
  if (text[pos] != '-')
    throw usageError(error);
  ++pos;
  if (!parseFrame(text, pos, range.last) || pos != text.size())
    throw usageError(error);
  if (range.last < range.first)
    throw usageError("--frames: the range " + text + " ends before it starts");
  return range;
}

bool hasFramePattern(const std::string &path) {
  return path.find('#') != std::string::npos;
}

std::string expandFramePattern(const std::string &path, int frame) {
  std::string result;
  size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] != '#') {
      result += path[pos++];
      continue;
    }
    size_t width = 0;
    while (pos < path.size() && path[pos] == '#') {
      ++width;
      ++pos;
    }
    std::string digits = std::to_string(frame < 0 ? -static_cast<long>(frame)
                                                  : static_cast<long>(frame));
    if (digits.size() < width)
      digits.insert(0, width - digits.size(), '0');
    result += (frame < 0 ? "-" : "") + digits;
  }
  return result;
}

} // namespace ofxrender
