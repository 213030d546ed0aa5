#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "check/console.h"
#include "platform/disk.h"
#include "run/run_record.h"
#include "walk/folder_walk.h"

/// A map as a rotation in place loads it: its name, the variable whose
/// text loads it (vstr SW7) and the file whose text set that variable; or,
/// where a file's own text loads it, no variable and that file.
struct traced_map {
  std::string name, variable, file;
  bool operator==(const traced_map& other) const {
    return name == other.name && variable == other.variable &&
           file == other.file;
  }
};

/// What a rotation in place plays, once round, as a console runs it.
struct rotation_trace {
  /// Whether SW_rotate.cfg is there to run at all.
  bool found = false;
  /// The maps in the order of play, from SW_rotate.cfg's first, each once
  /// round: the map each map's end leaves the server on (a step that loads
  /// two, the last); where the chain breaks, those played up to the break.
  std::vector<traced_map> maps;
  /// Whether the chain comes back to its first map.
  bool closes = false;
  /// Where it doesn't, why not, in the console's terms: a file that isn't
  /// there or doesn't fit, a nextmap that loads no map, a round that never
  /// comes back, a text that runs itself for ever.
  std::string breaks;
  /// Whether the reading stopped at the work the check allows it.
  bool cut_short = false;
};

/// Plays a rotation in a console of `rules` whose files `files` gives:
/// `exec SW_rotate.cfg`, then "vstr nextmap" at each map's end, until its
/// first map comes round again by the same variable of the same file, or a
/// step loads nothing, or the console's variables come back to where they
/// stood at an earlier map's end without it (a round that never ends), or
/// the reading's budget runs out.
rotation_trace trace_rotation(const console_files& files,
                              const console_rules& rules,
                              const console_budget& budget = {});

/// The console line that jumps to each of `maps`, whatever the server ran
/// last (the variables of a rotation it ran before the files changed, or
/// another part's): the file that sets the map's variable, which loads that
/// file's first map at once, then the variable ("exec SW_rotate2.cfg;
/// vstr SW7"); for a file's first map, or one its own text loads, the exec
/// alone.
std::vector<std::string> console_lines(const std::vector<traced_map>& maps);

/// What the rotation in place makes the server play now, and how it stands
/// against the map list that the next run reads.
struct in_place_facts {
  /// Whether the rotation's folder was reached, so that its files could be
  /// looked at.
  bool looked = false;
  /// The chain as the original engine's console runs it, and where the
  /// maintained engine's plays other maps or ends otherwise, as it does.
  rotation_trace trace;
  bool maintained_differs = false;
  rotation_trace maintained;
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

/// Reads the rotation in place as the server's console runs it: each file
/// when the chain runs it, SW_rotate.cfg as the run `own` found it, every
/// other by its path under the game's folder `here`, where the server
/// looks for it (as the game opens files: through links), no more of each
/// than tells whether the console takes it, and no more than 8 MiB in all.
/// Changes nothing.
in_place_facts analyse_rotation_in_place(disk_interface& disk,
                                         const folder_trail& here,
                                         const run_record& own);
