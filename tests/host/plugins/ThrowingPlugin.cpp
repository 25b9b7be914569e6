// A C++ plug-in that lets exceptions escape its main entry, which the
// standard forbids: the host must survive it and report a failure.
#include <cstring>
#include <stdexcept>

#include "ofxCore.h"
#include "ofxImageEffect.h"

namespace {

void setHost(OfxHost *) {}

OfxStatus mainEntry(const char *action, const void *, OfxPropertySetHandle,
                    OfxPropertySetHandle) {
  if (std::strcmp(action, kOfxActionDescribe) == 0)
    throw std::runtime_error("describe escaped");
  return kOfxStatOK;
}

OfxPlugin record = {kOfxImageEffectPluginApi,
                    1,
                    "net.qeffects.test.Throwing",
                    1,
                    0,
                    setHost,
                    mainEntry};

} // namespace

extern "C" OfxExport int OfxGetNumberOfPlugins(void) { return 1; }
extern "C" OfxExport OfxPlugin *OfxGetPlugin(int nth) {
  return nth == 0 ? &record : nullptr;
}
