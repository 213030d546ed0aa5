#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "check/console.h"

/// The files of a rotation script by name, as the console finds them.
using script_files = std::map<std::string, std::string>;

/// What a console did with a rotation script, in the terms a real server's
/// output gives: "load NAME" for each map loaded and "restart" for each
/// restart, in order; whether it got to the end of its steps, and whether
/// a text was refused for want of room.
struct console_run {
  std::vector<std::string> played;
  bool finished = true;
  bool overflowed = false;
};

/// Plays a rotation in the one console: `exec` of `first`, then `steps`
/// times "vstr nextmap", each exec of a rotation's file with `behind` bytes
/// still waiting behind it (a line of comment; at a map's end, the line end
/// that vstr leaves among them), as a server whose config leaves that much.
/// Where `no_maps`, no map is there to load, as in a server without the
/// game's data: a `map` leaves nextmap as it was.
console_run play_in_console(const script_files& files, int steps,
                            const console_rules& rules, std::size_t behind = 0,
                            bool no_maps = false,
                            const std::string& first = "SW_rotate.cfg");

/// The maps the files play once round, in order, from SW_rotate.cfg's
/// first, as the original engine's console runs them: empty where the
/// chain doesn't come back to its first map.
std::vector<std::string> maps_in_order(const script_files& files);
