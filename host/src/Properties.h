// Property sets: what the property suite and the C++ PropertySet share.
// Internal to the host library.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxhost {

struct PropertyValues {
  std::vector<int> ints;
  std::vector<double> doubles;
  std::deque<std::string> strings; // deque: growth keeps c_str() stable
  std::vector<void *> pointers;
};

struct Property {
  PropertySet::Type type = PropertySet::Type::Int;
  PropertyValues values;
  PropertyValues initial; // what propReset restores
  bool setByPlugin = false;

  int dimension() const;
  void resize(int n);
};

// Copies every property of from (values and types) into to, except the
// names in skip.
void copyProperties(const PropertySet &from, PropertySet &to,
                    const std::set<std::string> &skip = {});

struct PropertySet::Impl {
  Impl();
  ~Impl();

  mutable std::mutex mutex;
  std::map<std::string, Property> props; // map nodes never move
  std::vector<std::string> order;
  // Descriptors let the plug-in create properties by setting them; other
  // sets answer kOfxStatErrUnknown for names they do not have.
  bool createOnSet = false;
  // For image property sets: the clip that handed the image out.
  Clip::Impl *imageClip = nullptr;
  // For the host's own property set: the host it describes.
  Host::Impl *host = nullptr;

  // The mutex, held. The core below takes it as its first argument, so
  // that a call without the lock does not compile.
  using Locked = std::unique_lock<std::mutex>;
  Locked lock() const { return Locked(mutex); }

  // Status-returning core shared by the suite and the C++ accessors.
  OfxStatus find(const Locked &held, const std::string &name,
                 PropertySet::Type type, Property *&out);
  OfxStatus prepareSet(const Locked &held, const std::string &name,
                       PropertySet::Type type, int index, bool fromPlugin,
                       Property *&out);
  Property &define(const Locked &held, const std::string &name,
                   PropertySet::Type type);
  // After the plug-in set kOfxPropLabel: the short and long labels follow
  // it, unless the plug-in set them itself (the standard's 1.4 rule).
  void labelChanged(const Locked &held);
  // Whether the plug-in wrote the property; false for an unknown name.
  bool setByPlugin(const std::string &name) const;
};

} // namespace ofxhost
