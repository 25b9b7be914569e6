#ifndef PROBE_NAMES_H
#define PROBE_NAMES_H

// Names and values the probe plug-in shares with the tests that drive it.

namespace probe {

constexpr const char *kPluginId = "net.qfx.test.probe";
constexpr unsigned kVersionMajor = 1;
constexpr unsigned kVersionMinor = 2;

constexpr const char *kLabel = "QFX Probe";
constexpr const char *kGrouping = "Test/Probe";
constexpr const char *kDescription = "Exercises the support library for tests";

// Extra clip declared only in the general context, so tests can tell that
// describe-in-context received the context the host asked for.
constexpr const char *kMatteClip = "Matte";

constexpr const char *kPage = "Controls";
constexpr const char *kGain =
    "gain"; // double, animated: output = source * gain + tint
constexpr const char *kTint = "tint";             // RGBA, animated
constexpr const char *kMode = "mode";             // choice, see Mode
constexpr const char *kThrowKind = "throwKind";   // choice, see ThrowKind
constexpr const char *kThrowWhere = "throwWhere"; // choice, see ThrowWhere
constexpr const char *kThrowStatus =
    "throwStatus";                        // int: status of a thrown Suite
constexpr const char *kMargin = "margin"; // double: regions grow by it
constexpr const char *kAnswerRegions = "answerRegions"; // boolean
// double: seconds each render waits before drawing, like a slow effect,
// ending the wait early when the host asks to abort
constexpr const char *kHoldSeconds = "holdSeconds";
// boolean: the wait does not poll for an abort, like an effect that never does
constexpr const char *kHoldIgnoresAbort = "holdIgnoresAbort";

constexpr const char *kModeHint = "What the render writes";
constexpr const char *kThrowKindHint = "Exception thrown in throw mode";

enum Mode {
  eModeNormal = 0,  // source * gain + tint, abort polled per row
  eModeBands = 1,   // each pixel: band first row, band end row (relative to
                    // the window), thread index, 1
  eModeThrow = 2,   // throws throwKind at throwWhere
  eModeInspect = 3, // each pixel: the source image's render scale x and y,
                    // pixel aspect ratio and premultiplication enum
};

enum ThrowKind {
  eThrowSuite = 0, // OFX::Exception::Suite(throwStatus)
  eThrowHostInadequate = 1,
  eThrowPropertyUnknown = 2,
  eThrowBadAlloc = 3,
  eThrowRuntimeError = 4,
  eThrowInt = 5,
};

enum ThrowWhere {
  eThrowInRender = 0, // before any image is fetched
  eThrowInBands = 1,  // inside every band, on the host's threads
  eThrowInBeginSequence = 2,
  eThrowInRegions = 3, // region of definition and regions of interest
};

} // namespace probe

#endif // PROBE_NAMES_H
