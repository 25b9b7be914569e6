// Writing a file so that its target is either untouched or complete: the
// bytes go to a temporary file beside the target, which is renamed into
// place only once they are all there.
#pragma once

#include <string>

namespace ofxrender {

// The file being written, beside its target. Its name is made unique by
// creating it exclusively, so processes on several machines writing into one
// shared folder never pick the same name (a process id alone can repeat).
// It is removed when the object goes without commitTo having run, and on a
// stop signal while it exists (see Interrupt.h). Throws a file ToolError
// when it cannot be created.
class TempFile {
public:
  explicit TempFile(const std::string &target);
  ~TempFile();
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;

  const std::string &path() const { return path_; }
  // Renames the file onto target. Throws a file ToolError when it cannot,
  // or an interruption when a stop was asked for meanwhile.
  void commitTo(const std::string &target);

private:
  std::string path_;
  bool committed_ = false;
};

} // namespace ofxrender
