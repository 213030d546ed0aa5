#pragma once

#include "disk.h"

/// The map list a run reads, in the working directory.
inline constexpr const char* map_list_file = "map_list.cfg";

/// One run of the tool, in the working directory: reads the map list and
/// replaces the rotation script, SW_rotate.cfg, and for a long rotation its
/// further parts beside it (beside the file it points to where it is a
/// symbolic link), all of them or none. Parts that a longer earlier
/// rotation had step back to the start. While it holds the folder's lock it
/// first removes what a killed run left. A script or part that can't be
/// replaced, or a map list that is there but can't be read, leaves every
/// file of the rotation as it was; without a map list the script holds the
/// final line alone. Reports nothing and always returns exit status 0.
int run_generator();

/// The same run, with every call on the disk going through `disk`.
int run_generator(disk_interface& disk);
