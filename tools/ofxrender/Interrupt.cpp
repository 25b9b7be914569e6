#include "Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "ToolError.h"

namespace ofxrender {
namespace {

volatile sig_atomic_t g_signal = 0;
// The path is copied into a fixed buffer: a handler may not allocate.
char g_tempPath[4096];
volatile sig_atomic_t g_haveTemp = 0;

// The crash note in force. Atomic pointers are lock-free here, so the
// handler may read one.
std::atomic<const CrashNote::Text *> g_crashNote{nullptr};
static_assert(std::atomic<const CrashNote::Text *>::is_always_lock_free);
// Set by the first thread to crash: a second one does not write.
std::atomic<int> g_crashed{0};
// A child forked from this process (the host's fallback probe) inherits the
// handlers; its crashes are the host's to report, not ours.
pid_t g_toolProcess = 0;

// A plug-in that overflows its stack on the main thread still gets its
// line: the handler runs on a stack of its own.
alignas(16) char g_crashStack[64 * 1024];

// stderr as it was when the handlers were installed: while a picture is
// written, fd 2 is pointed at /dev/null to mute the libraries (see
// MutedStderr.h), and a handler's line must not go there.
int g_stderr = 2;

void writeText(const char *text) {
  const ssize_t ignored = ::write(g_stderr, text, std::strlen(text));
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
  // Every further write to a reader that is gone (the final flush of
  // stdout among them) raises SIGPIPE again; nobody is asking twice.
  if (sig == SIGPIPE)
    return;
  if (g_haveTemp)
    ::unlink(g_tempPath);
  // On a terminal the cursor stands after the echoed ^C or the progress
  // bar: the line starts on a line of its own.
  struct termios terminal;
  if (::tcgetattr(g_stderr, &terminal) == 0)
    writeText("\n");
  writeText("ofxrender: error: interrupted again; exiting now\n");
  ::_exit(interruptExitCode(sig));
}

// Every signal that asks for a stop rather than ending the process on the
// spot: an end that skips our clean-up would leave the temporary file.
// SIGPIPE comes from writing to a reader that went away (`| head`).
const int kStopSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT,
                            SIGPIPE, SIGUSR1, SIGUSR2};

const char *stopSignalName(int sig) {
  switch (sig) {
  case SIGINT:
    return "SIGINT";
  case SIGTERM:
    return "SIGTERM";
  case SIGHUP:
    return "SIGHUP";
  case SIGQUIT:
    return "SIGQUIT";
  case SIGPIPE:
    return "SIGPIPE";
  case SIGUSR1:
    return "SIGUSR1";
  case SIGUSR2:
    return "SIGUSR2";
  default:
    return "a signal";
  }
}

// strsignal() may allocate; these are the signals a crash ends with.
const char *crashName(int sig) {
  switch (sig) {
  case SIGSEGV:
    return "SIGSEGV, Segmentation fault";
  case SIGBUS:
    return "SIGBUS, Bus error";
  case SIGFPE:
    return "SIGFPE, Floating point exception";
  case SIGILL:
    return "SIGILL, Illegal instruction";
  case SIGABRT:
    return "SIGABRT, Aborted";
  default:
    return "a fatal signal";
  }
}

// Says who crashed, removes the temporary file, then lets the signal end
// the process as it would have without us, so that the exit status (139,
// 134, ...) and any core dump stay what they were.
extern "C" void onCrash(int sig) {
  if (::getpid() == g_toolProcess && g_crashed.exchange(1) == 0) {
    if (g_haveTemp)
      ::unlink(g_tempPath);
    const CrashNote::Text *note = g_crashNote.load();
    writeText(note ? note->before.c_str() : "ofxrender: crashed (");
    writeText(crashName(sig));
    writeText(note ? note->after.c_str() : ")\n");
  }
  // The signal is blocked while this runs: raised again, it ends the
  // process on return. A fault that was real would also fault again.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void installCrashHandlers() {
  g_toolProcess = ::getpid();
  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = g_crashStack;
  stack.ss_size = sizeof g_crashStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onCrash;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK;
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    ::sigaction(sig, &action, nullptr);
}

} // namespace

void installInterruptHandlers() {
  const int copy = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (copy >= 0)
    g_stderr = copy;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read blocked on a slow device returns, so the job
  // notices the request instead of waiting for the data.
  action.sa_flags = 0;
  for (int sig : kStopSignals) {
    // A signal ignored by whoever started us stays ignored: nohup's SIGHUP,
    // a pipeline's SIGPIPE.
    struct sigaction inherited;
    if (::sigaction(sig, nullptr, &inherited) == 0 &&
        inherited.sa_handler == SIG_IGN)
      continue;
    ::sigaction(sig, &action, nullptr);
  }
  installCrashHandlers();
}

int interruptSignal() { return g_signal; }

bool interrupted() { return g_signal != 0; }

int interruptExitCode(int sig) { return 128 + sig; }

void throwIfInterrupted(const char *unfinished) {
  const int sig = g_signal;
  if (sig == 0)
    return;
  throw ToolError(static_cast<ExitCode>(interruptExitCode(sig)),
                  std::string("interrupted by ") + stopSignalName(sig) + "; " +
                      unfinished);
}

void registerTempFile(const std::string &path) {
  if (path.size() >= sizeof g_tempPath)
    return;
  g_haveTemp = 0;
  std::memcpy(g_tempPath, path.c_str(), path.size() + 1);
  g_haveTemp = 1;
}

void unregisterTempFile() { g_haveTemp = 0; }

CrashNote::CrashNote(const std::string &plugin, const std::string &doing)
    : text_{"ofxrender: plug-in " + plugin + " crashed (",
            ") while " + doing + "\n"},
      previous_(g_crashNote.exchange(&text_)) {}

CrashNote::~CrashNote() { g_crashNote.store(previous_); }

} // namespace ofxrender
