// The parameter suite: definition on descriptors, values and keyframes on
// instances. Values travel through varargs as the standard lays down: int
// for integer, boolean and choice parameters, double for the double-based
// ones, char* for strings; gets take pointers to those.
#include "Effects.h"
#include "Handles.h"
#include "Parameters.h"
#include "Suites.h"

#include <cmath>
#include <cstdarg>

namespace ofxhost {
namespace {

ParamSetImpl *toParamSet(OfxParamSetHandle handle) {
  if (!isHandle(handle, HandleKind::ParamSet))
    return nullptr;
  return reinterpret_cast<ParamSetImpl *>(handle);
}

Param::Impl *toParam(OfxParamHandle handle) {
  if (!isHandle(handle, HandleKind::Param))
    return nullptr;
  return reinterpret_cast<Param::Impl *>(handle);
}

Instance::Impl *instanceOf(const Param::Impl &param) {
  EffectImpl *effect = param.owner ? param.owner->effect : nullptr;
  if (!effect || !effect->isInstance)
    return nullptr;
  return static_cast<Instance::Impl *>(effect);
}

double currentTimeOf(const Param::Impl &param) {
  Instance::Impl *instance = instanceOf(param);
  return instance ? instance->currentTime.load() : 0.0;
}

OfxStatus injectedGetFault(const Param::Impl &param) {
  Instance::Impl *instance = instanceOf(param);
  return instance ? instance->faults.paramGet : kOfxStatOK;
}

void markAnimating(Param::Impl &param) {
  param.props.setInt(kOfxParamPropIsAnimating, param.keys.empty() ? 0 : 1);
}

// Writes the value at time through the caller's pointers.
OfxStatus getValues(Param::Impl &param, double time, va_list ap) {
  if (!param.hasValue())
    return kOfxStatErrUnsupported;
  std::lock_guard<std::mutex> lock(param.mutex);
  if (param.isStringBased()) {
    char **out = va_arg(ap, char **);
    if (!out)
      return kOfxStatErrValue;
    *out = const_cast<char *>(param.stringValue.c_str());
    return kOfxStatOK;
  }
  const std::vector<double> value = param.valueAtLocked(time);
  for (int i = 0; i < param.dimension; ++i) {
    if (param.isIntegral()) {
      int *out = va_arg(ap, int *);
      if (!out)
        return kOfxStatErrValue;
      *out = static_cast<int>(std::lround(value[i]));
    } else {
      double *out = va_arg(ap, double *);
      if (!out)
        return kOfxStatErrValue;
      *out = value[i];
    }
  }
  return kOfxStatOK;
}

OfxStatus setString(Param::Impl &param, const char *text) {
  if (!text)
    return kOfxStatErrValue;
  if (param.type == kOfxParamTypeStrChoice) {
    bool known = false;
    if (param.props.has(kOfxParamPropChoiceEnum))
      for (const std::string &option :
           param.props.getStrings(kOfxParamPropChoiceEnum))
        known = known || option == text;
    if (!known)
      return kOfxStatErrValue;
  }
  std::lock_guard<std::mutex> lock(param.mutex);
  param.stringValue = text;
  return kOfxStatOK;
}

// Reads the new value from the varargs, clamps it and stores it: as a key
// at time when one is given (or when the parameter is already animated),
// otherwise as the constant value.
OfxStatus setValues(Param::Impl &param, const double *time, va_list ap) {
  if (!param.hasValue())
    return kOfxStatErrUnsupported;
  if (param.isStringBased())
    return setString(param, va_arg(ap, const char *));
  std::vector<double> value(param.dimension);
  for (int i = 0; i < param.dimension; ++i)
    value[i] = param.isIntegral() ? va_arg(ap, int) : va_arg(ap, double);
  value = param.clamp(value);
  const double now = currentTimeOf(param);
  std::lock_guard<std::mutex> lock(param.mutex);
  if (time)
    param.keys[*time] = value;
  else if (!param.keys.empty())
    param.keys[now] = value;
  else
    param.value = value;
  markAnimating(param);
  return kOfxStatOK;
}

OfxStatus paramDefine(OfxParamSetHandle handle, const char *type,
                      const char *name, OfxPropertySetHandle *props) {
  return guarded([&]() -> OfxStatus {
    ParamSetImpl *set = toParamSet(handle);
    if (!set)
      return kOfxStatErrBadHandle;
    if (set->isInstance)
      return kOfxStatErrUnsupported;
    if (!type || !name || !*name)
      return kOfxStatErrValue;
    if (set->find(name))
      return kOfxStatErrExists;
    auto impl = std::make_unique<Param::Impl>(set, name, type);
    if (!defineParamDefaults(impl->props, name, type))
      return kOfxStatErrUnknown;
    impl->resetToDefault();
    if (props)
      *props = impl->props.handle();
    set->params.push_back(std::make_unique<Param>(std::move(impl)));
    return kOfxStatOK;
  });
}

OfxStatus paramGetHandle(OfxParamSetHandle handle, const char *name,
                         OfxParamHandle *param, OfxPropertySetHandle *props) {
  return guarded([&]() -> OfxStatus {
    ParamSetImpl *set = toParamSet(handle);
    if (!set)
      return kOfxStatErrBadHandle;
    if (!name || !param)
      return kOfxStatErrValue;
    Param *found = set->find(name);
    if (!found)
      return kOfxStatErrUnknown;
    *param = reinterpret_cast<OfxParamHandle>(found->impl());
    if (props)
      *props = found->props().handle();
    return kOfxStatOK;
  });
}

OfxStatus paramSetGetPropertySet(OfxParamSetHandle handle,
                                 OfxPropertySetHandle *props) {
  ParamSetImpl *set = toParamSet(handle);
  if (!set)
    return kOfxStatErrBadHandle;
  if (!props)
    return kOfxStatErrValue;
  *props = set->props.handle();
  return kOfxStatOK;
}

OfxStatus paramGetPropertySet(OfxParamHandle handle,
                              OfxPropertySetHandle *props) {
  Param::Impl *param = toParam(handle);
  if (!param)
    return kOfxStatErrBadHandle;
  if (!props)
    return kOfxStatErrValue;
  *props = param->props.handle();
  return kOfxStatOK;
}

OfxStatus paramGetValue(OfxParamHandle handle, ...) {
  va_list ap;
  va_start(ap, handle);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    if (OfxStatus fault = injectedGetFault(*param))
      return fault;
    OfxStatus status = getValues(*param, currentTimeOf(*param), ap);
    return status;
  });
  va_end(ap);
  return result;
}

