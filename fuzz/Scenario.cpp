#include "Scenario.h"

#include <sstream>

namespace qfx_fuzz {

std::string Scenario::describe() const {
  std::ostringstream out;
  auto fmt = [](const PixelFormat &f) {
    return std::string(ofxhost::bitDepthName(f.depth)) + "/" +
           ofxhost::componentsName(f.components);
  };
  out << "clip " << fmt(clipFormat);
  if (hasOutput)
    out << "; output " << fmt(outputFormat) << " " << text(outputBounds)
        << " pad " << outputLayout.rowPaddingBytes
        << (outputLayout.negativeRowBytes ? " negative rows" : "");
  else
    out << "; no output image";
  out << "; source state " << sourceState;
  if (sourceState == 0)
    out << " " << fmt(sourceFormat) << " " << text(sourceBounds) << " pad "
        << sourceLayout.rowPaddingBytes
        << (sourceLayout.negativeRowBytes ? " negative rows" : "");
  out << "; window " << text(window) << "; scale " << scale.x << "," << scale.y
      << "; time " << time << "; cpus " << cpus << "/" << otherCpus
      << "; abort mode " << abortMode << "; fault " << int(faultSite) << "="
      << ofxhost::statusName(faultStatus) << "; region fault "
      << ofxhost::statusName(regionFault);
  for (const auto &p : params) {
    out << "; " << p.first << "=";
    for (double v : p.second)
      out << v << " ";
  }
  return out.str();
}

ofxhost::ImagePtr connect(const Scenario &s, ofxhost::Instance &instance,
                          const ofxhost::ImagePtr &source) {
  ofxhost::Clip &sourceClip =
      instance.clip(kOfxImageEffectSimpleSourceClipName);
  if (s.sourceState == 0) {
    instance.setSource(source);
  } else {
    sourceClip.setConnected(s.sourceState == 1);
    sourceClip.clearImages();
  }
  ofxhost::Clip &outputClip = instance.clip(kOfxImageEffectOutputClipName);
  outputClip.setFormat(s.clipFormat.depth, s.clipFormat.components);
  if (!s.hasOutput) {
    outputClip.clearImages();
    return nullptr;
  }
  auto output = std::make_shared<ofxhost::Image>(
      s.outputBounds, s.outputFormat.depth, s.outputFormat.components,
      s.outputLayout);
  output->fillBytes(s.outputFill);
  instance.setOutput(output);
  return output;
}

void installAbort(const Scenario &s, ofxhost::Instance &instance,
                  std::atomic<bool> &fired) {
  const int mode = s.abortMode;
  const long after = s.abortAfter;
  const uint64_t mask = s.abortMask;
  instance.setAbortPredicate([mode, after, mask, &fired](long poll) {
    bool abort = false;
    if (mode == 1)
      abort = poll >= after;
    else if (mode == 2)
      abort = (mask >> (poll % 64)) & 1;
    if (abort)
      fired.store(true);
    return abort;
  });
}

void installFaults(const Scenario &s, ofxhost::Instance &instance) {
  ofxhost::Faults &faults = instance.faults();
  switch (s.faultSite) {
  case FaultSite::None:
    break;
  case FaultSite::EveryImage:
    faults.imageFetch = s.faultStatus;
    break;
  case FaultSite::SourceImage:
    faults.imageFetch = s.faultStatus;
    faults.imageFetchClip = kOfxImageEffectSimpleSourceClipName;
    break;
  case FaultSite::OutputImage:
    faults.imageFetch = s.faultStatus;
    faults.imageFetchClip = kOfxImageEffectOutputClipName;
    break;
  case FaultSite::ParamRead:
    faults.paramGet = s.faultStatus;
    break;
  }
}

} // namespace qfx_fuzz
