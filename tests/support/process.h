#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

/// The value of the environment variable `name`; empty where it is unset.
std::string env_or_empty(const char* name);

/// Starts `command` (its first word a path, or a name found on PATH) in
/// `dir`, reading from descriptor `input` (nothing where it is -1), its
/// standard output going to `out` and its standard error to `err`, one file
/// when the two are the same. A `user` other than 0 drops privileges first;
/// a run as root with a `group` other than 0 holds it as its only
/// supplementary group. Returns the child's pid.
pid_t start_process(const std::vector<std::string>& command,
                    const std::filesystem::path& dir,
                    const std::filesystem::path& out,
                    const std::filesystem::path& err, uid_t user = 0,
                    int input = -1, gid_t group = 0);
