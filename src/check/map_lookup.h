#pragma once

#include <string>
#include <vector>

#include "check/check_report.h"
#include "platform/disk.h"
#include "run/map_list.h"
#include "walk/folder_walk.h"

/// The maps' part of map_rotation_check's report: where each map of
/// `rotation` lies in `game_folders`, walked from `here` (their archives,
/// *.pk3, and loose files under maps/), as the original engine looks for it,
/// and what the maintained engine does where it differs (engine_search.h), with
/// close names, from all that would load, for one found nowhere. `named` says
/// whether the operator named the folders, rather than the current folder being
/// looked in by default. True where all is well: every map is found, every
/// folder listed and every archive read, or, for the default folder alone,
/// there was nothing to look in.
bool report_maps(report_text& out, disk_interface& disk,
                 const folder_trail& here,
                 const std::vector<map_entry>& rotation,
                 const std::vector<std::string>& game_folders, bool named);
