#pragma once

#include <cstdint>
#include <string>

#include "platform/disk.h"
#include "platform/tick_count.h"
#include "run/run_record.h"
#include "run/run_start.h"

/// One run of the tool, in the working directory: reads the map list
/// (map_list.cfg), orders it, writes the rotation script and puts it in
/// place (SW_rotate.cfg and, for a long rotation, its further parts), all
/// of it or none. A run as root acts as the owner of the first folder on
/// the way to the rotation that another user may change, and writes
/// nothing where a folder of root's on the way is one that others may
/// write (POSIX; start_run). Runs on one rotation take turns on a lock
/// file beside it; one that waits longer than lock_wait_ms for another
/// changes nothing. While it holds the lock it first removes what a killed
/// run left. A frozen file or folder of the rotation, a link that may not
/// be followed, a lock file that can't be used, a map list that is there
/// but can't be read, or one that gives no map where a rotation exists,
/// leaves every file of the rotation as it was; without a rotation, a list
/// that gives no map gives a script of the final line alone. Reports
/// nothing and always returns exit status 0, even on running out of memory.
int run_generator();

/// The same run, with every call on the disk going through `disk` and the
/// system's users read from `users`, its random order seeded with
/// `ticks`; what it did and why goes into `*record`, where given.
int run_generator(disk_interface& disk, const user_database& users,
                  std::uint32_t ticks = tick_count_ms(),
                  run_record* record = nullptr);

/// The run from where start_run() left `start`, with what it decided about
/// root, `owner`: plans the rotation with `seed` (rotation_plan.h), then
/// carries the plan out, or keeps what is in place, recording each step
/// into `record`. The check runs it on a disk that only pretends to write,
/// once for the next run's seed and once for each other seed it tries.
void run_from(disk_interface& disk, run_start start,
              const owner_decision& owner, std::uint32_t seed,
              run_record& record);

/// How long a run waits for another run that holds the folder: longer than
/// a run on a list of a million maps takes, and short enough that a stuck
/// process never holds up a server's start for good.
inline constexpr unsigned lock_wait_ms = 20000;
