#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

/// One pair of the map list: a map name and its priority.
struct map_entry {
  /// The name byte for byte as read, up to the first NUL byte in it. It views
  /// the map list's text, which must outlive the entry: names are never
  /// copied, so a list of millions of maps costs little more than its text.
  std::string_view name;
  std::int32_t priority = 0;
};

/// What reading a map list yields.
struct map_list {
  /// The pairs in the order the map list holds them.
  std::vector<map_entry> entries;
  /// The greatest priority read, and never below 0.
  std::int32_t highest_priority = 0;
};

/// Reads every pair of the map list `text` up to its end or its first 0x1A
/// byte: a name, then its priority. A name not followed by a whole number
/// is left out, and the token after it is read as the next name; a last
/// name without a priority is left out too.
map_list read_map_list(std::string_view text);

/// Reads a priority: an optional sign, then one or more decimal digits and
/// nothing else. Values beyond 32 bits saturate rather than wrap, so that a
/// huge priority still means "play first". False for anything else.
bool parse_priority(std::string_view token, std::int32_t* priority);
