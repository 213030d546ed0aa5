#include "check/server_config.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "check/console_model.h"
#include "platform/path.h"
#include "run/map_list.h"
#include "run/rotation_script.h"
#include "walk/folder_walk.h"

namespace {

/// The most configs one config may run, one inside another: the console
/// has no limit of its own but its buffer, which a config that runs itself
/// never fills.
constexpr int most_execs = 256;
/// The most of a config that is read: far more than the buffer takes.
constexpr std::size_t largest_config = 1 << 24;
/// The most of all configs together that is read: every .cfg beside the
/// list is read, and a folder of sparse files costs its owner nothing.
constexpr std::size_t all_configs = 1 << 26;

/// A config as the console reads it: its path for a person to read, the
/// folders to it (an exec opens a config beside it), and its text.
struct config_file {
  std::string path;
  folder_trail folder;
  /// What the console takes of the file: its bytes up to the first NUL, as
  /// it reads a file as one C string (a file that truncate made, all NUL
  /// bytes, runs nothing).
  std::string text;
  std::vector<std::size_t> line_starts;

  std::size_t line_of(std::size_t at) const {
    return static_cast<std::size_t>(
        std::upper_bound(line_starts.begin(), line_starts.end(), at) -
        line_starts.begin());
  }
};

/// The name `exec NAME` opens: with .cfg where NAME has no extension.
std::string exec_name(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  return dot == std::string::npos || (slash != std::string::npos && slash > dot)
             ? name + ".cfg"
             : name;
}

/// Whether the engine on this system opens the rotation for `name`, which
/// names it in another case: on Windows, whose files are found in any
/// case; not on Linux, where the engine looks them up in their own.
#ifdef _WIN32
constexpr bool any_case_opens = true;
#else
constexpr bool any_case_opens = false;
#endif

/// What one config that the server may run does, and the configs it runs,
/// by path.
struct reading {
  config_reading facts;
  std::set<std::string> runs;
};

/// Reads configs from the disk, each once.
struct config_reader {
  disk_interface& disk;
  std::map<std::string, std::unique_ptr<config_file>> files;
  std::vector<std::pair<std::string, std::string>> unreadable;
  /// What the configs read so far hold, in all.
  std::size_t bytes_read = 0;

  /// The config at `path` from `from`, as the engine opens it (through
  /// links; as root, only where root alone may change its way); null where
  /// there is none, or it can't be read.
  const config_file* open(const folder_trail& from, const std::string& path) {
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
                         "pass 64 MiB, all that the check reads of configs");
    if (read.ok()) read = opened->read(0, largest_config, &file->text);
    bytes_read += std::min(file->text.size(), all_configs - bytes_read);
    if (!read.ok()) {
      if (read != disk_result::missing)
        unreadable.emplace_back(shown, read.reason);
      files[shown] = nullptr;
      return nullptr;
    }
    file->text.resize(std::min(file->text.size(), file->text.find('\0')));
    file->folder = std::move(end.trail);
    file->line_starts.push_back(0);
    for (std::size_t at = 0; at < file->text.size(); ++at)
      if (file->text[at] == '\n') file->line_starts.push_back(at + 1);
    return (files[shown] = std::move(file)).get();
  }
};

/// A command's words as the console read them, quoted where they hold a
/// blank.
std::string as_written(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    text += word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
  }
  return text;
}

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
        std::to_string(finding.behind);
    const auto [at, added] = seen.emplace(key, once.size());
    if (added)
      once.push_back(std::move(finding));
    else
      ++once[at->second].times;
  }
  return once;
}

/// Whether `verb` sets a console variable.
bool sets_variable(const std::string& verb) {
  return same_word(verb, "set") || same_word(verb, "seta") ||
         same_word(verb, "sets") || same_word(verb, "setu") ||
         same_word(verb, "reset");
}

/// One config run as the console would: its command buffer, a segment of
/// config text for each exec still running, the innermost last.
struct config_run {
  struct segment {
    const config_file* file;
    std::string text;
    std::size_t at;
  };
  config_reader& reader;
  const config_file& root;
  const config_request& request;
  reading result;
  std::vector<segment> buffer;
  bool started = false;
  int execs = 0;

  /// The bytes still waiting in the buffer.
  std::size_t pending() const {
    std::size_t bytes = 0;
    for (const segment& part : buffer) bytes += part.text.size() - part.at;
    return bytes;
  }

  /// Adds a finding of `what` at `start` of `file`.
  config_finding& find(config_finding::kind what, const config_file& file,
                       std::size_t start, std::string command) {
    config_finding finding;
    finding.what = what;
    if (&file != &root) finding.file = file.path;
    finding.line = file.line_of(start);
    finding.command = std::move(command);
    result.facts.findings.push_back(std::move(finding));
    return result.facts.findings.back();
  }

