#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check/engine.h"
#include "platform/disk.h"
#include "walk/folder_walk.h"

/// How the game's engines find `map NAME`, maps/NAME.bsp, in the game's
/// folders: the original engine, which operators run, and the maintained
/// open engine, where it decides otherwise. The rules, read in both
/// engines' source:
/// - the folders in the order given, each searched whole before the next
///   (the server searches a mod's folder before the base game's);
/// - within a folder the original engine searches its archives, then its
///   loose files; the maintained engine its loose files first;
/// - a folder's archives (names ending .pk3 in any case) are the first
///   1,024 it lists; those are sorted by name, compared with a to z in
///   upper case and \ and : as /, those beginning mp_ (that case) as if
///   they began zz, and searched from the one that sorts last; after the
///   sort a name beginning zz_ is opened as mp_ and the rest, and one
///   beginning sp_ is never loaded;
/// - in an archive, a name is found in its bucket of the engines' hash
///   table, which folds case and reads \ as / but not :, then compared in
///   any case with \ and : as /;
/// - the first archive that holds the name decides: an entry that is
///   encrypted, of 0 bytes, or whose local header the engine's unzip
///   refuses, doesn't load; in pak0.pk3 the original engine answers "not
///   found" on the spot, while the maintained one skips it and looks on;
/// - each engine's zip reader (archive_names.h): the original reads no
///   zip64 archive, and takes an end record cut short from whatever lies
///   in memory; the maintained one reads it in a way of its own, with a
///   result known in advance;
/// - a loose file is opened by its path (in its case, on Linux), through
///   links, and must open as a file of more than 0 bytes; on Linux the
///   original engine opens a folder of that name too, and fails.

/// Where one engine finds a map, and whether it loads it.
struct map_source {
  enum class kind { none, archive, loose };
  kind where = kind::none;
  /// The archive, or the loose file.
  std::string file;
  /// The entry's name in the archive.
  std::string entry;
  /// Why it doesn't load, though found; null where it loads.
  const char* wont_load = nullptr;
  /// Whether what it yields is undefined (an archive the original engine
  /// reads from whatever lies in memory): it may load.
  bool unsure = false;
  bool loads() const { return where != kind::none && !wont_load; }
};

/// What both engines find for one map.
struct map_sources {
  map_source original, maintained;
  /// Where else it lies that no engine takes it from, each a line for a
  /// person to read: a loose file that doesn't open, an archive the engine
  /// never reads (sp_, zz_, past the 1,024th), an entry its look-up never
  /// finds.
  std::vector<std::string> notes;
};

/// What looking through the game's folders found.
struct game_search {
  /// Each map name once, in the order given, with what the engines find.
  std::vector<std::pair<std::string, map_sources>> maps;
  /// What the engines find for map `name`, which must be among them.
  const map_sources& at(std::string_view name) const;
  /// Every name a map would load by in the original engine, for close
  /// names; none that wouldn't.
  std::vector<std::string> loadable;
  /// Folders that can't be listed, archives that an engine can't read and
  /// damaged ones, each a line for a person to read.
  std::vector<std::string> problems;
  /// Archives that an engine reads, and loose maps that open.
  std::size_t archives = 0, loose = 0;
};

/// Looks for each of `names` (once each, though given more often) in
/// `folders`, walked from `here` as this
/// process may (folder_walk.h: as root, only where root alone may change
/// everything on the way), as the engines would, reading of each archive
/// only its end and its directory, through one open handle.
game_search search_game(disk_interface& disk, const folder_trail& here,
                        const std::vector<std::string>& folders,
                        const std::vector<std::string_view>& names);

/// An archive's name for `name`: in lower case, with \ and : as /.
std::string archive_key(std::string_view name);
