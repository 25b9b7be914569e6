// What a plug-in reports about itself, as a JSON document (every text
// exactly as the plug-in set it) or as text for people.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "ofxhost/Host.h"

namespace ofxrender {

// Runs the describe and describe-in-context actions (for the filter context
// when the plug-in has it, else for its first context) and collects the
// effect's labels, grouping, description, contexts, depths and flags, its
// clips and its parameters. Throws a render ToolError if an action fails.
nlohmann::ordered_json describePlugin(ofxhost::Plugin &plugin);

// The same document laid out for reading.
std::string describeAsText(const nlohmann::ordered_json &description);

} // namespace ofxrender
