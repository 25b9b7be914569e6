// ofxhost-probe BUNDLE BINARY actions|records
//
// Reads a bundle's records, and with "actions" loads and describes its
// plug-ins, in a process of its own, and writes what it found to its
// standard output for the host that started it. A host with threads
// cannot safely do this in a fork of itself.
#include "Bundles.h"
#include "HostState.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (argc != 4 || (std::strcmp(argv[3], "actions") != 0 &&
                    std::strcmp(argv[3], "records") != 0)) {
    std::fprintf(stderr,
                 "usage: ofxhost-probe BUNDLE BINARY actions|records\n");
    return 2;
  }
  // The answers keep the pipe; what the plug-ins print goes nowhere.
  const int answers = ::dup(STDOUT_FILENO);
  if (answers < 0)
    return 1;
  ofxhost::HostOptions options;
  options.searchDefaultPath = false;
  options.searchEnvironmentPath = false;
  ofxhost::Host::Impl host(options);
  ofxhost::answerProbe(host, argv[1], argv[2],
                       std::strcmp(argv[3], "actions") == 0, answers);
  // The plug-ins stay loaded: unloading them is not part of the question.
  ::_exit(0);
}
