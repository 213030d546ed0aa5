#include "check/map_lookup.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "check/engine_search.h"
#include "platform/path.h"

namespace {

/// Compares names in any case, as archives do.
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min(
          {row[j] + 1, row[j - 1] + 1,
           diagonal + (lower_case(a[i - 1]) == lower_case(b[j - 1]) ? 0 : 1)});
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
  for (const std::string& other : known) {
    const std::size_t steps = (name.size() + 1) * (other.size() + 1);
    if (*steps_left < steps) return {};
    *steps_left -= steps;
    const std::size_t apart = other.size() > name.size()
                                  ? other.size() - name.size()
                                  : name.size() - other.size();
    if (apart > most) continue;
    const std::size_t distance = edit_distance(name, other);
    if (distance <= most) close.emplace_back(distance, other);
  }
  std::sort(close.begin(), close.end());
  std::vector<std::string> names;
  for (const auto& [distance, other] : close)
    if (names.size() < 3 && (names.empty() || names.back() != other))
      names.push_back(other);
  return names;
}

/// Where `source` is, for the report.
std::string where(const map_source& source, const std::string& name) {
  if (source.where == map_source::kind::loose) return "loose, " + source.file;
  std::string text = "in " + source.file;
  if (source.entry != "maps/" + name + ".bsp")
    text += " as " + source.entry + " (another case: archives match any case)";
  return text;
}

/// Whether no engine finds the map anywhere.
bool nowhere(const map_sources& found) {
  return found.original.where == map_source::kind::none &&
         !found.maintained.loads();
}

/// What an engine does with the map of `source`, said after "the ...
/// engine".
std::string verdict(const map_source& source, const std::string& name) {
  if (source.where == map_source::kind::none) return "doesn't find it";
  if (source.loads()) return "loads it " + where(source, name);
  return "finds it " + where(source, name) + ", but " + source.wont_load;
}

/// Whether two engines do the same with a map.
bool same(const map_source& a, const map_source& b) {
  return a.where == b.where && a.file == b.file && a.entry == b.entry &&
         std::string_view(a.wont_load ? a.wont_load : "") ==
             std::string_view(b.wont_load ? b.wont_load : "");
}

/// What both engines do with one map, with where else it lies, and for one
/// found nowhere, the `close` names; true where the original engine loads
/// it.
bool report_map(report_text& out, const std::string& name,
                const map_sources& found,
                const std::vector<std::string>& close) {
  const map_source &original = found.original, &maintained = found.maintained;
  out << "  " << shown(name) << ": ";
  if (original.loads()) {
    out << where(original, name);
  } else if (original.where != map_source::kind::none) {
    out << (original.unsure ? "MAY NOT LOAD: " : "WON'T LOAD: ")
        << where(original, name) << ", but " << original.wont_load;
  } else if (maintained.where != map_source::kind::none) {
    out << "NOT FOUND by the original engine; the maintained engine "
        << verdict(maintained, name);
  } else {
    out << "NOT FOUND";
    for (std::size_t i = 0; i < close.size(); ++i)
      out << (i == 0 ? "; did you mean " : " or ") << close[i];
    if (!close.empty()) out << "?";
  }
  if (original.where != map_source::kind::none && !same(original, maintained))
    out << " (the maintained engine " << verdict(maintained, name) << ")";
  out << "\n";
  for (const std::string& note : found.notes) out << "    " << note << "\n";
  return original.loads();
}

}  // namespace

bool report_maps(report_text& out, disk_interface& disk,
                 const folder_trail& here,
                 const std::vector<map_entry>& rotation,
                 const std::vector<std::string>& game_folders, bool named) {
  out << "== The maps in the game's folders\n";
  std::vector<std::string_view> names;
  names.reserve(rotation.size());
  for (const map_entry& entry : rotation) names.push_back(entry.name);
  game_search search;
  try {
    search = search_game(disk, here, game_folders, names);
  } catch (const std::bad_alloc&) {
    out << "Ran out of memory while looking through the game's folders: no "
           "map was checked.\n";
    return false;
  }
  for (const std::string& problem : search.problems) out << problem << "\n";
  if (search.archives == 0 && search.loose == 0) {
    out << (named ? "No archive (*.pk3) that can be read, and no loose map, "
                    "in the game's folders named: no map was checked.\n"
                  : "No archive (*.pk3) found: give the game's folders to "
                    "check the maps against them.\n");
    return !named;
  }
  bool all_found = true;
  std::size_t steps_left = suggestion_steps;
  for (const auto& [name, found] : search.maps) {
    const std::vector<std::string> close =
        nowhere(found) ? close_names(name, search.loadable, &steps_left)
                       : std::vector<std::string>();
    all_found = report_map(out, name, found, close) && all_found;
  }
  if (steps_left < suggestion_steps / 100)
    out << "(Close names were looked for only for the first maps not "
           "found.)\n";
  return all_found && search.problems.empty();
}
