// Writing a file so that its target is either untouched or complete: the
// bytes go to a temporary file beside the target, which is renamed into
// place only once they are all there.
#pragma once

#include <string>

#include "ToolError.h"

namespace ofxrender {

// A target that came into being while its replacement was written, when
// existing targets are to be kept (another job of a farm wrote the frame
// meanwhile, say). Nothing was moved into place.
class TargetAppeared : public ToolError {
public:
  explicit TargetAppeared(const std::string &message)
      : ToolError(kExitFile, message) {}
};

// The file being written, beside its target, named
// ".NAME.part-HOST-PID-START-XXXXXX": the writer's host, process id and
// process start time, so that a later run can tell a file whose writer died
// without cleaning up (SIGKILL, the out-of-memory killer) from one still
// being written. It is created exclusively and readable by its owner alone;
// processes on several machines writing into one shared folder never pick
// the same name. It is removed when the object goes without commitTo having
// run, and on a stop signal while it exists (see Interrupt.h). Throws a
// file ToolError when it cannot be created.
class TempFile {
public:
  explicit TempFile(const std::string &target);
  ~TempFile();
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;

  const std::string &path() const { return path_; }
  // Gives the file the mode a copy would have (an existing target's mode
  // and, where allowed, its group; else what the umask leaves of 0666),
  // then renames it onto target. With replace false an existing target is
  // never replaced, however late it appeared: TargetAppeared is thrown and
  // the file removed. Throws a file ToolError when it cannot, or an
  // interruption when a stop was asked for meanwhile.
  void commitTo(const std::string &target, bool replace = true);

private:
  std::string path_;
  bool committed_ = false;
};

// Removes the temporary files left beside the outputs named by
// outputPattern (a path, or one with runs of '#' for the frame number) by
// writers on this host that are gone. Files of live writers and of other
// hosts are left alone. Returns how many were removed.
int removeStaleTempFiles(const std::string &outputPattern);

} // namespace ofxrender
