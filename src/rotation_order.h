#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "map_list.h"

/// Seeds the one random generator of a run, which orders maps of equal
/// priority. Called once, before any rotation is built.
void seed_random_order(std::uint32_t seed);

/// Whether a name can stand inside the quoted command text of the rotation
/// script: it is not empty and holds no double quote, which would end the
/// quoted text early, and no semicolon, which would start a command of its
/// own when the server runs the text.
bool is_playable_name(std::string_view name);

/// Turns the map list's entries into the order of play: a fresh random
/// order, then highest priority first, keeping that random order within each
/// priority. Negative priorities and names that are not playable are left
/// out. Takes the entries by value so that a caller done with them can move
/// them in instead of copying every name.
std::vector<map_entry> build_rotation(std::vector<map_entry> entries);
