// The registry of live handles. Plug-ins hand back whatever they were given,
// sometimes after it died; looking a pointer up here before using it turns
// such mistakes into kOfxStatErrBadHandle.
#include "Handles.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace ofxhost {
namespace {

struct Registry {
  std::shared_mutex mutex;
  std::unordered_map<const void *, HandleKind> kinds;
};

Registry &registry() {
  // Never destroyed: handles may be unregistered from static destructors.
  static Registry *instance = new Registry;
  return *instance;
}

} // namespace

void registerHandle(const void *handle, HandleKind kind) {
  Registry &r = registry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.kinds[handle] = kind;
}

void unregisterHandle(const void *handle) {
  Registry &r = registry();
  std::unique_lock<std::shared_mutex> lock(r.mutex);
  r.kinds.erase(handle);
}

bool isHandle(const void *handle, HandleKind kind) {
  if (!handle)
    return false;
  Registry &r = registry();
  std::shared_lock<std::shared_mutex> lock(r.mutex);
  auto it = r.kinds.find(handle);
  return it != r.kinds.end() && it->second == kind;
}

} // namespace ofxhost
