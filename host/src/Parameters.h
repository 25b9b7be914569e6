// Parameters and parameter sets of descriptors and instances. Internal to the
// host library.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Properties.h"

namespace ofxhost {

struct ParamSetImpl;

// The project an instance lives in, in canonical coordinates.
struct ProjectFrame {
  OfxPointD size{0.0, 0.0};
  OfxPointD offset{0.0, 0.0};
};

struct Param::Impl {
  Impl(ParamSetImpl *owner, std::string name, std::string type);
  ~Impl();

  ParamSetImpl *owner;
  std::string name;
  std::string type;
  PropertySet props;
  int dimension = 0;

  mutable std::mutex mutex;
  std::vector<double> value;
  std::map<double, std::vector<double>> keys;
  std::string stringValue;

  bool isIntegral() const; // integer, boolean, choice (and 2D/3D integer)
  bool isDoubleBased() const;
  bool isStringBased() const;
  bool hasValue() const; // false for page, group, push button
  // Clamps one value to the parameter's range (choice: its options).
  std::vector<double> clamp(const std::vector<double> &v) const;
  std::vector<double> valueAtLocked(double time) const;
  // The slope of the value at time (0 outside the keyed span).
  std::vector<double> derivativeAt(double time) const;
  std::vector<double> integral(double t1, double t2) const;
  // Applies the defaults of kOfxParamPropDefault to the value. With a
  // project, a spatial default the plug-in gave in normalised coordinates
  // (kOfxParamPropDefaultCoordinateSystem) becomes canonical.
  void resetToDefault(const ProjectFrame *project = nullptr);
};

// Parameters of a descriptor or of an instance, in definition order.
struct ParamSetImpl {
  explicit ParamSetImpl(bool isInstance);
  ~ParamSetImpl();

  bool isInstance;
  struct EffectImpl *effect = nullptr;
  PropertySet props;
  std::vector<std::unique_ptr<Param>> params;

  Param *find(const std::string &name) const;
};

// Creates the properties every parameter of the type starts with. Returns
// false for a type the host does not know.
bool defineParamDefaults(PropertySet &props, const std::string &name,
                         const std::string &type);
int paramDimension(const std::string &type);

} // namespace ofxhost
