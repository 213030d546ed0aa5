#pragma once

#include "disk.h"

/// The map list a run reads, in the working directory.
inline constexpr const char* map_list_file = "map_list.cfg";

/// One run of the tool: reads the map list, writes the rotation script,
/// SW_rotate.cfg and, for a long rotation, its further parts beside it;
/// parts that a longer earlier rotation had step back to the start, and
/// what a killed run left is removed. A file that can't be opened only
/// removes steps: without a map list the script holds the final line alone,
/// and a script that can't be written is left as it was. Reports nothing
/// and always returns exit status 0.
int run_generator();

/// The same run, with every file operation going through `disk`.
int run_generator(disk_interface& disk);
