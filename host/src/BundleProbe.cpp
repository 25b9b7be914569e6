// Looking at a plug-in binary before this process trusts it. A binary cut
// short faults (SIGBUS) inside dlopen itself, and a plug-in can crash in its
// entry points or its load action; any of these would take every command
// down with it. So the binary's ELF headers are checked against the file,
// and its records are read, and its plug-ins loaded and described, in a
// child process whose death is only a reason to report.
#include "Bundles.h"
#include "HostState.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ofxhost {
namespace {

// Long enough for a sanitizer build to open a large plug-in; a plug-in that
// hangs in its load action is given up on after it.
const int kProbeTimeoutMs = 30000;

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

// Writes one line to the parent; fields must hold no tab or newline.
void sendLine(int fd, const std::vector<std::string> &fields) {
  std::string line;
  for (const std::string &field : fields) {
    if (!line.empty())
      line += '\t';
    for (char c : field)
      line += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  }
  line += '\n';
  const char *data = line.data();
  size_t left = line.size();
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

std::vector<std::string> splitFields(const std::string &line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t'))
    fields.push_back(field);
  return fields;
}

int toInt(const std::string &text) {
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

long long nowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Everything the child wrote, until it closes the pipe or the time is up.
bool readAll(int fd, std::string &text) {
  const long long deadline = nowMs() + kProbeTimeoutMs;
  char buffer[4096];
  for (;;) {
    const long long left = deadline - nowMs();
    if (left <= 0)
      return false;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return ready == 0 ? false : true;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return true;
    text.append(buffer, static_cast<size_t>(got));
  }
}

std::string signalText(int signal) {
  const char *name = sigabbrev_np(signal);
  const char *description = strsignal(signal);
  return std::string(name ? std::string("SIG") + name
                          : "signal " + std::to_string(signal)) +
         (description ? std::string(", ") + description : "");
}

} // namespace

void answerProbe(Host::Impl &host, const std::string &bundlePath,
                 const std::string &binary, bool runActions, int fd) {
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (devNull >= 0) {
    // What the plug-in prints now it prints again when really used.
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
  }
  std::vector<ProbedRecord> records;
  std::string error =
      readBinaryRecords(binary, records, [fd](const std::string &stage) {
        sendLine(fd, {"S", stage});
      });
  if (!error.empty()) {
    sendLine(fd, {"E", error});
    return;
  }
  for (const ProbedRecord &probed : records) {
    if (!probed.problem.empty()) {
      sendLine(fd, {"R", std::to_string(probed.index), probed.problem});
      continue;
    }
    sendLine(fd, {"P", std::to_string(probed.index), probed.identifier,
                  probed.api, std::to_string(probed.apiVersion),
                  std::to_string(probed.versionMajor),
                  std::to_string(probed.versionMinor)});
    if (!runActions)
      continue;
    auto impl = std::make_unique<Plugin::Impl>();
    impl->host = &host;
    impl->record = probed.record;
    impl->identifier = probed.identifier;
    impl->bundlePath = bundlePath;
    impl->binaryPath = binary;
    Plugin plugin(std::move(impl));
    sendLine(fd, {"S", "loading " + probed.identifier});
    const ActionResult loaded = plugin.load();
    if (!loaded.ok()) {
      sendLine(fd, {"L", std::to_string(probed.index),
                    std::to_string(loaded.status), loaded.message});
      continue;
    }
    sendLine(fd, {"S", "describing " + probed.identifier});
    if (plugin.describe().ok())
      sendLine(fd, {"D", std::to_string(probed.index), plugin.label()});
  }
  sendLine(fd, {"OK"});
}

namespace {

// The probe program, started with its answers on its standard output;
// posix_spawn starts it without running anything of this process in
// between. -1 when it cannot be started.
pid_t spawnProbeProgram(const std::string &program,
                        const std::string &bundlePath,
                        const std::string &binary, bool runActions,
                        int answerFd, std::string &error) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, answerFd, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY,
                                   0);
  std::vector<std::string> args = {program, bundlePath, binary,
                                   runActions ? "actions" : "records"};
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed =
      posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (failed == 0)
    return pid;
  error = "cannot start the probe " + program + ": " + std::strerror(failed);
  return -1;
}

// A fork that answers and exits without running anything of the parent's
// (no atexit handlers, no stdio flushes).
pid_t forkProbe(Host::Impl &host, const std::string &bundlePath,
                const std::string &binary, bool runActions, int answerFd,
                std::string &error) {
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot start the probe: ") + std::strerror(errno);
    return -1;
  }
  if (pid == 0) {
    answerProbe(host, bundlePath, binary, runActions, answerFd);
    ::_exit(0);
  }
  return pid;
}

