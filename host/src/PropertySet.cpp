// Typed, dimensioned property sets: the storage behind the property suite
// and the C++ accessors the host and tests use.
#include "Handles.h"
#include "Properties.h"
#include "Suites.h"

#include <stdexcept>

namespace ofxhost {
namespace {

using Type = PropertySet::Type;

const char *typeName(Type type) {
  switch (type) {
  case Type::Int:
    return "int";
  case Type::Double:
    return "double";
  case Type::String:
    return "string";
  case Type::Pointer:
    return "pointer";
  }
  return "?";
}

// Maps a C++ value type onto the property type and its storage.
template <class T> struct Slot;
template <> struct Slot<int> {
  static constexpr Type type = Type::Int;
  static std::vector<int> &of(PropertyValues &v) { return v.ints; }
};
template <> struct Slot<double> {
  static constexpr Type type = Type::Double;
  static std::vector<double> &of(PropertyValues &v) { return v.doubles; }
};
template <> struct Slot<std::string> {
  static constexpr Type type = Type::String;
  static std::deque<std::string> &of(PropertyValues &v) { return v.strings; }
};
template <> struct Slot<void *> {
  static constexpr Type type = Type::Pointer;
  static std::vector<void *> &of(PropertyValues &v) { return v.pointers; }
};

void throwFor(OfxStatus status, const std::string &name, Type type, int index) {
  switch (status) {
  case kOfxStatErrUnknown:
    throw std::out_of_range("property " + name + " does not exist");
  case kOfxStatErrBadIndex:
    throw std::out_of_range("property " + name + " has no index " +
                            std::to_string(index));
  case kOfxStatErrValue:
    throw std::invalid_argument("property " + name + " is not of type " +
                                typeName(type));
  default:
    throw std::runtime_error(failureText("property " + name, status));
  }
}

template <class T>
T getOne(const PropertySet::Impl &impl, const std::string &name, int index) {
  const PropertySet::Impl::Locked held = impl.lock();
  Property *prop = nullptr;
  OfxStatus status = const_cast<PropertySet::Impl &>(impl).find(
      held, name, Slot<T>::type, prop);
  if (status != kOfxStatOK)
    throwFor(status, name, Slot<T>::type, index);
  if (index < 0 || index >= prop->dimension())
    throwFor(kOfxStatErrBadIndex, name, Slot<T>::type, index);
  return Slot<T>::of(prop->values)[index];
}

template <class T>
std::vector<T> getAll(const PropertySet::Impl &impl, const std::string &name) {
  const PropertySet::Impl::Locked held = impl.lock();
  Property *prop = nullptr;
  OfxStatus status = const_cast<PropertySet::Impl &>(impl).find(
      held, name, Slot<T>::type, prop);
  if (status != kOfxStatOK)
    throwFor(status, name, Slot<T>::type, 0);
  const auto &values = Slot<T>::of(prop->values);
  return std::vector<T>(values.begin(), values.end());
}

template <class T>
void setOne(PropertySet::Impl &impl, const std::string &name, const T &value,
            int index) {
  const PropertySet::Impl::Locked held = impl.lock();
  const bool created = impl.props.count(name) == 0;
  Property *prop = nullptr;
  OfxStatus status =
      impl.prepareSet(held, name, Slot<T>::type, index, false, prop);
  if (status != kOfxStatOK)
    throwFor(status, name, Slot<T>::type, index);
  Slot<T>::of(prop->values)[index] = value;
  if (created)
    prop->initial = prop->values;
}

template <class T, class Container>
void setAll(PropertySet::Impl &impl, const std::string &name,
            const Container &values) {
  const PropertySet::Impl::Locked held = impl.lock();
  auto it = impl.props.find(name);
  const bool created = it == impl.props.end();
  Property &prop =
      created ? impl.define(held, name, Slot<T>::type) : it->second;
  if (prop.type != Slot<T>::type)
    throwFor(kOfxStatErrValue, name, Slot<T>::type, 0);
  auto &stored = Slot<T>::of(prop.values);
  // Assign element by element so unchanged strings keep their buffers.
  stored.resize(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    stored[i] = values[i];
  if (created)
    prop.initial = prop.values;
}

} // namespace

// ---------------------------------------------------------------- Property

int Property::dimension() const {
  switch (type) {
  case Type::Int:
    return static_cast<int>(values.ints.size());
  case Type::Double:
    return static_cast<int>(values.doubles.size());
  case Type::String:
    return static_cast<int>(values.strings.size());
  case Type::Pointer:
    return static_cast<int>(values.pointers.size());
  }
  return 0;
}

void Property::resize(int n) {
  switch (type) {
  case Type::Int:
    values.ints.resize(n, 0);
    break;
  case Type::Double:
    values.doubles.resize(n, 0.0);
    break;
  case Type::String:
    values.strings.resize(n);
    break;
  case Type::Pointer:
    values.pointers.resize(n, nullptr);
    break;
  }
}

// ---------------------------------------------------------------- Impl

PropertySet::Impl::Impl() { registerHandle(this, HandleKind::PropertySet); }

PropertySet::Impl::~Impl() { unregisterHandle(this); }

OfxStatus PropertySet::Impl::find(const Locked &, const std::string &name,
                                  Type type, Property *&out) {
  auto it = props.find(name);
  if (it == props.end())
    return kOfxStatErrUnknown;
  if (it->second.type != type)
    return kOfxStatErrValue;
  out = &it->second;
  return kOfxStatOK;
}

Property &PropertySet::Impl::define(const Locked &, const std::string &name,
                                    Type type) {
  auto inserted = props.emplace(name, Property{});
  Property &prop = inserted.first->second;
  if (inserted.second)
    order.push_back(name);
  prop.type = type;
  prop.values = PropertyValues{};
  return prop;
}

OfxStatus PropertySet::Impl::prepareSet(const Locked &held,
                                        const std::string &name, Type type,
                                        int index, bool fromPlugin,
                                        Property *&out) {
  auto it = props.find(name);
  Property *prop = nullptr;
  if (it == props.end()) {
    if (fromPlugin && !createOnSet)
      return kOfxStatErrUnknown;
    if (index != 0)
      return kOfxStatErrBadIndex;
    prop = &define(held, name, type);
  } else {
    prop = &it->second;
  }
  if (prop->type != type)
    return kOfxStatErrValue;
  const int dim = prop->dimension();
  if (index < 0 || index > dim)
    return kOfxStatErrBadIndex;
  // Setting just past the end appends: descriptors build lists that way.
  if (index == dim)
    prop->resize(dim + 1);
  if (fromPlugin)
    prop->setByPlugin = true;
  out = prop;
  return kOfxStatOK;
}

void PropertySet::Impl::labelChanged(const Locked &) {
  auto label = props.find(kOfxPropLabel);
  if (label == props.end() || label->second.type != Type::String ||
      label->second.values.strings.empty())
    return;
  const std::string text = label->second.values.strings.front();
  for (const char *name : {kOfxPropShortLabel, kOfxPropLongLabel}) {
    auto it = props.find(name);
    if (it == props.end() || it->second.setByPlugin ||
        it->second.type != Type::String)
      continue;
    it->second.values.strings.assign(1, text);
  }
}

bool PropertySet::Impl::setByPlugin(const std::string &name) const {
  const Locked held = lock();
  auto it = props.find(name);
  return it != props.end() && it->second.setByPlugin;
}

void copyProperties(const PropertySet &from, PropertySet &to,
                    const std::set<std::string> &skip) {
  PropertySet::Impl &src = *from.impl();
  PropertySet::Impl &dst = *to.impl();
  if (&src == &dst)
    return;
  PropertySet::Impl::Locked srcHeld(src.mutex, std::defer_lock);
  PropertySet::Impl::Locked dstHeld(dst.mutex, std::defer_lock);
  std::lock(srcHeld, dstHeld);
  for (const std::string &name : src.order) {
    if (skip.count(name))
      continue;
    const Property &source = src.props.at(name);
    Property &target = dst.define(dstHeld, name, source.type);
    target.values = source.values;
    target.initial = source.initial;
    // A context descriptor or an instance goes on knowing what the plug-in
    // chose itself (the label rule below depends on it).
    target.setByPlugin = source.setByPlugin;
  }
}

// ---------------------------------------------------------------- PropertySet

PropertySet::PropertySet() : impl_(std::make_shared<Impl>()) {}
PropertySet::~PropertySet() = default;

bool PropertySet::has(const std::string &name) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->props.count(name) != 0;
}

PropertySet::Type PropertySet::type(const std::string &name) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->props.find(name);
  if (it == impl_->props.end())
    throw std::out_of_range("property " + name + " does not exist");
  return it->second.type;
}

