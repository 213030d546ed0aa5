// The parts of system_disk that the C library does alike on every platform.
// Files are always binary, so line ends and 0x1A bytes are the tool's own
// business on Windows too.
#include "disk.h"

#include <cstdint>

bool system_disk::read_file(const std::string& path, std::string* contents) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return false;
  // Knowing the size up front spares the copies of a growing buffer; where
  // it can't be known (a pipe, say) the buffer simply grows.
  const std::int64_t size = regular_file_size(in);
  if (size > 0 && static_cast<std::uint64_t>(size) <
                      contents->max_size() - contents->size())
    contents->reserve(contents->size() + static_cast<std::size_t>(size));
  char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
    contents->append(chunk, got);
  const bool read_all = !std::ferror(in);
  std::fclose(in);
  return read_all;
}

std::FILE* system_disk::open_for_writing(const std::string& path) {
  return std::fopen(path.c_str(), "wb");
}

bool system_disk::write(std::FILE* file, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool system_disk::flush(std::FILE* file) { return std::fflush(file) == 0; }

bool system_disk::close(std::FILE* file) { return std::fclose(file) == 0; }

bool write_and_close(disk_interface& disk, std::FILE* file,
                     std::string_view bytes) {
  const bool written = disk.write(file, bytes) && disk.flush(file);
  return disk.close(file) && written;
}

bool retry_while_busy(disk_interface& disk,
                      const std::function<file_result()>& step) {
  constexpr unsigned total_wait_ms = 2000;
  unsigned waited = 0;
  for (unsigned wait = 1;; wait *= 2) {
    const file_result result = step();
    if (result != file_result::busy) return result == file_result::done;
    if (waited >= total_wait_ms) return false;
    disk.pause(wait);
    waited += wait;
  }
}

std::string name_beside(const std::string& path, std::string_view kind,
                        unsigned long process, int attempt) {
  return path + "." + std::string(kind) + "." + std::to_string(process) + "." +
         std::to_string(attempt);
}

namespace {

/// Takes one or more decimal digits off the front of `text`.
bool take_number(std::string_view* text) {
  std::size_t digits = 0;
  while (digits < text->size() && (*text)[digits] >= '0' &&
         (*text)[digits] <= '9')
    ++digits;
  text->remove_prefix(digits);
  return digits > 0;
}

/// Takes `head` off the front of `text`, if it is there.
bool take(std::string_view* text, std::string_view head) {
  if (text->substr(0, head.size()) != head) return false;
  text->remove_prefix(head.size());
  return true;
}

}  // namespace

bool is_named_beside(std::string_view name, std::string_view base) {
  return take(&name, base) && (take(&name, ".tmp.") || take(&name, ".old.")) &&
         take_number(&name) && take(&name, ".") && take_number(&name) &&
         name.empty();
}

bool copy_beside(disk_interface& disk, const std::string& path,
                 std::string* copy) {
  std::string bytes;
  if (!disk.read_file(path, &bytes)) return false;
  std::FILE* out = disk.create_beside(path, copy);
  if (!out) return false;
  if (write_and_close(disk, out, bytes)) return true;
  disk.remove(*copy);
  return false;
}
