#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "run/map_list.h"

/// The longest name the rotation script carries. A load text takes 140
/// bytes besides the name and a variable number, and the console of the
/// servers operators run stores a text of 255 bytes or more as an empty
/// value, which would stop the rotation at that map.
inline constexpr std::size_t max_playable_name_size = 100;

/// The random generator that orders maps of equal priority. Each order
/// holds its own, so that no order depends on who seeded what before it.
using random_order = std::mt19937;

/// A random generator seeded with `seed`: the same seed gives the same
/// order of the same list, on every platform.
random_order seed_random_order(std::uint32_t seed);

/// Whether the server's console can run a name as the rotation script
/// carries it: inside quotes in a `set` line, then bare when the variable
/// runs. Left out are the empty name; a name over max_playable_name_size
/// (no map has one: the console loads names of at most 54 bytes); and a name
/// holding a double quote (it would end the quoted text early), a semicolon
/// (it would start a command of its own), `//` or `/*` (they start a comment
/// that swallows the link to the next map, or every command after it).
bool is_playable_name(std::string_view name);

/// Why is_playable_name leaves `name` out, for a person to read; null where
/// it doesn't.
const char* why_not_playable(std::string_view name);

/// The longest name `map NAME` loads: maps/NAME.bsp must fit in 63 bytes.
inline constexpr std::size_t longest_loadable_name = 54;

/// Why the server won't load a map of the playable `name`, though the
/// rotation carries it: longer than longest_loadable_name, or a byte
/// outside printable ASCII, at which the console ends the name. Null where
/// it will.
const char* why_wont_load(std::string_view name);

/// Turns the map list's entries into the order of play: highest priority
/// first, the maps of each priority in a random order drawn from `order`,
/// every order as likely as any other. Negative priorities and names that
/// are not playable are left out. Needs no memory beside the entries. Takes the
/// entries by value so that a caller done with them can move them in instead of
/// copying every name.
std::vector<map_entry> build_rotation(std::vector<map_entry> entries,
                                      random_order& order);