int PropertySet::dimension(const std::string &name) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto it = impl_->props.find(name);
  if (it == impl_->props.end())
    throw std::out_of_range("property " + name + " does not exist");
  return it->second.dimension();
}

std::vector<std::string> PropertySet::names() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->order;
}

int PropertySet::getInt(const std::string &name, int index) const {
  return getOne<int>(*impl_, name, index);
}
double PropertySet::getDouble(const std::string &name, int index) const {
  return getOne<double>(*impl_, name, index);
}
std::string PropertySet::getString(const std::string &name, int index) const {
  return getOne<std::string>(*impl_, name, index);
}
void *PropertySet::getPointer(const std::string &name, int index) const {
  return getOne<void *>(*impl_, name, index);
}
std::vector<int> PropertySet::getInts(const std::string &name) const {
  return getAll<int>(*impl_, name);
}
std::vector<double> PropertySet::getDoubles(const std::string &name) const {
  return getAll<double>(*impl_, name);
}
std::vector<std::string>
PropertySet::getStrings(const std::string &name) const {
  return getAll<std::string>(*impl_, name);
}

void PropertySet::setInt(const std::string &name, int value, int index) {
  setOne<int>(*impl_, name, value, index);
}
void PropertySet::setDouble(const std::string &name, double value, int index) {
  setOne<double>(*impl_, name, value, index);
}
void PropertySet::setString(const std::string &name, const std::string &value,
                            int index) {
  setOne<std::string>(*impl_, name, value, index);
}
void PropertySet::setPointer(const std::string &name, void *value, int index) {
  setOne<void *>(*impl_, name, value, index);
}
void PropertySet::setInts(const std::string &name,
                          const std::vector<int> &values) {
  setAll<int>(*impl_, name, values);
}
void PropertySet::setDoubles(const std::string &name,
                             const std::vector<double> &values) {
  setAll<double>(*impl_, name, values);
}
void PropertySet::setStrings(const std::string &name,
                             const std::vector<std::string> &values) {
  setAll<std::string>(*impl_, name, values);
}

void PropertySet::remove(const std::string &name) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->props.erase(name) == 0)
    return;
  auto &order = impl_->order;
  for (auto it = order.begin(); it != order.end(); ++it) {
    if (*it == name) {
      order.erase(it);
      break;
    }
  }
}

OfxPropertySetHandle PropertySet::handle() {
  return reinterpret_cast<OfxPropertySetHandle>(impl_.get());
}

} // namespace ofxhost
