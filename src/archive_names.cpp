#include "archive_names.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint32_t end_signature = 0x06054b50,
                        zip64_locator_signature = 0x07064b50,
                        zip64_end_signature = 0x06064b50,
                        entry_signature = 0x02014b50;
constexpr std::size_t end_size = 22, zip64_locator_size = 20,
                      zip64_end_size = 56, entry_size = 46,
                      longest_comment = 0xFFFF;

/// The little-endian number of `width` bytes at `at` in `bytes`; 0 where
/// they run past its end.
std::uint64_t number_at(std::string_view bytes, std::size_t at,
                        std::size_t width) {
  if (at > bytes.size() || bytes.size() - at < width) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

/// Where the central directory lies and how many entries it holds.
struct directory {
  std::uint64_t offset = 0, size = 0, entries = 0;
};

/// Finds the directory from the end record, found from the end of the
/// file back across a comment of any length; false where there is none.
bool find_directory(std::uint64_t file_size, const archive_reader& read,
                    directory* found) {
  if (file_size < end_size) return false;
  const std::uint64_t tail_size =
      std::min<std::uint64_t>(file_size, end_size + longest_comment);
  const std::uint64_t tail_at = file_size - tail_size;
  const std::string tail = read(tail_at, static_cast<std::size_t>(tail_size));
  if (tail.size() < end_size) return false;
  for (std::size_t at = tail.size() - end_size + 1; at-- > 0;) {
    if (number_at(tail, at, 4) != end_signature) continue;
    found->entries = number_at(tail, at + 10, 2);
    found->size = number_at(tail, at + 12, 4);
    found->offset = number_at(tail, at + 16, 4);
    const bool zip64 = found->entries == 0xFFFF || found->size == 0xFFFFFFFF ||
                       found->offset == 0xFFFFFFFF;
    if (!zip64) return true;
    // The zip64 locator stands just before the end record and points to the
    // zip64 end record, which holds the real numbers.
    const std::uint64_t end_at = tail_at + at;
    if (end_at < zip64_locator_size) return false;
    const std::string locator =
        read(end_at - zip64_locator_size, zip64_locator_size);
    if (number_at(locator, 0, 4) != zip64_locator_signature) return false;
    const std::string record = read(number_at(locator, 8, 8), zip64_end_size);
    if (number_at(record, 0, 4) != zip64_end_signature) return false;
    found->entries = number_at(record, 32, 8);
    found->size = number_at(record, 40, 8);
    found->offset = number_at(record, 48, 8);
    return true;
  }
  return false;
}

}  // namespace

bool read_archive_names(std::uint64_t file_size, const archive_reader& read,
                        const std::function<void(std::string_view)>& each) {
  directory found;
  if (!find_directory(file_size, read, &found)) return false;
  if (found.offset > file_size || found.size > file_size - found.offset)
    return false;
  const std::string bytes =
      read(found.offset, static_cast<std::size_t>(found.size));
  if (bytes.size() != found.size) return false;
  std::size_t at = 0;
  for (std::uint64_t entry = 0; entry < found.entries; ++entry) {
    if (bytes.size() - at < entry_size ||
        number_at(bytes, at, 4) != entry_signature)
      return false;
    const std::size_t name_size = number_at(bytes, at + 28, 2),
                      extra_size = number_at(bytes, at + 30, 2),
                      comment_size = number_at(bytes, at + 32, 2);
    if (bytes.size() - at - entry_size < name_size) return false;
    each(std::string_view(bytes).substr(at + entry_size, name_size));
    at += entry_size + name_size + extra_size + comment_size;
    if (at > bytes.size()) return entry + 1 == found.entries;
  }
  return true;
}
