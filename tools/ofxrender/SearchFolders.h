// Where the tool looks for plug-ins, for messages that say nothing was
// found: "nothing" alone leaves the user guessing which folders were read.
#pragma once

#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxrender {

// The folders a scan with these options reads, in order: the --plugin-path
// folders, those of OFX_PLUGIN_PATH, then the default one. This follows
// Host::scan().
std::vector<std::string>
searchedFolders(const ofxhost::HostOptions &options,
                const std::vector<std::string> &pluginPaths);

// "searched A, B, C" (or "searched no folder"), quoting none: the paths go
// to a terminal as they are.
std::string searchedFoldersText(const ofxhost::HostOptions &options,
                                const std::vector<std::string> &pluginPaths);

} // namespace ofxrender
