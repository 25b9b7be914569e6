// The names by which hosts, saved projects, the command line and the tests
// know the gradient effect, its clips and its controls. Projects store
// parameter values under these names, so a rename here is a break of every
// saved project, not a refactoring; keeping them in one place makes such a
// change a deliberate one and lets the tests follow it at compile time.
#pragma once

#include "ofxImageEffect.h"

namespace tintrow {
namespace names {

constexpr const char *kPluginIdentifier = "net.qfx.qgradient";
constexpr const char *kLabel = "Q_Gradient";

constexpr const char *kSourceClip = kOfxImageEffectSimpleSourceClipName;
constexpr const char *kOutputClip = kOfxImageEffectOutputClipName;

constexpr const char *kPage = "Controls";
constexpr const char *kStartColor = "startColor";
constexpr const char *kStartPosition = "startPosition";
constexpr const char *kEndColor = "endColor";
constexpr const char *kEndPosition = "endPosition";
constexpr const char *kGradientType = "gradientType";

// The type options in the order of their index, which is the type the
// processor takes.
constexpr const char *kTypeLinear = "Linear";
constexpr const char *kTypeRadial = "Radial";

} // namespace names
} // namespace tintrow
