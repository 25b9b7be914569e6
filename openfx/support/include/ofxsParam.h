#ifndef OFXS_PARAM_H
#define OFXS_PARAM_H

// Parameter descriptors (used while describing an effect) and parameter
// instances (used by a live effect to read values at a time).

#include "ofxsCore.h"

#include <string>
#include <vector>

namespace OFX {

enum ParamTypeEnum {
  eDummyParam,
  eStringParam,
  eIntParam,
  eInt2DParam,
  eInt3DParam,
  eDoubleParam,
  eDouble2DParam,
  eDouble3DParam,
  eRGBParam,
  eRGBAParam,
  eBooleanParam,
  eChoiceParam,
  eCustomParam,
  eGroupParam,
  ePageParam,
  ePushButtonParam
};

enum DoubleTypeEnum {
  eDoubleTypePlain,
  eDoubleTypeAngle,
  eDoubleTypeScale,
  eDoubleTypeTime,
  eDoubleTypeAbsoluteTime,
  eDoubleTypeX,
  eDoubleTypeXAbsolute,
  eDoubleTypeY,
  eDoubleTypeYAbsolute,
  eDoubleTypeXY,
  eDoubleTypeXYAbsolute
};

// The OpenFX type string of a parameter type, e.g. kOfxParamTypeDouble.
const char *mapParamTypeToString(ParamTypeEnum type);

// ---------------------------------------------------------------------------
// Descriptors. They are created and owned by ImageEffectDescriptor; each
// setter writes one property of the host's parameter descriptor at once.

class ParamDescriptor {
public:
  ParamDescriptor(const std::string &name, ParamTypeEnum type,
                  OfxPropertySetHandle props);
  virtual ~ParamDescriptor();
  ParamDescriptor(const ParamDescriptor &) = delete;
  ParamDescriptor &operator=(const ParamDescriptor &) = delete;

  const std::string &getName() const { return name_; }
  ParamTypeEnum getType() const { return type_; }
  const PropertySet &getPropertySet() const { return props_; }

  void setLabel(const std::string &label);
  void setLabels(const std::string &label, const std::string &shortLabel,
                 const std::string &longLabel);
  virtual void setHint(const std::string &hint);
  void setScriptName(const std::string &name);
  void setEnabled(bool enabled);
  void setIsSecret(bool secret);
  void setParent(const ParamDescriptor &group);

protected:
  std::string name_;
  ParamTypeEnum type_;
  PropertySet props_;
};

// Parameters that carry a value: animation and evaluation settings.
class ValueParamDescriptor : public ParamDescriptor {
public:
  using ParamDescriptor::ParamDescriptor;
  void setAnimates(bool animates);
  void setEvaluateOnChange(bool evaluate);
  void setCanUndo(bool canUndo);
  void setIsPersistant(bool persistant);
};

class IntParamDescriptor : public ValueParamDescriptor {
public:
  IntParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(int value);
  void setRange(int min, int max);
  void setDisplayRange(int min, int max);
};

class BooleanParamDescriptor : public ValueParamDescriptor {
public:
  BooleanParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(bool value);
};

class DoubleParamDescriptor : public ValueParamDescriptor {
public:
  DoubleParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(double value);
  void setRange(double min, double max);
  void setDisplayRange(double min, double max);
  void setIncrement(double increment);
  void setDigits(int digits);
  void setDoubleType(DoubleTypeEnum type);
};

class Double2DParamDescriptor : public ValueParamDescriptor {
public:
  Double2DParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(double x, double y);
  void setRange(double minX, double minY, double maxX, double maxY);
  void setDisplayRange(double minX, double minY, double maxX, double maxY);
  void setIncrement(double increment);
  void setDigits(int digits);
  void setDoubleType(DoubleTypeEnum type);
};

class RGBAParamDescriptor : public ValueParamDescriptor {
public:
  RGBAParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(double r, double g, double b, double a);
};

// Options are stored in kOfxParamPropChoiceOption. An option given with a
// non-empty label also extends the hint, because hosts show no per-option
// help: the hint becomes the plain hint, a blank line, then one line
// "option: label" per labelled option, in option order.
class ChoiceParamDescriptor : public ValueParamDescriptor {
public:
  ChoiceParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setDefault(int index);
  void appendOption(const std::string &option, const std::string &label = "");
  int getNOptions() const { return static_cast<int>(options_.size()); }
  void setHint(const std::string &hint) override;

private:
  void writeHint();

