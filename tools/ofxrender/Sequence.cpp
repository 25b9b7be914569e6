#include "Sequence.h"

#include <algorithm>
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

bool parseStep(const std::string &text, size_t &pos, int &step) {
  if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
    return false;
  return parseFrame(text, pos, step) && step > 0;
}

} // namespace

FrameList FrameList::parse(const std::string &text) {
  const std::string error = "--frames: '" + text +
                            "' is not a frame range such as 1-24 or a list "
                            "such as 1-10,15,20-30x2";
  FrameList list;
  size_t pos = 0;
  while (true) {
    Span span;
    if (!parseFrame(text, pos, span.first))
      throw usageError(error);
    span.last = span.first;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!parseFrame(text, pos, span.last))
        throw usageError(error);
      if (span.last < span.first)
        throw usageError("--frames: the range " + std::to_string(span.first) +
                         "-" + std::to_string(span.last) +
                         " ends before it starts");
      if (pos < text.size() && text[pos] == 'x') {
        ++pos;
        if (!parseStep(text, pos, span.step))
          throw usageError(error);
      }
    }
    list.spans_.push_back(span);
    if (pos == text.size())
      return list;
    if (text[pos] != ',')
      throw usageError(error);
    ++pos;
  }
}

bool FrameList::contains(int frame) const {
  return position(frame).has_value();
}

std::optional<long long> FrameList::position(int frame) const {
  long long before = 0;
  for (const Span &span : spans_) {
    const long long offset = static_cast<long long>(frame) - span.first;
    if (frame >= span.first && frame <= span.last && offset % span.step == 0)
      return before + offset / span.step;
    before += (static_cast<long long>(span.last) - span.first) / span.step + 1;
  }
  return std::nullopt;
}

void FrameRuns::add(int frame) {
  ++count_;
  if (!runs_.empty() && runs_.back().last + 1LL == frame) {
    runs_.back().last = frame;
    return;
  }
  runs_.push_back({frame, frame});
}

std::string FrameRuns::text() const {
  std::string text;
  for (const FrameRange &run : runs_) {
    if (!text.empty())
      text += ',';
    text += std::to_string(run.first);
    if (run.last != run.first)
      text += '-' + std::to_string(run.last);
  }
  return text;
}

long long FrameList::count() const {
  long long total = 0;
  for (const Span &span : spans_)
    total += (static_cast<long long>(span.last) - span.first) / span.step + 1;
  return total;
}

int FrameList::lowest() const {
  int lowest = spans_.front().first;
  for (const Span &span : spans_)
    lowest = std::min(lowest, span.first);
  return lowest;
}

int FrameList::highest() const {
  int highest = spans_.front().first;
  for (const Span &span : spans_) {
    const long long steps =
        (static_cast<long long>(span.last) - span.first) / span.step;
    highest =
        std::max(highest, static_cast<int>(span.first + steps * span.step));
  }
  return highest;
}

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

std::optional<int> matchFramePattern(const std::string &pattern,
                                     const std::string &name) {
  const size_t run = pattern.find('#');
  if (run == std::string::npos || name.compare(0, run, pattern, 0, run) != 0)
    return std::nullopt;
  // The digits after the pattern's fixed start are the candidate; writing
  // the pattern out for it again must give the name exactly, which settles
  // padding, signs and every further run.
  size_t pos = run;
  if (pos < name.size() && name[pos] == '-')
    ++pos;
  while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9')
    ++pos;
  const std::string digits = name.substr(run, pos - run);
  size_t parsed = 0;
  int frame = 0;
  if (!parseFrame(digits, parsed, frame) || parsed != digits.size())
    return std::nullopt;
  if (expandFramePattern(pattern, frame) != name)
    return std::nullopt;
  return frame;
}

} // namespace ofxrender
