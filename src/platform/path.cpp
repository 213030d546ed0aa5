#include "platform/path.h"

#include <vector>

#ifdef _WIN32
#include <direct.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "."
         : slash == 0               ? "/"
                                    : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  return path.substr(path.rfind('/') + 1);  // npos + 1 is 0
}

std::string path_in(const std::string& folder, const std::string& name) {
  return folder == "."   ? name
         : folder == "/" ? "/" + name
                         : folder + "/" + name;
}

char lower_case(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_case(c);
  return out;
}

std::string shown_absolute(const std::string& path) {
#ifdef _WIN32
  const bool absolute =
      (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
      (path.size() > 1 && path[1] == ':');
  const char separator = '\\';
#else
  const bool absolute = !path.empty() && path[0] == '/';
  const char separator = '/';
#endif
  std::string full = path;
  if (!absolute) {
    char here[4096];
    if (!getcwd(here, sizeof here)) return path;
    full = std::string(here) + separator + path;
  }
  // Each name in turn: "." goes, ".." takes the name before it away.
  std::vector<std::string> names;
  std::string name;
  std::string prefix;
  std::size_t at = 0;
#ifdef _WIN32
  if (full.size() > 1 && full[1] == ':') prefix = full.substr(0, 2), at = 2;
#endif
  for (; at <= full.size(); ++at) {
    if (at < full.size() && full[at] != '/' && full[at] != separator) {
      name += full[at];
      continue;
    }
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    name.clear();
  }
  std::string shown = prefix;
  for (const std::string& each : names) shown += separator + each;
  return shown.size() == prefix.size() ? prefix + separator : shown;
}
