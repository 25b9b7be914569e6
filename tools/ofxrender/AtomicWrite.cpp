#include "AtomicWrite.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio> // renameat2
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "Interrupt.h"
#include "Sequence.h"
#include "ToolError.h"

namespace fs = std::filesystem;

namespace ofxrender {
namespace {

// The umask is process-wide and can only be read by setting it, which would
// race with threads creating files. The kernel shows it in our status; the
// set-and-restore fallback runs while the program starts, before any thread.
mode_t readUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

const mode_t g_umask = readUmask();

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since
// boot. A process id is reused; an id and its start time are not.
std::optional<unsigned long long> processStartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat))
    return std::nullopt;
  // The command name (field 2) is in parentheses and may hold anything.
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos)
    return std::nullopt;
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string field;
  for (int number = 3; number < 22; ++number)
    fields >> field;
  unsigned long long start = 0;
  if (!(fields >> start))
    return std::nullopt;
  return start;
}

// Processes in other pid namespaces (containers sharing the host's name)
// have ids of their own; the namespace is part of the writer's identity.
std::string pidNamespace() {
  std::error_code error;
  const std::string link = fs::read_symlink("/proc/self/ns/pid", error);
  const size_t open = link.find('[');
  if (error || open == std::string::npos)
    return "0";
  return link.substr(open + 1, link.size() - open - 2);
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || !*name)
    return "localhost";
  std::string host = name;
  for (char &c : host)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
      c = '_';
  return host;
}

// ".part-HOST-NAMESPACE-": what every temporary file this host's processes
// write carries after the target's name.
const std::string &hostTag() {
  static const std::string tag =
      ".part-" + hostName() + "-" + pidNamespace() + "-";
  return tag;
}

struct Writer {
  pid_t pid = 0;
  unsigned long long start = 0;
};

const Writer &thisWriter() {
  static const Writer writer{::getpid(),
                             processStartTime(::getpid()).value_or(0)};
  return writer;
}

bool allDigits(const std::string &text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// "PID-START-XXXXXX", the rest of a name after the host tag.
std::optional<Writer> parseWriter(const std::string &rest) {
  const size_t pidEnd = rest.find('-');
  if (pidEnd == std::string::npos)
    return std::nullopt;
  const size_t startEnd = rest.find('-', pidEnd + 1);
  if (startEnd == std::string::npos || rest.size() - startEnd - 1 != 6)
    return std::nullopt;
  const std::string pid = rest.substr(0, pidEnd);
  const std::string start = rest.substr(pidEnd + 1, startEnd - pidEnd - 1);
  if (!allDigits(pid) || !allDigits(start) || pid.size() > 9)
    return std::nullopt;
  return Writer{static_cast<pid_t>(std::stol(pid)),
                std::strtoull(start.c_str(), nullptr, 10)};
}

// Gone for sure: the id is free, or taken by a process that started at
// another time. When in doubt (a start time could not be read, now or by
// the writer) it is alive.
bool writerIsGone(const Writer &writer) {
  if (writer.pid <= 0)
    return false;
  if (::kill(writer.pid, 0) != 0 && errno == ESRCH)
    return true;
  const std::optional<unsigned long long> start = processStartTime(writer.pid);
  return start && writer.start != 0 && *start != writer.start;
}

// The target name a temporary file of this host is for, and its writer.
struct TempName {
  std::string target;
  Writer writer;
};

std::optional<TempName> parseTempName(const std::string &name) {
  const std::string &tag = hostTag();
  const size_t at = name.rfind(tag);
  if (name.empty() || name[0] != '.' || at == std::string::npos || at < 2)
    return std::nullopt;
  const std::optional<Writer> writer =
      parseWriter(name.substr(at + tag.size()));
  if (!writer)
    return std::nullopt;
  return TempName{name.substr(1, at - 1), *writer};
}

bool namesOutput(const std::string &namePattern, const std::string &target) {
  if (!hasFramePattern(namePattern))
    return target == namePattern;
  return matchFramePattern(namePattern, target).has_value();
}

// The mode a copy onto target would have: an existing file's, else what the
// umask leaves of 0666. The group is kept where the process may set it;
// where it cannot, the group gets no rights, as they would go to another
// group than the file's.
void giveFinalMode(int fd, const std::string &target) {
  struct stat existing;
  if (::stat(target.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) {
    ::fchmod(fd, 0666 & ~g_umask);
    return;
  }
  mode_t mode = existing.st_mode & 0777;
  struct stat own;
  if (::fstat(fd, &own) == 0 && own.st_gid != existing.st_gid &&
      ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) != 0)
    mode &= ~static_cast<mode_t>(070);
  // A file system without modes keeps the file as it is: owner only.
  ::fchmod(fd, mode);
}

} // namespace

