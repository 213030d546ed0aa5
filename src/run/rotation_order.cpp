#include "run/rotation_order.h"

#include <algorithm>

random_order seed_random_order(std::uint32_t seed) {
  return random_order(seed);
}

bool is_playable_name(std::string_view name) {
  return why_not_playable(name) == nullptr;
}

const char* why_not_playable(std::string_view name) {
  if (name.empty()) return "an empty name";
  if (name.size() > max_playable_name_size)
    return "longer than 100 bytes: the console would store its line empty";
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '"') return "a double quote would end the console's text early";
    if (c == ';') return "a semicolon would start a command of its own";
    if (c == '/' && i + 1 < name.size() &&
        (name[i + 1] == '/' || name[i + 1] == '*'))
      return "// or /* would start a comment that cuts the rotation";
  }
  return nullptr;
}

const char* why_wont_load(std::string_view name) {
  if (name.size() > longest_loadable_name) return "longer than 54 bytes";
  for (const char c : name)
    if (c <= ' ' || c >= 0x7F) return "bytes outside printable ASCII";
  return nullptr;
}

std::vector<map_entry> build_rotation(std::vector<map_entry> entries,
                                      random_order& order) {
  // Leaving entries out first reads the names in file order rather than all
  // over memory, and leaves less to sort.
  const auto left_out = [](const map_entry& entry) {
    return entry.priority < 0 || !is_playable_name(entry.name());
  };
  entries.erase(std::remove_if(entries.begin(), entries.end(), left_out),
                entries.end());
  // Sorted in place, then each run of one priority shuffled: every order of
  // a tier as likely as any other, with no buffer beside the entries (a
  // stable sort over a shuffle takes half the entries' size again). A sort
  // costs the same whatever the priorities are; walking every value from
  // the highest priority down would not.
  std::sort(entries.begin(), entries.end(),
            [](const map_entry& a, const map_entry& b) {
              return a.priority > b.priority;
            });
  for (auto tier = entries.begin(); tier != entries.end();) {
    const auto end = std::find_if(tier, entries.end(), [&](const map_entry& e) {
      return e.priority != tier->priority;
    });
    std::shuffle(tier, end, order);
    tier = end;
  }
  return entries;
}
