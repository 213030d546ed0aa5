#include "run/map_list.h"

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

constexpr std::string_view utf8_mark = "\xEF\xBB\xBF",
                           utf16le_mark = "\xFF\xFE", utf16be_mark = "\xFE\xFF";

void append_utf8(std::string* text, std::uint32_t code) {
  if (code < 0x80) {
    *text += static_cast<char>(code);
  } else if (code < 0x800) {
    *text += static_cast<char>(0xC0 | code >> 6);
    *text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *text += static_cast<char>(0xE0 | code >> 12);
    *text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *text += static_cast<char>(0xF0 | code >> 18);
    *text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

/// `units`, UTF-16 in the byte order `big_endian` says, as UTF-8.
std::string utf8_of_utf16(std::string_view units, bool big_endian) {
  constexpr std::uint32_t no_character = 0xFFFD;
  const auto unit = [&](std::size_t at) -> std::uint32_t {
    const auto byte = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(units[i]));
    };
    return big_endian ? byte(at) << 8 | byte(at + 1)
                      : byte(at + 1) << 8 | byte(at);
  };
  std::string text;
  text.reserve(units.size() / 2 * 3);
  std::size_t at = 0;
  for (; at + 1 < units.size(); at += 2) {
    const std::uint32_t code = unit(at);
    const bool high = code >= 0xD800 && code < 0xDC00;
    const bool low = code >= 0xDC00 && code < 0xE000;
    if (high && at + 3 < units.size() && unit(at + 2) >= 0xDC00 &&
        unit(at + 2) < 0xE000) {
      append_utf8(&text,
                  0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00));
      at += 2;
    } else {
      append_utf8(&text, high || low ? no_character : code);
    }
  }
  if (at < units.size()) append_utf8(&text, no_character);
  return text;
}

}  // namespace

std::string_view map_list_text(std::string* bytes, list_encoding* how) {
  const std::string_view all = *bytes;
  list_encoding found = list_encoding::plain;
  std::string_view text = all;
  if (all.substr(0, utf8_mark.size()) == utf8_mark) {
    found = list_encoding::utf8_with_mark;
    text.remove_prefix(utf8_mark.size());
  } else if (all.substr(0, 2) == utf16le_mark ||
             all.substr(0, 2) == utf16be_mark) {
    const bool big_endian = all.substr(0, 2) == utf16be_mark;
    found = big_endian ? list_encoding::utf16be : list_encoding::utf16le;
    *bytes = utf8_of_utf16(all.substr(2), big_endian);
    text = *bytes;
  }
  if (how) *how = found;
  return text;
}

map_list read_map_list(std::string_view text,
                       std::vector<std::string_view>* left_out) {
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
      if (left_out) left_out->push_back(name);
      name = after;
      continue;
    }
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
