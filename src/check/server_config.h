#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/console.h"
#include "platform/disk.h"
#include "walk/folder_walk.h"

/// Where the size of the SW_rotate.cfg that the console takes in comes
/// from.
enum class rotation_source {
  /// The one the next run writes.
  next_run,
  /// The largest a run writes in the orders tried, larger than the next
  /// run's.
  largest_tried,
  /// The one in place, which a run keeps.
  in_place,
};

/// Which of the server's configs to read, and with what rotation.
struct config_request {
  /// The configs named with --config; none means every .cfg in the working
  /// folder other than the rotation's own files and the map list, of which
  /// those that no other runs are read as the server's.
  std::vector<std::string> named;
  /// The bytes of the SW_rotate.cfg that the console will take in, and
  /// where they come from; with largest_tried, the next run's.
  std::size_t rotation_size = 0;
  rotation_source source = rotation_source::next_run;
  std::size_t next_run_size = 0;
  /// The work the console may do for all the configs together: far more
  /// than configs that the buffer of 16 KiB takes ever need, and a quarter
  /// of a rotation's.
  console_budget budget{std::size_t{1} << 18, std::size_t{4} << 20};
  /// The most configs read, the server's and those they run: a server has
  /// dozens, and a hundred thousand small files beside the list would
  /// otherwise cost seconds.
  std::size_t most_configs = 10000;
};

/// One thing a config does to the rotation, at a line of it or of a config
/// it runs.
struct config_finding {
  enum class kind {
    /// `exec` of the rotation in another case: works on Windows only.
    other_case,
    /// `exec` of the rotation, with `behind` bytes of config waiting
    /// behind it: it `fits` into the console's buffer, and where not
    /// `room_for_any`, a rotation file of the largest size wouldn't.
    runs_rotation,
    /// `exec` of a config that doesn't fit into the buffer: none of it runs.
    too_large,
    /// Configs that run one another for ever with the buffer as it was:
    /// the console never gets past them, and the server hangs.
    loop,
    /// A command after the rotation's exec that loads a map (`loads`) or
    /// changes nextmap: the rotation stops after its first map.
    stops_after,
    /// The configs' reading ran out of the work the check allows it
    /// (console_budget): nothing past it is known.
    budget,
  };
  kind what = kind::runs_rotation;
  /// The config the line is in, where it is another than the one read;
  /// its line (0: the config read itself, too_large for the server's own
  /// exec of it); the command's argument, or (stops_after) its words as
  /// written; where that command came from a variable, the line's own
  /// command that ran it (vstr NAME).
  std::string file;
  std::size_t line = 0;
  std::string command, via;
  std::size_t behind = 0;
  bool fits = true, room_for_any = true, loads = false;
  /// How often the same finding came: a config that runs itself meets the
  /// same command on every round.
  std::size_t times = 1;
  /// Whether it is of the config read as a whole, not of one of its lines.
  bool whole_config() const { return line == 0; }
};

/// What one config the server may run does to the rotation.
struct config_reading {
  std::string path;
  bool runs_rotation = false;
  bool stops = false;
  std::vector<config_finding> findings;
  /// Whether the maintained engine's console runs the rotation, or stops
  /// it, otherwise than the original's: its larger buffer, its comments,
  /// its variable commands' words.
  bool maintained_differs = false, maintained_runs = false,
       maintained_stops = false;
};

/// What the server's configs do to the rotation.
struct config_facts {
  config_request request;
  /// The configs that the server runs and that have something to say, by
  /// path.
  std::vector<config_reading> readings;
  /// Whether any config was read at all.
  bool any_read = false;
  /// Configs named that aren't there; configs that can't be read, with why.
  std::vector<std::string> missing;
  std::vector<std::pair<std::string, std::string>> unreadable;
  /// Whether a config named couldn't be read, or isn't there.
  bool named_unread = false;
  /// Whether there were more configs than the check reads
  /// (request.most_configs): one past them may run the rotation.
  bool capped = false;
  /// Whether one of them runs the rotation, and whether one stops it.
  bool runs = false, stops = false;
  /// True where nothing stops the rotation: no such finding, and, where
  /// there are configs, one of them runs it.
  bool all_well() const;
};

/// Reads the server's configs, walked from `here` as the engine opens them
/// (as root, only where root alone may change their way), as the original
/// engine's console runs them (console.h: its commands and variables, its
/// comments, its 16,384-byte buffer, `exec` by path in the game's folder),
/// each that no other runs once, within one console_budget for all, and
/// tells,
/// for each that runs `exec SW_rotate.cfg`, where; whether the rotation
/// fits into the buffer beside what of the configs still waits behind it
/// (F + R <= 16,382); and every command after it that loads a map or
/// changes `nextmap`, which stops the rotation after its first map. An
/// `exec` of the rotation in another case works on Windows and fails on
/// Linux.
config_facts analyse_configs(disk_interface& disk, const folder_trail& here,
                             const config_request& request);
