#include "MutedStderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace ofxrender {

MutedStderr::MutedStderr() {
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

MutedStderr::~MutedStderr() {
  if (saved_ < 0)
    return;
  std::fflush(stderr);
  ::dup2(saved_, 2);
  ::close(saved_);
}

} // namespace ofxrender
