// Handles handed to plug-ins, registered so that a stale or foreign one is
// refused. Internal to the host library.
#pragma once

namespace ofxhost {

// Every pointer handed to a plug-in as a handle is registered with its kind,
// so that a stale, foreign or null handle is answered with
// kOfxStatErrBadHandle instead of being dereferenced.
enum class HandleKind {
  PropertySet,
  Effect,
  ParamSet,
  Param,
  Clip,
  Memory,
  ImageMemory,
  Mutex
};

void registerHandle(const void *handle, HandleKind kind);
void unregisterHandle(const void *handle);
bool isHandle(const void *handle, HandleKind kind);

} // namespace ofxhost
