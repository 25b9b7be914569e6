#include "Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "ToolError.h"

namespace ofxrender {
namespace {

volatile sig_atomic_t g_signal = 0;
// The path is copied into a fixed buffer: a handler may not allocate.
char g_tempPath[4096];
volatile sig_atomic_t g_haveTemp = 0;

void writeLine(const char *text) {
  const ssize_t ignored = ::write(2, text, std::strlen(text));
  (void)ignored;
}

// The first signal only asks; the job notices at its next check, so the
// plug-in ends its render cleanly and nothing half-done is kept. A user who
// asks again does not want to wait for a plug-in that never polls.
extern "C" void onInterrupt(int sig) {
  if (g_signal == 0) {
    g_signal = sig;
    return;
  }
  if (g_haveTemp)
    ::unlink(g_tempPath);
  writeLine("ofxrender: error: interrupted again; stopped at once\n");
  ::_exit(interruptExitCode(sig));
}

} // namespace

void installInterruptHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read blocked on a slow device returns, so the job
  // notices the request instead of waiting for the data.
  action.sa_flags = 0;
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    ::sigaction(sig, &action, nullptr);
}

int interruptSignal() { return g_signal; }

bool interrupted() { return g_signal != 0; }

int interruptExitCode(int sig) { return 128 + sig; }

void throwIfInterrupted() {
  const int sig = g_signal;
  if (sig == 0)
    return;
  throw ToolError(static_cast<ExitCode>(interruptExitCode(sig)),
                  std::string("interrupted by ") +
                      (sig == SIGINT    ? "SIGINT"
                       : sig == SIGTERM ? "SIGTERM"
                                        : "SIGHUP") +
                      "; nothing was written for the unfinished frame");
}

void registerTempFile(const std::string &path) {
  if (path.size() >= sizeof g_tempPath)
    return;
  g_haveTemp = 0;
  std::memcpy(g_tempPath, path.c_str(), path.size() + 1);
  g_haveTemp = 1;
}

void unregisterTempFile() { g_haveTemp = 0; }

} // namespace ofxrender
