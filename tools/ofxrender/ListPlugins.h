// The list command: one line per plug-in found.
#pragma once

#include <string>
#include <vector>

#include "ofxhost/Host.h"

namespace ofxrender {

// Prints "identifier<TAB>major.minor<TAB>label<TAB>bundle path" per plug-in
// to stdout, sorted by identifier; each bundle that fails, or holds
// plug-ins that fail, is reported in one line on stderr with the reasons,
// and the rest is still listed. With no plug-in at all, one stderr line
// says which folders were searched. A stop asked for while scanning ends
// the command with nothing listed. With json, stdout holds one JSON array
// instead, in the same order, of objects with the same fields:
// {"identifier", "version": {"major", "minor"}, "label", "bundle"}.
void listPlugins(const std::vector<std::string> &pluginPaths,
                 bool json = false);

// One "PATH: reasons" per bundle, in the order the bundles first failed:
// the distinct reasons of its errors joined by "; ", the first few only
// when there are many (a binary may report one broken plug-in a thousand
// times).
std::vector<std::string>
bundleProblems(const std::vector<ofxhost::BundleError> &errors);

// Whether the bundle a line of bundleProblems names still gave plug-ins:
// the line then says what the bundle repeats or cannot use, and is a
// warning about a bundle that was loaded, not a failure to load it.
bool problemBundleGavePlugins(const ofxhost::Host &host,
                              const std::string &problem);

} // namespace ofxrender
