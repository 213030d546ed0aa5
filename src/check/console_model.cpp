#include "check/console_model.h"

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "platform/path.h"

namespace {

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// The console's idea of a blank: any byte up to ' ', and any from 0x80
/// up, which it reads as a negative char.
bool is_blank(char c) { return static_cast<signed char>(c) <= ' '; }

/// A console playing a rotation script, whose files `source` gives by name
/// (null where there is none).
struct console {
  console(script_source source, console_limits limits)
      : source(std::move(source)), limits(limits) {}

  script_source source;
  console_limits limits;
  /// Variables by their name in lower case, as the console finds them in
  /// any case, and the file whose text set each, where one did.
  std::map<std::string, std::string> variables, set_in;
  console_run run;
  /// The files and the variables running now, one inside another, the
  /// innermost last: a script that runs itself (an exec, a vstr) never lets
  /// the console get past it.
  std::vector<std::string> files, vstrs;
  /// Where a trace is kept: each map loaded, with what loaded it.
  std::vector<traced_map>* loads = nullptr;
  /// The maps loaded and restarted.
  std::size_t moves = 0;
  /// A file that an exec named and that isn't there, and one refused for
  /// want of room, since the last step.
  std::string missing, refused;

  /// Runs `text`, a file or a variable's text with the line end that the
  /// console adds, as inserted at the front of the buffer.
  void run_text(std::string_view text) {
    constexpr std::size_t most_nested = 256;
    if (files.size() + vstrs.size() >= most_nested) {
      run.finished = false;
      return;
    }
    for (std::size_t at = 0; at < text.size() && run.finished;) {
      const console_command command = next_command(text, at, limits.comments);
      at = command.next;
      execute(command_words(command.text));
      // An open `/*` runs on into whatever the buffer holds behind.
      if (command.open_comment) run.finished = false;
    }
  }

  void execute(const std::vector<std::string>& words) {
    if (words.empty()) return;
    const std::string& verb = words[0];
    const std::string name = words.size() > 1 ? words[1] : "";
    // A trace counts the maps and restarts played, and keeps the maps.
    if (same_word(verb, "map") && !name.empty()) {
      ++moves;
      if (!loads) run.played.push_back("load " + name);
      if (loads && !vstrs.empty())
        loads->push_back({name, vstrs.back(), set_in[lower(vstrs.back())]});
    }
    if (same_word(verb, "map_restart")) {
      ++moves;
      if (!loads) run.played.push_back("restart");
    }
    if ((same_word(verb, "set") || same_word(verb, "seta")) &&
        words.size() > 2) {
      std::string value = words[2];
      for (std::size_t i = 3; i < words.size(); ++i) value += " " + words[i];
      variables[lower(name)] =
          value.size() > limits.longest_set_text ? "" : value;
      set_in[lower(name)] = files.empty() ? "" : files.back();
    }
    if (same_word(verb, "vstr")) {
      vstrs.push_back(name);
      run_text(variables[lower(name)] + "\n");
      vstrs.pop_back();
    }
    if (same_word(verb, "exec")) exec(name);
  }

  /// Runs a file whole, or none of it where it doesn't fit in the buffer;
  /// the file up to its first NUL byte, as the console reads it as one C
  /// string.
  void exec(const std::string& name) {
    const std::string* file = source(name);
    if (!file) {
      missing = name;
      return;
    }
    const std::string_view text =
        std::string_view(*file).substr(0, file->find('\0'));
    if (text.size() > limits.room) {
      run.overflowed = true;
      refused = name;
      return;
    }
    files.push_back(name);
    run_text(std::string(text) + "\n");
    files.pop_back();
  }
};

/// A console that finds its files in `files`.
console console_of(const script_files& files, const console_limits& limits) {
  return console(
      [&files](const std::string& name) -> const std::string* {
        const auto found = files.find(name);
        return found == files.end() ? nullptr : &found->second;
      },
      limits);
}

}  // namespace

console_command next_command(std::string_view text, std::size_t at,
                             comment_rules comments) {
  // As the console's Cbuf_Execute: quotes counted everywhere, `;` ending a
  // command only outside them, a line end always (but inside an open
  // engine's `/*` comment).
  std::size_t i = at, quotes = 0;
  bool slash = false, star = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') ++quotes;
    if (quotes % 2 == 0) {
      if (comments == comment_rules::open && i + 1 < text.size()) {
        if (!star && c == '/' && text[i + 1] == '/') {
          slash = true;
        } else if (!slash && c == '/' && text[i + 1] == '*') {
          star = true;
        } else if (star && c == '*' && text[i + 1] == '/') {
          ++i;
          break;
        }
      }
      if (!slash && !star && c == ';') break;
    }
    if (!star && is_line_end(c)) break;
    // Past the longest command it is cut there whatever follows: only an
    // open engine's `/*`, which may run on to the end, is read further.
    if (!star && i - at > longest_command) break;
  }
  std::size_t size = i - at;
  if (size > longest_command) size = longest_command;
  console_command command;
  command.start = at;
  command.text = text.substr(at, size);
  command.next = std::min(at + size + 1, text.size());
  command.open_comment = star && i >= text.size();
  return command;
}

