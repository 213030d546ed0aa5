#include "check/map_lookup.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

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

/// Whether no engine finds the map anywhere.
bool nowhere(const map_sources& found) {
  return found.original.where == map_source::kind::none &&
         !found.maintained.loads();
}

}  // namespace

bool maps_facts::all_well() const {
  if (out_of_memory) return false;
  if (!any_source()) return !named;
  return search.problems.empty() &&
         std::all_of(
             search.maps.begin(), search.maps.end(),
             [](const auto& map) { return map.second.original.loads(); });
}

maps_facts analyse_maps(disk_interface& disk, const folder_trail& here,
                        const std::vector<map_entry>& rotation,
                        const std::vector<std::string>& game_folders,
                        bool named) {
  maps_facts facts;
  facts.named = named;
  std::vector<std::string_view> names;
  names.reserve(rotation.size());
  for (const map_entry& entry : rotation) names.push_back(entry.name());
  try {
    facts.search = search_game(disk, here, game_folders, names);
  } catch (const std::bad_alloc&) {
    facts.out_of_memory = true;
    return facts;
  }
  if (!facts.any_source()) return facts;
  std::size_t steps_left = suggestion_steps;
  facts.close.reserve(facts.search.maps.size());
  for (const auto& [name, found] : facts.search.maps)
    facts.close.push_back(
        nowhere(found) ? close_names(name, facts.search.loadable, &steps_left)
                       : std::vector<std::string>());
  facts.close_cut = steps_left < suggestion_steps / 100;
  return facts;
}