  std::string hint_;
  std::vector<std::string> options_;
  std::vector<std::string> labelledLines_;
};

class GroupParamDescriptor : public ParamDescriptor {
public:
  GroupParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  void setOpen(bool open);
};

class PageParamDescriptor : public ParamDescriptor {
public:
  PageParamDescriptor(const std::string &name, OfxPropertySetHandle props);
  // Appends the parameter to the page's kOfxParamPropPageChild list.
  void addChild(const ParamDescriptor &param);
};

// ---------------------------------------------------------------------------
// Instances. Created and owned by ImageEffect (fetch...Param); the readers
// throw Exception::Suite when the host's parameter suite fails.

class Param {
public:
  Param(const std::string &name, ParamTypeEnum type, OfxParamHandle handle,
        OfxPropertySetHandle props);
  virtual ~Param();
  Param(const Param &) = delete;
  Param &operator=(const Param &) = delete;

  const std::string &getName() const { return name_; }
  ParamTypeEnum getType() const { return type_; }
  OfxParamHandle getHandle() const { return handle_; }
  const PropertySet &getPropertySet() const { return props_; }

protected:
  std::string name_;
  ParamTypeEnum type_;
  OfxParamHandle handle_;
  PropertySet props_;
};

class IntParam : public Param {
public:
  IntParam(const std::string &name, OfxParamHandle handle,
           OfxPropertySetHandle props);
  void getValue(int &value) const;
  int getValue() const;
  void getValueAtTime(double t, int &value) const;
  int getValueAtTime(double t) const;
};

class BooleanParam : public Param {
public:
  BooleanParam(const std::string &name, OfxParamHandle handle,
               OfxPropertySetHandle props);
  void getValue(bool &value) const;
  bool getValue() const;
  void getValueAtTime(double t, bool &value) const;
  bool getValueAtTime(double t) const;
};

class ChoiceParam : public Param {
public:
  ChoiceParam(const std::string &name, OfxParamHandle handle,
              OfxPropertySetHandle props);
  void getValue(int &value) const;
  int getValue() const;
  void getValueAtTime(double t, int &value) const;
  int getValueAtTime(double t) const;
  int getNOptions() const;
};

class DoubleParam : public Param {
public:
  DoubleParam(const std::string &name, OfxParamHandle handle,
              OfxPropertySetHandle props);
  void getValue(double &value) const;
  double getValue() const;
  void getValueAtTime(double t, double &value) const;
  double getValueAtTime(double t) const;
};

class Double2DParam : public Param {
public:
  Double2DParam(const std::string &name, OfxParamHandle handle,
                OfxPropertySetHandle props);
  void getValue(double &x, double &y) const;
  OfxPointD getValue() const;
  void getValueAtTime(double t, double &x, double &y) const;
  OfxPointD getValueAtTime(double t) const;
};

class RGBAParam : public Param {
public:
  RGBAParam(const std::string &name, OfxParamHandle handle,
            OfxPropertySetHandle props);
  void getValue(double &r, double &g, double &b, double &a) const;
  OfxRGBAColourD getValue() const;
  void getValueAtTime(double t, double &r, double &g, double &b,
                      double &a) const;
  OfxRGBAColourD getValueAtTime(double t) const;
};

} // namespace OFX

#endif // OFXS_PARAM_H
