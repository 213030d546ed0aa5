#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

/// Reads up to `size` bytes of an archive from `offset`; fewer where the
/// file ends sooner or can't be read.
using archive_reader =
    std::function<std::string(std::uint64_t offset, std::size_t size)>;

/// One entry of an archive's central directory.
struct archive_entry {
  /// The name as stored, viewing bytes that live until `each` returns.
  std::string_view name;
  /// Encrypted: no game can open it.
  bool encrypted = false;
  /// Its size once unpacked, and packed.
  std::uint64_t size = 0, packed = 0;
  /// Where its local header lies, as the directory states it.
  std::uint64_t local_header = 0;
  std::uint32_t crc = 0;
  /// How it is packed: 0 stored, 8 deflated.
  std::uint16_t method = 0;
};

/// Which game's zip reader reads the archive.
enum class zip_reader {
  /// The original engine's 1998-era unzip: no zip64.
  original,
  /// The maintained open engine's newer reader, which reads zip64 too.
  maintained,
};

/// Where a reader finds an archive's central directory.
struct archive_directory {
  /// The start of the directory as the archive states it, the bytes before
  /// the archive (a self-extracting stub whose offsets weren't moved), the
  /// number of entries stated, and whether it came from zip64 records.
  std::uint64_t offset = 0, before = 0, entries = 0;
  bool zip64 = false;
  /// How many bytes of the end record lie past the end of the file; 0 for
  /// a whole one. The original reader takes them from whatever lies in
  /// memory (here: as zeros), so what it yields is undefined; the
  /// maintained one reads them as find_archive_directory says.
  std::size_t cut = 0;
  bool operator==(const archive_directory& other) const {
    return offset == other.offset && before == other.before &&
           entries == other.entries && zip64 == other.zip64 && cut == other.cut;
  }
};

/// Finds the central directory of the zip archive of `file_size` bytes that
/// `read` reads, from its end record, as `reader` finds a game's .pk3. Like
/// the engines it looks for the end record across at most the last 65,535
/// bytes and takes the signature nearest the end, so a comment holding one
/// is taken for the end record, and allows for bytes before the archive,
/// taking their number from where the end record lies. Both take an end
/// record cut short without noticing (`found->cut`): the original reader up
/// to 6 bytes; the maintained one any that keeps its signature, reading a
/// missing byte as the one before it in the same number, or 0 where the
/// number's first is missing. False where the reader refuses the archive:
/// no end record (or one at byte 0), one cut shorter than the original
/// reader takes, a directory that runs past the end record, two entry
/// counts that differ. The original reader knows nothing of zip64: it takes the
/// plain end record of a zip64 archive, and so a directory 76 bytes out of
/// place, or refuses it.
bool find_archive_directory(std::uint64_t file_size, const archive_reader& read,
                            zip_reader reader, archive_directory* found);

/// Hands `each` the entries of directory `found`, as both engines read
/// them: as many as stated, stopping at the first that isn't one, and
/// keeping those before it. Reads the directory a piece at a time, so that
/// memory stays bounded whatever its size, and never more work than the
/// directory's bytes.
void read_archive_directory(
    const archive_reader& read, const archive_directory& found,
    const std::function<void(const archive_entry&)>& each);

/// Why `reader` can't open `entry` of the archive whose directory is
/// `found`, though it lists it: the check its unzip makes of the entry's
/// local header before it reads a byte (its signature, a method of stored
/// or deflated, its name's length, and unless its sizes follow its data,
/// its CRC and sizes, which must be the directory's: the original reader
/// takes no zip64 sizes there). Null where it opens.
const char* why_entry_fails(const archive_reader& read,
                            const archive_directory& found,
                            const archive_entry& entry, zip_reader reader);

/// The bucket of the engines' hash table of an archive of `entries`
/// entries in which `name` is looked up or stored: its letters in lower
/// case, `\` as `/` but not `:`, up to its first `.`. A name is found only
/// where its bucket is that of the entry; the names in a bucket are then
/// compared in any case with `\` and `:` as `/`.
std::uint32_t engine_bucket(std::string_view name, std::uint64_t entries);
