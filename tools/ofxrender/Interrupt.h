// Stopping when told: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1 and
// SIGUSR2 ask the running command to stop at its next check (a scan between
// bundles or while a probe runs, a plug-in through its abort polling), and
// the temporary file being written is never left behind. A second request
// ends the process at once, with one line on stderr. A signal the parent
// left ignored stays ignored.
//
// Crashing with a word of our own: a fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL)
// or an abort ends the process as it would have ended anyway, with the same
// signal, but first one line on stderr names the plug-in and what it was
// doing, and the temporary file is removed.
#pragma once

#include <string>

namespace ofxrender {

// Installs the handlers for both; call once, before any work starts.
void installInterruptHandlers();

// The signal that asked the job to stop, or 0.
int interruptSignal();
bool interrupted();

// The exit code for a job stopped by sig: 128 + sig, as shells report it.
int interruptExitCode(int sig);

// Throws the ToolError that ends an interrupted command, if a stop was asked
// for; `unfinished` says what the stop left undone.
void throwIfInterrupted(
    const char *unfinished = "nothing was written for the unfinished frame");

// The temporary file the handlers remove when the process is ended at once.
// Only one is written at a time.
void registerTempFile(const std::string &path);
void unregisterTempFile();

// For as long as it lives, a crash is reported as "ofxrender: plug-in
// PLUGIN crashed (SIGSEGV, Segmentation fault) while DOING". The text is
// made here, beforehand: a handler may not allocate. Notes nest; the
// newest is reported. Without one a crash is the tool's own and says so.
class CrashNote {
public:
  CrashNote(const std::string &plugin, const std::string &doing);
  ~CrashNote();
  CrashNote(const CrashNote &) = delete;
  CrashNote &operator=(const CrashNote &) = delete;

  // What the handler writes before and after the signal's name.
  struct Text {
    std::string before, after;
  };

private:
  Text text_;
  const Text *previous_;
};

} // namespace ofxrender
