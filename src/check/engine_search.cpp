#include "check/engine_search.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "check/archive_names.h"
#include "platform/path.h"

namespace {

/// The most archives the engine reads in one folder: the first it lists.
constexpr std::size_t most_archives = 1024;

/// Turns `name` into an archive's name for it, in place.
void to_key(std::string& name) {
  for (char& c : name) c = c == '\\' || c == ':' ? '/' : lower_case(c);
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

bool begins_with(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

/// A byte as the engines compare archive names: a to z in upper case, \ and
/// : as /, and a signed char, so that bytes from 0x80 up come first.
int sorting_byte(char c) {
  const int byte = static_cast<signed char>(c);
  return byte >= 'a' && byte <= 'z'    ? byte - ('a' - 'A')
         : byte == '\\' || byte == ':' ? '/'
                                       : byte;
}

/// Whether the engines sort archive name `a` before `b`.
bool sorts_before(std::string_view a, std::string_view b) {
  for (std::size_t i = 0;; ++i) {
    const int x = i < a.size() ? sorting_byte(a[i]) : 0,
              y = i < b.size() ? sorting_byte(b[i]) : 0;
    if (x != y) return x < y;
    if (x == 0) return false;
  }
}

/// An archive that a folder lists, as the engine treats it.
struct listed_archive {
  /// The name the folder lists, and the name the engine opens for it.
  std::string listed, opened;
  /// Why the engine reads none of it; null where it reads it.
  const char* skipped = nullptr;
};

/// A folder's archives (`names` ending .pk3 in any case) in the order the
/// engine searches them, the first first, then those it never reads. The
/// listing is cut to its first 1,024 archives, in the order the system
/// lists them; those are sorted by name, those beginning mp_ (that case) as
/// if they began zz, and each later one goes in front. After the sort,
/// every name beginning zz_ is opened as mp_ and the rest, and those
/// beginning sp_ are never loaded.
std::vector<listed_archive> archives_of(const std::vector<std::string>& names) {
  std::vector<std::pair<std::string, std::string>> sorted;  // sorted as, name
  std::vector<listed_archive> order, past;
  for (const std::string& name : names) {
    if (!ends_with(lower(name), ".pk3")) continue;
    if (sorted.size() == most_archives) {
      past.push_back({name, name,
                      "past the first 1,024 archives of its folder, which the "
                      "engine reads no further"});
      continue;
    }
    sorted.emplace_back(begins_with(name, "mp_") ? "zz" + name.substr(2) : name,
                        name);
  }
  // Stable, as the engines' own insertion sort: names the same to it stay
  // in the order listed.
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) {
                     return sorts_before(a.first, b.first);
                   });
  for (auto archive = sorted.rbegin(); archive != sorted.rend(); ++archive) {
    const std::string& as = archive->first;
    listed_archive listed{archive->second,
                          begins_with(as, "zz_") ? "mp_" + as.substr(3) : as};
    if (begins_with(as, "sp_"))
      listed.skipped =
          "its name begins sp_, and the engine never loads such an "
          "archive";
    order.push_back(std::move(listed));
  }
  order.insert(order.end(), past.begin(), past.end());
  return order;
}

/// One map of the list while the search goes on.
struct wanted_map {
  std::string name;
  map_sources found;
  bool decided[2] = {false, false};
  /// The next map with the same name in an archive; none at the last.
  std::size_t next = none;
  static constexpr std::size_t none = static_cast<std::size_t>(-1);
};

/// What each engine makes of an end record cut short, after the words
/// "damaged: its end record is cut short by N bytes".
constexpr const char* cut_by_original =
    ", which the original engine reads from whatever lies in memory (what it "
    "yields there is undefined: its maps may or may not load), and the "
    "maintained one takes each missing byte for the one before it in its "
    "number (0 for a number's first): replace it";
constexpr const char* cut_by_maintained =
    ", which only the maintained engine reads, taking each missing byte for "
    "the one before it in its number (0 for a number's first): replace it";

/// An archive that no engine reads, kept for the notes of maps not found.
struct unread_archive {
  folder_trail folder;
  std::string name, why;
};

/// The search, folder after folder.
struct searcher {
  disk_interface& disk;
  game_search result;
  std::vector<wanted_map> maps;
  /// The first map of each name in an archive; several names may share one,
  /// each the `next` of the one before.
  std::unordered_map<std::string, std::size_t> by_key;
  /// Names a map would load by, each with the place in the search where it
  /// was seen; and the places where a name was first seen not loading (in
  /// pak0.pk3, encrypted, empty), so that no close name is one that the
  /// first archive holding it would refuse.
  std::vector<std::pair<std::string, std::size_t>> candidates, refused;
  std::size_t place = 0;
  std::vector<unread_archive> unread;
  /// The key of the entry at hand, reused so that most entries cost no
  /// allocation.
  std::string key;

