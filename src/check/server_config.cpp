#include "check/server_config.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "check/console.h"
#include "platform/path.h"
#include "run/map_list.h"
#include "run/rotation_script.h"
#include "walk/folder_walk.h"

namespace {

/// The most of a config that is read: far more than the buffer takes.
constexpr std::size_t largest_config = 1 << 24;
/// The most of all configs together that is read: every .cfg beside the
/// list is read, and a folder of sparse files costs its owner nothing.
constexpr std::size_t all_configs = 1 << 25;

/// A config as the console reads it: its path for a person to read, and
/// what the console takes of the file, its bytes up to the first NUL (a
/// file that truncate made, all NUL bytes, runs nothing).
struct config_file {
  std::string path;
  std::shared_ptr<const std::string> text;
  /// The line of the last offset asked for, so that lines are counted once
  /// as findings come in order.
  mutable std::size_t counted = 0, line = 1;

  std::size_t line_of(std::size_t at) const {
    if (at < counted) counted = 0, line = 1;
    line += static_cast<std::size_t>(std::count(
        text->begin() + static_cast<std::ptrdiff_t>(counted),
        text->begin() + static_cast<std::ptrdiff_t>(std::min(at, text->size())),
        '\n'));
    counted = std::min(at, text->size());
    return line;
  }
};

/// Whether the engine on this system opens the rotation for `name`, which
/// names it in another case: on Windows, whose files are found in any
/// case; not on Linux, where the engine looks them up in their own.
#ifdef _WIN32
constexpr bool any_case_opens = true;
#else
constexpr bool any_case_opens = false;
#endif

/// Reads configs from the disk, each once.
struct config_reader {
  disk_interface& disk;
  std::size_t most_configs;
  std::map<std::string, std::unique_ptr<config_file>> files;
  std::vector<std::pair<std::string, std::string>> unreadable;
  /// What the configs read so far hold, in all; whether more were asked
  /// for than the check reads.
  std::size_t bytes_read = 0;
  bool capped = false;
  /// The config each path asked for from the game's folder gave.
  std::map<std::string, const config_file*> asked;

  /// The config at `path` from `from`, as the engine opens it (through
  /// links; as root, only where root alone may change its way); null where
  /// there is none, or it can't be read.
  const config_file* open(const folder_trail& from, const std::string& path) {
    // Asked again and again by a chain of configs: walked once.
    const auto before = asked.find(path);
    if (before != asked.end()) return before->second;
    if (files.size() >= most_configs) {
      capped = true;
      return nullptr;
    }
    return asked[path] = open_walked(from, path);
  }

  const config_file* open_walked(const folder_trail& from,
                                 const std::string& path) {
    walk_end end = walk(disk, from, path, link_rule::any);
    const std::string shown = end.stop == walk_stop::reached
                                  ? shown_path(end.trail.back(), end.name)
                                  : path_in(from.back().path, path);
    const auto known = files.find(shown);
    if (known != files.end()) return known->second.get();
    auto file = std::make_unique<config_file>();
    file->path = shown;
    std::unique_ptr<readable_file> opened;
    disk_status read =
        end.stop != walk_stop::reached
            ? disk_status(disk_result::failed, end.why)
            : disk.open_file(end.trail.back(), end.name, &opened);
    // A config is read whole, up to largest_config, or not at all: one cut
    // short might seem to fit into the console's buffer.
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(opened ? opened->size : 0, largest_config));
    if (read.ok() && wanted > all_configs - bytes_read)
      read = disk_status(disk_result::failed,
                         "not read: with the configs read before it, it would "
                         "pass 32 MiB, all that the check reads of configs");
    std::string text;
    if (read.ok()) read = opened->read(0, largest_config, &text);
    bytes_read += std::min(text.size(), all_configs - bytes_read);
    if (!read.ok()) {
      if (read != disk_result::missing)
        unreadable.emplace_back(shown, read.reason);
      files[shown] = nullptr;
      return nullptr;
    }
    text.resize(std::min(text.size(), text.find('\0')));
    file->text = std::make_shared<const std::string>(std::move(text));
    return (files[shown] = std::move(file)).get();
  }
};

