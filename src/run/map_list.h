#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// The map list a run reads, in the working folder.
inline constexpr const char* map_list_file = "map_list.cfg";

/// One pair of the map list: a map name and its priority.
struct map_entry {
  map_entry() = default;
  map_entry(std::string_view name, std::int32_t priority)
      : name_data(name.data()),
        name_size(name.size() < UINT32_MAX
                      ? static_cast<std::uint32_t>(name.size())
                      : UINT32_MAX),
        priority(priority) {}

  /// The name byte for byte as read, up to the first NUL byte in it. It views
  /// the map list's text, which must outlive the entry: names are never
  /// copied, so a list of millions of maps costs little more than its text.
  /// A name of 4 GiB or more is cut to its first 4 GiB - 1 bytes, far past
  /// the longest a rotation carries.
  std::string_view name() const { return {name_data, name_size}; }

  /// A pointer and a 32-bit size rather than a string_view: 16 bytes an
  /// entry on 64-bit systems instead of 24, which a list of a million maps
  /// feels.
  const char* name_data = nullptr;
  std::uint32_t name_size = 0;
  std::int32_t priority = 0;
};
static_assert(sizeof(map_entry) == sizeof(const char*) + 8);

/// What reading a map list yields.
struct map_list {
  /// The pairs in the order the map list holds them.
  std::vector<map_entry> entries;
};

/// How the file of a map list was written.
enum class list_encoding { plain, utf8_with_mark, utf16le, utf16be };

/// The text to read of a map list whose file holds `*bytes`. A UTF-8
/// byte-order mark at the start is skipped; a list that starts with a
/// UTF-16 one (Notepad's "Unicode", PowerShell's `>`) is turned into UTF-8
/// in `*bytes`, and a unit that is no character there (a lone surrogate, a
/// last byte cut off) becomes U+FFFD, so that it costs only the token it
/// stands in. Any other list is its bytes as they are. `*how`, where given,
/// says which it was.
std::string_view map_list_text(std::string* bytes,
                               list_encoding* how = nullptr);

/// Reads every pair of the map list `text` up to its end or its first 0x1A
/// byte: a name, then its priority. A name not followed by a whole number
/// is left out, and the token after it is read as the next name; a last
/// name without a priority is left out too. Where `left_out` is given, each
/// name left out so is added to it, as a view of `text`, so that its place
/// can be told.
map_list read_map_list(std::string_view text,
                       std::vector<std::string_view>* left_out = nullptr);

/// Reads a priority: an optional sign, then one or more decimal digits and
/// nothing else. Values beyond 32 bits saturate rather than wrap, so that a
/// huge priority still means "play first". False for anything else.
bool parse_priority(std::string_view token, std::int32_t* priority);
