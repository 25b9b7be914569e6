#include "ToolRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace fs = std::filesystem;

namespace ofxrender_test {

RunningTool startTool(const std::vector<std::string> &args,
                      const std::vector<std::string> &environment,
                      bool stdoutToClosedPipe) {
  static int started = 0;
  ::unsetenv("OFX_PLUGIN_PATH");
  const std::string base = fs::temp_directory_path() /
                           ("ofxrender-run-" + std::to_string(::getpid()) +
                            "-" + std::to_string(started++));
  RunningTool tool;
  tool.outPath = base + ".out";
  tool.errPath = base + ".err";

  std::vector<std::string> argv = {OFXRENDER_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> cargs;
  for (std::string &arg : argv)
    cargs.push_back(arg.data());
  cargs.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeEnds[2] = {-1, -1};
  if (stdoutToClosedPipe && ::pipe(pipeEnds) == 0) {
    ::close(pipeEnds[0]);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, tool.outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, 2, tool.errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The entries given come first: a name found twice is read at its first.
  std::vector<std::string> envStrings = environment;
  std::vector<char *> env;
  for (std::string &entry : envStrings)
    env.push_back(entry.data());
  for (char **entry = environ; *entry; ++entry)
    env.push_back(*entry);
  env.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, sig);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, cargs[0], &actions, &attributes,
                                  cargs.data(), env.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0)
    ::close(pipeEnds[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << OFXRENDER_BIN << ": "
                  << std::strerror(spawned);
    return tool;
  }
  tool.pid = pid;
  return tool;
}

RunResult waitTool(const RunningTool &tool) {
  RunResult result;
  if (tool.pid < 0)
    return result;
  int status = 0;
  ::waitpid(tool.pid, &status, 0);
  result.exitCode =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = fileContents(tool.outPath);
  result.err = fileContents(tool.errPath);
  fs::remove(tool.outPath);
  fs::remove(tool.errPath);
  return result;
}

bool waitForChildProcess(const RunningTool &tool, std::chrono::seconds limit) {
  const fs::path tasks = "/proc/" + std::to_string(tool.pid) + "/task";
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    // The tool may end meanwhile, and its folder go with it.
    std::error_code error;
    for (fs::directory_iterator task(tasks, error);
         !error && task != fs::directory_iterator(); task.increment(error)) {
      int child = 0;
      if (std::ifstream(task->path() / "children") >> child)
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

RunResult runTool(const std::vector<std::string> &args,
                  const std::vector<std::string> &environment) {
  return waitTool(startTool(args, environment));
}

std::string bundleDir() { return QFX_TEST_BUNDLE_DIR; }
std::string probeBundleDir() { return QFX_PROBE_BUNDLE_DIR; }

std::vector<std::string> renderArgs(const std::string &plugin,
                                    const std::string &input,
                                    const std::string &output,
                                    const std::vector<std::string> &extra) {
  std::vector<std::string> args = {
      "render",         "--plugin-path", bundleDir(), "--plugin-path",
      probeBundleDir(), plugin,          input,       output};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

RunResult render(const std::string &plugin, const std::string &input,
                 const std::string &output,
                 const std::vector<std::string> &extra) {
  return runTool(renderArgs(plugin, input, output, extra));
}

FileImage readFile(const std::string &path, bool raw) {
  FileImage image;
  OIIO::ImageSpec config;
  if (raw)
    config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
    return image;
  }
  image.spec = in->spec();
  const size_t count = static_cast<size_t>(image.spec.width) *
                       image.spec.height * image.spec.nchannels;
  image.bytes.resize(count * image.spec.format.size());
  image.values.resize(count);
  if (!in->read_image(0, 0, 0, image.spec.nchannels, image.spec.format,
                      image.bytes.data()) ||
      !OIIO::convert_pixel_values(image.spec.format, image.bytes.data(),
                                  OIIO::TypeDesc::FLOAT, image.values.data(),
                                  static_cast<int>(count)))
    ADD_FAILURE() << "cannot read " << path << ": " << in->geterror();
  return image;
}

void writeFile(const std::string &path, int width, int height, int channels,
               OIIO::TypeDesc type, const std::vector<float> &values,
               const std::function<void(OIIO::ImageSpec &)> &configure) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  OIIO::ImageSpec spec(width, height, channels, type);
  if (configure)
    configure(spec);
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data()))
      << out->geterror();
  ASSERT_TRUE(out->close()) << out->geterror();
}

std::vector<float> pattern(int width, int height, int channels,
                           bool premultiplied) {
  std::vector<float> values;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int i = y * width + x;
      // Alpha cycles through 0, 1 and partial values.
      const float alpha = (i % 5 == 0) ? 0.0f
                          : (i % 5 == 1)
                              ? 1.0f
                              : static_cast<float>((i * 37) % 97) / 96;
      for (int c = 0; c < channels; ++c) {
        const bool isAlpha =
            c == channels - 1 && (channels == 4 || channels == 2);
        float v = static_cast<float>(((i + 1) * (c + 3) * 29) % 251) / 250;
        if (isAlpha)
          v = alpha;
        else if (premultiplied && (channels == 4 || channels == 2))
          v *= alpha;
        values.push_back(v);
      }
    }
  return values;
}

std::string copyBundle(const std::string &from, const std::string &name,
                       const std::string &to, const std::string &as) {
  const std::string copyName = as.empty() ? name : as;
  const std::string copy = to + "/" + copyName + ".ofx.bundle";
  fs::create_directories(to);
  fs::copy(from + "/" + name + ".ofx.bundle", copy,
           fs::copy_options::recursive);
  const std::string binaries = copy + "/Contents/Linux-x86-64/";
  if (copyName != name)
    fs::rename(binaries + name + ".ofx", binaries + copyName + ".ofx");
  return copy;
}

std::vector<std::string> listDir(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool fileExists(const std::string &path) { return fs::exists(path); }

std::string fileContents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ToolTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "ofxrender-test-XXXXXX");
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void ToolTest::TearDown() {
  if (!dir_.empty())
    fs::remove_all(dir_);
}

} // namespace ofxrender_test
