#pragma once

#include <string>
#include <vector>

#include "check/engine_search.h"
#include "platform/disk.h"
#include "run/map_list.h"
#include "walk/folder_walk.h"

/// Where the maps of the rotation lie in the game's folders, as both
/// engines find them, with close names for those found nowhere.
struct maps_facts {
  /// Whether the operator named the folders, rather than the current
  /// folder being looked in by default.
  bool named = false;
  /// Whether looking ran out of memory: then nothing else is known.
  bool out_of_memory = false;
  game_search search;
  /// For each of search.maps, the close names of one no engine finds
  /// (from all that would load), the closest first.
  std::vector<std::vector<std::string>> close;
  /// Whether close names were looked for only for the first maps not found.
  bool close_cut = false;
  /// Whether there was anything to look in: an archive that can be read,
  /// or a loose map.
  bool any_source() const { return search.archives > 0 || search.loose > 0; }
  /// Whether all is well: every map is found, every folder listed and
  /// every archive read, or, for the default folder alone, there was
  /// nothing to look in.
  bool all_well() const;
};

/// Looks for each map of `rotation` in `game_folders`, walked from `here`
/// (their archives, *.pk3, and loose files under maps/), as the original
/// engine looks for it, and what the maintained engine does where it
/// differs (engine_search.h), with close names, from all that would load,
/// for one found nowhere. `named` says whether the operator named the
/// folders.
maps_facts analyse_maps(disk_interface& disk, const folder_trail& here,
                        const std::vector<map_entry>& rotation,
                        const std::vector<std::string>& game_folders,
                        bool named);
