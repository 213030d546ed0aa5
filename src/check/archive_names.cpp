#include "check/archive_names.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

constexpr std::uint32_t end_signature = 0x06054b50,
                        zip64_locator_signature = 0x07064b50,
                        zip64_end_signature = 0x06064b50,
                        entry_signature = 0x02014b50,
                        local_signature = 0x04034b50;
constexpr std::size_t end_size = 22, zip64_locator_size = 20,
                      zip64_end_size = 56, entry_size = 46, local_size = 30;
/// What a zip64 size or offset holds in a field of 32 bits.
constexpr std::uint64_t zip64_mark = 0xFFFFFFFF;
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

/// The end record as the maintained reader reads it where the file ends
/// within it (`end` holds what is there): its unzip reads each number byte
/// by byte into one variable, and a read at the file's end counts as done
/// and leaves the variable as it was. So a missing byte is the number's byte
/// before it, or 0 where the number's first is missing: a record cut by 7
/// bytes is read with the directory at offset 0, taking the directory's
/// whole start for bytes before the archive.
std::string as_maintained_reads(std::string end) {
  const std::size_t there = end.size();
  end.resize(end_size, '\0');
  constexpr std::size_t starts[] = {0, 4, 6, 8, 10, 12, 16, 20, end_size};
  for (std::size_t number = 0; number + 1 < std::size(starts); ++number)
    for (std::size_t at = std::max(starts[number] + 1, there);
         at < starts[number + 1]; ++at)
      end[at] = end[at - 1];
  return end;
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

/// Takes the entry's sizes and offset from its zip64 extra field, where the
/// directory's fields say 0xFFFFFFFF and the archive is read as zip64: the
/// field holds, in this order, those of them that do.
void take_zip64_fields(std::string_view piece, std::size_t at,
                       archive_entry* entry) {
  const std::size_t name = number_at(piece, at + 28, 2),
                    extra = number_at(piece, at + 30, 2);
  for (std::size_t field = at + entry_size + name;
       field + 4 <= at + entry_size + name + extra;
       field += 4 + number_at(piece, field + 2, 2)) {
    if (number_at(piece, field, 2) != 1) continue;
    std::size_t next = field + 4;
    for (std::uint64_t* value :
         {&entry->size, &entry->packed, &entry->local_header})
      if (*value == zip64_mark) {
        *value = number_at(piece, next, 8);
        next += 8;
      }
    return;
  }
}

}  // namespace

bool find_archive_directory(std::uint64_t file_size, const archive_reader& read,
                            zip_reader reader, archive_directory* found) {
  if (reader == zip_reader::maintained && find_zip64(file_size, read, found))
    return true;
  const std::uint64_t end_at = find_backwards(file_size, read, end_signature);
  if (end_at == 0) return false;
  // Neither engine asks whether the whole record is there. The original
  // takes what lies past the file's end from whatever was in memory (read
  // here as zeros): its own server lists an archive cut by 6 bytes, whose
  // directory it finds from where the record lies and its stated size, and
  // then finds a map there that it can't read. Past 6, the size itself is
  // lost, and it is taken as refused. The maintained one reads on, as
  // as_maintained_reads says.
  std::string end = read(end_at, end_size);
  const std::size_t cut = end_size - std::min(end.size(), end_size);
  if (reader == zip_reader::original && cut > 6) return false;
  end = reader == zip_reader::original ? end.append(cut, '\0')
                                       : as_maintained_reads(std::move(end));
  if (!directory_in(end, plain_end, end_at, found)) return false;
  found->cut = cut;
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
    item.method = static_cast<std::uint16_t>(number_at(piece, at + 10, 2));
    item.crc = static_cast<std::uint32_t>(number_at(piece, at + 16, 4));
    item.packed = number_at(piece, at + 20, 4);
    item.size = number_at(piece, at + 24, 4);
    item.local_header = number_at(piece, at + 42, 4);
    if (found.zip64 && piece.size() - at - entry_size - name_size >= extra_size)
      take_zip64_fields(piece, at, &item);
    each(item);
    at += entry_size + name_size + extra_size + comment_size;
    if (at > piece.size()) {  // the entry's tail runs past the piece
      piece_at += at;
      piece.clear();
      at = 0;
    }
  }
}

const char* why_entry_fails(const archive_reader& read,
                            const archive_directory& found,
                            const archive_entry& entry, zip_reader reader) {
  const std::string header =
      read(entry.local_header + found.before, local_size);
  if (header.size() < local_size || number_at(header, 0, 4) != local_signature)
    return "its local header is missing, so the engine can't open it";
  const std::uint64_t flags = number_at(header, 6, 2),
                      method = number_at(header, 8, 2);
  if (entry.method != 0 && entry.method != 8)
    return "it is packed with a method the engine can't unpack";
  if (method != entry.method || number_at(header, 26, 2) != entry.name.size())
    return "its local header differs from the directory, so the engine "
           "can't open it";
  // Sizes that follow the data (flag 3) aren't in the header at all.
  if (flags & 8) return nullptr;
  const std::uint64_t packed = number_at(header, 18, 4),
                      size = number_at(header, 22, 4);
  const bool zip64 = packed == zip64_mark || size == zip64_mark;
  if (zip64 && reader == zip_reader::original)
    return "its local header holds zip64 sizes (as Python's force_zip64 "
           "writes), which the original engine's zip reader can't open";
  if (number_at(header, 14, 4) != entry.crc ||
      (!zip64 && (packed != entry.packed || size != entry.size)))
    return "its local header differs from the directory, so the engine "
           "can't open it";
  return nullptr;
}

std::uint32_t engine_bucket(std::string_view name, std::uint64_t entries) {
  // The table has the least power of two above the entries, up to 2,048.
  std::uint32_t table = 1;
  while (table <= 1024 && table <= entries) table <<= 1;
  // As the engines compute it in a long of 32 bits, from signed chars.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    int letter = static_cast<signed char>(name[i]);
    if (letter >= 'A' && letter <= 'Z') letter += 'a' - 'A';
    if (letter == '.') break;
    if (letter == '\\') letter = '/';
    sum += static_cast<std::uint32_t>(letter * static_cast<int>(i + 119));
  }
  const std::int32_t hash = static_cast<std::int32_t>(sum);
  return static_cast<std::uint32_t>(hash ^ (hash >> 10) ^ (hash >> 20)) &
         (table - 1);
}
