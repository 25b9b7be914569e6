// A scope in which this process's stderr goes nowhere.
#pragma once

namespace ofxrender {

// Image libraries underneath OpenImageIO (libpng) print their own error
// text on stderr before OpenImageIO reports the same error to us. ofxrender
// promises one clear line per failure, so their stream is muted while a file
// is read or written; the errors still come back through OpenImageIO.
class MutedStderr {
public:
  MutedStderr();
  ~MutedStderr();
  MutedStderr(const MutedStderr &) = delete;
  MutedStderr &operator=(const MutedStderr &) = delete;

private:
  int saved_ = -1;
};

} // namespace ofxrender
