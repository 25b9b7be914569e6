#include "Progress.h"

#include <unistd.h>

namespace ofxrender {

ProgressBar::ProgressBar(int total, bool enabled, std::FILE *stream)
    : total_(total > 0 ? total : 1),
      active_(enabled && ::isatty(::fileno(stream))), stream_(stream) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(int done, const std::string &label) {
  if (!active_)
    return;
  const int width = 30;
  const int filled = done * width / total_;
  std::string bar(filled, '#');
  bar.resize(width, '.');
  // \r and erase-to-end keep redrawing one line.
  std::fprintf(stream_, "\r[%s] %d/%d %s\033[K", bar.c_str(), done, total_,
               label.c_str());
  std::fflush(stream_);
}

void ProgressBar::finish() {
  if (!active_)
    return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
  active_ = false;
}

} // namespace ofxrender
