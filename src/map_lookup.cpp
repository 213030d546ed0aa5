#include "map_lookup.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "archive_names.h"
#include "path.h"

namespace {

/// Where the game holds a map that the rotation plays.
struct map_place {
  /// The archive, and the name there; both empty where it isn't in one.
  std::string archive, name;
  /// Whether pak0.pk3 holds it, from which no map loads.
  bool in_pak0 = false;
};

/// Archive names as the engine compares them: any case, `\` and `:` as `/`.
std::string archive_key(std::string_view name) {
  std::string key = lower(name);
  std::replace(key.begin(), key.end(), '\\', '/');
  std::replace(key.begin(), key.end(), ':', '/');
  return key;
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

/// How many steps of comparing names the suggestions may take in all, so
/// that a long list of maps not found still checks in about a second.
constexpr std::size_t suggestion_steps = 50000000;

/// Up to three names of `known` close to `name`, the closest first, each
/// comparison taking its steps from `*steps_left`; none once they are gone.
std::vector<std::string> close_names(const std::string& name,
                                     const std::vector<std::string>& known,
                                     std::size_t* steps_left) {
  std::vector<std::pair<std::size_t, std::string>> close;
  const std::size_t most = name.size() < 5 ? 1 : 2;
  const std::string key = lower(name);
  for (const std::string& other : known) {
    const std::size_t steps = (name.size() + 1) * (other.size() + 1);
    if (*steps_left < steps) return {};
    *steps_left -= steps;
    const std::size_t apart = other.size() > name.size()
                                  ? other.size() - name.size()
                                  : name.size() - other.size();
    if (apart > most) continue;
    const std::size_t distance = edit_distance(key, other);
    if (distance <= most) close.emplace_back(distance, other);
  }
  std::sort(close.begin(), close.end());
  std::vector<std::string> names;
  for (const auto& [distance, other] : close)
    if (names.size() < 3 && (names.empty() || names.back() != other))
      names.push_back(other);
  return names;
}

/// Looks for the rotation's maps, `wanted` by their archive key, among
/// the entries of the archive at `path`; names every map there in
/// `*known`, for close names. False where it can't be read.
bool look_in_archive(disk_interface& disk, const std::string& path,
                     bool is_pak0,
                     std::unordered_map<std::string, map_place>* wanted,
                     std::vector<std::string>* known) {
  std::string bytes, key;
  if (disk.read_file(path, &bytes) != disk_result::done) return false;
  return read_archive_names(
      bytes.size(),
      [&](std::uint64_t offset, std::size_t count) {
        return offset < bytes.size()
                   ? bytes.substr(static_cast<std::size_t>(offset), count)
                   : std::string();
      },
      [&](std::string_view entry) {
        key = archive_key(entry);
        if (key.size() < 9 || key.compare(0, 5, "maps/") != 0 ||
            key.compare(key.size() - 4, 4, ".bsp") != 0)
          return;
        known->push_back(key.substr(5, key.size() - 9));
        const auto found = wanted->find(key);
        if (found == wanted->end()) return;
        if (is_pak0)
          found->second.in_pak0 = true;
        else if (found->second.archive.empty())
          found->second = {path, std::string(entry), found->second.in_pak0};
      });
}

}  // namespace

bool report_maps(report_text& out, disk_interface& disk,
                 const std::vector<map_entry>& rotation,
                 const std::vector<std::string>& game_folders, bool named) {
  out << "== The maps in the game's archives\n";
  std::unordered_map<std::string, map_place> wanted;
  for (const map_entry& entry : rotation)
    wanted.emplace(archive_key("maps/" + std::string(entry.name) + ".bsp"),
                   map_place{});
  std::unordered_set<std::string> loose;
  std::vector<std::string> known;
  std::size_t archives = 0;
  bool trouble = false;
  for (const std::string& folder : game_folders) {
    std::vector<std::string> names;
    if (disk.list_folder(folder, &names) != disk_result::done) {
      out << folder << ": can't be listed: " << disk.failure_reason() << "\n";
      trouble = true;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string key = lower(name);
      if (key.size() < 4 || key.substr(key.size() - 4) != ".pk3") continue;
      const std::string path = path_in(folder, name);
      if (look_in_archive(disk, path, key == "pak0.pk3", &wanted, &known)) {
        ++archives;
      } else {
        out << path << ": can't be read as an archive, skipped\n";
        trouble = true;
      }
    }
    std::vector<std::string> maps;
    disk.list_folder(path_in(folder, "maps"), &maps);
    for (const std::string& name : maps)
      loose.insert(path_in(folder, "maps/" + name));
  }
  if (archives == 0 && loose.empty()) {
    out << (named ? "No archive (*.pk3) that can be read, and no loose map, "
                    "in the game's folders named: no map was checked.\n"
                  : "No archive (*.pk3) found: give the game's folders to "
                    "check the maps against them.\n");
    return !named;
  }
  bool all_found = true;
  std::size_t steps_left = suggestion_steps;
  std::unordered_set<std::string_view> done;
  for (const map_entry& entry : rotation) {
    if (!done.insert(entry.name).second) continue;
    const std::string name(entry.name), file = "maps/" + name + ".bsp";
    const map_place& found = wanted[archive_key(file)];
    out << "  " << shown(name) << ": ";
    if (!found.archive.empty()) {
      out << "in " << found.archive;
      if (found.name != file)
        out << " as " << found.name
            << " (another case: archives match any case)";
      out << "\n";
      continue;
    }
    bool loose_found = false;
    for (const std::string& folder : game_folders)
      loose_found = loose_found || loose.count(path_in(folder, file));
    if (loose_found) {
      out << "loose in a maps folder\n";
      continue;
    }
    all_found = false;
    if (found.in_pak0) {
      out << "only in pak0.pk3, from which no map loads\n";
      continue;
    }
    out << "NOT FOUND";
    const std::vector<std::string> close =
        close_names(name, known, &steps_left);
    for (std::size_t i = 0; i < close.size(); ++i)
      out << (i == 0 ? "; did you mean " : " or ") << close[i];
    out << (close.empty() ? "\n" : "?\n");
  }
  if (steps_left < suggestion_steps / 100)
    out << "(Close names were looked for only for the first maps not "
           "found.)\n";
  return all_found && !trouble;
}
