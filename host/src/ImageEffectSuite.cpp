// The image effect suite: effect and clip property sets, clip definition,
// image fetch and release, clip regions, the abort switch and image memory.
#include "Effects.h"
#include "Handles.h"
#include "Properties.h"
#include "Suites.h"

#include <new>

namespace ofxhost {
namespace {

EffectImpl *toEffect(OfxImageEffectHandle handle) {
  if (!isHandle(handle, HandleKind::Effect))
    return nullptr;
  return reinterpret_cast<EffectImpl *>(handle);
}

Clip::Impl *toClip(OfxImageClipHandle handle) {
  if (!isHandle(handle, HandleKind::Clip))
    return nullptr;
  return reinterpret_cast<Clip::Impl *>(handle);
}

struct ImageMemory {
  std::unique_ptr<unsigned char[]> bytes;
  std::atomic<int> locks{0};
};

ImageMemory *toMemory(OfxImageMemoryHandle handle) {
  if (!isHandle(handle, HandleKind::ImageMemory))
    return nullptr;
  return reinterpret_cast<ImageMemory *>(handle);
}

OfxStatus getPropertySet(OfxImageEffectHandle handle,
                         OfxPropertySetHandle *props) {
  EffectImpl *effect = toEffect(handle);
  if (!effect)
    return kOfxStatErrBadHandle;
  if (!props)
    return kOfxStatErrValue;
  *props = effect->props.handle();
  return kOfxStatOK;
}

OfxStatus getParamSet(OfxImageEffectHandle handle,
                      OfxParamSetHandle *paramSet) {
  EffectImpl *effect = toEffect(handle);
  if (!effect)
    return kOfxStatErrBadHandle;
  if (!paramSet)
    return kOfxStatErrValue;
  *paramSet = reinterpret_cast<OfxParamSetHandle>(&effect->params);
  return kOfxStatOK;
}

OfxStatus clipDefine(OfxImageEffectHandle handle, const char *name,
                     OfxPropertySetHandle *props) {
  return guarded([&]() -> OfxStatus {
    EffectImpl *effect = toEffect(handle);
    // Clips are declared on descriptors only.
    if (!effect || effect->isInstance)
      return kOfxStatErrBadHandle;
    if (!name || !*name)
      return kOfxStatErrValue;
    auto *descriptor = static_cast<Descriptor::Impl *>(effect);
    if (descriptor->findClip(name))
      return kOfxStatErrExists;
    PropertySet &clipProps = descriptor->defineClip(name);
    if (props)
      *props = clipProps.handle();
    return kOfxStatOK;
  });
}

OfxStatus clipGetHandle(OfxImageEffectHandle handle, const char *name,
                        OfxImageClipHandle *clip, OfxPropertySetHandle *props) {
  return guarded([&]() -> OfxStatus {
    EffectImpl *effect = toEffect(handle);
    if (!effect || !effect->isInstance)
      return kOfxStatErrBadHandle;
    if (!name || !clip)
      return kOfxStatErrValue;
    Clip *found = static_cast<Instance::Impl *>(effect)->findClip(name);
    if (!found)
      return kOfxStatErrUnknown;
    *clip = reinterpret_cast<OfxImageClipHandle>(found->impl());
    if (props)
      *props = found->props().handle();
    return kOfxStatOK;
  });
}

OfxStatus clipGetPropertySet(OfxImageClipHandle handle,
                             OfxPropertySetHandle *props) {
  Clip::Impl *clip = toClip(handle);
  if (!clip)
    return kOfxStatErrBadHandle;
  if (!props)
    return kOfxStatErrValue;
  *props = clip->props.handle();
  return kOfxStatOK;
}

OfxStatus clipGetImage(OfxImageClipHandle handle, OfxTime time,
                       const OfxRectD * /*region: we hand out whole images*/,
                       OfxPropertySetHandle *image) {
  return guarded([&]() -> OfxStatus {
    Clip::Impl *clip = toClip(handle);
    if (!clip)
      return kOfxStatErrBadHandle;
    if (!image)
      return kOfxStatErrValue;
    *image = nullptr;
    return clip->fetchImage(time, image);
  });
}

OfxStatus clipReleaseImage(OfxPropertySetHandle image) {
  if (!isHandle(image, HandleKind::PropertySet))
    return kOfxStatErrBadHandle;
  Clip::Impl *clip = reinterpret_cast<PropertySet::Impl *>(image)->imageClip;
  if (!clip || !isHandle(clip, HandleKind::Clip))
    return kOfxStatErrBadHandle;
  return clip->releaseImage(image);
}

OfxStatus clipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime time,
                                    OfxRectD *bounds) {
  return guarded([&]() -> OfxStatus {
    Clip::Impl *clip = toClip(handle);
    if (!clip)
      return kOfxStatErrBadHandle;
    if (!bounds)
      return kOfxStatErrValue;
    return clip->regionOfDefinition(time, *bounds);
  });
}

int abortRender(OfxImageEffectHandle handle) {
  EffectImpl *effect = toEffect(handle);
  if (!effect || !effect->isInstance)
    return 0;
  try {
    return static_cast<Instance::Impl *>(effect)->abortSwitch.poll() ? 1 : 0;
  } catch (...) {
    return 0; // a throwing test predicate must not unwind into the plug-in
  }
}

OfxStatus imageMemoryAlloc(OfxImageEffectHandle handle, size_t nBytes,
                           OfxImageMemoryHandle *memory) {
  return guarded([&]() -> OfxStatus {
    // The instance handle is optional: memory may be asked for outside one.
    if (handle && !toEffect(handle))
      return kOfxStatErrBadHandle;
    if (!memory)
      return kOfxStatErrValue;
    auto block = std::make_unique<ImageMemory>();
    block->bytes.reset(new (std::nothrow) unsigned char[nBytes ? nBytes : 1]);
    if (!block->bytes)
      return kOfxStatErrMemory;
    registerHandle(block.get(), HandleKind::ImageMemory);
    *memory = reinterpret_cast<OfxImageMemoryHandle>(block.release());
    return kOfxStatOK;
  });
}

OfxStatus imageMemoryFree(OfxImageMemoryHandle handle) {
  ImageMemory *memory = toMemory(handle);
  if (!memory)
    return kOfxStatErrBadHandle;
  unregisterHandle(memory);
  delete memory;
  return kOfxStatOK;
}

OfxStatus imageMemoryLock(OfxImageMemoryHandle handle, void **pointer) {
  ImageMemory *memory = toMemory(handle);
  if (!memory)
    return kOfxStatErrBadHandle;
  if (!pointer)
    return kOfxStatErrValue;
  ++memory->locks;
  *pointer = memory->bytes.get();
  return kOfxStatOK;
}

OfxStatus imageMemoryUnlock(OfxImageMemoryHandle handle) {
  ImageMemory *memory = toMemory(handle);
  if (!memory)
    return kOfxStatErrBadHandle;
  int locks = memory->locks.load();
  while (locks > 0 && !memory->locks.compare_exchange_weak(locks, locks - 1))
    ;
  return kOfxStatOK;
}

const OfxImageEffectSuiteV1 suite = {
    getPropertySet,     getParamSet,
    clipDefine,         clipGetHandle,
    clipGetPropertySet, clipGetImage,
    clipReleaseImage,   clipGetRegionOfDefinition,
    abortRender,        imageMemoryAlloc,
    imageMemoryFree,    imageMemoryLock,
    imageMemoryUnlock};

} // namespace

const OfxImageEffectSuiteV1 *imageEffectSuite() { return &suite; }

} // namespace ofxhost
