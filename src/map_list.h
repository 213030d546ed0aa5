#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

/// One pair of the map list: a map name and its priority.
struct map_entry {
  /// The name byte for byte as read, up to the first NUL byte in it.
  std::string name;
  std::int32_t priority = 0;
};

/// What reading a map list yields.
struct map_list {
  /// The pairs in the order the map list holds them.
  std::vector<map_entry> entries;
  /// The greatest priority read, and never below 0.
  std::int32_t highest_priority = 0;
};

/// Reads every pair of the open map list `in` up to its end or its first
/// 0x1A byte. A read error makes the whole map list count as unreadable, so
/// the result is then empty, as for a map list that could not be opened.
map_list read_map_list(std::FILE* in);

/// Reads the pairs of a map list held in memory, exactly as read_map_list
/// reads a file of the same bytes.
map_list parse_map_list(std::string_view text);

/// Reads a priority: an optional sign, then one or more decimal digits and
/// nothing else. Values beyond 32 bits saturate rather than wrap, so that a
/// huge priority still means "play first". False for anything else.
bool parse_priority(std::string_view token, std::int32_t* priority);
