// Parameter values as a careless or hostile host might hand them over.
//
// The host library clamps what its callers set to the range a plug-in
// declared and turns NaN into 0, as a well-behaved application would. A
// plug-in cannot count on that: a host may pass any double it holds. These
// helpers reach past the library's clamping to store values verbatim, for
// the fuzzer and the reliability tests only.
#pragma once

#include <mutex>
#include <vector>

#include "Internal.h" // host library internals: the stored value itself

namespace hostile {

// Stores value (padded with zeros to the parameter's dimension) unchanged
// and drops any keys, so that every time reads it.
inline void setRawValue(ofxhost::Param &param, std::vector<double> value) {
  ofxhost::Param::Impl &impl = *param.impl();
  std::lock_guard<std::mutex> lock(impl.mutex);
  value.resize(static_cast<size_t>(impl.dimension), 0.0);
  impl.keys.clear();
  impl.value = std::move(value);
}

} // namespace hostile
