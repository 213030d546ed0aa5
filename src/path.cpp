#include "path.h"

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
