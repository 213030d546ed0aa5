#pragma once

#include <string>
#include <string_view>

/// The folder that `path` lies in: "." for a bare name, "/" for a name in
/// the root folder.
std::string folder_of(const std::string& path);

/// The last name of `path`: all of a bare name.
std::string name_of(const std::string& path);

/// The path of `name` in `folder`: the name alone in ".".
std::string path_in(const std::string& folder, const std::string& name);

/// `c` with A to Z as a to z, as names are compared in any case (the
/// engine's archives and console, Windows' files).
char lower_case(char c);

/// `text` with A to Z as a to z.
std::string lower(std::string_view text);

/// `path`, from the working folder, as an absolute path without "." or ".."
/// names, for a person to read; as it is where the working folder can't be
/// told (and on Windows, made absolute only where it is relative).
std::string shown_absolute(const std::string& path);
