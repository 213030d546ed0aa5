#include "archive_names.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint32_t end_signature = 0x06054b50,
                        zip64_locator_signature = 0x07064b50,
                        zip64_end_signature = 0x06064b50,
                        entry_signature = 0x02014b50;
constexpr std::size_t end_size = 22, zip64_locator_size = 20,
                      zip64_end_size = 56, entry_size = 46;
/// How far back from the end both engines' unzip look for the end record.
constexpr std::uint64_t farthest_back = 0xFFFF;
/// The most of the directory held at once: the longest entry fits.
constexpr std::size_t piece_size = 1 << 20;

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

/// Where the last `signature` within the last farthest_back bytes of the
/// file starts, as the engine's unzip searches, nearest the end first; 0
/// where there is none (the engine's unzip takes a record at byte 0 for
/// none as well).
std::uint64_t find_backwards(std::uint64_t file_size,
                             const archive_reader& read,
                             std::uint32_t signature) {
  const std::uint64_t back = std::min(file_size, farthest_back);
  const std::string tail =
      read(file_size - back, static_cast<std::size_t>(back));
  const char bytes[4] = {
      static_cast<char>(signature), static_cast<char>(signature >> 8),
      static_cast<char>(signature >> 16), static_cast<char>(signature >> 24)};
  const std::size_t at = tail.rfind(std::string_view(bytes, 4));
  return at == std::string::npos ? 0 : file_size - back + at;
}

/// The zip64 end record, where the maintained reader finds one: its
/// locator lies in the same tail as the end record.
bool find_zip64(std::uint64_t file_size, const archive_reader& read,
                archive_directory* found) {
  const std::uint64_t locator_at =
      find_backwards(file_size, read, zip64_locator_signature);
  if (locator_at == 0) return false;
  const std::string locator = read(locator_at, zip64_locator_size);
  const std::uint64_t record_at = number_at(locator, 8, 8);
  const std::string record = read(record_at, zip64_end_size);
  if (number_at(record, 0, 4) != zip64_end_signature) return false;
  const std::uint64_t disk = number_at(record, 16, 4),
                      disk_with_directory = number_at(record, 20, 4),
                      here = number_at(record, 24, 8),
                      entries = number_at(record, 32, 8),
                      size = number_at(record, 40, 8),
                      offset = number_at(record, 48, 8);
  if (here != entries || disk != 0 || disk_with_directory != 0 ||
      offset > record_at || size > record_at - offset)
    return false;
  *found = {offset, record_at - offset - size, entries, true};
  return true;
}

/// The unpacked size of the entry at `at` in `piece`, from its zip64 extra
/// field where the directory says 0xFFFFFFFF and the archive is zip64.
std::uint64_t entry_size_of(std::string_view piece, std::size_t at,
                            bool zip64) {
  const std::uint64_t size = number_at(piece, at + 24, 4);
  if (!zip64 || size != 0xFFFFFFFF) return size;
  const std::size_t name = number_at(piece, at + 28, 2),
                    extra = number_at(piece, at + 30, 2);
  for (std::size_t field = at + entry_size + name;
       field + 4 <= at + entry_size + name + extra;
       field += 4 + number_at(piece, field + 2, 2))
    if (number_at(piece, field, 2) == 1) return number_at(piece, field + 4, 8);
  return size;
}

}  // namespace

bool find_archive_directory(std::uint64_t file_size, const archive_reader& read,
                            zip_reader reader, archive_directory* found) {
  if (reader == zip_reader::maintained && find_zip64(file_size, read, found))
    return true;
  const std::uint64_t end_at = find_backwards(file_size, read, end_signature);
  if (end_at == 0) return false;
  const std::string end = read(end_at, end_size);
  if (end.size() < end_size) return false;
  const std::uint64_t disk = number_at(end, 4, 2),
                      disk_with_directory = number_at(end, 6, 2),
                      here = number_at(end, 8, 2),
                      entries = number_at(end, 10, 2),
                      size = number_at(end, 12, 4),
                      offset = number_at(end, 16, 4);
  if (here != entries || disk != 0 || disk_with_directory != 0 ||
      end_at < offset + size)
    return false;
  *found = {offset, end_at - offset - size, entries, false};
  return true;
}

void read_archive_directory(
    const archive_reader& read, const archive_directory& found,
    const std::function<void(const archive_entry&)>& each) {
  // Both engines read entry after entry, as many as stated, and stop at
  // the first that isn't one, keeping those before it.
  std::uint64_t piece_at = found.offset + found.before;
  std::string piece;
  std::size_t at = 0;
  for (std::uint64_t entry = 0; entry < found.entries; ++entry) {
    if (piece.size() - at < entry_size ||
        piece.size() - at < entry_size + number_at(piece, at + 28, 2) +
                                number_at(piece, at + 30, 2) +
                                number_at(piece, at + 32, 2)) {
      piece_at += at;
      piece = read(piece_at, piece_size);
      at = 0;
    }
    if (piece.size() - at < entry_size ||
        number_at(piece, at, 4) != entry_signature)
      break;
    const std::size_t name_size = number_at(piece, at + 28, 2),
                      extra_size = number_at(piece, at + 30, 2),
                      comment_size = number_at(piece, at + 32, 2);
    if (piece.size() - at - entry_size < name_size) break;
    archive_entry item;
    item.name = std::string_view(piece).substr(at + entry_size, name_size);
    item.encrypted = (number_at(piece, at + 8, 2) & 1) != 0;
    if (piece.size() - at - entry_size - name_size >= extra_size)
      item.size = entry_size_of(piece, at, found.zip64);
    else
      item.size = number_at(piece, at + 24, 4);
    each(item);
    at += entry_size + name_size + extra_size + comment_size;
    if (at > piece.size()) {  // the entry's tail runs past the piece
      piece_at += at;
      piece.clear();
      at = 0;
    }
  }
}
