// ofxhost-probe BUNDLE BINARY actions|records
//
// Reads a bundle's records, and with "actions" loads and describes its
// plug-ins, in a process of its own, and writes what it found to its
// standard output for the host that started it. A host with threads
// cannot safely do this in a fork of itself, and Windows has no fork.
#include "Bundles.h"
#include "HostState.h"
#include "Platform.h"

#include <cstdio>

int main(int argc, char **argv) {
  namespace platform = ofxhost::platform;
  const std::vector<std::string> args = platform::programArguments(argc, argv);
  if (args.size() != 4 || (args[3] != "actions" && args[3] != "records")) {
    std::fprintf(stderr,
                 "usage: ofxhost-probe BUNDLE BINARY actions|records\n");
    return 2;
  }
  const platform::AnswerWriter answers = platform::takeProbeAnswers();
  if (!answers)
    return 1;
  ofxhost::HostOptions options;
  options.searchDefaultPath = false;
  options.searchEnvironmentPath = false;
  ofxhost::Host::Impl host(options);
  ofxhost::answerProbe(host, args[1], args[2], args[3] == "actions", answers);
  // The plug-ins stay loaded: unloading them is not part of the question.
  platform::endProbeProcess();
}
