#include "Progress.h"

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace ofxrender {

ProgressBar::ProgressBar(int total, bool enabled, std::FILE *stream,
                         bool anyStream)
    : total_(total > 0 ? total : 1),
      active_(enabled && (anyStream || ::isatty(::fileno(stream)))),
      stream_(stream) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(int done, const std::string &label) {
  done_ = done;
  label_ = label;
  task_.clear();
  fraction_ = 0.0;
  draw();
}

void ProgressBar::pluginProgress(const std::string &task, double fraction) {
  task_ = task;
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  draw();
}

void ProgressBar::draw() {
  if (!active_)
    return;
  const int width = 30;
  const double done = std::min(done_ + fraction_, double(total_));
  const int filled = static_cast<int>(done * width / total_);
  std::string bar(filled, '#');
  bar.resize(width, '.');
  std::string text = label_;
  if (!task_.empty()) {
    if (!text.empty())
      text += ": ";
    text += task_ + " " +
            std::to_string(static_cast<int>(std::lround(fraction_ * 100))) +
            "%";
  }
  // \r and erase-to-end keep redrawing one line.
  std::fprintf(stream_, "\r[%s] %d/%d %s\033[K", bar.c_str(), done_, total_,
               text.c_str());
  std::fflush(stream_);
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!active_)
    return;
  active_ = false;
  if (!drawn_)
    return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
}

} // namespace ofxrender
