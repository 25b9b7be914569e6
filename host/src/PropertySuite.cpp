// The property suite: the C face of PropertySet::Impl. Every entry checks
// its handle and arguments and answers with the standard's status codes:
// unknown name kOfxStatErrUnknown, index outside the dimension
// kOfxStatErrBadIndex, mismatched type kOfxStatErrValue.
#include "Handles.h"
#include "Properties.h"
#include "Suites.h"

#include <cstring>

namespace ofxhost {
namespace {

using Type = PropertySet::Type;

PropertySet::Impl *toSet(OfxPropertySetHandle handle) {
  if (!isHandle(handle, HandleKind::PropertySet))
    return nullptr;
  return reinterpret_cast<PropertySet::Impl *>(handle);
}

template <class T> struct CSlot;
template <> struct CSlot<int> {
  static constexpr Type type = Type::Int;
  static std::vector<int> &of(PropertyValues &v) { return v.ints; }
  static void store(int &dst, int src) { dst = src; }
  static int load(int &src) { return src; }
};
template <> struct CSlot<double> {
  static constexpr Type type = Type::Double;
  static std::vector<double> &of(PropertyValues &v) { return v.doubles; }
  static void store(double &dst, double src) { dst = src; }
  static double load(double &src) { return src; }
};
template <> struct CSlot<void *> {
  static constexpr Type type = Type::Pointer;
  static std::vector<void *> &of(PropertyValues &v) { return v.pointers; }
  static void store(void *&dst, void *src) { dst = src; }
  static void *load(void *&src) { return src; }
};
template <> struct CSlot<char *> {
  static constexpr Type type = Type::String;
  static std::deque<std::string> &of(PropertyValues &v) { return v.strings; }
  static void store(std::string &dst, const char *src) {
    if (dst != src)
      dst = src;
  }
  // The pointer stays valid while the set lives and the value is unchanged.
  static char *load(std::string &src) {
    return const_cast<char *>(src.c_str());
  }
};

template <class T, class In>
OfxStatus setOne(OfxPropertySetHandle handle, const char *name, int index,
                 In value) {
  PropertySet::Impl *set = toSet(handle);
  if (!set)
    return kOfxStatErrBadHandle;
  if (!name)
    return kOfxStatErrUnknown;
  const PropertySet::Impl::Locked held = set->lock();
  Property *prop = nullptr;
  OfxStatus status =
      set->prepareSet(held, name, CSlot<T>::type, index, true, prop);
  if (status != kOfxStatOK)
    return status;
  CSlot<T>::store(CSlot<T>::of(prop->values)[index], value);
  if (index == 0 && std::strcmp(name, kOfxPropLabel) == 0)
    set->labelChanged(held);
  return kOfxStatOK;
}

template <class T, class In>
OfxStatus setMany(OfxPropertySetHandle handle, const char *name, int count,
                  In const *values) {
  PropertySet::Impl *set = toSet(handle);
  if (!set)
    return kOfxStatErrBadHandle;
  if (!name)
    return kOfxStatErrUnknown;
  if (count < 0)
    return kOfxStatErrBadIndex;
  if (count > 0 && !values)
    return kOfxStatErrValue;
  const PropertySet::Impl::Locked held = set->lock();
  auto it = set->props.find(name);
  Property *prop = nullptr;
  if (it == set->props.end()) {
    if (!set->createOnSet)
      return kOfxStatErrUnknown;
    prop = &set->define(held, name, CSlot<T>::type);
  } else {
    prop = &it->second;
  }
  if (prop->type != CSlot<T>::type)
    return kOfxStatErrValue;
  auto &stored = CSlot<T>::of(prop->values);
  stored.resize(count);
  for (int i = 0; i < count; ++i)
    CSlot<T>::store(stored[i], values[i]);
  prop->setByPlugin = true;
  if (std::strcmp(name, kOfxPropLabel) == 0)
    set->labelChanged(held);
  return kOfxStatOK;
}

template <class T>
OfxStatus getOne(OfxPropertySetHandle handle, const char *name, int index,
                 T *value) {
  PropertySet::Impl *set = toSet(handle);
  if (!set)
    return kOfxStatErrBadHandle;
  if (!name)
    return kOfxStatErrUnknown;
  if (!value)
    return kOfxStatErrValue;
  const PropertySet::Impl::Locked held = set->lock();
  Property *prop = nullptr;
  OfxStatus status = set->find(held, name, CSlot<T>::type, prop);
  if (status != kOfxStatOK)
    return status;
  if (index < 0 || index >= prop->dimension())
    return kOfxStatErrBadIndex;
  *value = CSlot<T>::load(CSlot<T>::of(prop->values)[index]);
  return kOfxStatOK;
}

template <class T>
OfxStatus getMany(OfxPropertySetHandle handle, const char *name, int count,
                  T *values) {
  PropertySet::Impl *set = toSet(handle);
  if (!set)
    return kOfxStatErrBadHandle;
  if (!name)
    return kOfxStatErrUnknown;
  if (count > 0 && !values)
    return kOfxStatErrValue;
  const PropertySet::Impl::Locked held = set->lock();
  Property *prop = nullptr;
  OfxStatus status = set->find(held, name, CSlot<T>::type, prop);
  if (status != kOfxStatOK)
    return status;
  if (count < 0 || count > prop->dimension())
    return kOfxStatErrBadIndex;
  auto &stored = CSlot<T>::of(prop->values);
  for (int i = 0; i < count; ++i)
    values[i] = CSlot<T>::load(stored[i]);
  return kOfxStatOK;
}

OfxStatus propSetPointer(OfxPropertySetHandle h, const char *name, int index,
                         void *value) {
  return guarded([&] { return setOne<void *>(h, name, index, value); });
}
OfxStatus propSetString(OfxPropertySetHandle h, const char *name, int index,
                        const char *value) {
  if (!value)
    return toSet(h) ? kOfxStatErrValue : kOfxStatErrBadHandle;
  return guarded([&] { return setOne<char *>(h, name, index, value); });
}
OfxStatus propSetDouble(OfxPropertySetHandle h, const char *name, int index,
                        double value) {
  return guarded([&] { return setOne<double>(h, name, index, value); });
}
OfxStatus propSetInt(OfxPropertySetHandle h, const char *name, int index,
                     int value) {
  return guarded([&] { return setOne<int>(h, name, index, value); });
}
OfxStatus propSetPointerN(OfxPropertySetHandle h, const char *name, int count,
                          void *const *values) {
  return guarded([&] { return setMany<void *>(h, name, count, values); });
}
OfxStatus propSetStringN(OfxPropertySetHandle h, const char *name, int count,
                         const char *const *values) {
  for (int i = 0; values && i < count; ++i)
    if (!values[i])
      return toSet(h) ? kOfxStatErrValue : kOfxStatErrBadHandle;
  return guarded([&] { return setMany<char *>(h, name, count, values); });
}
OfxStatus propSetDoubleN(OfxPropertySetHandle h, const char *name, int count,
                         const double *values) {
  return guarded([&] { return setMany<double>(h, name, count, values); });
}
OfxStatus propSetIntN(OfxPropertySetHandle h, const char *name, int count,
                      const int *values) {
  return guarded([&] { return setMany<int>(h, name, count, values); });
}
OfxStatus propGetPointer(OfxPropertySetHandle h, const char *name, int index,
                         void **value) {
  return guarded([&] { return getOne<void *>(h, name, index, value); });
}
OfxStatus propGetString(OfxPropertySetHandle h, const char *name, int index,
                        char **value) {
  return guarded([&] { return getOne<char *>(h, name, index, value); });
}
OfxStatus propGetDouble(OfxPropertySetHandle h, const char *name, int index,
                        double *value) {
  return guarded([&] { return getOne<double>(h, name, index, value); });
}
OfxStatus propGetInt(OfxPropertySetHandle h, const char *name, int index,
                     int *value) {
  return guarded([&] { return getOne<int>(h, name, index, value); });
}
OfxStatus propGetPointerN(OfxPropertySetHandle h, const char *name, int count,
                          void **values) {
  return guarded([&] { return getMany<void *>(h, name, count, values); });
}
OfxStatus propGetStringN(OfxPropertySetHandle h, const char *name, int count,
                         char **values) {
  return guarded([&] { return getMany<char *>(h, name, count, values); });
}
OfxStatus propGetDoubleN(OfxPropertySetHandle h, const char *name, int count,
                         double *values) {
  return guarded([&] { return getMany<double>(h, name, count, values); });
}
OfxStatus propGetIntN(OfxPropertySetHandle h, const char *name, int count,
                      int *values) {
  return guarded([&] { return getMany<int>(h, name, count, values); });
}

OfxStatus propReset(OfxPropertySetHandle h, const char *name) {
  return guarded([&]() -> OfxStatus {
    PropertySet::Impl *set = toSet(h);
    if (!set)
      return kOfxStatErrBadHandle;
    if (!name)
      return kOfxStatErrUnknown;
    std::lock_guard<std::mutex> lock(set->mutex);
    auto it = set->props.find(name);
    if (it == set->props.end())
      return kOfxStatErrUnknown;
    it->second.values = it->second.initial;
    // Back to the host's value: the plug-in no longer holds it (a short
    // label follows the label again, a region of interest is the default).
    it->second.setByPlugin = false;
    return kOfxStatOK;
  });
}

OfxStatus propGetDimension(OfxPropertySetHandle h, const char *name,
                           int *count) {
  return guarded([&]() -> OfxStatus {
    PropertySet::Impl *set = toSet(h);
    if (!set)
      return kOfxStatErrBadHandle;
    if (!name)
      return kOfxStatErrUnknown;
    if (!count)
      return kOfxStatErrValue;
    std::lock_guard<std::mutex> lock(set->mutex);
    auto it = set->props.find(name);
    if (it == set->props.end())
      return kOfxStatErrUnknown;
    *count = it->second.dimension();
    return kOfxStatOK;
  });
}

const OfxPropertySuiteV1 suite = {
    propSetPointer,  propSetString,   propSetDouble,  propSetInt,
    propSetPointerN, propSetStringN,  propSetDoubleN, propSetIntN,
    propGetPointer,  propGetString,   propGetDouble,  propGetInt,
    propGetPointerN, propGetStringN,  propGetDoubleN, propGetIntN,
    propReset,       propGetDimension};

} // namespace

const OfxPropertySuiteV1 *propertySuite() { return &suite; }

} // namespace ofxhost
