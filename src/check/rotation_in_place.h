#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check/console_model.h"
#include "platform/disk.h"
#include "run/run_record.h"

/// What the rotation in place makes the server play now, and how it stands
/// against the map list that the next run reads.
struct in_place_facts {
  /// Whether the rotation's folder was reached, so that its files could be
  /// looked at.
  bool looked = false;
  /// The chain as the original engine's console runs it.
  rotation_trace trace;
  /// Whether the chain was read to its end or break: false where the check
  /// stopped at the most it reads of a rotation in place, 8 MiB.
  bool read_whole = true;
  /// Files the chain runs that are there but can't be read, each with why.
  std::vector<std::pair<std::string, std::string>> unreadable;
  /// Against the map list, where it was read and the chain closes: the maps
  /// it gives that the rotation doesn't play, and the maps the rotation
  /// plays that it doesn't give (each once, in the list's order and in the
  /// order of play), and the first two maps played one after the other in
  /// an order that their priorities no longer give (the second now ranks
  /// higher).
  bool compared = false;
  std::vector<std::string> added, removed;
  std::pair<std::string, std::string> out_of_order;
  /// Maps played another number of times than the list gives them.
  struct times_played {
    std::string name;
    std::size_t played = 0, listed = 0;
  };
  std::vector<times_played> played_otherwise;
  /// Whether the rotation plays just what the list gives, in an order its
  /// priorities give.
  bool matches_list() const {
    return added.empty() && removed.empty() && out_of_order.first.empty() &&
           played_otherwise.empty();
  }
};

/// Reads the rotation in place in the folder where the run `own` found
/// SW_rotate.cfg, as the console runs it: each file when the chain runs it,
/// by its name in that folder (never one with a path; SW_rotate.cfg by the
/// name of the file it links to, which the run found), no more of each
/// than tells whether the console takes it, and no more than 8 MiB in all.
/// Changes nothing.
in_place_facts analyse_rotation_in_place(disk_interface& disk,
                                         const run_record& own);
