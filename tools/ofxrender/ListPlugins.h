// The list command: one line per plug-in found.
#pragma once

#include <string>
#include <vector>

namespace ofxrender {

// Prints "identifier<TAB>major.minor<TAB>label<TAB>bundle path" per plug-in
// to stdout, sorted by identifier; bundles or plug-ins that fail are
// reported on stderr with the reason and the rest is still listed.
void listPlugins(const std::vector<std::string> &pluginPaths);

} // namespace ofxrender
