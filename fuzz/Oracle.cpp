#include "Oracle.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace qfx_fuzz {
namespace {

// Every byte of an image's rows, padding included, in memory order.
struct RawRows {
  unsigned char *first = nullptr;
  size_t rowSize = 0;
  size_t rows = 0;
  size_t size() const { return rowSize * rows; }
};

RawRows rawRows(ofxhost::Image &image) {
  RawRows raw;
  if (!image.data() || image.height() == 0)
    return raw;
  const std::ptrdiff_t rowBytes = image.rowBytes();
  raw.rowSize = static_cast<size_t>(rowBytes < 0 ? -rowBytes : rowBytes);
  raw.rows = static_cast<size_t>(image.height());
  auto *origin = static_cast<unsigned char *>(image.data());
  raw.first = rowBytes >= 0 ? origin : origin + (image.height() - 1) * rowBytes;
  return raw;
}

bool isErrorStatus(OfxStatus s) {
  return s != kOfxStatOK && s != kOfxStatReplyDefault &&
         s != kOfxStatReplyYes && s != kOfxStatReplyNo;
}

// What an action must answer when a suite call it depends on fails with s:
// the status itself, but never one that reads as success.
OfxStatus passedOn(OfxStatus s) {
  return isErrorStatus(s) ? s : kOfxStatFailed;
}

} // namespace

std::vector<unsigned char> snapshot(ofxhost::Image &image) {
  const RawRows raw = rawRows(image);
  return std::vector<unsigned char>(raw.first, raw.first + raw.size());
}

[[noreturn]] void fail(const Scenario &s, const std::string &what) {
  std::fprintf(stderr, "\n*** %s\n*** scenario: %s\n", what.c_str(),
               s.describe().c_str());
  std::fflush(stderr);
  std::abort();
}

OfxStatus expectedRenderStatus(const Scenario &s) {
  if (!effectRenders(s.clipFormat))
    return kOfxStatErrUnsupported;
  const bool outputFault = s.faultSite == FaultSite::EveryImage ||
                           s.faultSite == FaultSite::OutputImage;
  if (outputFault)
    return s.faultStatus == kOfxStatFailed ? kOfxStatFailed
                                           : passedOn(s.faultStatus);
  if (!s.hasOutput)
    return kOfxStatFailed;
  if (s.outputFormat != s.clipFormat)
    return kOfxStatErrFormat;
  const bool sourceFault = s.faultSite == FaultSite::SourceImage;
  // A source the host cannot supply (kOfxStatFailed) is no error.
  if (sourceFault && s.faultStatus != kOfxStatFailed)
    return passedOn(s.faultStatus);
  if (!sourceFault && s.sourceState == 0 && s.sourceFormat != s.outputFormat)
    return kOfxStatErrFormat;
  if (s.faultSite == FaultSite::ParamRead)
    return passedOn(s.faultStatus);
  return kOfxStatOK;
}

void checkOnlyWindowWritten(const Scenario &s, ofxhost::Image &image,
                            const std::vector<unsigned char> &before,
                            bool renderSucceeded) {
  const RawRows raw = rawRows(image);
  const OfxRectI writable = renderSucceeded
                                ? intersect(s.window, image.bounds())
                                : OfxRectI{0, 0, 0, 0};
  const size_t pixelBytes = static_cast<size_t>(image.pixelBytes());
  const size_t pixelsBytes = static_cast<size_t>(image.width()) * pixelBytes;
  for (size_t offset = 0; offset < raw.size(); ++offset) {
    if (raw.first[offset] == before[offset])
      continue;
    const size_t memoryRow = offset / raw.rowSize;
    const size_t column = offset % raw.rowSize;
    const int y = image.rowBytes() >= 0
                      ? image.bounds().y1 + static_cast<int>(memoryRow)
                      : image.bounds().y2 - 1 - static_cast<int>(memoryRow);
    if (column >= pixelsBytes)
      fail(s, "padding byte written in row " + std::to_string(y));
    const int x = image.bounds().x1 + static_cast<int>(column / pixelBytes);
    if (isEmpty(writable) || !contains(writable, x, y))
      fail(s, "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                  ") outside the window written" +
                  (renderSucceeded ? "" : " by a failed render"));
  }
}

void checkReleased(const Scenario &s, ofxhost::Instance &instance) {
  for (const std::string &name : instance.clipNames())
    if (instance.clip(name).imagesOutstanding() != 0)
      fail(s, "an image of clip " + name + " was not released");
}

void checkRegions(const Scenario &s, ofxhost::Instance &instance) {
  ofxhost::Faults &faults = instance.faults();
  faults = ofxhost::Faults{};
  faults.regionQuery = s.regionFault;
  if (s.faultSite == FaultSite::ParamRead)
    faults.paramGet = s.faultStatus;

  OfxRectD rod{0, 0, 0, 0};
  const ofxhost::ActionResult rodResult =
      instance.regionOfDefinition(s.time, s.scale, rod);
  const bool rodMayFail =
      s.regionFault != kOfxStatOK || s.faultSite == FaultSite::ParamRead;
  if (!rodMayFail && !rodResult.ok())
    fail(s, "region of definition failed: " + rodResult.message);
  if (rodMayFail && rodResult.ok() && s.regionFault != kOfxStatOK)
    fail(s, "failing source region query answered with success (" +
                ofxhost::statusName(rodResult.status) + ")");

  std::map<std::string, OfxRectD> rois;
  const OfxRectD roi{double(s.window.x1), double(s.window.y1),
                     double(s.window.x2), double(s.window.y2)};
  const ofxhost::ActionResult roiResult =
      instance.regionsOfInterest(s.time, s.scale, roi, rois);
  if (s.faultSite != FaultSite::ParamRead && !roiResult.ok())
    fail(s, "regions of interest failed: " + roiResult.message);
  faults = ofxhost::Faults{};
}

} // namespace qfx_fuzz