std::vector<std::string> command_words(std::string_view command) {
  // As the console's Cmd_TokenizeString.
  command = command.substr(0, command.find('\0'));
  std::vector<std::string> words;
  std::size_t at = 0;
  const auto starts = [&](const char* two) {
    return command.compare(at, 2, two) == 0;
  };
  for (;;) {
    for (;;) {
      while (at < command.size() && is_blank(command[at])) ++at;
      if (at >= command.size() || starts("//")) return words;
      if (!starts("/*")) break;
      const std::size_t close = command.find("*/", at + 2);
      if (close == std::string_view::npos) return words;
      at = close + 2;
    }
    std::string word;
    if (command[at] == '"') {
      const std::size_t close = command.find('"', at + 1);
      words.emplace_back(command.substr(at + 1, close == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : close - at - 1));
      if (close == std::string_view::npos) return words;
      at = close + 1;
      continue;
    }
    const std::size_t start = at;
    while (at < command.size() && !is_blank(command[at]) &&
           command[at] != '"' && !starts("//") && !starts("/*"))
      ++at;
    words.emplace_back(command.substr(start, at - start));
  }
}

bool same_word(std::string_view verb, std::string_view word) {
  return lower(verb) == lower(word);
}

bool exec_fits(std::size_t file, std::size_t pending, std::size_t buffer) {
  return file + 1 + pending <= buffer;
}

console_run play_in_console(const script_files& files, int steps,
                            const console_limits& limits) {
  console server = console_of(files, limits);
  server.exec("SW_rotate.cfg");
  for (int step = 0; step < steps && server.run.finished; ++step)
    server.run_text("vstr nextmap\n");
  return server.run;
}

std::vector<std::string> maps_in_order(const script_files& files) {
  std::vector<std::string> maps;
  const std::string head = " ; map ", tail = " ; timelimit";
  const std::string link = "set nextmap exec ";
  std::string name = "SW_rotate.cfg";
  for (std::size_t file = 0; file < files.size(); ++file) {
    const auto found = files.find(name);
    if (found == files.end()) return {};
    const std::string& text = found->second;
    for (std::size_t at = 0; (at = text.find(head, at)) != std::string::npos;) {
      at += head.size();
      maps.push_back(text.substr(at, text.find(tail, at) - at));
    }
    const std::size_t next = text.rfind(link);
    // SW_rotate.cfg closing on SW1 is a rotation of one file.
    if (next == std::string::npos)
      return file == 0 ? maps : std::vector<std::string>{};
    name = text.substr(next + link.size(),
                       text.find('"', next) - next - link.size());
    if (name == "SW_rotate.cfg") return maps;
  }
  return {};
}

rotation_trace trace_rotation(const script_source& source,
                              const console_limits& limits,
                              std::size_t most_steps) {
  rotation_trace trace;
  console server(source, limits);
  server.loads = &trace.maps;
  // What went wrong in the step just run, if anything, in the console's
  // terms; empty where it went on.
  const auto stopped = [&](bool moved) -> std::string {
    if (!server.missing.empty())
      return server.missing + " isn't there, so the console can't exec it";
    if (!server.refused.empty())
      return server.refused +
             " is larger than the console's buffer takes, so it refuses all "
             "of it";
    if (!server.run.finished)
      return "a comment swallows what follows it, or a script runs itself "
             "for ever";
    if (!moved)
      return "nextmap runs \"" + server.variables["nextmap"] +
             "\", which loads no map";
    return "";
  };
  server.exec("SW_rotate.cfg");
  trace.found = server.missing.empty();
  if (!trace.found) return trace;
  trace.breaks = stopped(!trace.maps.empty());
  std::set<std::string> seen;
  for (const traced_map& map : trace.maps)
    seen.insert(map.file + '\n' + lower(map.variable));
  for (std::size_t step = 0; trace.breaks.empty(); ++step) {
    if (step == most_steps) {
      trace.breaks = "it doesn't come back to its first map";
      break;
    }
    const std::size_t loaded = trace.maps.size(), moves = server.moves;
    server.run_text("vstr nextmap\n");
    const bool moved = server.moves > moves;
    for (std::size_t at = loaded; at < trace.maps.size(); ++at) {
      const traced_map& map = trace.maps[at];
      if (map == trace.maps.front()) {
        trace.maps.resize(at);
        trace.closes = true;
        return trace;
      }
      // Round again by a variable already played, never by the first.
      if (!seen.insert(map.file + '\n' + lower(map.variable)).second) {
        trace.breaks = "then it plays \"" + map.name + "\" again (vstr " +
                       map.variable +
                       "), and never comes back to its first map";
        trace.maps.resize(at);
        return trace;
      }
    }
    trace.breaks = stopped(moved);
  }
  return trace;
}
