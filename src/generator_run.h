#pragma once

#include "disk.h"

/// One run of the tool, in the working directory: reads the map list
/// (map_list.cfg), orders it, writes the rotation script and puts it in
/// place (SW_rotate.cfg and, for a long rotation, its further parts), all
/// of it or none. A run as root in a folder of another user acts as that
/// user (POSIX). Runs in one folder take turns; one that waits longer than
/// lock_wait_ms for another changes nothing. While it holds the folder's
/// lock it first removes what a killed run left. A frozen file of the
/// rotation, a link that may not be followed, a map list that is there but
/// can't be read, or one that gives no map where a rotation exists, leaves
/// every file of the rotation as it was; without a rotation, a list that
/// gives no map gives a script of the final line alone. Reports nothing and
/// always returns exit status 0.
int run_generator();

/// The same run, with every call on the disk going through `disk`.
int run_generator(disk_interface& disk);

/// How long a run waits for another run that holds the folder: longer than
/// a run on a list of a million maps takes, and short enough that a stuck
/// process never holds up a server's start for good.
inline constexpr unsigned lock_wait_ms = 20000;
