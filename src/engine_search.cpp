#include "engine_search.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "archive_names.h"
#include "path.h"

namespace {

/// The most archives the engine reads in one folder.
constexpr std::size_t most_archives = 1024;

/// Turns `name` into an archive's name for it, in place.
void to_key(std::string& name) {
  for (char& c : name) c = c == '\\' || c == ':' ? '/' : lower_case(c);
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

/// The name the engine sorts an archive by: mp_ (in that case) as zz, so
/// that the multiplayer archives sort last and are searched first; then
/// compared in any case, with \ and : as /.
std::string sort_key(const std::string& name) {
  std::string key =
      name.compare(0, 3, "mp_") == 0 ? "zz" + name.substr(2) : name;
  return archive_key(key);
}

/// A folder's archives in the order the engine searches them.
std::vector<std::string> archives_of(std::vector<std::string> names,
                                     std::size_t* skipped) {
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) {
                               return !ends_with(lower(name), ".pk3") ||
                                      name.compare(0, 3, "sp_") == 0;
                             }),
              names.end());
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) {
              return sort_key(a) < sort_key(b);
            });
  *skipped = names.size() > most_archives ? names.size() - most_archives : 0;
  names.resize(std::min(names.size(), most_archives));
  std::reverse(names.begin(), names.end());
  return names;
}

/// One map of the list while the search goes on.
struct wanted_map {
  std::string name;
  map_sources found;
  bool decided[2] = {false, false};
};

/// The search, folder after folder.
struct searcher {
  disk_interface& disk;
  game_search result;
  std::vector<wanted_map> maps;
  /// The maps by their name in an archive; several names may share one.
  std::unordered_map<std::string, std::vector<std::size_t>> by_key;
  /// Names a map would load by, each with the place in the search where it
  /// was seen; and the places where a name was first seen not loading (in
  /// pak0.pk3, encrypted, empty), so that no close name is one that the
  /// first archive holding it would refuse.
  std::vector<std::pair<std::string, std::size_t>> candidates, refused;
  std::size_t place = 0;
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

