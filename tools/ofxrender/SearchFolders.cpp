#include "SearchFolders.h"

#include <cstdlib>

namespace ofxrender {
namespace {

const char *const kDefaultPluginFolder = "/usr/OFX/Plugins";

// OFX_PLUGIN_PATH's folders, ':'-separated; empty entries name nothing.
std::vector<std::string> environmentFolders() {
  std::vector<std::string> folders;
  const char *list = std::getenv("OFX_PLUGIN_PATH");
  if (!list)
    return folders;
  const std::string text = list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos)
      end = text.size();
    if (end > start)
      folders.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

} // namespace

std::vector<std::string>
searchedFolders(const ofxhost::HostOptions &options,
                const std::vector<std::string> &pluginPaths) {
  std::vector<std::string> folders = pluginPaths;
  if (options.searchEnvironmentPath)
    for (const std::string &folder : environmentFolders())
      folders.push_back(folder);
  if (options.searchDefaultPath)
    folders.push_back(kDefaultPluginFolder);
  return folders;
}

std::string searchedFoldersText(const ofxhost::HostOptions &options,
                                const std::vector<std::string> &pluginPaths) {
  const std::vector<std::string> folders =
      searchedFolders(options, pluginPaths);
  if (folders.empty())
    return "searched no folder";
  std::string text = "searched";
  for (size_t i = 0; i < folders.size(); ++i)
    text += (i == 0 ? " " : ", ") + folders[i];
  return text;
}

} // namespace ofxrender
