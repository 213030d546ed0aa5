#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check/server_config.h"
#include "platform/disk.h"
#include "platform/user_database.h"
#include "run/run_start.h"

/// What map_rotation_check found, for a person to read.
struct check_result {
  std::string report;
  /// 0: a run would write a rotation, and every map is read as written and
  /// found (or, with no game folder named, there was nothing to look in);
  /// 1: it would, but something is left out, won't load or isn't found, or
  /// a game folder or archive can't be read; 2: a run would leave the
  /// rotation as it is, or write no map, in this order or in another order
  /// of the same list.
  int status = 0;
};

/// Tells what the next run of the tool in the working folder would do and
/// why, changing nothing. The answer is the record of the tool's own run,
/// seeded with `ticks`, on a disk that only pretends to write: its order,
/// its files and its verdict, from where start_run() left `start` and with
/// what it decided about root, `owner` (its users named from `users`). Where
/// another order of the same list takes another number of files and would end
/// otherwise, it says so too, and the status is the worse one. Each of
/// `game_folders` (named by the operator where `named`), walked from the
/// working folder as the run would walk, is looked through for the game's
/// archives (*.pk3) and loose maps, and every map of the rotation is looked for
/// there as the server would. Then the server's `configs` are read as its
/// console runs them: whether one runs the rotation, with room for it, and
/// nothing after it stops it.
check_result check_rotation(disk_interface& disk, const user_database& users,
                            const owner_decision& owner, const run_start& start,
                            const std::vector<std::string>& game_folders,
                            bool named, config_request configs,
                            std::uint32_t ticks);
