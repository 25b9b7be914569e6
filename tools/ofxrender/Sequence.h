// Frame ranges ("10-24"), frame lists ("1-10,15,20-30x2") and file name
// patterns with runs of '#' ("in.####.png" -> "in.0012.png").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ofxrender {

struct FrameRange {
  int first = 0;
  int last = 0;
  int count() const { return last - first + 1; }
};

// "A-B" or "A" (either may be negative: "-5--1"). Throws a usage ToolError
// for anything else or for B < A.
FrameRange parseFrameRange(const std::string &text);

// Frames in the order listed: comma-separated items "N", "A-B" or "A-BxS"
// (every S-th frame from A). Frames are produced one at a time, so a list
// of a billion frames costs no more memory than one of ten.
class FrameList {
public:
  struct Span {
    int first = 0, last = 0, step = 1;
  };

  // Throws a usage ToolError for anything but such a list.
  static FrameList parse(const std::string &text);

  // Calls visit(frame) for each frame in order while visit returns true;
  // returns false if it stopped early.
  template <class Visit> bool forEach(Visit visit) const {
    for (const Span &span : spans_)
      for (long long n = span.first; n <= span.last; n += span.step)
        if (!visit(static_cast<int>(n)))
          return false;
    return true;
  }

  bool contains(int frame) const;
  // Where frame first comes in the list (0 for the first frame listed).
  std::optional<long long> position(int frame) const;
  long long count() const;
  int lowest() const;
  int highest() const;

private:
  std::vector<Span> spans_;
};

// Frame numbers gathered one by one and shown as a short list: consecutive
// frames become a range ("1-10,15,17").
class FrameRuns {
public:
  void add(int frame);
  long long count() const { return count_; }
  std::string text() const;

private:
  std::vector<FrameRange> runs_;
  long long count_ = 0;
};

bool hasFramePattern(const std::string &path);

// Replaces every run of '#' by the frame number, zero-padded to the run's
// length (a negative number keeps its sign in front of the digits).
std::string expandFramePattern(const std::string &path, int frame);

// The frame number a file name pattern gives name, if it gives it for some
// frame: the inverse of expandFramePattern.
std::optional<int> matchFramePattern(const std::string &pattern,
                                     const std::string &name);

} // namespace ofxrender
