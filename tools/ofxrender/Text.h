// Small text helpers shared by the option parsers.
#pragma once

#include <string>
#include <vector>

namespace ofxrender {

// "a,b,,c" -> {"a", "b", "", "c"}; an empty text is one empty part.
inline std::vector<std::string> splitAtCommas(const std::string &text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos)
      return parts;
    start = comma + 1;
  }
}

} // namespace ofxrender
