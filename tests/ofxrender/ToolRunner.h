// Helpers for the ofxrender tests: running the built tool as a subprocess
// in a scratch directory, and writing and reading image files directly with
// OpenImageIO to set up inputs and check outputs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

namespace ofxrender_test {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs OFXRENDER_BIN with args, capturing stdout and stderr. The plug-in
// path environment variable is cleared so only --plugin-path counts;
// environment ("NAME=VALUE") is added to what the tool inherits.
RunResult runTool(const std::vector<std::string> &args,
                  const std::vector<std::string> &environment = {});

// A tool process running in the background, for tests that run several at
// once or signal one.
struct RunningTool {
  int pid = -1;
  std::string outPath, errPath; // where its stdout and stderr go
};
// The tool starts with the stop signals at their default actions, as a shell
// starts it, whatever this process ignores or blocks. With
// stdoutToClosedPipe its stdout is a pipe nobody reads (`| head` gone).
RunningTool startTool(const std::vector<std::string> &args,
                      const std::vector<std::string> &environment = {},
                      bool stdoutToClosedPipe = false);
RunResult waitTool(const RunningTool &tool);
// Waits until the tool has a child process (a probe of a bundle it scans),
// for at most `limit`; false if none came.
bool waitForChildProcess(const RunningTool &tool, std::chrono::seconds limit);
// "render --plugin-path EFFECTS --plugin-path PROBES plugin input output
// extra..."
std::vector<std::string> renderArgs(const std::string &plugin,
                                    const std::string &input,
                                    const std::string &output,
                                    const std::vector<std::string> &extra = {});

// The same, run.
RunResult render(const std::string &plugin, const std::string &input,
                 const std::string &output,
                 const std::vector<std::string> &extra = {});

// Where the effect bundles are, and where the bundles built only for tests
// (the probe among them) are.
std::string bundleDir();
std::string probeBundleDir();
const char *const kProbe = "net.qfx.test.probe";

// An image file's pixels in the file's own type, row 0 at the top.
struct FileImage {
  OIIO::ImageSpec spec;
  std::vector<unsigned char> bytes; // native type, tightly packed
  std::vector<float> values;        // the same pixels as float (0..1)

  int channels() const { return spec.nchannels; }
  float at(int col, int row, int channel) const {
    return values[(static_cast<size_t>(row) * spec.width + col) *
                      spec.nchannels +
                  channel];
  }
};

// Reads the file as stored: for PNG and TIFF with unassociated alpha that
// means without premultiplying (so tests see the file's own numbers).
FileImage readFile(const std::string &path, bool raw = true);

// Writes a file of type type from float pixels (0..1, row 0 at the top).
// configure may adjust the ImageSpec (data window, attributes) before writing.
void writeFile(const std::string &path, int width, int height, int channels,
               OIIO::TypeDesc type, const std::vector<float> &values,
               const std::function<void(OIIO::ImageSpec &)> &configure = {});

// A configure step for writeFile: the data window starts at (x, y) inside a
// display window of fullWidth x fullHeight at the origin.
inline std::function<void(OIIO::ImageSpec &)>
placedIn(int x, int y, int fullWidth, int fullHeight) {
  return [=](OIIO::ImageSpec &spec) {
    spec.x = x;
    spec.y = y;
    spec.full_x = 0;
    spec.full_y = 0;
    spec.full_width = fullWidth;
    spec.full_height = fullHeight;
  };
}

// A deterministic test pattern: distinct values per pixel and channel, with
// alpha taking every kind of value (0, partial, 1) across the picture.
std::vector<float> pattern(int width, int height, int channels,
                           bool premultiplied);

// Copies the bundle NAME.ofx.bundle of folder `from` into folder `to` as
// AS.ofx.bundle (NAME when AS is empty), its binary renamed to match, and
// returns the copy's path.
std::string copyBundle(const std::string &from, const std::string &name,
                       const std::string &to, const std::string &as = "");

// Names of the entries of dir (to catch left-over temporary files).
std::vector<std::string> listDir(const std::string &dir);

bool fileExists(const std::string &path);
std::string fileContents(const std::string &path);

// A fresh scratch directory per test, removed afterwards.
class ToolTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string dir_;
};

} // namespace ofxrender_test