  /// Decides map `m` for `which` engine, where it isn't yet.
  void decide(wanted_map& m, engine which, map_source source) {
    const int at = which == engine::original ? 0 : 1;
    if (m.decided[at]) return;
    m.decided[at] = true;
    (which == engine::original ? m.found.original : m.found.maintained) =
        std::move(source);
  }

  static void note(wanted_map& m, std::string line) {
    if (std::find(m.found.notes.begin(), m.found.notes.end(), line) ==
        m.found.notes.end())
      m.found.notes.push_back(std::move(line));
  }

  /// The map name of archive entry `item`, in `key`, where it names one.
  bool map_entry_key(const archive_entry& item) {
    key.assign(item.name);
    to_key(key);
    return key.size() >= 9 && key.compare(0, 5, "maps/") == 0 &&
           ends_with(key, ".bsp");
  }

  /// An entry of archive `path`, whose directory `found` the engines read
  /// through `read`, as each engine reads it (`original`, `maintained`).
  /// `why_not` says why a map in it doesn't load, whatever else: pak0.pk3
  /// for the original engine, a damaged archive.
  void take_entry(const std::string& path, const archive_reader& read,
                  const archive_directory& found, const archive_entry& item,
                  bool original, bool maintained, bool pak0,
                  const char* damaged) {
    if (!map_entry_key(item)) return;
    const std::string_view map =
        std::string_view(key).substr(5, key.size() - 9);
    // The engine finds a name only in its own bucket of the archive's hash
    // table, which reads \ as / but not :.
    const std::string query = "maps/" + std::string(map) + ".bsp";
    const bool in_bucket = engine_bucket(item.name, found.entries) ==
                           engine_bucket(query, found.entries);
    const char* wont = damaged          ? damaged
                       : item.encrypted ? "it is encrypted, and can't be opened"
                       : item.size == 0 ? "it is 0 bytes, which doesn't load"
                                        : nullptr;
    if (original && in_bucket) {
      if (!pak0 && !wont)
        candidates.emplace_back(map, place);
      else
        refused.emplace_back(map, place);
    }
    const auto wanted = by_key.find(key);
    if (wanted == by_key.end()) return;
    for (std::size_t i = wanted->second; i != wanted_map::none;
         i = maps[i].next) {
      wanted_map& m = maps[i];
      if (!in_bucket) {
        note(m, path + " holds it as " + std::string(item.name) +
                    ", a name the engines' look-up never finds: their hash "
                    "reads : as itself");
        continue;
      }
      const auto source = [&](zip_reader reader) {
        const char* why =
            wont ? wont : why_entry_fails(read, found, item, reader);
        return map_source{map_source::kind::archive, path,
                          std::string(item.name), why, damaged != nullptr};
      };
      if (original && !m.decided[0]) {
        map_source first = source(zip_reader::original);
        if (pak0)
          first.wont_load =
              "the first archive that holds it is pak0.pk3, from which the "
              "original engine loads no map";
        decide(m, engine::original, std::move(first));
      }
      if (maintained && !pak0 && !m.decided[1])
        decide(m, engine::maintained, source(zip_reader::maintained));
    }
  }

  /// The names a map would load by: each candidate that no refusal came
  /// before.
  std::vector<std::string> loadable() {
    std::vector<std::string> names;
    if (candidates.empty()) return names;
    std::unordered_map<std::string_view, std::size_t> first_refused;
    for (const auto& [name, at] : refused) first_refused.emplace(name, at);
    names.reserve(candidates.size());
    for (auto& [name, at] : candidates) {
      const auto blocked = first_refused.find(name);
      if (blocked == first_refused.end() || blocked->second > at)
        names.push_back(std::move(name));
    }
    return names;
  }