  /// An entry of archive `path`, as engine `which` (both, where `both`)
  /// reads it.
  void take_entry(const std::string& path, bool pak0, const archive_entry& item,
                  bool original, bool maintained) {
    key.assign(item.name);
    to_key(key);
    if (key.size() < 9 || key.compare(0, 5, "maps/") != 0 ||
        !ends_with(key, ".bsp"))
      return;
    const char* wont = item.encrypted   ? "it is encrypted, and can't be opened"
                       : item.size == 0 ? "it is 0 bytes, which doesn't load"
                                        : nullptr;
    const std::string_view map =
        std::string_view(key).substr(5, key.size() - 9);
    if (original && !pak0 && !wont)
      candidates.emplace_back(map, place);
    else if (original)
      refused.emplace_back(map, place);
    const auto found = by_key.find(key);
    if (found == by_key.end()) return;
    for (const std::size_t i : found->second) {
      map_source source{map_source::kind::archive, path, std::string(item.name),
                        wont};
      if (original) {
        map_source first = source;
        if (pak0)
          first.wont_load =
              "the first archive that holds it is pak0.pk3, from which the "
              "original engine loads no map";
        decide(maps[i], engine::original, std::move(first));
      }
      if (maintained && !pak0) decide(maps[i], engine::maintained, source);
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
  /// links; shown as `shown`. Null, with the reason in `*why`, where it
  /// can't be.
  std::unique_ptr<readable_file> open_walked(const folder_trail& folder,
                                             const std::string& name,
                                             std::string* why) {
    const walk_end end = walk(disk, folder, name, link_rule::any);
    if (end.stop != walk_stop::reached) {
      *why = end.why;
      return nullptr;
    }
    std::unique_ptr<readable_file> file;
    if (const disk_status opened =
            disk.open_file(end.trail.back(), end.name, &file);
        !opened.ok()) {
      *why = opened.reason;
      return nullptr;
    }
    return file;
  }

  /// Reads archive `name` of `folder` as both engines do.
  void search_archive(const folder_trail& folder, const std::string& name) {
    const std::string path = shown_path(folder.back(), name);
    std::string why;
    const std::unique_ptr<readable_file> file = open_walked(folder, name, &why);
    if (!file) {
      result.problems.push_back(path + ": can't be read: " + why);
      return;
    }
    // The tail is asked for more than once: it is read once. Every piece
    // comes from the one file opened.
    std::pair<std::uint64_t, std::size_t> cached{file->size, 0};
    std::string cache;
    const archive_reader read = [&](std::uint64_t offset, std::size_t count) {
      if (cached != std::make_pair(offset, count)) {
        if (!file->read(offset, count, &cache).ok()) cache.clear();
        cached = {offset, count};
      }
      return cache;
    };
    const std::uint64_t size = file->size;
    archive_directory original, maintained;
    const bool original_reads =
        find_archive_directory(size, read, zip_reader::original, &original);
    const bool maintained_reads =
        find_archive_directory(size, read, zip_reader::maintained, &maintained);
    const bool pak0 = lower(name) == "pak0.pk3";
    if (original_reads || maintained_reads) ++result.archives;
    ++place;
    if (!original_reads)
      result.problems.push_back(
          path + (maintained_reads
                      ? ": the original engine can't read it (zip64, or a "
                        "broken end record); the maintained one can"
                      : ": no engine reads it as an archive (no end record "
                        "within its last 65,535 bytes, or a broken one)"));
    // Where both engines find the same directory, it is read once for both.
    const bool same = maintained_reads && original == maintained;
    std::uint64_t entries = 0;
    if (original_reads)
      read_archive_directory(read, original, [&](const archive_entry& item) {
        ++entries;
        take_entry(path, pak0, item, true, same);
      });
    if (maintained_reads && !(original_reads && same))
      read_archive_directory(read, maintained, [&](const archive_entry& item) {
        take_entry(path, pak0, item, false, true);
      });
    if (original_reads && entries < original.entries)
      result.problems.push_back(
          path + ": the original engine reads " + std::to_string(entries) +
          " of its " + std::to_string(original.entries) +
          " entries (a broken directory, or zip64 read out of place)");
  }

  /// Looks for the maps still undecided among the loose files of `folder`.
  void search_loose(const folder_trail& folder) {
    std::vector<std::string> names;
    const walk_end maps_folder =
        walk(disk, folder, "maps", link_rule::any, true);
    if (maps_folder.stop == walk_stop::reached)
      disk.list_folder(maps_folder.trail.back(), &names);
    std::unordered_set<std::string> there;
    for (const std::string& name : names) {
      if (!ends_with(lower(name), ".bsp")) continue;
#ifdef _WIN32
      there.insert(lower(name));  // Windows opens a file in any case
#else
      there.insert(name);
#endif
      // A close name only where the file opens, as one that loads.
      std::string why;
      const std::unique_ptr<readable_file> file =
          open_walked(maps_folder.trail, name, &why);
      if (!file || file->size == 0) continue;
      ++result.loose;
      candidates.emplace_back(name.substr(0, name.size() - 4), place);
    }
    ++place;
    for (wanted_map& m : maps) {
      if (m.decided[0] && m.decided[1]) continue;
      const std::string file = m.name + ".bsp";
#ifdef _WIN32
      const bool listed = there.count(lower(file)) > 0;
#else
      const bool listed = there.count(file) > 0;
#endif
      if (!listed && file.find('/') == std::string::npos) continue;
      const std::string path = shown_path(folder.back(), "maps/" + file);
      std::string why;
      const std::unique_ptr<readable_file> opened =
          open_walked(folder, "maps/" + file, &why);
      if (!opened) {
        // The engine's open fails, and it looks on.
        if (listed) m.found.unopened.push_back(path + ": " + why);
        continue;
      }
      const map_source source{
          map_source::kind::loose, path, "",
          opened->size == 0 ? "it is 0 bytes, which doesn't load" : nullptr};
      decide(m, engine::original, source);
      decide(m, engine::maintained, source);
    }
  }
};

}  // namespace

std::string archive_key(std::string_view name) {
  std::string key(name);
  to_key(key);
  return key;
}

game_search search_game(disk_interface& disk, const folder_trail& here,
                        const std::vector<std::string>& folders,
                        const std::vector<std::string_view>& names) {
  searcher search{disk, {}, {}, {}, {}, {}, 0, {}};
  for (const std::string_view name : names) {
    const std::string key = archive_key("maps/" + std::string(name) + ".bsp");
    std::vector<std::size_t>& same = search.by_key[key];
    const bool listed_before =
        std::any_of(same.begin(), same.end(),
                    [&](std::size_t i) { return search.maps[i].name == name; });
    if (listed_before) continue;
    same.push_back(search.maps.size());
    search.maps.push_back({std::string(name), {}, {false, false}});
  }
  for (const std::string& folder : folders) {
    const walk_end opened = walk(disk, here, folder, link_rule::any, true);
    std::vector<std::string> entries;
    const disk_status listed =
        opened.stop == walk_stop::reached
            ? disk.list_folder(opened.trail.back(), &entries)
            : disk_status(disk_result::failed, opened.why);
    if (!listed.ok()) {
      search.result.problems.push_back(
          folder + ": can't be listed: " + listed.reason +
          (opened.stop == walk_stop::other_user ||
                   opened.stop == walk_stop::refused
               ? ". A check as root reads nothing that another user may "
                 "change: run it as the user the server runs as"
               : ""));
      continue;
    }
    std::size_t skipped = 0;
    for (const std::string& name : archives_of(entries, &skipped))
      search.search_archive(opened.trail, name);
    if (skipped > 0)
      search.result.problems.push_back(
          opened.trail.back().path + ": " + std::to_string(skipped) +
          " archives past the first 1,024 are not read by the engine");
    search.search_loose(opened.trail);
  }
  for (wanted_map& m : search.maps)
    search.result.maps.emplace(m.name, std::move(m.found));
  search.result.loadable = search.loadable();
  return std::move(search.result);
}
