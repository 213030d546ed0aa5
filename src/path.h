#pragma once

#include <string>

/// The folder that `path` lies in: "." for a bare name, "/" for a name in
/// the root folder.
std::string folder_of(const std::string& path);

/// The last name of `path`: all of a bare name.
std::string name_of(const std::string& path);

/// The path of `name` in `folder`: the name alone in ".".
std::string path_in(const std::string& folder, const std::string& name);