OfxStatus paramGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  va_list ap;
  va_start(ap, time);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    if (OfxStatus fault = injectedGetFault(*param))
      return fault;
    OfxStatus status = getValues(*param, time, ap);
    return status;
  });
  va_end(ap);
  return result;
}

// Derivatives and integrals only make sense for double-based parameters.
OfxStatus writeDoubles(Param::Impl &param, const std::vector<double> &values,
                       va_list ap) {
  for (int i = 0; i < param.dimension; ++i) {
    double *out = va_arg(ap, double *);
    if (!out)
      return kOfxStatErrValue;
    *out = values[i];
  }
  return kOfxStatOK;
}

OfxStatus paramGetDerivative(OfxParamHandle handle, OfxTime time, ...) {
  va_list ap;
  va_start(ap, time);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    if (!param->isDoubleBased())
      return kOfxStatErrUnsupported;
    std::vector<double> slope;
    {
      std::lock_guard<std::mutex> lock(param->mutex);
      slope = param->derivativeAt(time);
    }
    OfxStatus status = writeDoubles(*param, slope, ap);
    return status;
  });
  va_end(ap);
  return result;
}

OfxStatus paramGetIntegral(OfxParamHandle handle, OfxTime time1, OfxTime time2,
                           ...) {
  va_list ap;
  va_start(ap, time2);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    if (!param->isDoubleBased())
      return kOfxStatErrUnsupported;
    std::vector<double> area;
    {
      std::lock_guard<std::mutex> lock(param->mutex);
      area = param->integral(time1, time2);
    }
    OfxStatus status = writeDoubles(*param, area, ap);
    return status;
  });
  va_end(ap);
  return result;
}

OfxStatus paramSetValue(OfxParamHandle handle, ...) {
  va_list ap;
  va_start(ap, handle);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    OfxStatus status = setValues(*param, nullptr, ap);
    return status;
  });
  va_end(ap);
  return result;
}

OfxStatus paramSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  va_list ap;
  va_start(ap, time);
  const OfxStatus result = guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    OfxStatus status = setValues(*param, &time, ap);
    return status;
  });
  va_end(ap);
  return result;
}

