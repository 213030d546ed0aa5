#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

/// A fresh empty directory for one test, removed with everything in it when
/// the test ends.
struct scratch_dir {
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  /// The path of `name` inside the directory.
  std::filesystem::path operator/(std::string_view name) const {
    return path / std::string(name);
  }

  std::filesystem::path path;
};

/// The whole content of `path`, byte for byte; empty if it can't be read.
std::string read_file(const std::filesystem::path& path);

/// Makes `path` hold exactly `bytes`.
void write_file(const std::filesystem::path& path, std::string_view bytes);

/// The names in directory `dir`, sorted.
std::vector<std::string> file_names(const std::filesystem::path& dir);

/// The script the tool must write for the pairs alpha 1, bravo 0 and
/// charlie -1, whatever the random order: each priority holds one map.
extern const std::string alpha_bravo_script;
