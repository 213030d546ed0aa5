#include "check/rotation_in_place.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>

#include "platform/path.h"
#include "run/rotation_script.h"

namespace {

/// The console the rotation runs in: the original engine's, as a part is
/// run from nextmap at a map's end, with nothing of a config behind it.
constexpr console_limits in_place_console =
    original_console(0, comment_rules::original);

/// The most of the rotation in place that is read: a rotation of some
/// 35,000 maps. One of a million maps (30,000 files) would cost the check
/// seconds and hundreds of MiB for lines no admin reads to the end.
constexpr std::size_t most_read = std::size_t{8} << 20;

/// The steps allowed for each file of the rotation's in the folder: more
/// than the variables a file that the console takes can set.
constexpr std::size_t steps_per_file = 2 * (original_buffer / 8);

/// How many of the rotation's files `folder` holds, by their names in their
/// own case; 1 where it can't be listed.
std::size_t rotation_files_in(disk_interface& disk, const disk_folder& folder) {
  std::vector<std::string> names;
  if (!disk.list_folder(folder, &names).ok()) return 1;
  return static_cast<std::size_t>(std::count_if(
      names.begin(), names.end(),
      [](const std::string& name) { return is_rotation_script_file(name); }));
}

/// How the next run's plan gives one map: its lowest and highest priority
/// (a map listed more than once plays at each of its own) and how often.
struct given_map {
  std::int32_t lowest = 0, highest = 0;
  std::size_t times = 0;
};

/// Compares the maps played with those the next run plans from the list.
void compare_with_list(const run_record& own, in_place_facts* facts) {
  std::unordered_map<std::string_view, given_map> given;
  std::vector<std::string_view> in_order;
  for (const map_entry& entry : own.plan.order) {
    const auto [at, first] = given.try_emplace(
        entry.name(), given_map{entry.priority, entry.priority, 0});
    if (first) in_order.push_back(entry.name());
    at->second.lowest = std::min(at->second.lowest, entry.priority);
    at->second.highest = std::max(at->second.highest, entry.priority);
    ++at->second.times;
  }
  // Parts of two runs put together play some maps twice and others never.
  std::unordered_map<std::string_view, std::size_t> played;
  for (const traced_map& map : facts->trace.maps) ++played[map.name];
  for (const std::string_view name : in_order) {
    const auto times = played.find(name);
    const std::size_t listed = given.at(name).times;
    if (times == played.end())
      facts->added.emplace_back(name);
    else if (times->second != listed)
      facts->played_otherwise.push_back(
          {std::string(name), times->second, listed});
  }
  std::set<std::string_view> said;
  const traced_map* before = nullptr;
  for (const traced_map& map : facts->trace.maps) {
    const auto known = given.find(map.name);
    if (known == given.end()) {
      if (said.insert(map.name).second) facts->removed.push_back(map.name);
      continue;
    }
    if (before && facts->out_of_order.first.empty() &&
        given.at(before->name).highest < known->second.lowest)
      facts->out_of_order = {before->name, map.name};
    before = &map;
  }
  facts->compared = true;
}

}  // namespace

in_place_facts analyse_rotation_in_place(disk_interface& disk,
                                         const run_record& own) {
  in_place_facts facts;
  if (!own.found) return facts;
  facts.looked = true;
  // One file's text at a time: the console copies it as it runs it.
  std::string text;
  std::size_t bytes_read = 0;
  const auto source = [&](const std::string& name) -> const std::string* {
    if (name.empty() || name.find_first_of("/\\") != std::string::npos)
      return nullptr;
    if (bytes_read >= most_read) {
      facts.read_whole = false;
      return nullptr;
    }
    // The script itself may be the file that SW_rotate.cfg links to; its
    // parts lie beside it.
    const std::string& there =
        name == rotation_script_file(1) ? own.script_name : name;
    std::unique_ptr<readable_file> file;
    disk_status read = disk.open_file(own.folder, there, &file);
    // No more than tells whether the console takes the file whole.
    if (read.ok()) read = file->read(0, in_place_console.room + 1, &text);
    bytes_read += text.size();
    if (read.ok()) return &text;
    if (read != disk_result::missing)
      facts.unreadable.emplace_back(shown_path(own.folder, there), read.reason);
    return nullptr;
  };
  facts.trace =
      trace_rotation(source, in_place_console,
                     64 + steps_per_file * rotation_files_in(disk, own.folder));
  if (!facts.read_whole) facts.trace.breaks.clear();
  // Only a whole chain is compared: past a break nothing plays.
  if (own.planned && facts.trace.closes) compare_with_list(own, &facts);
  return facts;
}
