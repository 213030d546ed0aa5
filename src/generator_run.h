#pragma once

#include <cstdint>
#include <string>

#include "disk.h"
#include "folder_owner.h"
#include "run_record.h"
#include "tick_count.h"

/// One run of the tool, in the working directory: reads the map list
/// (map_list.cfg), orders it, writes the rotation script and puts it in
/// place (SW_rotate.cfg and, for a long rotation, its further parts), all
/// of it or none. A run as root acts as the owner of the folder where the
/// rotation lies, and writes nothing where that is a folder of root's that
/// others may write (POSIX; act_as_rotation_owner). Runs on one rotation
/// take turns on a lock file beside it; one that waits longer than
/// lock_wait_ms for another changes nothing. While it holds the lock it
/// first removes what a killed run left. A frozen file of the
/// rotation, a link that may not be followed, a map list that is there but
/// can't be read, or one that gives no map where a rotation exists, leaves
/// every file of the rotation as it was; without a rotation, a list that
/// gives no map gives a script of the final line alone. Reports nothing and
/// always returns exit status 0.
int run_generator();

/// The same run, with every call on the disk going through `disk`,
/// starting from `start` (taken by value: the run keeps the list's bytes
/// it holds rather than copy them), its random order seeded with `ticks`;
/// what it did and why goes into `*record`, where given.
int run_generator(disk_interface& disk, run_start start = {},
                  std::uint32_t ticks = tick_count_ms(),
                  run_record* record = nullptr);

/// Reads the map list into `record` as a run does: the bytes that `start`
/// holds where root read them before the run (taken, not copied), else the
/// file at `start.list`, as the user the run acts as; and its text, where
/// read. Returns why it couldn't be read, where it couldn't.
std::string read_list_into(disk_interface& disk, run_start& start,
                           run_record& record);

/// How long a run waits for another run that holds the folder: longer than
/// a run on a list of a million maps takes, and short enough that a stuck
/// process never holds up a server's start for good.
inline constexpr unsigned lock_wait_ms = 20000;
