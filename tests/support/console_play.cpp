#include "support/console_play.h"

#include "check/rotation_in_place.h"

namespace {

/// The console's files: those of `files`, by the path exec gives.
console_files files_of(const script_files& files) {
  return [&files](const std::string& path) {
    const auto found = files.find(path);
    if (found == files.end()) return console_file{};
    return console_file{true, path,
                        std::make_shared<const std::string>(
                            found->second.substr(0, found->second.find('\0')))};
  };
}

}  // namespace

console_run play_in_console(const script_files& files, int steps,
                            const console_rules& rules, std::size_t behind,
                            bool no_maps, const std::string& first) {
  console_run run;
  console_events events;
  events.load = [&](const command_place&, const std::string& name,
                    const std::vector<std::string>&) {
    run.played.push_back(name.empty() ? "restart" : "load " + name);
  };
  events.overflow = [&](const command_place&) { run.overflowed = true; };
  if (no_maps) events.found = [](const std::string&) { return false; };
  console server(rules, files_of(files), events);
  // `behind` bytes of comment, with the line end the console adds to what
  // is typed; at a map's end, vstr nextmap leaves one more of its own.
  const auto rest = [](std::size_t bytes) {
    return bytes < 3 ? std::string(bytes, '\n')
                     : "//" + std::string(bytes - 3, 'p') + "\n";
  };
  console_stop stop = server.run("exec " + first + "\n" + rest(behind));
  for (int step = 0; step < steps && stop == console_stop::none; ++step)
    stop = server.run("vstr nextmap\n" + rest(behind ? behind - 1 : 0));
  run.finished = stop == console_stop::none;
  return run;
}

std::vector<std::string> maps_in_order(const script_files& files) {
  const rotation_trace trace = trace_rotation(files_of(files), original_rules);
  std::vector<std::string> maps;
  if (!trace.closes) return maps;
  for (const traced_map& map : trace.maps) maps.push_back(map.name);
  return maps;
}