  /// Opens file `name`, walked from `folder` as the game opens it, through
  /// links. Null, with the reason in `*why`, where it can't be; `*folder_there`
  /// where it is a folder.
  std::unique_ptr<readable_file> open_walked(const folder_trail& folder,
                                             const std::string& name,
                                             std::string* why,
                                             bool* folder_there = nullptr) {
    const walk_end end = walk(disk, folder, name, link_rule::any);
    if (end.stop != walk_stop::reached) {
      *why = end.why;
      return nullptr;
    }
    if (folder_there) *folder_there = end.facts.kind == file_kind::folder;
    std::unique_ptr<readable_file> file;
    if (const disk_status opened =
            disk.open_file(end.trail.back(), end.name, &file);
        !opened.ok()) {
      *why = opened.reason;
      return nullptr;
    }
    return file;
  }

  /// Reads the directory of archive `name` of `folder` as both engines do,
  /// handing each entry to `each` with the reader that reads it; false,
  /// with the reason in `*why`, where no engine can read it. What is amiss
  /// with one they read goes into the problems where `reported`.
  template <typename Each>
  bool read_archive(const folder_trail& folder, const std::string& name,
                    const std::string& path, bool reported, std::string* why,
                    const Each& each) {
    const std::unique_ptr<readable_file> file = open_walked(folder, name, why);
    if (!file) {
      *why = "can't be read: " + *why;
      return false;
    }
    // The tail is asked for more than once: it is read once. Every piece
    // comes from the one file opened.
    std::pair<std::uint64_t, std::size_t> cached{file->size, 0};
    std::string cache;
    // A read that fails reads as nothing; the first failure's reason is
    // kept, so that a disk's error is told as one, not as a broken archive.
    disk_status failed;
    const archive_reader read = [&](std::uint64_t offset, std::size_t count) {
      if (cached != std::make_pair(offset, count)) {
        if (const disk_status got = file->read(offset, count, &cache);
            !got.ok()) {
          cache.clear();
          if (failed.ok()) failed = got;
        }
        cached = {offset, count};
      }
      return cache;
    };
    archive_directory original, maintained;
    const bool original_reads = find_archive_directory(
        file->size, read, zip_reader::original, &original);
    const bool maintained_reads = find_archive_directory(
        file->size, read, zip_reader::maintained, &maintained);
    if (!original_reads && !maintained_reads) {
      *why = !failed.ok()
                 ? "can't be read: " + failed.reason
                 : "no engine reads it as an archive (no end record within "
                   "its last 65,535 bytes, or a broken one)";
      return false;
    }
    std::vector<std::string> no_problems;
    std::vector<std::string>& problems =
        reported ? result.problems : no_problems;
    if (!original_reads)
      problems.push_back(path +
                         ": the original engine can't read it (zip64, "
                         "or a broken end record); the maintained one "
                         "can");
    const std::size_t cut = original_reads ? original.cut : maintained.cut;
    if (cut > 0)
      problems.push_back(
          path + ": damaged: its end record is cut short by " +
          std::to_string(cut) + (cut == 1 ? " byte" : " bytes") +
          (original_reads ? cut_by_original : cut_by_maintained));
    // Where both engines find the same directory, it is read once for both;
    // never from a cut record, which only the original reads undefined.
    const bool same =
        maintained_reads && original == maintained && original.cut == 0;
    std::uint64_t entries = 0;
    if (original_reads)
      read_archive_directory(read, original, [&](const archive_entry& item) {
        ++entries;
        each(read, original, item, true, same);
      });
    if (maintained_reads && !(original_reads && same))
      read_archive_directory(read, maintained, [&](const archive_entry& item) {
        each(read, maintained, item, false, true);
      });
    if (!failed.ok())
      problems.push_back(path + ": can't be read whole: " + failed.reason);
    else if (original_reads && entries < original.entries)
      problems.push_back(
          path + ": the original engine reads " + std::to_string(entries) +
          " of its " + std::to_string(original.entries) +
          " entries (a broken directory, or zip64 read out of place)");
    return true;
  }

