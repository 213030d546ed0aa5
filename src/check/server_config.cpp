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

/// The name the server runs the rotation by.
constexpr const char* rotation_name = "SW_rotate.cfg";
/// The most configs one config may run, one inside another: the console
/// has no limit of its own but its buffer, which a config that runs itself
/// never fills.
constexpr int most_execs = 256;
/// The most of a config that is read: far more than the buffer takes.
constexpr std::size_t largest_config = 1 << 24;

/// A config as the console reads it: its path for a person to read, the
/// folders to it (an exec opens a config beside it), and its text.
struct config_file {
  std::string path;
  folder_trail folder;
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

/// What the report says of one config that the server may run.
struct reading {
  std::vector<std::string> lines;
  bool runs_rotation = false;
  bool stops = false;
  std::set<std::string> runs;  // the configs it runs, by path
};

/// Reads configs from the disk, each once.
struct config_reader {
  disk_interface& disk;
  std::map<std::string, std::unique_ptr<config_file>> files;
  std::vector<std::string> unreadable;

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
    if (read.ok()) read = opened->read(0, largest_config, &file->text);
    if (!read.ok()) {
      if (read != disk_result::missing)
        unreadable.push_back(shown + ": can't be read: " + read.reason);
      files[shown] = nullptr;
      return nullptr;
    }
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

/// `lines` with each line said once, where it first came, and how often
/// where more than once: a config that runs itself meets the same command
/// again on every round.
std::vector<std::string> said_once(const std::vector<std::string>& lines) {
  std::map<std::string, std::size_t> times;
  for (const std::string& line : lines) ++times[line];
  std::vector<std::string> once;
  for (const std::string& line : lines) {
    std::size_t& count = times[line];
    if (count == 0) continue;
    once.push_back(
        count == 1 ? line : line + " (" + std::to_string(count) + " times)");
    count = 0;
  }
  return once;
}

std::string thousands(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

/// Runs `root` as the console would, and says what becomes of the
/// rotation.
reading run_config(config_reader& reader, const config_file& root,
                   const config_request& request) {
  reading result;
  struct segment {
    const config_file* file;
    std::string text;
    std::size_t at;
  };
  std::vector<segment> buffer = {{&root, root.text + "\n", 0}};
  const auto pending = [&] {
    std::size_t bytes = 0;
    for (const segment& part : buffer) bytes += part.text.size() - part.at;
    return bytes;
  };
  bool started = false;
  int execs = 0;
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
    const std::string at = "  " + (&file == &root ? "" : file.path + ", ") +
                           "line " +
                           std::to_string(file.line_of(command.start)) + ": ";
    const std::string& verb = words[0];
    const std::string argument = words.size() > 1 ? words[1] : "";
    if (same_word(verb, "exec") && !argument.empty()) {
      const std::string name = exec_name(argument);
      if (same_word(name, rotation_name) && name != rotation_name) {
        result.lines.push_back(
            at + "exec " + argument +
            " names the rotation in another case "
            "than " +
            rotation_name +
            ": that works on Windows, and fails on "
            "Linux, where the engine looks files up in their own case");
        result.stops = result.stops || !any_case_opens;
        if (!any_case_opens) continue;
      }
      if (same_word(name, rotation_name)) {
        result.runs_rotation = true;
        const std::size_t behind = pending() - 1;
        const std::size_t rotation_size = request.rotation_size;
        const bool fits = exec_fits(rotation_size, pending(), original_buffer);
        // The room any rotation file needs: one of the largest size.
        const bool room_for_any =
            exec_fits(max_script_file_size, pending(), original_buffer);
        result.lines.push_back(
            at + "exec " + argument + ", with " + thousands(behind) +
            " bytes of config still waiting behind it: " +
            thousands(rotation_size) +
            (request.rotation_why.empty() ? ""
                                          : " (" + request.rotation_why + ")") +
            " + " + thousands(behind) +
            (!fits ? " > 16,382, so the console refuses the whole rotation "
                     "(\"Cbuf_InsertText overflowed\"): put the exec last"
             : room_for_any
                 ? " <= 16,382, so the console takes it whole"
                 : " <= 16,382, so the console takes it whole; but with more "
                   "than 8,190 bytes behind the exec, a longer list, whose "
                   "SW_rotate.cfg may take 8,192 bytes (about 35 maps), would "
                   "be refused: put the exec last"));
        result.stops = result.stops || !fits;
        started = started || fits;
        continue;
      }
      const config_file* next = reader.open(file.folder, name);
      if (!next) continue;  // "couldn't exec": nothing runs
      result.runs.insert(next->path);
      if (!exec_fits(next->text.size(), pending(), original_buffer)) {
        result.lines.push_back(at + "exec " + argument +
                               " doesn't fit into the console's buffer: none "
                               "of it runs");
        continue;
      }
      if (++execs > most_execs) {
        result.lines.push_back(at + "exec " + argument +
                               " runs configs in a loop, which holds the "
                               "console for ever: read no further");
        result.stops = true;
        break;
      }
      buffer.push_back({next, next->text + "\n", 0});
      continue;
    }
    if (!started) continue;
    const bool loads = same_word(verb, "map") || same_word(verb, "devmap");
    const bool sets = (same_word(verb, "set") || same_word(verb, "seta") ||
                       same_word(verb, "sets") || same_word(verb, "setu") ||
                       same_word(verb, "reset")) &&
                      same_word(argument, "nextmap");
    if (!loads && !sets) continue;
    result.stops = true;
    result.lines.push_back(
        at + as_written(words) +
        (loads ? " loads a map after the rotation's exec, which sets nextmap "
                 "to \"map_restart 0\""
               : " changes nextmap after the rotation's exec") +
        ": the rotation stops after its first map");
  }
  result.lines = said_once(result.lines);
  return result;
}

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

bool report_configs(report_text& out, disk_interface& disk,
                    const folder_trail& here, const config_request& request) {
  out << "== The server's config\n";
  config_reader reader{disk, {}, {}};
  const std::vector<std::string> candidates =
      request.named.empty() ? configs_in(disk, here.back()) : request.named;
  std::map<std::string, reading> readings;
  std::set<std::string> run_by_another;
  // A config named that isn't there is said to be missing; one that can't
  // be read is among the unreadable; either makes the check fail.
  bool named_missing = false;
  for (const std::string& path : candidates) {
    const std::size_t unreadable = reader.unreadable.size();
    const config_file* file = reader.open(here, path);
    if (!file && !request.named.empty()) {
      named_missing = true;
      if (reader.unreadable.size() == unreadable)
        out << path << ": not found (named with --config)\n";
    }
    if (!file) continue;
    reading& result = readings[file->path] = run_config(reader, *file, request);
    run_by_another.insert(result.runs.begin(), result.runs.end());
  }
  for (const std::string& line : reader.unreadable) out << line << "\n";
  // The server runs the configs that no other runs; where they all run
  // one another, all of them.
  const bool any_root = std::any_of(
      readings.begin(), readings.end(),
      [&](const auto& read) { return !run_by_another.count(read.first); });
  bool runs = false, stops = false;
  for (const auto& [path, result] : readings) {
    if (request.named.empty() && any_root && run_by_another.count(path))
      continue;
    if (!result.runs_rotation && result.lines.empty()) continue;
    out << path
        << (result.runs_rotation ? " runs the rotation:\n"
                                 : " doesn't run the rotation:\n");
    for (const std::string& line : result.lines) out << line << "\n";
    runs = runs || result.runs_rotation;
    stops = stops || result.stops;
  }
  if (readings.empty() && request.named.empty()) {
    out << "No server config here (a .cfg other than the rotation's files and "
           "the map list): name it with --config FILE to check it.\n\n";
    return true;
  }
  if (!runs && !readings.empty())
    out << "No config " << (request.named.empty() ? "here " : "named ")
        << "runs exec " << rotation_name
        << ": the server never starts the rotation. Put exec " << rotation_name
        << " at the end of the server's config.\n";
  out << "\n";
  return runs && !stops && !named_missing;
}
