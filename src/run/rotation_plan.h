#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "run/map_list.h"
#include "run/rotation_script.h"

/// What a run writes for a map list and a seed, worked out without the
/// disk: the order of play and the files of the rotation script, each
/// with the first map it defines and its size. The run carries out a plan
/// and records it; the check reports the plans of runs, never one of its
/// own making. The names view the map list's text.
struct rotation_plan {
  std::vector<map_entry> order;
  /// The script's files in order, SW_rotate.cfg first: at least one.
  std::vector<rotation_file> files;
};

/// The plan for the entries of `list`, ordered with a random generator of
/// its own seeded with `seed` (rotation_order.h): the same list and seed
/// give the same plan, whatever was planned before. Takes the list by
/// value so that a caller done with it can move it in.
rotation_plan plan_rotation(map_list list, std::uint32_t seed);

/// Where the plan defines map `at` of its order: the file, counting from 1
/// as rotation_script_file() does, and the variable that loads it there
/// (vstr SW`variable`).
struct map_place {
  std::size_t file = 1, variable = 1;
};
map_place place_of(const rotation_plan& plan, std::size_t at);