  /// Searches archive `archive` of `folder` as both engines do.
  void search_archive(const folder_trail& folder,
                      const listed_archive& archive) {
    const std::string listed = shown_path(folder.back(), archive.listed),
                      path = shown_path(folder.back(), archive.opened);
    if (archive.skipped) {
      unread.push_back({folder, archive.listed, archive.skipped});
      return;
    }
    if (archive.opened != archive.listed)
      unread.push_back({folder, archive.listed,
                        "its name begins zz_, so the engine opens " + path +
                            " in its place"});
    ++place;
    const bool pak0 = lower(archive.opened) == "pak0.pk3";
    std::string why;
    const bool read = read_archive(
        folder, archive.opened, path, true, &why,
        [&](const archive_reader& reader, const archive_directory& found,
            const archive_entry& item, bool original, bool maintained) {
          const char* damaged =
              found.cut && original && !maintained
                  ? "it lies in a damaged archive, from which it may or may "
                    "not load"
                  : nullptr;
          take_entry(path, reader, found, item, original, maintained, pak0,
                     damaged);
        });
    if (read) {
      ++result.archives;
    } else if (archive.opened == archive.listed) {
      result.problems.push_back(path + ": " + why);
    }
  }

  /// The names under maps/ of `folder`, and in `*maps` the folder.
  std::vector<std::string> loose_names(const folder_trail& folder,
                                       folder_trail* maps) {
    std::vector<std::string> names;
    walk_end end = walk(disk, folder, "maps", link_rule::any, true);
    if (end.stop != walk_stop::reached) return names;
    if (const disk_status listed = disk.list_folder(end.trail.back(), &names);
        !listed.ok()) {
      // The engine finds no loose map there either.
      result.problems.push_back(end.trail.back().path +
                                ": can't be listed: " + listed.reason);
      names.clear();
    }
    *maps = std::move(end.trail);
    return names;
  }

  /// Looks for the maps that `which` engine hasn't decided yet among the
  /// loose files of `folder`, listed in `names` under maps/ (`maps`). A
  /// file opens by its path: in its own case on Linux, in any on Windows.
  void search_loose(const folder_trail& folder,
                    const std::vector<std::string>& names, engine which) {
    std::unordered_set<std::string> there;
    for (const std::string& name : names)
#ifdef _WIN32
      there.insert(lower(name));
#else
      there.insert(name);
#endif
    const int at = which == engine::original ? 0 : 1;
    for (wanted_map& m : maps) {
      if (m.decided[at]) continue;
      const std::string file = m.name + ".bsp";
#ifdef _WIN32
      const bool listed = there.count(lower(file)) > 0;
#else
      const bool listed = there.count(file) > 0;
#endif
      if (!listed && file.find('/') == std::string::npos) continue;
      const std::string path = shown_path(folder.back(), "maps/" + file);
      std::string why;
      bool is_folder = false;
      const std::unique_ptr<readable_file> opened =
          open_walked(folder, "maps/" + file, &why, &is_folder);
#ifndef _WIN32
      // fopen opens a folder on POSIX: the original engine takes it for
      // the map and looks no further; the maintained one looks on.
      if (is_folder && which == engine::original) {
        decide(m, which,
               {map_source::kind::loose, path, "",
                "it is a folder, which the engine opens as the map: on a "
                "server's disk (ext4) the 32-bit server exits at once when it "
                "loads it (on tmpfs the load fails instead, \"wrong version "
                "number\", and play goes on)",
                false});
        continue;
      }
#endif
      if (!opened) {
        // The engine's open fails, and it looks on.
        if (listed && !is_folder)
          note(m, path + " doesn't open as a file: " + why);
        continue;
      }
      decide(m, which,
             {map_source::kind::loose, path, "",
              opened->size == 0 ? "it is 0 bytes, which doesn't load" : nullptr,
              false});
    }
  }

  /// Searches `folder` as each engine does: the original its archives,
  /// then its loose files; the maintained one the other way round.
  void search_folder(const folder_trail& folder,
                     const std::vector<std::string>& entries) {
    folder_trail maps_folder;
    const std::vector<std::string> loose = loose_names(folder, &maps_folder);
    search_loose(folder, loose, engine::maintained);
    std::size_t past = 0;
    for (const listed_archive& archive : archives_of(entries)) {
      search_archive(folder, archive);
      past += archive.skipped && !begins_with(archive.skipped, "its name");
    }
    if (past > 0)
      result.problems.push_back(folder.back().path + ": " +
                                std::to_string(past) +
                                " archives past the first 1,024 are not read "
                                "by the engine");
    ++place;
    // Close names only from loose files that open, as those that load, in
    // the place the original engine searches them.
    for (const std::string& name : loose) {
      std::string why;
      if (!ends_with(lower(name), ".bsp")) continue;
      const std::unique_ptr<readable_file> file =
          open_walked(maps_folder, name, &why);
      if (!file || file->size == 0) continue;
      ++result.loose;
      candidates.emplace_back(name.substr(0, name.size() - 4), place);
    }
    search_loose(folder, loose, engine::original);
  }

