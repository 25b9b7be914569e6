// A one-line progress bar for frame sequences and for the progress a
// plug-in reports while it renders, drawn only on a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace ofxrender {

class ProgressBar {
public:
  // Draws on stream when enabled is true and stream is a terminal (or
  // anywhere, when anyStream is true: for tests).
  ProgressBar(int total, bool enabled, std::FILE *stream = stderr,
              bool anyStream = false);
  ~ProgressBar();
  ProgressBar(const ProgressBar &) = delete;
  ProgressBar &operator=(const ProgressBar &) = delete;

  // done frames finished; label says what comes next.
  void update(int done, const std::string &label);
  // The plug-in's task on the current frame: what it is (empty: none) and
  // how much of it is done (0 to 1). Fills the bar within the frame.
  void pluginProgress(const std::string &task, double fraction);
  // Ends the line if anything was drawn (also done by the destructor).
  void finish();

private:
  void draw();

  int total_;
  bool active_;
  bool drawn_ = false;
  std::FILE *stream_;
  int done_ = 0;
  std::string label_;
  std::string task_;
  double fraction_ = 0.0;
};

} // namespace ofxrender
