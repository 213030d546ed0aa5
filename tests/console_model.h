#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// What a console run of a rotation script did.
struct console_run {
  /// "load NAME" for each map loaded and "restart" for each restart, in order.
  std::vector<std::string> played;
  /// False when a comment swallowed every command after it.
  bool finished = true;
  /// Whether a file was refused for want of room in the command buffer.
  bool overflowed = false;
};

/// The limits of a console that bear on a rotation script.
struct console_limits {
  /// The most bytes a file that is `exec`uted may have, beside what still
  /// waits behind its `exec` line.
  std::size_t room;
  /// The longest text a `set` stores; a longer one is stored empty.
  std::size_t longest_set_text;
};

/// The open dedicated server of the tests, with nothing behind an `exec`:
/// a file of F bytes with R bytes behind its `exec` line runs when
/// F + R <= 131,070, as the console adds a line end to both.
inline constexpr console_limits open_console{131070, SIZE_MAX};

/// The console of the servers operators run, with `pending` bytes of the
/// server's config behind an `exec`: there F + R <= 16,382.
constexpr console_limits original_console(std::size_t pending) {
  return {16382 - pending, 254};
}

/// The files of a rotation script by name, as the console finds them.
using script_files = std::map<std::string, std::string>;

/// Plays a rotation the way the server's console runs it: `exec
/// SW_rotate.cfg`, then `steps` times "vstr nextmap", as each map's end
/// would. It keeps the console's limits that bear on a rotation script: a
/// file is refused whole when it exceeds the room, a `set` text over the
/// limit is stored empty, a line is cut at 1023 bytes, and `//` and `/*`
/// outside quotes start comments, the second running past every command
/// after it. The real-console test checks that it agrees with
/// a real server.
console_run play_in_console(const script_files& files, int steps,
                            const console_limits& limits = open_console);

/// The maps the files load, in the order of play: SW_rotate.cfg's first,
/// then those of each file that the last restart of the one before runs,
/// until the chain closes back on SW_rotate.cfg. Empty where it doesn't.
std::vector<std::string> maps_in_order(const script_files& files);

/// The files of the rotation script in `folder`: every SW_rotate*.cfg.
script_files read_rotation(const std::string& folder);