/// `findings` with each said once, where it first came, and how often
/// where more than once: a config that runs itself meets the same command
/// again on every round.
std::vector<config_finding> said_once(std::vector<config_finding> findings) {
  std::vector<config_finding> once;
  std::map<std::string, std::size_t> seen;
  for (config_finding& finding : findings) {
    const std::string key =
        std::to_string(static_cast<int>(finding.what)) + '\0' + finding.file +
        '\0' + std::to_string(finding.line) + '\0' + finding.command + '\0' +
        finding.via + '\0' + std::to_string(finding.behind);
    const auto [at, added] = seen.emplace(key, once.size());
    if (added)
      once.push_back(std::move(finding));
    else
      ++once[at->second].times;
  }
  return once;
}

/// The paths of the configs that `file` runs by an `exec` of its own,
/// without running it: those that another config runs are not the
/// server's, and are read inside the one that runs them.
std::vector<std::string> execs_in(const config_file& file) {
  std::vector<std::string> paths;
  const std::string& text = *file.text;
  for (std::size_t at = 0; at < text.size();) {
    const console_command command = next_command(text, at, engine::original);
    at = command.next;
    const std::vector<std::string> words = command_words(command.text);
    if (words.size() == 2 && same_word(words[0], "exec"))
      paths.push_back(exec_path(words[1]));
  }
  return paths;
}

/// One config run as the original engine's console runs it, watched for
/// what it does to the rotation.
struct config_watch {
  config_reader& reader;
  const folder_trail& here;
  const config_file& root;
  const config_request& request;
  console_rules rules;
  config_reading facts;
  /// The configs it ran, by path.
  std::set<std::string> runs;
  /// Whether the rotation's exec has run: from then on, a load or a change
  /// of nextmap from a config stops the rotation after its first map.
  bool started = false;
  /// The rotation as the console takes it in: a text of its size, which
  /// sets nothing.
  console_file rotation;

  /// The last exec, where a hang is found the exec that goes round: kept
  /// cheaply on every exec (a config may run millions), made a finding only
  /// where one is found.
  struct {
    std::string file, command, path;
    std::size_t at = 0;
    bool through_variable = false;
  } last_exec;
  /// The configs run, by the path their exec gave.
  std::map<std::string, const config_file*> by_path;

  /// Adds a finding of `what` at `place`, where `command` ran.
  config_finding& find(config_finding::kind what, const command_place& place,
                       std::string command) {
    facts.findings.push_back(at(what, place, std::move(command)));
    return facts.findings.back();
  }

  /// A finding of `what` at `place`, where `command` ran.
  config_finding at(config_finding::kind what, const command_place& place,
                    std::string command) const {
    config_finding finding;
    finding.what = what;
    const auto known = by_path.find(place.file.name);
    const config_file* file = known == by_path.end() ? nullptr : known->second;
    if (file && file != &root) finding.file = file->path;
    finding.line = file ? file->line_of(place.at) : 0;
    finding.command = std::move(command);
    if (place.through_variable)
      finding.via = as_written(place.file_command(engine::original));
    return finding;
  }

  /// The argument of the exec at `place` as written there, or where a
  /// variable ran it, the path it opened.
  static std::string exec_argument(const command_place& place,
                                   const std::string& path) {
    const std::vector<std::string> words = place.file_command(engine::original);
    return place.through_variable || words.size() < 2 ? path : words[1];
  }

