// Finding the plug-in a command names, in the host's search paths.
#pragma once

#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxrender {

// The host every command runs: it reads each bundle in a child process
// first, as the folders users point the tool at may hold anything, keeps
// what it found in the user's plug-in cache (see setPluginCacheUse), and
// stops scanning when the job is interrupted.
ofxhost::HostOptions toolHostOptions();

// --rescan probes every bundle again and rewrites the cache; --no-cache
// (or OFXRENDER_NO_CACHE=1) neither reads nor writes it.
void setPluginCacheUse(bool rescan, bool noCache);

// Adds the --plugin-path directories (searched first) and scans.
void scanPlugins(ofxhost::Host &host, const std::vector<std::string> &paths);

// The plug-in named by its identifier, the last label of its identifier
// ("qoutline") or its label (both in any case), when that names one
// plug-in (after scanning the search paths); or, for a name that is a path
// to a bundle or a .ofx file, the single plug-in in it (without scanning).
// Throws a usage ToolError when nothing or several plug-ins match, naming
// the bundles that could not be loaded; each is also warned about on
// stderr, with the copy used instead when one of the same name loaded.
ofxhost::Plugin &openPlugin(ofxhost::Host &host, const std::string &name,
                            const std::vector<std::string> &paths);

// describe(); throws a render ToolError naming the action on failure.
void describeOrThrow(ofxhost::Plugin &plugin);

} // namespace ofxrender