  /// Notes where the maps that an engine doesn't load lie in archives that
  /// no engine reads.
  void note_unread() {
    if (std::all_of(maps.begin(), maps.end(), [](const wanted_map& m) {
          return m.found.original.loads() && m.found.maintained.loads();
        }))
      return;
    for (const unread_archive& archive : unread) {
      const std::string path = shown_path(archive.folder.back(), archive.name);
      std::string why;
      read_archive(archive.folder, archive.name, path, false, &why,
                   [&](const archive_reader&, const archive_directory&,
                       const archive_entry& item, bool, bool) {
                     if (!map_entry_key(item)) return;
                     const auto wanted = by_key.find(key);
                     if (wanted == by_key.end()) return;
                     for (std::size_t i = wanted->second; i != wanted_map::none;
                          i = maps[i].next)
                       if (!maps[i].found.original.loads() ||
                           !maps[i].found.maintained.loads())
                         note(maps[i], path + " holds it, but " + archive.why);
                   });
    }
  }
};

}  // namespace

const map_sources& game_search::at(std::string_view name) const {
  return std::find_if(maps.begin(), maps.end(),
                      [&](const auto& map) { return map.first == name; })
      ->second;
}

std::string archive_key(std::string_view name) {
  std::string key(name);
  to_key(key);
  return key;
}

game_search search_game(disk_interface& disk, const folder_trail& here,
                        const std::vector<std::string>& folders,
                        const std::vector<std::string_view>& names) {
  searcher search{disk, {}, {}, {}, {}, {}, 0, {}, {}};
  // Each folder listed first: where none holds an archive or a maps folder,
  // no map is looked for at all, however many there are.
  std::vector<std::pair<folder_trail, std::vector<std::string>>> listed;
  bool anything = false;
  for (const std::string& folder : folders) {
    const walk_end opened = walk(disk, here, folder, link_rule::any, true);
    std::vector<std::string> entries;
    const disk_status read =
        opened.stop == walk_stop::reached
            ? disk.list_folder(opened.trail.back(), &entries)
        : opened.stop == walk_stop::failed
            ? disk_status(disk_result::failed, opened.reason)
            : disk_status(disk_result::failed, opened.why);
    if (!read.ok()) {
      search.result.problems.push_back(
          folder + ": can't be listed: " + read.reason +
          (opened.stop == walk_stop::other_user ||
                   opened.stop == walk_stop::refused
               ? ". A check as root reads nothing that another user may "
                 "change: run it as the user the server runs as"
               : ""));
      continue;
    }
    anything = anything || std::any_of(entries.begin(), entries.end(),
                                       [](const std::string& name) {
                                         return name == "maps" ||
                                                ends_with(lower(name), ".pk3");
                                       });
    listed.emplace_back(opened.trail, std::move(entries));
  }
  if (!anything) return std::move(search.result);
  search.maps.reserve(names.size());
  search.by_key.reserve(names.size());
  for (const std::string_view name : names) {
    const auto [first, is_new] = search.by_key.emplace(
        archive_key("maps/" + std::string(name) + ".bsp"), search.maps.size());
    std::size_t* last = nullptr;
    bool listed_before = false;
    for (std::size_t i = first->second; !is_new && i != wanted_map::none;
         i = search.maps[i].next) {
      listed_before = listed_before || search.maps[i].name == name;
      last = &search.maps[i].next;
    }
    if (listed_before) continue;
    if (last) *last = search.maps.size();
    search.maps.push_back({std::string(name), {}, {false, false}});
  }
  for (const auto& [folder, entries] : listed)
    search.search_folder(folder, entries);
  search.note_unread();
  search.result.maps.reserve(search.maps.size());
  for (wanted_map& m : search.maps)
    search.result.maps.emplace_back(std::move(m.name), std::move(m.found));
  search.result.loadable = search.loadable();
  return std::move(search.result);
}