  void exec(const command_place& place, const std::string& path,
            const console_file& file, std::size_t pending, bool fits) {
    last_exec.file = place.file.name;
    last_exec.command =
        next_command(place.file_text, place.at, engine::original).text;
    last_exec.path = path;
    last_exec.at = place.at;
    last_exec.through_variable = place.through_variable;
    if (same_word(path, rotation_script_name) && path != rotation_script_name) {
      find(config_finding::kind::other_case, place, exec_argument(place, path));
      facts.stops = facts.stops || !any_case_opens;
    }
    if (file.text == rotation.text) {
      facts.runs_rotation = true;
      config_finding& finding = find(config_finding::kind::runs_rotation, place,
                                     exec_argument(place, path));
      finding.behind = pending - 1;
      finding.fits = fits;
      // The room any rotation file needs: one of the largest size.
      finding.room_for_any =
          max_script_file_size + 1 + pending <= original_rules.buffer;
      facts.stops = facts.stops || !fits;
      started = started || fits;
      return;
    }
    if (!file.there) return;  // "couldn't exec": nothing runs
    // The server's own exec of the config, typed at its console.
    const bool own = place.file.what == text_origin::kind::typed;
    if (!own) runs.insert(file.shown);
    if (fits) return;
    if (own)
      find(config_finding::kind::too_large, place, root.path).line = 0;
    else
      find(config_finding::kind::too_large, place, exec_argument(place, path));
  }

  /// A load or a change of nextmap at `place` by `words`.
  void stops(const command_place& place, const std::vector<std::string>& words,
             bool loads) {
    if (!started || place.file.what != text_origin::kind::file ||
        same_word(place.file.name, rotation_script_name))
      return;
    facts.stops = true;
    find(config_finding::kind::stops_after, place, as_written(words)).loads =
        loads;
  }

  console_file find_file(const std::string& path) {
    if (path == rotation_script_name ||
        (any_case_opens && same_word(path, rotation_script_name)))
      return rotation;
    const config_file* file = reader.open(here, path);
    if (!file) return {};
    by_path[path] = file;
    return {true, file->path, file->text};
  }

  /// Runs the config, within what is left of `budget`.
  config_reading run(console_budget* budget) {
    facts.path = root.path;
    rotation.there = true;
    rotation.shown = rotation_script_name;
    // Lines of the rotation's size, none of which runs anything.
    std::string stand_in;
    while (stand_in.size() < request.rotation_size)
      stand_in +=
          "//" +
          std::string(std::min<std::size_t>(
                          1000, request.rotation_size - stand_in.size()),
                      'r') +
          "\n";
    stand_in.resize(request.rotation_size);
    rotation.text = std::make_shared<const std::string>(std::move(stand_in));
    console_events events;
    events.exec = [this](const command_place& place, const std::string& path,
                         const console_file& file, std::size_t pending,
                         bool fits) { exec(place, path, file, pending, fits); };
    events.load = [this](const command_place& place, const std::string& name,
                         const std::vector<std::string>& words) {
      if (!name.empty()) stops(place, words, true);
    };
    events.set = [this](const command_place& place, const std::string& name,
                        const std::vector<std::string>& words) {
      if (same_word(name, "nextmap")) stops(place, words, false);
    };
    console server(
        rules, [this](const std::string& path) { return find_file(path); },
        events, *budget);
    by_path[root.path] = &root;
    const console_stop stop =
        server.run_file(root.path, {true, root.path, root.text});
    *budget = server.left();
    if (stop == console_stop::hangs) {
      command_place place;
      place.file = {text_origin::kind::file, last_exec.file, ""};
      place.file_text = last_exec.command;
      place.through_variable = last_exec.through_variable;
      config_finding loop = at(config_finding::kind::loop, place,
                               exec_argument(place, last_exec.path));
      const auto known = by_path.find(last_exec.file);
      if (known != by_path.end())
        loop.line = known->second->line_of(last_exec.at);
      facts.findings.push_back(std::move(loop));
      facts.stops = true;
    }
    if (stop == console_stop::budget) {
      config_finding finding;
      finding.what = config_finding::kind::budget;
      facts.findings.push_back(finding);
    }
    facts.findings = said_once(std::move(facts.findings));
    return std::move(facts);
  }
};

