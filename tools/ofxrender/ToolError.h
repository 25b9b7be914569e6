// Failures of ofxrender as one line of text and the exit code that goes with
// it. Everything that stops a command is thrown as a ToolError and printed
// once, by main, so no code path can print twice or forget the exit code.
#pragma once

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace ofxrender {

// Exit codes, also listed in the usage text.
enum ExitCode {
  kExitOk = 0,
  kExitRenderFailed = 1,  // a plug-in failed to load, describe or render
  kExitUsage = 2,         // bad command line: option, plug-in, parameter, value
  kExitFile = 3,          // an input could not be read or an output written
  kExitInterrupted = 128, // plus the signal that stopped the job
};

class ToolError : public std::runtime_error {
public:
  ToolError(ExitCode code, const std::string &message)
      : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

private:
  ExitCode code_;
};

inline ToolError usageError(const std::string &message) {
  return ToolError(kExitUsage, message);
}
inline ToolError fileError(const std::string &message) {
  return ToolError(kExitFile, message);
}
inline ToolError renderError(const std::string &message) {
  return ToolError(kExitRenderFailed, message);
}

// A number as a message shows it: whole numbers in full, others (and the
// astronomically large) in six significant digits, never 300 of them.
inline std::string readableNumber(double value) {
  char buffer[32];
  if (std::fabs(value) < 1e15 && value == std::floor(value))
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  else
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
  return buffer;
}

} // namespace ofxrender
