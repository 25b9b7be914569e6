#include "AtomicWrite.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "Interrupt.h"
#include "ToolError.h"

namespace fs = std::filesystem;

namespace ofxrender {

TempFile::TempFile(const std::string &target) {
  const fs::path targetPath(target);
  std::string name = (targetPath.parent_path() /
                      ("." + targetPath.filename().string() + ".part-XXXXXX"))
                         .string();
  const int fd = ::mkstemp(name.data());
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

void TempFile::commitTo(const std::string &target) {
  // Past this point the target is replaced: a stop asked for while the
  // file was written must win.
  throwIfInterrupted();
  std::error_code error;
  fs::rename(path_, target, error);
  if (error)
    throw fileError(target + ": cannot move the finished file into place: " +
                    error.message());
  committed_ = true;
}

} // namespace ofxrender
