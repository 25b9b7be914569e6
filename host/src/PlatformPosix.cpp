// The host on Linux and other POSIX systems: ELF shared libraries through
// dlopen, and a probe that is a fork of this process or a program started
// with posix_spawn.
#include "Platform.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace ofxhost {
namespace platform {

const char *const kBundleArchDir = "Linux-x86-64";
const char kPathListSeparator = ':';

std::string defaultPluginDir() { return "/usr/OFX/Plugins"; }

std::string userCacheDir() {
  std::string dir;
  if (environmentVariable("XDG_CACHE_HOME", dir) && !dir.empty() &&
      dir.front() == '/')
    return dir;
  if (environmentVariable("HOME", dir) && !dir.empty())
    return dir + "/.cache";
  return "";
}

bool environmentVariable(const char *name, std::string &value) {
  const char *text = std::getenv(name);
  if (!text)
    return false;
  value = text;
  return true;
}

// ---------------------------------------------------------------- ELF

namespace {

#if defined(__x86_64__)
const int kNativeMachine = EM_X86_64;
#elif defined(__aarch64__)
const int kNativeMachine = EM_AARCH64;
#else
const int kNativeMachine = -1; // not checked
#endif

std::string truncated(std::uintmax_t size, std::uintmax_t needed) {
  return "the binary is cut short: it has " + std::to_string(size) +
         " bytes, its headers need " + std::to_string(needed);
}

bool readAt(std::ifstream &in, std::uintmax_t offset, void *out, size_t size) {
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char *>(out), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

std::string checkIdent(const ElfW(Ehdr) & header) {
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
    return "not a shared library (no ELF header)";
  const int nativeClass = sizeof(void *) == 8 ? ELFCLASS64 : ELFCLASS32;
  if (header.e_ident[EI_CLASS] != nativeClass)
    return std::string("built for a ") +
           (header.e_ident[EI_CLASS] == ELFCLASS32 ? "32" : "64") +
           "-bit system";
  const int one = 1;
  const int nativeData =
      *reinterpret_cast<const char *>(&one) == 1 ? ELFDATA2LSB : ELFDATA2MSB;
  if (header.e_ident[EI_DATA] != nativeData)
    return "built for a system of the other byte order";
  if (kNativeMachine >= 0 && header.e_machine != kNativeMachine)
    return "built for another processor (ELF machine " +
           std::to_string(header.e_machine) + ")";
  if (header.e_type != ET_DYN)
    return "not a shared library (ELF type " + std::to_string(header.e_type) +
           ")";
  return "";
}

} // namespace

std::string checkBinaryFile(const std::string &path) {
  std::ifstream in(toPath(path), std::ios::binary);
  if (!in)
    return std::string("cannot read the binary: ") + std::strerror(errno);
  in.seekg(0, std::ios::end);
  const std::uintmax_t size = static_cast<std::uintmax_t>(in.tellg());
  ElfW(Ehdr) header{};
  if (size < sizeof header || !readAt(in, 0, &header, sizeof header))
    return std::memcmp(&header, ELFMAG, SELFMAG) == 0 && size >= SELFMAG
               ? truncated(size, sizeof header)
               : "not a shared library (no ELF header)";
  const std::string problem = checkIdent(header);
  if (!problem.empty())
    return problem;
  if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0)
    return "not a shared library (no program headers)";
  const std::uintmax_t tableEnd =
      header.e_phoff + std::uintmax_t(header.e_phnum) * header.e_phentsize;
  if (tableEnd > size)
    return truncated(size, tableEnd);
  std::uintmax_t needed = tableEnd;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) segment{};
    if (!readAt(in, header.e_phoff + std::uintmax_t(i) * header.e_phentsize,
                &segment, sizeof segment))
      return truncated(size, tableEnd);
    if (segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC)
      needed =
          std::max<std::uintmax_t>(needed, segment.p_offset + segment.p_filesz);
  }
  if (header.e_shoff != 0)
    needed = std::max<std::uintmax_t>(
        needed,
        header.e_shoff + std::uintmax_t(header.e_shnum) * header.e_shentsize);
  return needed > size ? truncated(size, needed) : "";
}

void *openLibrary(const std::string &path, std::string &error) {
  dlerror();
  void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *why = dlerror();
    error = why ? why : "unknown";
  }
  return library;
}

void *librarySymbol(void *library, const char *name) {
  return dlsym(library, name);
}

void closeLibrary(void *library) {
  if (library)
    dlclose(library);
}

// ---------------------------------------------------------------- the probe

namespace {

void writeAll(int fd, const std::string &text) {
  const char *data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return;
    data += written;
    left -= static_cast<size_t>(written);
  }
}

// A probe runs in a process group of its own, out of reach of the
// terminal's signals; so that a host ended at once (a second Ctrl-C, a
// kill) leaves no hanging probe behind, the probe ends with it. The thread
// that started the probe waits for it, so it cannot end first.
void endWithHost() {
#if defined(__linux__)
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
}

// What the plug-in prints now it prints again when really used.
void silenceOutput() {
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (devNull < 0)
    return;
  ::dup2(devNull, STDOUT_FILENO);
  ::dup2(devNull, STDERR_FILENO);
}

long long nowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class ReadEnd { Closed, TimedOut, Stopped };

