#include "rotation_check.h"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "archive_names.h"
#include "dry_disk.h"
#include "generator_run.h"
#include "map_list.h"
#include "path.h"
#include "rotation_files.h"
#include "rotation_order.h"
#include "rotation_script.h"

namespace {

/// The report as it grows: text and numbers, appended.
struct report_text {
  std::string text;
  report_text& operator<<(std::string_view part) {
    text += part;
    return *this;
  }
  report_text& operator<<(char c) {
    text += c;
    return *this;
  }
  template <typename Number,
            typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
  report_text& operator<<(Number number) {
    text += std::to_string(number);
    return *this;
  }
};

/// The longest name `map NAME` loads: maps/NAME.bsp must fit in 63 bytes.
constexpr std::size_t longest_loadable_name = 54;

/// `text` in printable ASCII: any other byte as \xHH.
std::string shown(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out + "\"";
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/// The line a view into `text` starts on, counting from 1.
struct line_index {
  explicit line_index(std::string_view text) : text(text) {
    starts.push_back(0);
    for (std::size_t at = 0; at < text.size(); ++at)
      if (text[at] == '\n') starts.push_back(at + 1);
  }
  std::size_t line_of(std::string_view part) const {
    const std::size_t at = static_cast<std::size_t>(part.data() - text.data());
    return static_cast<std::size_t>(
        std::upper_bound(starts.begin(), starts.end(), at) - starts.begin());
  }
  /// The first token of the line `part` stands on.
  std::string_view first_word_of(std::string_view part) const {
    std::size_t at = starts[line_of(part) - 1];
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ')
      ++end;
    return text.substr(at, end - at);
  }
  std::string_view text;
  std::vector<std::size_t> starts;
};

/// The map list as a run reads it.
struct read_list {
  std::string file, bytes;
  disk_result read = disk_result::missing;
  list_encoding how = list_encoding::plain;
  std::string_view text;
  map_list list;
  std::vector<std::string_view> left_out;
};

read_list read_the_list(disk_interface& disk, const run_start& start) {
  read_list in;
  if (start.list_given) {
    in.file = start.list;
    in.bytes = start.list_bytes;
    in.read = start.list_read;
  } else {
    in.read = read_list_file(disk, start.list, &in.file, &in.bytes);
  }
  if (in.read != disk_result::done) return in;
  in.text = map_list_text(&in.bytes, &in.how);
  in.list = read_map_list(in.text, &in.left_out);
  return in;
}

const char* encoding_name(list_encoding how) {
  switch (how) {
    case list_encoding::utf8_with_mark:
      return "UTF-8 with a byte-order mark";
    case list_encoding::utf16le:
      return "UTF-16 (little-endian), turned into UTF-8";
    case list_encoding::utf16be:
      return "UTF-16 (big-endian), turned into UTF-8";
    default:
      return "plain text";
  }
}

/// The map list's part of the report; true where something is left out by
/// mistake or won't load.
bool report_list(report_text& out, const read_list& in) {
  out << "== The map list\n";
  if (in.read == disk_result::missing) {
    out << map_list_file << ": not found\n\n";
    return false;
  }
  if (in.read != disk_result::done) {
    out << map_list_file
        << ": can't be read, or is a link a run doesn't follow\n\n";
    return false;
  }
  out << in.file << ", read as " << encoding_name(in.how) << ": "
      << in.list.entries.size() << " entries\n";
  const line_index lines(in.text);
  bool mistakes = false;
  const auto say = [&](std::string_view at, const std::string& what) {
    out << "  line " << lines.line_of(at) << ": " << shown(at) << " " << what
        << "\n";
  };
  for (const std::string_view token : in.left_out) {
    mistakes = true;
    say(token, "is left out: it has no whole number after it");
  }
  std::unordered_map<std::string_view, std::size_t> seen;
  for (const map_entry& entry : in.list.entries) {
    if (const char* why = why_not_playable(entry.name)) {
      mistakes = true;
      say(entry.name, std::string("is left out: ") + why);
    } else if (entry.priority < 0) {
      say(entry.name, "priority " + std::to_string(entry.priority) +
                          ": left out on purpose");
    } else {
      if (entry.name.size() > longest_loadable_name) {
        mistakes = true;
        say(entry.name, "won't load: longer than 54 bytes");
      } else if (std::any_of(entry.name.begin(), entry.name.end(),
                             [](char c) { return c <= ' ' || c >= 0x7F; })) {
        mistakes = true;
        say(entry.name, "won't load: bytes outside printable ASCII");
      }
      ++seen[entry.name];
    }
    const std::string_view first = lines.first_word_of(entry.name);
    if (first.substr(0, 1) == "#" || first.substr(0, 2) == "//" ||
        first.substr(0, 1) == ";") {
      mistakes = true;
      say(entry.name, "comes from a comment line: it is still read as a map");
    }
  }
  for (const auto& [name, times] : seen)
    if (times > 1)
      out << "  " << shown(name) << " is listed " << times
          << " times, and plays as often\n";
  out << "\n";
  return mistakes;
}

void report_order(report_text& out, const std::vector<map_entry>& rotation) {
  out << "== The order of play\n";
  if (rotation.empty()) out << "No map.\n";
  for (std::size_t at = 0; at < rotation.size();) {
    std::size_t end = at;
    while (end < rotation.size() &&
           rotation[end].priority == rotation[at].priority)
      ++end;
    out << "Priority " << rotation[at].priority
        << (end - at > 1 ? ", in a fresh random order on every run:\n" : ":\n");
    for (; at < end; ++at) out << "  " << shown(rotation[at].name) << "\n";
  }
  out << "\n";
}

/// Why a run would leave every file of the rotation as it is, asked in the
/// order the run asks; `place` is where the rotation lies, if `found`.
std::string why_kept(disk_interface& disk, const owner_decision& owner,
                     const read_list& in, bool no_map, std::size_t parts,
                     bool found, const rotation_place& place) {
  if (owner.result == owner_switch::failed ||
      owner.result == owner_switch::refused)
    return owner.why;
  if (!found)
    return "SW_rotate.cfg is a link that belongs neither to this user nor to "
           "the folder's owner: a run doesn't follow it";
  const char* frozen = " is read-only, or not a file this user may replace";
  if (is_frozen(place.facts)) return place.first + frozen;
  if (in.read == disk_result::failed)
    return "the map list is there but can't be read";
  if (no_map && place.facts.found != disk_result::missing)
    return "the map list gives no map, and a rotation is in place";
  for (std::size_t part = 2;; ++part) {
    std::string target;
    file_facts facts;
    if (!part_file(disk, place, part, &target, &facts))
      return rotation_script_file(part) + " is a link a run doesn't follow";
    if (facts.found == disk_result::missing && part > parts) break;
    if (is_frozen(facts)) return target + frozen;
  }
  return "the folder " + place.folder +
         " may not be written, and the rotation can't be written over "
         "SW_rotate.cfg alone";
}

/// The files' part of the report; true where a run would put them in place.
bool report_files(report_text& out, disk_interface& disk,
                  const owner_decision& owner, const run_start& start,
                  const read_list& in, const std::vector<map_entry>& rotation) {
  out << "== The files\n";
  if (owner.result == owner_switch::given_up)
    out << "A run as root: " << owner.why << ".\n";
  dry_disk dry(disk);
  const bool runs = owner.result == owner_switch::kept ||
                    owner.result == owner_switch::given_up;
  if (runs) run_generator(dry, start);
  rotation_place place;
  const bool found = find_rotation(disk, start.rotation, &place);
  bool placed = false;
  for (const dry_disk::change& change : dry.changes) {
    if (change.what == "remove")
      out << "Removes " << change.path << ", left by a killed run\n";
    if (change.what != "rename" && change.what != "write over") continue;
    out << change.path << ": " << change.size << " bytes\n";
    placed = placed || (found && change.path == place.first);
  }
  std::size_t parts = 0;
  write_rotation_script(rotation, [&](std::string_view) { return ++parts; });
  if (placed)
    out << "A run puts " << (parts == 1 ? "this file" : "these files")
        << " in place (" << parts << (parts == 1 ? " part" : " parts")
        << ").\n";
  else
    out << "A run leaves every file of the rotation as it is: "
        << why_kept(disk, owner, in, rotation.empty(), parts, found, place)
        << ".\n";
  std::vector<std::string> names;
  if (found) disk.list_folder(place.folder, &names);
  for (const std::string& name : names) {
    const std::string canon = lower(name);
    const std::string as_named =
        "SW_rotate" + (canon.size() > 9 ? canon.substr(9) : "");
    if (canon.substr(0, 9) == "sw_rotate" &&
        is_rotation_script_file(as_named) && as_named != name)
      out << path_in(place.folder, name) << " differs from " << as_named
          << " only in case: a server may run it instead\n";
  }
  out << "\n";
  return placed;
}

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

/// The maps' part of the report; true where every map is found or there
/// was nothing to look in.
bool report_maps(report_text& out, disk_interface& disk,
                 const std::vector<map_entry>& rotation,
                 const std::vector<std::string>& game_folders) {
  out << "== The maps in the game's archives\n";
  std::unordered_map<std::string, map_place> wanted;
  for (const map_entry& entry : rotation)
    wanted.emplace(archive_key("maps/" + std::string(entry.name) + ".bsp"),
                   map_place{});
  std::unordered_set<std::string> loose;
  std::vector<std::string> known;
  std::size_t archives = 0;
  for (const std::string& folder : game_folders) {
    std::vector<std::string> names;
    if (disk.list_folder(folder, &names) != disk_result::done)
      out << folder << ": can't be listed\n";
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string key = lower(name);
      if (key.size() < 4 || key.substr(key.size() - 4) != ".pk3") continue;
      const std::string path = path_in(folder, name);
      if (look_in_archive(disk, path, key == "pak0.pk3", &wanted, &known))
        ++archives;
      else
        out << path << ": can't be read as an archive, skipped\n";
    }
    std::vector<std::string> maps;
    disk.list_folder(path_in(folder, "maps"), &maps);
    for (const std::string& name : maps)
      loose.insert(path_in(folder, "maps/" + name));
  }
  if (archives == 0 && loose.empty()) {
    out << "No archive (*.pk3) found: give the game's folders to check the "
           "maps against them.\n";
    return true;
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
  return all_found;
}

}  // namespace

check_result check_rotation(disk_interface& disk, const owner_decision& owner,
                            const run_start& start,
                            const std::vector<std::string>& game_folders) {
  report_text out;
  out << "What the next run of map_rotation here will do\n\n";
  const read_list in = read_the_list(disk, start);
  const bool mistakes = report_list(out, in);
  std::vector<map_entry> rotation = build_rotation(in.list.entries);
  report_order(out, rotation);
  const bool placed = report_files(out, disk, owner, start, in, rotation);
  const bool found = report_maps(out, disk, rotation, game_folders);
  check_result result;
  result.status = !placed || rotation.empty() ? 2 : mistakes || !found ? 1 : 0;
  out << "\nExit status " << result.status << "\n";
  result.report = std::move(out.text);
  return result;
}
