// The progress suite (versions 1 and 2) and the time line suite. Both act
// on an effect instance; the host's time line is that instance's current
// time, the time of its latest action.
#include "Effects.h"
#include "Handles.h"
#include "HostState.h"
#include "Suites.h"

#include <cmath>

#include "ofxProgress.h"
#include "ofxTimeLine.h"

namespace ofxhost {

void ProgressListener::set(
    std::function<bool(const ProgressEvent &)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

bool ProgressListener::report(const ProgressEvent &event) {
  std::lock_guard<std::mutex> lock(mutex_);
  return listener_ ? listener_(event) : true;
}
namespace {

// A live instance, or nullptr for anything else: a descriptor has no task
// to report on and no place on a time line.
Instance::Impl *liveInstance(void *handle) {
  if (!isHandle(handle, HandleKind::Effect))
    return nullptr;
  EffectImpl *effect = static_cast<EffectImpl *>(handle);
  if (!effect->isInstance)
    return nullptr;
  auto *instance = static_cast<Instance::Impl *>(effect);
  if (instance->destroyed || !instance->plugin || !instance->plugin->host)
    return nullptr;
  return instance;
}

// Hands the report to the host's listener; false when it asks to stop.
bool report(Instance::Impl &instance, ProgressEvent event) {
  event.instance = instance.handle();
  return instance.plugin->host->progress.report(event);
}

OfxStatus start(void *handle, const char *label) {
  return guarded([&]() -> OfxStatus {
    Instance::Impl *instance = liveInstance(handle);
    if (!instance)
      return kOfxStatErrBadHandle;
    ProgressEvent event;
    event.kind = ProgressEvent::Kind::Start;
    event.label = label ? label : "";
    report(*instance, event);
    return kOfxStatOK;
  });
}

OfxStatus startV1(void *handle, const char *label) {
  return start(handle, label);
}

OfxStatus startV2(void *handle, const char *message, const char * /*id*/) {
  return start(handle, message);
}

OfxStatus update(void *handle, double fraction) {
  return guarded([&]() -> OfxStatus {
    Instance::Impl *instance = liveInstance(handle);
    if (!instance)
      return kOfxStatErrBadHandle;
    if (std::isnan(fraction))
      return kOfxStatErrValue;
    ProgressEvent event;
    event.kind = ProgressEvent::Kind::Update;
    event.fraction = std::fmin(std::fmax(fraction, 0.0), 1.0);
    return report(*instance, event) ? kOfxStatOK : kOfxStatReplyNo;
  });
}

OfxStatus end(void *handle) {
  return guarded([&]() -> OfxStatus {
    Instance::Impl *instance = liveInstance(handle);
    if (!instance)
      return kOfxStatErrBadHandle;
    ProgressEvent event;
    event.kind = ProgressEvent::Kind::End;
    event.fraction = 1.0;
    report(*instance, event);
    return kOfxStatOK;
  });
}

const OfxProgressSuiteV1 progressV1 = {startV1, update, end};
const OfxProgressSuiteV2 progressV2 = {startV2, update, end};

OfxStatus getTime(void *handle, double *time) {
  Instance::Impl *instance = liveInstance(handle);
  if (!instance)
    return kOfxStatErrBadHandle;
  if (!time)
    return kOfxStatErrValue;
  *time = instance->currentTime.load();
  return kOfxStatOK;
}

// The bounds of the time line: the output clip's frame range, where the
// instance's frames live.
OfxStatus timeBounds(Instance::Impl &instance, double &first, double &last) {
  first = 0.0;
  last = instance.props.getDouble(kOfxImageEffectInstancePropEffectDuration);
  Clip *output = instance.findClip(kOfxImageEffectOutputClipName);
  if (!output || !output->props().has(kOfxImageEffectPropFrameRange))
    return kOfxStatOK;
  const std::vector<double> range =
      output->props().getDoubles(kOfxImageEffectPropFrameRange);
  if (range.size() == 2) {
    first = range[0];
    last = range[1];
  }
  return kOfxStatOK;
}

OfxStatus gotoTime(void *handle, double time) {
  return guarded([&]() -> OfxStatus {
    Instance::Impl *instance = liveInstance(handle);
    if (!instance)
      return kOfxStatErrBadHandle;
    if (!std::isfinite(time))
      return kOfxStatErrValue;
    double first = 0.0, last = 0.0;
    timeBounds(*instance, first, last);
    instance->currentTime.store(std::fmin(std::fmax(time, first), last));
    return kOfxStatOK;
  });
}

OfxStatus getTimeBounds(void *handle, double *first, double *last) {
  return guarded([&]() -> OfxStatus {
    Instance::Impl *instance = liveInstance(handle);
    if (!instance)
      return kOfxStatErrBadHandle;
    if (!first || !last)
      return kOfxStatErrValue;
    return timeBounds(*instance, *first, *last);
  });
}

const OfxTimeLineSuiteV1 timeLineV1 = {getTime, gotoTime, getTimeBounds};

} // namespace

const OfxProgressSuiteV1 *progressSuiteV1() { return &progressV1; }
const OfxProgressSuiteV2 *progressSuiteV2() { return &progressV2; }
const OfxTimeLineSuiteV1 *timeLineSuite() { return &timeLineV1; }

} // namespace ofxhost
