#include "map_list.h"

#include <algorithm>
#include <array>

namespace {

/// Marks the end of the map list wherever it stands, as old DOS editors did.
constexpr char end_of_list = '\x1a';

/// The bytes that separate tokens: blank, tab, LF, VT, FF and CR.
constexpr std::array<bool, 256> space_table = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    table[c] = true;
  return table;
}();

bool is_space(char c) { return space_table[static_cast<unsigned char>(c)]; }

/// The next token of `text` at or after `*pos`, which moves past it; empty
/// at the end of the text.
std::string_view next_token(std::string_view text, std::size_t* pos) {
  std::size_t at = *pos;
  while (at < text.size() && is_space(text[at])) ++at;
  const std::size_t start = at;
  while (at < text.size() && !is_space(text[at])) ++at;
  *pos = at;
  return text.substr(start, at - start);
}

/// How many tokens `text` holds: counting first lets the entries be
/// allocated once instead of growing, which on a long list saves more time
/// than the count costs.
std::size_t count_tokens(std::string_view text) {
  std::size_t tokens = 0;
  bool in_token = false;
  for (const char c : text) {
    tokens += !in_token && !is_space(c);
    in_token = !is_space(c);
  }
  return tokens;
}

}  // namespace

map_list read_map_list(std::string_view text) {
  text = text.substr(0, text.find(end_of_list));
  map_list list;
  list.entries.reserve(count_tokens(text) / 2);
  std::size_t pos = 0;
  std::string_view name = next_token(text, &pos);
  while (!name.empty()) {
    const std::string_view after = next_token(text, &pos);
    std::int32_t priority = 0;
    // A name without a whole number after it is left out, and the token
    // after it is read as the next name, so that one forgotten priority (or
    // a comment, a header, a third column) costs only the entries it
    // touches and no entry ever takes another's priority.
    if (!parse_priority(after, &priority)) {
      name = after;
      continue;
    }
    list.highest_priority = std::max(list.highest_priority, priority);
    list.entries.push_back({name.substr(0, name.find('\0')), priority});
    name = next_token(text, &pos);
  }
  return list;
}

bool parse_priority(std::string_view token, std::int32_t* priority) {
  constexpr std::int64_t magnitude_limit = std::int64_t{1} << 31;
  const bool negative = !token.empty() && token[0] == '-';
  if (!token.empty() && (token[0] == '-' || token[0] == '+'))
    token.remove_prefix(1);
  if (token.empty()) return false;
  std::int64_t magnitude = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return false;
    magnitude = std::min(magnitude * 10 + (c - '0'), magnitude_limit);
  }
  *priority = static_cast<std::int32_t>(
      negative ? -magnitude : std::min(magnitude, magnitude_limit - 1));
  return true;
}
