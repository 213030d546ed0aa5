#pragma once

#include <cstddef>
#include <string>

#include "disk.h"

/// The map list a run reads, in the working directory.
inline constexpr const char* map_list_file = "map_list.cfg";

/// Where the rotation lies: beside SW_rotate.cfg or, where that is a
/// symbolic link, beside the file it points to, where the server finds its
/// parts.
struct rotation_place {
  /// The file the script goes into: `name` in `folder`.
  std::string first;
  std::string folder;
  std::string name;
};

/// Finds where the rotation lies; false where SW_rotate.cfg is a link that
/// may not be followed.
bool find_rotation(disk_interface& disk, rotation_place* place);

/// Sets `*file` to the file that part `part` of the rotation goes into;
/// false where it lies behind a link that may not be followed.
bool part_file(disk_interface& disk, const rotation_place& place,
               std::size_t part, std::string* file);

/// One run of the tool, in the working directory: reads the map list and
/// replaces the rotation script, SW_rotate.cfg, and for a long rotation its
/// further parts beside it (beside the file it points to where it is a
/// symbolic link), all of them or none. Parts that a longer earlier
/// rotation had step back to the start. A run as root in a folder of
/// another user acts as that user (POSIX). Runs in one folder take turns;
/// one that waits longer than lock_wait_ms for another changes nothing.
/// While it holds the folder's lock it first removes what a killed run
/// left. A script or part that can't be replaced, a link that may not be
/// followed, a map list that is there but can't be read, or one that gives
/// no map where a rotation exists, leaves every file of the rotation as it
/// was; without a rotation, a list that gives no map gives a script of the
/// final line alone. Reports nothing and always returns exit status 0.
int run_generator();

/// The same run, with every call on the disk going through `disk`.
int run_generator(disk_interface& disk);
