// A one-line progress bar for frame sequences, drawn only on a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace ofxrender {

class ProgressBar {
public:
  // Draws on stream when it is a terminal and enabled is true.
  ProgressBar(int total, bool enabled, std::FILE *stream = stderr);
  ~ProgressBar();
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  // done frames finished; label says what comes next.
  void update(int done, const std::string &label);
  // Ends the line (also done by the destructor).
  void finish();

private:
  int total_;
  bool active_;
  std::FILE *stream_;
};

} // namespace ofxrender
