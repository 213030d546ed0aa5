#include "check/rotation_in_place.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>

#include "platform/path.h"
#include "run/rotation_script.h"

namespace {

/// The most of the rotation in place that is read: a rotation of some
/// 35,000 maps. One of a million maps (30,000 files) would cost the check
/// seconds and hundreds of MiB for lines no admin reads to the end.
constexpr std::size_t most_read = std::size_t{8} << 20;

/// What one step of a rotation did: the last map it loaded and whether it
/// restarted one; the files it couldn't exec, and why.
struct step_events {
  bool loaded = false, restarted = false;
  traced_map last;
  std::string missing, refused;
};

/// Why a step that loads no map ends the chain, in the console's terms: a
/// file it couldn't exec, else `otherwise`.
std::string why_nothing_loads(const step_events& step, std::string otherwise) {
  if (!step.missing.empty())
    return step.missing + " isn't there, so the console can't exec it";
  if (!step.refused.empty())
    return step.refused +
           " is larger than the console's buffer takes, so it refuses all of "
           "it";
  return otherwise;
}

std::string why_stopped(console_stop stop, const console_budget& budget) {
  switch (stop) {
    case console_stop::hangs:
      return "its texts run one another for ever within one map's end, so "
             "the server hangs";
    case console_stop::open_comment:
      return "a comment swallows what follows it";
    default:
      return "the check reads no further: it runs at most " +
             std::to_string(budget.commands) + " commands of it";
  }
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

rotation_trace trace_rotation(const console_files& files,
                              const console_rules& rules,
                              const console_budget& budget) {
  rotation_trace trace;
  step_events step;
  console_events events;
  events.load = [&](const command_place& place, const std::string& name,
                    const std::vector<std::string>&) {
    if (name.empty()) {
      step.restarted = true;
      return;
    }
    // A load in a step that loads again is a reload in the same frame.
    const bool own_text = place.origin.what != text_origin::kind::variable;
    step.loaded = true;
    step.last = {name, own_text ? "" : place.origin.name,
                 own_text ? place.origin.name : place.origin.set_in};
  };
  events.exec = [&](const command_place&, const std::string& path,
                    const console_file& file, std::size_t, bool fits) {
    if (!file.there) step.missing = path;
    if (file.there && !fits) step.refused = path;
    if (path == rotation_script_name) trace.found = trace.found || file.there;
  };
  console server(rules, files, events, budget);
  // The variables as they stood at each map's end, with the maps played by
  // then: where they stand so again, the console goes round from there for
  // ever.
  std::map<std::uint64_t, std::size_t> stood;
  std::string ran = "exec " + std::string(rotation_script_name);
  for (;;) {
    const std::string before = server.value("nextmap");
    step = {};
    const console_stop stop = server.run(ran);
    if (stop != console_stop::none) {
      trace.cut_short = stop == console_stop::budget;
      trace.breaks = why_stopped(stop, budget);
      return trace;
    }
    if (!trace.found) return trace;
    if (step.loaded) {
      if (!trace.maps.empty() && step.last == trace.maps.front()) {
        trace.closes = true;
        return trace;
      }
      trace.maps.push_back(step.last);
    } else if (!step.restarted) {
      trace.breaks = why_nothing_loads(
          step, ran == "vstr nextmap"
                    ? "nextmap runs \"" + before + "\", which loads no map"
                    : std::string(rotation_script_name) + " loads no map");
      return trace;
    }
    const auto [at, fresh] =
        stood.emplace(server.variables_print(), trace.maps.size());
    if (!fresh) {
      trace.breaks =
          at->second < trace.maps.size()
              ? "then it plays \"" + trace.maps[at->second].name +
                    "\" again, and never comes back to its first map"
              : "then it restarts the same map for ever: nextmap runs \"" +
                    server.value("nextmap") + "\"";
      return trace;
    }
    ran = "vstr nextmap";
  }
}

std::vector<std::string> console_lines(const std::vector<traced_map>& maps) {
  std::map<std::string, const traced_map*> first_of;
  for (const traced_map& map : maps) first_of.emplace(map.file, &map);
  std::vector<std::string> lines;
  for (const traced_map& map : maps) {
    if (map.file.empty())
      lines.push_back("vstr " + map.variable);
    else if (map.variable.empty() || map == *first_of.at(map.file))
      lines.push_back("exec " + map.file);
    else
      lines.push_back("exec " + map.file + "; vstr " + map.variable);
  }
  return lines;
}

in_place_facts analyse_rotation_in_place(disk_interface& disk,
                                         const folder_trail& here,
                                         const run_record& own) {
  in_place_facts facts;
  if (!own.found) return facts;
  facts.looked = true;
  // SW_rotate.cfg is the file the run found by that name, through its link;
  // the server finds every other by its path in the game's folder, the
  // working one, which is the rotation's own only where SW_rotate.cfg is no
  // link elsewhere. Each is walked to as the run walks to the rotation: as
  // root, nothing another user may change is read (a part the server's
  // user wrote could exec a file only root may read, and the report would
  // show it).
  const std::string game = here.empty() ? "." : here.back().path;
  std::size_t bytes_read = 0;
  std::map<std::string, console_file> read;
  const console_files files = [&](const std::string& path) -> console_file {
    const auto known = read.find(path);
    if (known != read.end()) return known->second;
    console_file& file = read[path];
    if (bytes_read >= most_read) {
      facts.read_whole = false;
      return file;
    }
    std::unique_ptr<readable_file> opened;
    disk_status status = disk_status(disk_result::missing, "not there");
    if (path == rotation_script_name) {
      file.shown = shown_path(own.folder, own.script_name);
      status = disk.open_file(own.folder, own.script_name, &opened);
    } else if (!here.empty()) {
      const walk_end end =
          walk(disk, here, path, link_rule::own_or_folder_owner);
      file.shown = path_in(game, path);
      status = end.stop != walk_stop::reached
                   ? disk_status(end.missing ? disk_result::missing
                                             : disk_result::failed,
                                 end.why)
               : end.facts.kind == file_kind::missing
                   ? disk_status(disk_result::missing, "not there")
                   : disk.open_file(end.trail.back(), end.name, &opened);
    }
    // No more than tells whether the console takes the file whole.
    std::string text;
    if (status.ok()) status = opened->read(0, maintained_rules.buffer, &text);
    bytes_read += text.size();
    if (!status.ok()) {
      if (status != disk_result::missing)
        facts.unreadable.emplace_back(file.shown, status.reason);
      return file;
    }
    text.resize(std::min(text.size(), text.find('\0')));
    file.there = true;
    file.text = std::make_shared<const std::string>(std::move(text));
    return file;
  };
  facts.trace = trace_rotation(files, original_rules);
  facts.maintained = trace_rotation(files, maintained_rules);
  facts.maintained_differs = facts.trace.closes != facts.maintained.closes ||
                             facts.trace.maps != facts.maintained.maps;
  if (!facts.read_whole) facts.trace.breaks.clear();
  // Only a whole chain is compared: past a break nothing plays.
  if (own.planned && facts.trace.closes) compare_with_list(own, &facts);
  return facts;
}
