#pragma once

#include <string>
#include <vector>

#include "disk.h"
#include "folder_owner.h"

/// What map_rotation_check found, for a person to read.
struct check_result {
  std::string report;
  /// 0: a run would write a rotation and every map is read as written and
  /// found (or there was nothing to check it against); 1: it would, but
  /// something is left out, won't load or isn't found; 2: a run would leave
  /// the rotation as it is, or write no map.
  int status = 0;
};

/// Tells what the next run of the tool in the working folder would do and
/// why, changing nothing: the run itself goes through a disk that only
/// pretends to write, so the two can't disagree. `owner` is what giving up
/// root did, as a run would. Each of `game_folders` is looked through for
/// the game's archives (*.pk3) and loose maps, and every map of the
/// rotation is looked for there as the server would.
check_result check_rotation(disk_interface& disk, const owner_decision& owner,
                            const run_start& start,
                            const std::vector<std::string>& game_folders);
