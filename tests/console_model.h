#pragma once

#include <string>
#include <vector>

/// What a console run of a rotation script did.
struct console_run {
  /// "load NAME" for each map loaded and "restart" for each restart, in order.
  std::vector<std::string> played;
  /// False when a comment swallowed every command after it.
  bool finished = true;
};

/// Plays `script` the way the server's console runs it: `exec` of the
/// script, then `steps` times "vstr nextmap", as each map's end would. It
/// keeps the console's limits that bear on a rotation script: a script over
/// 128 KiB is refused whole, a line is cut at 1023 bytes, and `//` and `/*`
/// outside quotes start comments, the second running past every command
/// after it. The real-console test checks that it agrees with a real server.
console_run play_in_console(const std::string& script, int steps);
