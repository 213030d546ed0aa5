#include "console_model.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "scratch_dir.h"

namespace {

/// The longest command line the console runs; the rest of a line is lost.
constexpr std::size_t line_limit = 1023;

struct console {
  const script_files& files;
  console_limits limits;
  std::map<std::string, std::string> variables;
  console_run run;

  void set(const std::string& name, const std::string& text) {
    variables[name] = text.size() > limits.longest_set_text ? "" : text;
  }

  /// Runs one command without quotes or separators in it.
  void execute(const std::string& command) {
    std::istringstream words(command);
    std::string verb, name;
    words >> verb >> name;
    std::string rest;
    std::getline(words >> std::ws, rest);
    if (verb == "map") run.played.push_back("load " + name);
    if (verb == "map_restart") run.played.push_back("restart");
    if (verb == "set") set(name, rest);
    if (verb == "vstr") run_text(variables[name]);
    if (verb == "exec") exec(name);
  }

  /// Runs `text` as the commands of one line; false once a `/*` comment has
  /// swallowed the rest of the command buffer.
  bool run_text(const std::string& text) {
    if (!run.finished) return false;
    const std::size_t comment = std::min(text.find("//"), text.find("/*"));
    std::istringstream commands(text.substr(0, comment));
    for (std::string command;
         run.finished && std::getline(commands, command, ';');)
      execute(command);
    if (comment != std::string::npos && text.compare(comment, 2, "/*") == 0)
      run.finished = false;
    return run.finished;
  }

  /// Runs one line of a file: a `set` whose value is quoted (to the end of
  /// the line where the closing quote was cut off), or plain commands.
  void run_line(std::string line) {
    if (line.size() > line_limit) line.resize(line_limit);
    const std::size_t quote = line.find('"');
    if (line.rfind("set ", 0) != 0 || quote == std::string::npos) {
      run_text(line);
      return;
    }
    const std::size_t close = line.find('"', quote + 1);
    set(line.substr(4, quote - 5),
        line.substr(quote + 1,
                    close == std::string::npos ? close : close - quote - 1));
  }

  /// Runs a file whole, or none of it where it doesn't fit in the buffer.
  void exec(const std::string& name) {
    const auto file = files.find(name);
    if (file == files.end()) return;
    if (file->second.size() > limits.room) {
      run.overflowed = true;
      return;
    }
    std::istringstream lines(file->second);
    for (std::string line; run.finished && std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      run_line(line);
    }
  }
};

}  // namespace

console_run play_in_console(const script_files& files, int steps,
                            const console_limits& limits) {
  console server{files, limits, {}, {}};
  server.exec("SW_rotate.cfg");
  for (int step = 0; step < steps && server.run_text("vstr nextmap"); ++step) {
  }
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

script_files read_rotation(const std::string& folder) {
  script_files files;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.rfind("SW_rotate", 0) == 0 && name.size() >= 13 &&
        name.compare(name.size() - 4, 4, ".cfg") == 0)
      files[name] = read_file(item.path());
  }
  return files;
}
