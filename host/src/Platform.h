// What the host needs of the operating system, behind one interface:
// opening plug-in binaries and checking them first, running the probe
// process, and where plug-ins are searched for. PlatformPosix.cpp and
// PlatformWindows.cpp implement it; no other file of the host includes a
// system header. Internal to the host library.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ofxhost {
namespace platform {

// ---------------------------------------------------------------- paths

// Paths are UTF-8 in every std::string of the host. On Windows a
// std::filesystem::path made from a std::string, and path::string(), use
// the ANSI code page instead, which turns any other character into '?';
// so every conversion goes through these two.
inline std::filesystem::path toPath(const std::string &utf8) {
  return std::filesystem::u8path(utf8);
}
inline std::string fromPath(const std::filesystem::path &path) {
  return path.u8string();
}

// The folder under a bundle's Contents that holds this system's binary.
extern const char *const kBundleArchDir;
// Separates the folders listed in OFX_PLUGIN_PATH (':' would split a
// Windows drive letter from its path).
extern const char kPathListSeparator;
// The folder every host on this system searches for bundles.
std::string defaultPluginDir();
// The folder for this user's caches: $XDG_CACHE_HOME, else ~/.cache (on
// Windows %LOCALAPPDATA%); "" when none is known.
std::string userCacheDir();
// The variable's value in UTF-8; false when it is not set.
bool environmentVariable(const char *name, std::string &value);

// ---------------------------------------------------------------- binaries

// "" when the file is a shared library for this system whose headers, and
// the parts of the file they point to, lie within it; otherwise what is
// wrong, in one line. A binary cut short can fault inside the system's
// loader, so this comes before openLibrary.
std::string checkBinaryFile(const std::string &path);
// The library's handle, or nullptr with the reason in error.
void *openLibrary(const std::string &path, std::string &error);
void *librarySymbol(void *library, const char *name);
void closeLibrary(void *library);

// ---------------------------------------------------------------- the probe

// Sends text, whole, to the host that started the probe.
using AnswerWriter = std::function<void(const std::string &text)>;

// How a probe process went.
struct ProbeRun {
  // Set when it never started: "cannot start the probe ...: why".
  std::string startError;
  // Everything it sent before it closed its answers or was ended.
  std::string output;
  // It did not close its answers and end within the time limit, and was
  // ended then, with every process it had started.
  bool timedOut = false;
  // The caller asked to stop while it ran; it was ended then, with every
  // process it had started, and its answers mean nothing.
  bool stopped = false;
  // How it ended otherwise: "crashed (WHAT)" or "ended the process (exit
  // status N)".
  std::string ending;
};

// Runs the probe program with args after its name, its standard output
// the answers and its standard error the null device. An empty program
// means this system's default: on POSIX a fork of this process that runs
// answerInChild, on Windows ofxhost-probe.exe in this program's folder.
// stopRequested (may be empty) is asked at least every kStopPollMs while
// the probe runs. The probe runs apart from this process's terminal
// signals: a Ctrl-C meant for the command must not be blamed on a plug-in.
const int kStopPollMs = 50;
ProbeRun
runProbe(const std::string &program, const std::vector<std::string> &args,
         int timeoutMs, const std::function<bool()> &stopRequested,
         const std::function<void(const AnswerWriter &)> &answerInChild);

// For the probe program: its arguments in UTF-8, argv[0] first.
std::vector<std::string> programArguments(int argc, char **argv);
// For the probe program: keeps its standard output for the answers, sends
// whatever else is printed to the null device (a plug-in prints it again
// when really used), and lets a crash end the process without a dialog.
// An empty writer when the answers cannot be kept.
AnswerWriter takeProbeAnswers();
// Ends this process at once with status 0, running nothing of the
// program's or the plug-ins' (no exit handlers, no library unloading).
[[noreturn]] void endProbeProcess();

} // namespace platform
} // namespace ofxhost
