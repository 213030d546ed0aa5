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

/// Where an end record holds its numbers, each at an offset and of a width:
/// the disk, the disk the directory starts on, the entries on this disk,
/// the entries in all, the directory's size and its offset.
struct end_layout {
  std::size_t at[6], width[6];
};
constexpr end_layout plain_end{{4, 6, 8, 10, 12, 16}, {2, 2, 2, 2, 4, 4}},
    zip64_end{{16, 20, 24, 32, 40, 48}, {4, 4, 8, 8, 8, 8}};

/// The directory that the end `record`, at `record_at`, states; false where
/// the reader refuses it: a directory that runs past the record, two entry
/// counts that differ, an archive on more than one disk.
bool directory_in(std::string_view record, const end_layout& layout,
                  std::uint64_t record_at, archive_directory* found) {
  std::uint64_t n[6];
  for (int i = 0; i < 6; ++i)
    n[i] = number_at(record, layout.at[i], layout.width[i]);
  const std::uint64_t entries = n[3], size = n[4], offset = n[5];
  if (n[0] != 0 || n[1] != 0 || n[2] != entries || offset > record_at ||
      size > record_at - offset)
    return false;
  *found = {offset, record_at - offset - size, entries, &layout == &zip64_end};
  return true;
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
  return number_at(record, 0, 4) == zip64_end_signature &&
         directory_in(record, zip64_end, record_at, found);
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
  return end.size() == end_size && directory_in(end, plain_end, end_at, found);
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
