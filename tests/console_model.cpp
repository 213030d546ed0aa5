#include "console_model.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace {

/// The most a script may hold for `exec` to take it into the command buffer.
constexpr std::size_t buffer_size = 128 * 1024;
/// The longest command line the console runs; the rest of a line is lost.
constexpr std::size_t line_limit = 1023;

struct console {
  std::map<std::string, std::string> variables;
  console_run run;

  /// Runs one command without quotes or separators in it.
  void execute(const std::string& command) {
    std::istringstream words(command);
    std::string verb, name;
    words >> verb >> name;
    std::string rest;
    std::getline(words >> std::ws, rest);
    if (verb == "map") run.played.push_back("load " + name);
    if (verb == "map_restart") run.played.push_back("restart");
    if (verb == "set") variables[name] = rest;
    if (verb == "vstr") run_text(variables[name]);
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

  /// Runs one line of the script: a `set` whose value is quoted (to the end
  /// of the line where the closing quote was cut off), or plain commands.
  void run_line(std::string line) {
    if (line.size() > line_limit) line.resize(line_limit);
    const std::size_t quote = line.find('"');
    if (line.rfind("set ", 0) != 0 || quote == std::string::npos) {
      run_text(line);
      return;
    }
    const std::size_t close = line.find('"', quote + 1);
    variables[line.substr(4, quote - 5)] = line.substr(
        quote + 1, close == std::string::npos ? close : close - quote - 1);
  }
};

}  // namespace

console_run play_in_console(const std::string& script, int steps) {
  console server;
  if (script.size() < buffer_size) {
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      server.run_line(line);
    }
  }
  for (int step = 0; step < steps && server.run_text("vstr nextmap"); ++step) {
  }
  return server.run;
}
