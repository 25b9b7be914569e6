// What the test programs need of the system that differs between Linux and
// Windows: setting the environment, naming this process, and opening a
// plug-in binary directly. One place, so that no test spells it twice.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <process.h>
#include <windows.h>
// (psapi.h needs windows.h first)
#include <psapi.h>
#else
#include <dlfcn.h>
#include <fstream>
#include <unistd.h>
#endif

namespace qfx_test {

#if defined(_WIN32)
inline std::wstring widen(const std::string &utf8) {
  return std::filesystem::u8path(utf8).wstring();
}
#endif

// value is UTF-8, as every path in the tests is.
inline void setEnv(const char *name, const std::string &value) {
#if defined(_WIN32)
  _wputenv_s(widen(name).c_str(), widen(value).c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// An empty value removes the variable on Windows, as the system itself
// cannot tell an empty variable from a missing one.
inline void unsetEnv(const char *name) {
#if defined(_WIN32)
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

inline long processId() {
#if defined(_WIN32)
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(::getpid());
#endif
}

// The running program's file.
inline std::string programPath() {
#if defined(_WIN32)
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetModuleFileNameW(nullptr, buffer.data(),
                                      static_cast<DWORD>(buffer.size()))) ==
         buffer.size())
    buffer.resize(buffer.size() * 2);
  buffer.resize(length);
  return std::filesystem::path(buffer).u8string();
#else
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
#endif
}

// A plug-in binary opened with the system's loader, bypassing the host:
// nullptr, with the reason in error, when it cannot be.
inline void *openModule(const std::string &path, std::string &error) {
#if defined(_WIN32)
  const std::wstring wide =
      std::filesystem::u8path(path).make_preferred().wstring();
  void *module = reinterpret_cast<void *>(LoadLibraryW(wide.c_str()));
  if (!module)
    error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
  return module;
#else
  void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module)
    error = dlerror();
  return module;
#endif
}

inline void *moduleSymbol(void *module, const char *name) {
#if defined(_WIN32)
  return reinterpret_cast<void *>(
      GetProcAddress(static_cast<HMODULE>(module), name));
#else
  return dlsym(module, name);
#endif
}

inline void closeModule(void *module) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(module));
#else
  dlclose(module);
#endif
}

// Whether this process has the binary at path open (mapped, on Linux).
inline bool isModuleLoaded(const std::string &path) {
  const std::filesystem::path wanted =
      std::filesystem::weakly_canonical(std::filesystem::u8path(path));
#if defined(_WIN32)
  return GetModuleHandleW(wanted.wstring().c_str()) != nullptr;
#else
  std::ifstream maps("/proc/self/maps");
  const std::string name = wanted.string();
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= name.size() &&
        line.compare(line.size() - name.size(), name.size(), name) == 0)
      return true;
  return false;
#endif
}

// The memory this process holds from the system: on Linux its resident
// pages, on Windows its committed private bytes (what VirtualAlloc commits
// and VirtualFree gives back). 0 when the system does not say.
inline std::int64_t heldMemoryBytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(
          GetCurrentProcess(),
          reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
          sizeof counters))
    return 0;
  return static_cast<std::int64_t>(counters.PrivateUsage);
#else
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
#endif
}

} // namespace qfx_test