  /// `exec argument` at `start` of `file`; false where nothing more runs.
  bool exec(const config_file& file, std::size_t start,
            const std::string& argument) {
    const std::string name = exec_name(argument);
    if (same_word(name, rotation_script_name) && name != rotation_script_name) {
      find(config_finding::kind::other_case, file, start, argument);
      result.facts.stops = result.facts.stops || !any_case_opens;
      if (!any_case_opens) return true;
    }
    if (same_word(name, rotation_script_name)) {
      result.facts.runs_rotation = true;
      config_finding& finding =
          find(config_finding::kind::runs_rotation, file, start, argument);
      finding.behind = pending() - 1;
      finding.fits =
          exec_fits(request.rotation_size, pending(), original_buffer);
      // The room any rotation file needs: one of the largest size.
      finding.room_for_any =
          exec_fits(max_script_file_size, pending(), original_buffer);
      result.facts.stops = result.facts.stops || !finding.fits;
      started = started || finding.fits;
      return true;
    }
    const config_file* next = reader.open(file.folder, name);
    if (!next) return true;  // "couldn't exec": nothing runs
    result.runs.insert(next->path);
    if (!exec_fits(next->text.size(), pending(), original_buffer)) {
      find(config_finding::kind::too_large, file, start, argument);
      return true;
    }
    if (++execs > most_execs) {
      find(config_finding::kind::loop, file, start, argument);
      result.facts.stops = true;
      return false;
    }
    buffer.push_back({next, next->text + "\n", 0});
    return true;
  }

  /// Runs the buffer to its end.
  reading run() {
    result.facts.path = root.path;
    // The server runs its config by an exec of its own too (on its command
    // line, or in a config it runs): one the buffer can't take even with
    // nothing behind it runs none of its lines, the rotation's exec among
    // them.
    if (!exec_fits(root.text.size(), 0, original_buffer)) {
      find(config_finding::kind::too_large, root, 0, root.path).line = 0;
      return std::move(result);
    }
    buffer.push_back({&root, root.text + "\n", 0});
    while (!buffer.empty()) {
      segment& part = buffer.back();
      if (part.at >= part.text.size()) {
        buffer.pop_back();
        continue;
      }
      const console_command command =
          next_command(part.text, part.at, comment_rules::original);
      part.at = command.next;
      const std::vector<std::string> words = command_words(command.text);
      if (words.empty()) continue;
      const config_file& file = *part.file;
      const std::string& verb = words[0];
      const std::string argument = words.size() > 1 ? words[1] : "";
      if (same_word(verb, "exec") && !argument.empty()) {
        if (!exec(file, command.start, argument)) break;
        continue;
      }
      const bool loads = same_word(verb, "map") || same_word(verb, "devmap");
      if (!started ||
          !(loads || (sets_variable(verb) && same_word(argument, "nextmap"))))
        continue;
      result.facts.stops = true;
      find(config_finding::kind::stops_after, file, command.start,
           as_written(words))
          .loads = loads;
    }
    result.facts.findings = said_once(std::move(result.facts.findings));
    return std::move(result);
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
  config_reader reader{disk, {}, {}};
  const std::vector<std::string> candidates =
      request.named.empty() ? configs_in(disk, here.back()) : request.named;
  std::map<std::string, reading> readings;
  std::set<std::string> run_by_another;
  for (const std::string& path : candidates) {
    const std::size_t unreadable = reader.unreadable.size();
    const config_file* file = reader.open(here, path);
    // A config named that isn't there is said to be missing; one that
    // can't be read is among the unreadable.
    if (!file && !request.named.empty()) {
      facts.named_unread = true;
      if (reader.unreadable.size() == unreadable) facts.missing.push_back(path);
    }
    if (!file) continue;
    reading& result = readings[file->path] =
        config_run{reader, *file, request, {}, {}}.run();
    run_by_another.insert(result.runs.begin(), result.runs.end());
  }
  facts.unreadable = std::move(reader.unreadable);
  facts.any_read = !readings.empty();
  // The server runs the configs that no other runs; where they all run
  // one another, all of them.
  const bool any_root = std::any_of(
      readings.begin(), readings.end(),
      [&](const auto& read) { return !run_by_another.count(read.first); });
  for (auto& [path, result] : readings) {
    if (request.named.empty() && any_root && run_by_another.count(path))
      continue;
    config_reading& read = result.facts;
    if (!read.runs_rotation && read.findings.empty()) continue;
    facts.runs = facts.runs || read.runs_rotation;
    facts.stops = facts.stops || read.stops;
    facts.readings.push_back(std::move(read));
  }
  return facts;
}
