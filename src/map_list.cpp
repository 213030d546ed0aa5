#include "map_list.h"

#include <algorithm>
#include <utility>

namespace {

/// The bytes that separate tokens: blank, tab, LF, VT, FF and CR.
bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// Marks the end of the map list wherever it stands, as on old DOS editors.
constexpr char end_of_list = '\x1a';

/// Pairs tokens up by position: name, priority, name, priority. A pair
/// whose priority is malformed is dropped whole, so that no entry ever
/// borrows a priority that was not written for it.
struct pair_reader {
  map_list list;
  std::string name;
  bool have_name = false;

  void take(std::string_view token) {
    if (!have_name) {
      name.assign(token.substr(0, token.find('\0')));
      have_name = true;
      return;
    }
    have_name = false;
    std::int32_t priority = 0;
    if (!parse_priority(token, &priority)) return;
    list.highest_priority = std::max(list.highest_priority, priority);
    list.entries.push_back({std::move(name), priority});
  }
};

/// Hands every whole token of `text` to `reader` and returns how many bytes
/// were used up. Unless `at_end`, a token that runs to the end of `text` may
/// go on in the next chunk, so it is left for then.
std::size_t take_tokens(std::string_view text, bool at_end,
                        pair_reader& reader) {
  std::size_t pos = 0;
  for (;;) {
    while (pos < text.size() && is_space(text[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !is_space(text[pos])) ++pos;
    if (pos == text.size() && !at_end) return start;
    if (start == pos) return pos;
    reader.take(text.substr(start, pos - start));
  }
}

}  // namespace

map_list read_map_list(std::FILE* in) {
  constexpr std::size_t chunk_size = 1 << 16;
  pair_reader reader;
  std::string pending;  // the bytes read but not yet used up
  bool at_end = false;
  while (!at_end) {
    const std::size_t kept = pending.size();
    // Reading at least as much as is kept makes a giant token cost linear
    // time: each byte is scanned a bounded number of times.
    pending.resize(kept + std::max(chunk_size, kept));
    const std::size_t got =
        std::fread(&pending[kept], 1, pending.size() - kept, in);
    pending.resize(kept + got);
    if (std::ferror(in)) return {};
    at_end = got == 0 || std::feof(in);
    const std::size_t stop = pending.find(end_of_list, kept);
    if (stop != std::string::npos) {
      pending.resize(stop);
      at_end = true;
    }
    pending.erase(0, take_tokens(pending, at_end, reader));
  }
  return std::move(reader.list);
}

map_list parse_map_list(std::string_view text) {
  pair_reader reader;
  take_tokens(text.substr(0, text.find(end_of_list)), true, reader);
  return std::move(reader.list);
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