// Turns the child's lines into probe's findings; false when it never said
// it was done.
bool parseProbeAnswer(const std::string &text, BundleProbe &probe,
                      std::string &stage) {
  std::istringstream in(text);
  std::string line;
  bool done = false;
  auto recordAt = [&probe](int index) -> ProbedRecord & {
    for (ProbedRecord &record : probe.records)
      if (record.index == index)
        return record;
    probe.records.push_back(ProbedRecord{});
    probe.records.back().index = index;
    return probe.records.back();
  };
  while (std::getline(in, line)) {
    const std::vector<std::string> f = splitFields(line);
    if (f.empty())
      continue;
    const std::string &kind = f[0];
    if (kind == "S" && f.size() >= 2) {
      stage = f[1];
    } else if (kind == "E" && f.size() >= 2) {
      probe.error = f[1];
      done = true;
    } else if (kind == "R" && f.size() >= 3) {
      recordAt(toInt(f[1])).problem = f[2];
    } else if (kind == "P" && f.size() >= 7) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.identifier = f[2];
      record.api = f[3];
      record.apiVersion = toInt(f[4]);
      record.versionMajor = static_cast<unsigned>(toInt(f[5]));
      record.versionMinor = static_cast<unsigned>(toInt(f[6]));
    } else if (kind == "L" && f.size() >= 4) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.loadResult.status = toInt(f[2]);
      record.loadResult.message = f[3];
    } else if (kind == "D" && f.size() >= 2) {
      ProbedRecord &record = recordAt(toInt(f[1]));
      record.described = true;
      record.label = f.size() >= 3 ? f[2] : "";
    } else if (kind == "OK") {
      done = true;
    }
  }
  return done;
}

} // namespace

std::string checkElfFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
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

std::string
readBinaryRecords(const std::string &binary, std::vector<ProbedRecord> &records,
                  const std::function<void(const std::string &)> &stage,
                  void **libraryOut) {
  stage("checking the binary");
  std::string problem = checkElfFile(binary);
  if (!problem.empty())
    return problem;
  stage("opening the binary");
  dlerror();
  void *library = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *why = dlerror();
    return std::string("cannot load the binary: ") + (why ? why : "unknown");
  }
  using CountFn = int (*)();
  using GetFn = OfxPlugin *(*)(int);
  auto count =
      reinterpret_cast<CountFn>(dlsym(library, "OfxGetNumberOfPlugins"));
  auto get = reinterpret_cast<GetFn>(dlsym(library, "OfxGetPlugin"));
  if (!count || !get) {
    dlclose(library);
    return std::string("the binary does not export ") +
           (!count ? "OfxGetNumberOfPlugins" : "OfxGetPlugin");
  }
  int n = 0;
  stage("calling OfxGetNumberOfPlugins");
  try {
    n = count();
  } catch (...) {
    dlclose(library);
    return "OfxGetNumberOfPlugins threw an exception";
  }
  if (n <= 0) {
    dlclose(library);
    return "the binary reports " + std::to_string(n) + " plug-ins";
  }
  for (int i = 0; i < n; ++i) {
    stage("calling OfxGetPlugin(" + std::to_string(i) + ")");
    ProbedRecord probed;
    probed.index = i;
    try {
      probed.record = get(i);
    } catch (...) {
      probed.record = nullptr;
    }
    probed.problem = checkRecord(probed.record, i);
    if (probed.problem.empty()) {
      probed.identifier = probed.record->pluginIdentifier;
      probed.api = probed.record->pluginApi;
      probed.apiVersion = probed.record->apiVersion;
      probed.versionMajor = probed.record->pluginVersionMajor;
      probed.versionMinor = probed.record->pluginVersionMinor;
    }
    records.push_back(std::move(probed));
  }
  if (libraryOut)
    *libraryOut = library;
  return "";
}

BundleProbe probeInChild(Host::Impl &host, const std::string &bundlePath,
                         const std::string &binary, bool runActions) {
  BundleProbe probe;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    probe.error =
        std::string("cannot start the probe: ") + std::strerror(errno);
    return probe;
  }
  const std::string &program = host.options.probeProgram;
  const pid_t pid =
      program.empty()
          ? forkProbe(host, bundlePath, binary, runActions, fds[1], probe.error)
          : spawnProbeProgram(program, bundlePath, binary, runActions, fds[1],
                              probe.error);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return probe;
  }
  std::string answer;
  const bool finished = readAll(fds[0], answer);
  ::close(fds[0]);
  if (!finished)
    ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  std::string stage = "starting";
  if (parseProbeAnswer(answer, probe, stage))
    return probe;
  probe.records.clear();
  if (!finished)
    probe.error = "the plug-in did not answer within " +
                  std::to_string(kProbeTimeoutMs / 1000) + " s while " + stage;
  else if (WIFSIGNALED(status))
    probe.error = "the plug-in crashed (" + signalText(WTERMSIG(status)) +
                  ") while " + stage;
  else
    probe.error = "the plug-in ended the process (exit status " +
                  std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                  ") while " + stage;
  return probe;
}

} // namespace ofxhost