OfxStatus paramGetNumKeys(OfxParamHandle handle, unsigned int *count) {
  Param::Impl *param = toParam(handle);
  if (!param)
    return kOfxStatErrBadHandle;
  if (!count)
    return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  *count = static_cast<unsigned>(param->keys.size());
  return kOfxStatOK;
}

OfxStatus paramGetKeyTime(OfxParamHandle handle, unsigned int nth,
                          OfxTime *time) {
  Param::Impl *param = toParam(handle);
  if (!param)
    return kOfxStatErrBadHandle;
  if (!time)
    return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  if (nth >= param->keys.size())
    return kOfxStatErrBadIndex;
  *time = std::next(param->keys.begin(), nth)->first;
  return kOfxStatOK;
}

OfxStatus paramGetKeyIndex(OfxParamHandle handle, OfxTime time, int direction,
                           int *index) {
  Param::Impl *param = toParam(handle);
  if (!param)
    return kOfxStatErrBadHandle;
  if (!index)
    return kOfxStatErrValue;
  std::lock_guard<std::mutex> lock(param->mutex);
  const auto &keys = param->keys;
  auto it = keys.end();
  if (direction == 0) {
    it = keys.find(time);
  } else if (direction < 0) {
    auto after = keys.lower_bound(time);
    if (after != keys.begin())
      it = std::prev(after);
  } else {
    it = keys.upper_bound(time);
  }
  if (it == keys.end())
    return kOfxStatFailed;
  *index = static_cast<int>(std::distance(keys.begin(), it));
  return kOfxStatOK;
}

OfxStatus paramDeleteKey(OfxParamHandle handle, OfxTime time) {
  Param::Impl *param = toParam(handle);
  if (!param)
    return kOfxStatErrBadHandle;
  std::lock_guard<std::mutex> lock(param->mutex);
  auto it = param->keys.find(time);
  if (it == param->keys.end())
    return kOfxStatErrBadIndex;
  // The last key removed leaves its value as the constant one.
  if (param->keys.size() == 1)
    param->value = it->second;
  param->keys.erase(it);
  markAnimating(*param);
  return kOfxStatOK;
}

OfxStatus paramDeleteAllKeys(OfxParamHandle handle) {
  return guarded([&]() -> OfxStatus {
    Param::Impl *param = toParam(handle);
    if (!param)
      return kOfxStatErrBadHandle;
    const double now = currentTimeOf(*param);
    std::lock_guard<std::mutex> lock(param->mutex);
    param->value = param->valueAtLocked(now);
    param->keys.clear();
    markAnimating(*param);
    return kOfxStatOK;
  });
}

OfxStatus paramCopy(OfxParamHandle to, OfxParamHandle from, OfxTime offset,
                    const OfxRangeD *range) {
  return guarded([&]() -> OfxStatus {
    Param::Impl *dst = toParam(to);
    Param::Impl *src = toParam(from);
    if (!dst || !src)
      return kOfxStatErrBadHandle;
    if (dst == src)
      return kOfxStatOK;
    if (dst->type != src->type)
      return kOfxStatErrValue;
    std::scoped_lock lock(dst->mutex, src->mutex);
    dst->stringValue = src->stringValue;
    if (!range) {
      dst->value = src->value;
      dst->keys.clear();
    }
    for (const auto &key : src->keys) {
      if (range && (key.first < range->min || key.first > range->max))
        continue;
      dst->keys[key.first + offset] = key.second;
    }
    markAnimating(*dst);
    return kOfxStatOK;
  });
}

OfxStatus paramEditBegin(OfxParamSetHandle handle, const char *) {
  return toParamSet(handle) ? kOfxStatOK : kOfxStatErrBadHandle;
}

OfxStatus paramEditEnd(OfxParamSetHandle handle) {
  return toParamSet(handle) ? kOfxStatOK : kOfxStatErrBadHandle;
}

const OfxParameterSuiteV1 suite = {
    paramDefine,         paramGetHandle,   paramSetGetPropertySet,
    paramGetPropertySet, paramGetValue,    paramGetValueAtTime,
    paramGetDerivative,  paramGetIntegral, paramSetValue,
    paramSetValueAtTime, paramGetNumKeys,  paramGetKeyTime,
    paramGetKeyIndex,    paramDeleteKey,   paramDeleteAllKeys,
    paramCopy,           paramEditBegin,   paramEditEnd};

} // namespace

const OfxParameterSuiteV1 *parameterSuite() { return &suite; }

} // namespace ofxhost