bool stopAsked(const std::function<bool()> &stopRequested) {
  return stopRequested && stopRequested();
}

// Everything the child wrote, until it closes the pipe, the time is up or
// the caller asks to stop.
ReadEnd readAll(int fd, long long deadline,
                const std::function<bool()> &stopRequested, std::string &text) {
  char buffer[4096];
  for (;;) {
    if (stopAsked(stopRequested))
      return ReadEnd::Stopped;
    const long long left = deadline - nowMs();
    if (left <= 0)
      return ReadEnd::TimedOut;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(
        &waiting, 1, static_cast<int>(std::min<long long>(left, kStopPollMs)));
    if (ready == 0 || (ready < 0 && errno == EINTR))
      continue;
    if (ready < 0)
      return ReadEnd::Closed;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return ReadEnd::Closed;
    text.append(buffer, static_cast<size_t>(got));
  }
}

// Waits, without reaping it, for the child to end: a child that closed its
// answers yet lives on must not hold the host past the deadline either.
ReadEnd waitForEnd(pid_t pid, long long deadline,
                   const std::function<bool()> &stopRequested) {
  for (;;) {
    siginfo_t info{};
    const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info,
                                WEXITED | WNOHANG | WNOWAIT);
    if (waited < 0 && errno == EINTR)
      continue;
    if (waited < 0 || info.si_pid == pid)
      return ReadEnd::Closed;
    if (stopAsked(stopRequested))
      return ReadEnd::Stopped;
    const long long left = deadline - nowMs();
    if (left <= 0)
      return ReadEnd::TimedOut;
    const long long nap = std::min<long long>({left, kStopPollMs, 5});
    const timespec pause{0, static_cast<long>(nap) * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
}

// Ends the probe and whatever it started. Called while the probe is not yet
// reaped, so that its number, which names the group, cannot have been
// given to another process.
void killProbeGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL); // in case it could not be given a group of its own
}

std::string signalText(int signal) {
  const char *name = sigabbrev_np(signal);
  const char *description = strsignal(signal);
  return std::string(name ? std::string("SIG") + name
                          : "signal " + std::to_string(signal)) +
         (description ? std::string(", ") + description : "");
}

// The probe program, started with its answers on its standard output;
// posix_spawn starts it without running anything of this process in
// between. -1 when it cannot be started.
pid_t spawnProbeProgram(const std::string &program,
                        const std::vector<std::string> &args, int answerFd,
                        std::string &error) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, answerFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY,
                                   0);
  // A group of its own: a Ctrl-C at the terminal goes to the foreground
  // group, and must stop the command, not kill the plug-in being probed.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &files, &attributes,
                                 argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  if (failed == 0)
    return pid;
  error = "cannot start the probe " + program + ": " + std::strerror(failed);
  return -1;
}

// A fork that answers and exits without running anything of the parent's
// (no atexit handlers, no stdio flushes).
pid_t forkProbe(const std::function<void(const AnswerWriter &)> &answer,
                int answerFd, std::string &error) {
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot start the probe: ") + std::strerror(errno);
    return -1;
  }
  // Both sides set the group, so that it is set before either goes on.
  if (pid > 0)
    ::setpgid(pid, pid);
  if (pid == 0) {
    ::setpgid(0, 0); // see spawnProbeProgram
    endWithHost();
    silenceOutput();
    answer([answerFd](const std::string &text) { writeAll(answerFd, text); });
    ::_exit(0);
  }
  return pid;
}

} // namespace

ProbeRun
runProbe(const std::string &program, const std::vector<std::string> &args,
         int timeoutMs, const std::function<bool()> &stopRequested,
         const std::function<void(const AnswerWriter &)> &answerInChild) {
  ProbeRun run;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    run.startError =
        std::string("cannot start the probe: ") + std::strerror(errno);
    return run;
  }
  const long long deadline = nowMs() + timeoutMs;
  const pid_t pid =
      program.empty()
          ? forkProbe(answerInChild, fds[1], run.startError)
          : spawnProbeProgram(program, args, fds[1], run.startError);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return run;
  }
  ReadEnd end = readAll(fds[0], deadline, stopRequested, run.output);
  ::close(fds[0]);
  if (end == ReadEnd::Closed)
    end = waitForEnd(pid, deadline, stopRequested);
  if (end != ReadEnd::Closed)
    killProbeGroup(pid);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.timedOut = end == ReadEnd::TimedOut;
  run.stopped = end == ReadEnd::Stopped;
  if (WIFSIGNALED(status))
    run.ending = "crashed (" + signalText(WTERMSIG(status)) + ")";
  else
    run.ending = "ended the process (exit status " +
                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                 ")";
  return run;
}

std::vector<std::string> programArguments(int argc, char **argv) {
  return std::vector<std::string>(argv, argv + argc);
}

AnswerWriter takeProbeAnswers() {
  endWithHost();
  // Close-on-exec: a helper the plug-in starts must not keep the host
  // waiting for the end of the answers.
  const int answers = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (answers < 0)
    return nullptr;
  silenceOutput();
  return [answers](const std::string &text) { writeAll(answers, text); };
}

void endProbeProcess() { ::_exit(0); }

} // namespace platform
} // namespace ofxhost