TempFile::TempFile(const std::string &target) {
  const fs::path targetPath(target);
  const std::string hidden = "." + targetPath.filename().string();
  const Writer &writer = thisWriter();
  std::string name = (targetPath.parent_path() /
                      (hidden + hostTag() + std::to_string(writer.pid) + "-" +
                       std::to_string(writer.start) + "-XXXXXX"))
                         .string();
  // mkstemp creates the file exclusively, readable by its owner alone
  // until it is complete.
  int fd = ::mkstemp(name.data());
  if (fd < 0 && errno == ENAMETOOLONG) {
    // A target name near the file system's limit leaves no room for the
    // writer's name; such a file cannot be told stale, but it is written.
    name = (targetPath.parent_path() / (hidden + ".part-XXXXXX")).string();
    fd = ::mkstemp(name.data());
  }
  if (fd < 0)
    throw fileError(target + ": cannot create a temporary file beside it: " +
                    std::strerror(errno));
  ::close(fd);
  path_ = name;
  registerTempFile(path_);
}

TempFile::~TempFile() {
  if (!committed_)
    ::unlink(path_.c_str());
  unregisterTempFile();
}

namespace {

// Moves from onto target unless target exists, in one step where the file
// system can: a check before a plain rename would leave a window in which
// another job's frame is replaced. Returns false when target exists.
bool renameWithoutReplacing(const std::string &from,
                            const std::string &target) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(),
                  RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EEXIST)
    return false;
  if (errno != EINVAL && errno != ENOSYS)
    throw fileError(target + ": cannot move the finished file into place: " +
                    std::strerror(errno));
  // A file system without it: a hard link is made only where no name is.
  if (::link(from.c_str(), target.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST)
    return false;
  throw fileError(target + ": cannot move the finished file into place: " +
                  std::strerror(errno));
}

} // namespace

void TempFile::commitTo(const std::string &target, bool replace) {
  // Past this point the target is replaced: a stop asked for while the
  // file was written must win.
  throwIfInterrupted();
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    throw fileError(target + ": the temporary file " + path_ +
                    " went away: " + std::strerror(errno));
  giveFinalMode(fd, target);
  ::close(fd);
  if (!replace) {
    if (!renameWithoutReplacing(path_, target))
      throw TargetAppeared(target + ": appeared while it was rendered; it is "
                                    "kept and the render was not written");
    committed_ = true;
    return;
  }
  std::error_code error;
  fs::rename(path_, target, error);
  if (error)
    throw fileError(target + ": cannot move the finished file into place: " +
                    error.message());
  committed_ = true;
}

int removeStaleTempFiles(const std::string &outputPattern) {
  const fs::path pattern(outputPattern);
  const fs::path dir =
      pattern.parent_path().empty() ? fs::path(".") : pattern.parent_path();
  const std::string namePattern = pattern.filename().string();
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator entry(dir, error);
       !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const std::optional<TempName> temp = parseTempName(name);
    if (!temp || !namesOutput(namePattern, temp->target) ||
        !writerIsGone(temp->writer))
      continue;
    struct stat info;
    const std::string path = (dir / name).string();
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::unlink(path.c_str()) == 0)
      ++removed;
  }
  return removed;
}

} // namespace ofxrender
