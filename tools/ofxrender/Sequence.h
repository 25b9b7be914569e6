// Frame ranges ("10-24") and file name patterns with runs of '#'
// ("in.####.png" -> "in.0012.png").
#pragma once

#include <string>

namespace ofxrender {

struct FrameRange {
  int first = 0;
  int last = 0;
  int count() const { return last - first + 1; }
};

// "A-B" or "A" (either may be negative: "-5--1"). Throws a usage ToolError
// for anything else or for B < A.
FrameRange parseFrameRange(const std::string &text);

bool hasFramePattern(const std::string &path);

// Replaces every run of '#' by the frame number, zero-padded to the run's
// length (a negative number keeps its sign in front of the digits).
std::string expandFramePattern(const std::string &path, int frame);

} // namespace ofxrender
