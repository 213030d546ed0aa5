#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "disk.h"
#include "folder_walk.h"

/// How the game's engines find `map NAME`, maps/NAME.bsp, in the game's
/// folders: the original engine, which operators run, and the maintained
/// open engine, where it decides otherwise. The rules, read in both
/// engines' source:
/// - the folders in the order given, each searched whole before the next
///   (the server searches a mod's folder before the base game's);
/// - within a folder its archives first, then its loose files;
/// - its archives (names ending .pk3 in any case; never those beginning
///   sp_, at most 1,024) from the one whose name sorts last, names
///   compared in any case and those beginning mp_ sorted as if they began
///   zz;
/// - in an archive, names match whatever their case, with \ and : as /;
/// - the first archive that holds the name decides: an encrypted entry or
///   one of 0 bytes doesn't load; in pak0.pk3 the original engine answers
///   "not found" on the spot, while the maintained one skips it and looks
///   on;
/// - each engine's zip reader (archive_names.h): the original reads no
///   zip64 archive;
/// - a loose file is opened by its path (in its case, on Linux), through
///   links, and must open as a file of more than 0 bytes.
enum class engine { original, maintained };

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
  bool loads() const { return where != kind::none && !wont_load; }
};

/// What both engines find for one map.
struct map_sources {
  map_source original, maintained;
  /// Loose files of the map that are there but don't open as a file.
  std::vector<std::string> unopened;
};

/// What looking through the game's folders found.
struct game_search {
  /// By map name, as listed.
  std::unordered_map<std::string, map_sources> maps;
  /// Every name a map would load by in the original engine, for close
  /// names; none that wouldn't.
  std::vector<std::string> loadable;
  /// Folders that can't be listed and archives that an engine can't read,
  /// each a line for a person to read.
  std::vector<std::string> problems;
  /// Archives that an engine reads, and loose maps that open.
  std::size_t archives = 0, loose = 0;
};

/// Looks for each of `names` in `folders`, walked from `here` as this
/// process may (folder_walk.h: as root, only where root alone may change
/// everything on the way), as the engines would, reading of each archive
/// only its end and its directory, through one open handle.
game_search search_game(disk_interface& disk, const folder_trail& here,
                        const std::vector<std::string>& folders,
                        const std::vector<std::string_view>& names);

/// An archive's name for `name`: in lower case, with \ and : as /.
std::string archive_key(std::string_view name);
