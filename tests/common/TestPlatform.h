// What the test programs need of the system that differs between Linux and
// Windows: setting the environment and naming this process. One place, so
// that no test spells it twice.
#pragma once

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace qfx_test {

inline void setEnv(const char *name, const std::string &value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
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

} // namespace qfx_test
