// The names by which hosts, saved projects, the command line and the tests
// know the outline effect, its clips and its controls. Projects store
// parameter values under these names, so a rename here is a break of every
// saved project, not a refactoring; keeping them in one place makes such a
// change a deliberate one and lets the tests follow it at compile time.
#pragma once

#include "ofxImageEffect.h"

namespace rimlet {
namespace names {

constexpr const char *kPluginIdentifier = "net.qfx.qoutline";
constexpr const char *kLabel = "Q_Outline";

constexpr const char *kSourceClip = kOfxImageEffectSimpleSourceClipName;
constexpr const char *kOutputClip = kOfxImageEffectOutputClipName;

constexpr const char *kPage = "Controls";
constexpr const char *kOutlineColor = "outlineColor";
constexpr const char *kOutlineWidth = "outlineWidth";
constexpr const char *kQuality = "quality";

// The quality options in the order of their index, which is the level the
// processor takes.
constexpr const char *kQualityDraft = "Draft (Fastest)";
constexpr const char *kQualityGood = "Good (Balanced)";
constexpr const char *kQualityBest = "Best (Highest Quality)";

} // namespace names
} // namespace rimlet
