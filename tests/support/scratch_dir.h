#pragma once

#include <filesystem>
#include <map>
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

/// The files of the rotation script in `folder`, by name: every
/// SW_rotate*.cfg.
std::map<std::string, std::string> read_rotation(const std::string& folder);

/// The names in directory `dir`, sorted.
std::vector<std::string> file_names(const std::filesystem::path& dir);

/// The load line of a rotation script: variable `variable` loads `name` and
/// names variable `next` as the next map.
std::string load_line(int variable, const std::string& name, int next);

/// The restart line of a rotation script: variable `variable` restarts the
/// map, then sets `nextmap` to `runs`.
std::string restart_line(int variable, const std::string& runs);

/// The rotation file for `names`, in this order, whose last restart runs
/// `last_link` ("vstr SW1" for a one-file script).
std::string script_file_of(const std::vector<std::string>& names,
                           const std::string& last_link);

/// Names whose file, closing with `last_link`, is exactly `size` bytes: as
/// many one-byte names as fit, then the bytes still missing spread over them.
std::vector<std::string> names_filling(std::size_t size,
                                       const std::string& last_link);

/// The script the tool must write for the pairs alpha 1, bravo 0 and
/// charlie -1, whatever the random order: each priority holds one map.
extern const std::string alpha_bravo_script;