/// The configs in `folder` that the server may run: every .cfg but the
/// rotation's files and the map list.
std::vector<std::string> configs_in(disk_interface& disk,
                                    const disk_folder& folder) {
  std::vector<std::string> names, configs;
  if (!disk.list_folder(folder, &names).ok()) return configs;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string canon = lower(name);
    if (canon.size() > 4 && canon.compare(canon.size() - 4, 4, ".cfg") == 0 &&
        rotation_file_in_any_case(name).empty() && canon != map_list_file)
      configs.push_back(name);
  }
  return configs;
}

}  // namespace

bool config_facts::all_well() const {
  return (runs || (!any_read && request.named.empty())) && !stops &&
         !named_unread;
}

config_facts analyse_configs(disk_interface& disk, const folder_trail& here,
                             const config_request& request) {
  config_facts facts;
  facts.request = request;
  config_reader reader{disk, request.most_configs, {}, {}, 0, false, {}};
  const std::vector<std::string> candidates =
      request.named.empty() ? configs_in(disk, here.back()) : request.named;
  std::vector<const config_file*> configs;
  for (const std::string& path : candidates) {
    const std::size_t unreadable = reader.unreadable.size();
    const config_file* file = reader.open(here, path);
    // A config named that isn't there is said to be missing; one that
    // can't be read is among the unreadable.
    if (!file && !request.named.empty()) {
      facts.named_unread = true;
      if (reader.unreadable.size() == unreadable) facts.missing.push_back(path);
    }
    if (file &&
        std::find(configs.begin(), configs.end(), file) == configs.end())
      configs.push_back(file);
  }
  facts.any_read = !configs.empty();
  // The server runs the configs that no other runs by an exec of its own;
  // where they all run one another, all of them. Each is run once, so that
  // a chain of configs costs its bytes, not their number times over.
  std::set<std::string> run_by_another;
  if (request.named.empty())
    for (const config_file* file : configs)
      for (const std::string& path : execs_in(*file)) {
        const config_file* next =
            path.empty() ? nullptr : reader.open(here, path);
        if (next && next != file) run_by_another.insert(next->path);
      }
  const bool any_root =
      std::any_of(configs.begin(), configs.end(), [&](const config_file* file) {
        return !run_by_another.count(file->path);
      });
  std::map<std::string, config_reading> readings;
  console_budget budget = request.budget, maintained = request.budget;
  const auto watch_of = [&](const config_file& file, console_rules rules) {
    return config_watch{reader, here,  file, request, rules, {},
                        {},     false, {},   {},      {}};
  };
  for (const config_file* file : configs) {
    if (any_root && run_by_another.count(file->path)) continue;
    config_watch watch = watch_of(*file, original_rules);
    config_reading& read = readings[file->path] = watch.run(&budget);
    // One that another runs through a variable is read inside that one.
    run_by_another.insert(watch.runs.begin(), watch.runs.end());
    // Where the maintained engine's console reads it otherwise, the report
    // says so beside the original's verdict.
    const config_reading theirs =
        watch_of(*file, maintained_rules).run(&maintained);
    read.maintained_differs = theirs.runs_rotation != read.runs_rotation ||
                              theirs.stops != read.stops;
    read.maintained_runs = theirs.runs_rotation;
    read.maintained_stops = theirs.stops;
  }
  facts.unreadable = std::move(reader.unreadable);
  facts.capped = reader.capped;
  for (auto& [path, read] : readings) {
    if (any_root && run_by_another.count(path) && request.named.empty())
      continue;
    if (!read.runs_rotation && read.findings.empty() &&
        !read.maintained_differs)
      continue;
    facts.runs = facts.runs || read.runs_rotation;
    facts.stops = facts.stops || read.stops;
    facts.readings.push_back(std::move(read));
  }
  return facts;
}
