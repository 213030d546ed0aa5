// system_disk on Windows, within what Windows XP SP3 has.
#include <windows.h>

#include "disk.h"

namespace {

/// The byte the lock covers: past the end of any map list, so that an editor
/// can still read the list while a run holds the lock.
constexpr DWORD lock_offset = 0xFFFFFFFF;

constexpr DWORD share_all =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// Whether the last error on `path` means that another program holds it
/// for a moment (a virus scanner, an indexer): a sharing violation, or an
/// access denied on a regular file that isn't read-only (how Windows
/// refuses to replace a file another program has open). Never a folder in
/// the way or the read-only attribute.
bool held_by_another(const std::string& path) {
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  SetLastError(error);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

/// Runs `call` on `path` until it succeeds or fails for another reason
/// than another program holding the file: tried again after 1 ms, then
/// twice as long each time up to a quarter of a second, for about 2 s in
/// all.
template <typename Call>
bool retrying(const std::string& path, const Call& call) {
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 256 ? wait * 2 : wait) {
    if (call()) return true;
    if (!held_by_another(path) || waited >= 2000) return false;
    Sleep(wait);
    waited += wait;
  }
}

/// The system's words for error `code`.
std::string words_of(DWORD code) {
  char text[256];
  const DWORD size =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, text, sizeof text, nullptr);
  std::string words(text, size);
  while (!words.empty() &&
         (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
    words.pop_back();
  return words.empty() ? "Windows error " + std::to_string(code) : words;
}

/// What the last error means, with the system's words kept in `*reason`.
disk_result failure(std::string* reason) {
  const DWORD code = GetLastError();
  *reason = words_of(code);
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return disk_result::missing;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return disk_result::exists;
    default:
      return disk_result::failed;
  }
}

disk_result done_or_failure(bool done, std::string* reason) {
  return done ? disk_result::done : failure(reason);
}

/// Opens `path`, trying again while another program holds it.
HANDLE open_file(const std::string& path, DWORD access, DWORD share,
                 DWORD how) {
  HANDLE file = INVALID_HANDLE_VALUE;
  retrying(path, [&] {
    file = CreateFileA(path.c_str(), access, share, nullptr, how,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30)
                            ? (1u << 30)
                            : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) ||
        written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

/// A byte range of the map list, locked through its open handle.
struct file_lock : disk_lock {
  explicit file_lock(HANDLE file) : file(file) {}
  ~file_lock() override {
    OVERLAPPED at{};
    at.Offset = lock_offset;
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
  }
  HANDLE file;
};

}  // namespace

disk_result system_disk::lock(const std::string& path, unsigned wait_ms,
                              std::unique_ptr<disk_lock>* held) {
  // A file of the tool's own beside the rotation, made where it is missing.
  const HANDLE file = open_file(path, GENERIC_READ, share_all, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return failure(&reason);
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 64 ? wait * 2 : wait) {
    OVERLAPPED at{};
    at.Offset = lock_offset;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   1, 0, &at)) {
      *held = std::make_unique<file_lock>(file);
      return disk_result::done;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION || waited >= wait_ms) break;
    Sleep(wait);
    waited += wait;
  }
  const bool held_by_another = GetLastError() == ERROR_LOCK_VIOLATION;
  const disk_result why = failure(&reason);
  CloseHandle(file);
  if (!held_by_another)
    return why == disk_result::done ? disk_result::failed : why;
  reason = "held by another run for the whole wait";
  return disk_result::busy;
}

disk_result system_disk::read_file(const std::string& path,
                                   std::string* bytes) {
  // A folder doesn't open without FILE_FLAG_BACKUP_SEMANTICS: failed.
  const HANDLE file = open_file(path, GENERIC_READ, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure(&reason);
  // Only a file on disk: a pipe or a device could hold the run up.
  bool read_all = GetFileType(file) == FILE_TYPE_DISK;
  if (!read_all) reason = "not a regular file (a pipe, a device)";
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (read_all && low != INVALID_FILE_SIZE && high == 0 &&
      low < bytes->max_size() - bytes->size())
    bytes->reserve(bytes->size() + low);
  char chunk[1 << 16];
  DWORD got = 0;
  while (read_all &&
         (read_all = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) &&
         got > 0)
    bytes->append(chunk, got);
  if (!read_all && GetLastError() != ERROR_SUCCESS) failure(&reason);
  CloseHandle(file);
  return read_all ? disk_result::done : disk_result::failed;
}

disk_result system_disk::read_range(const std::string& path,
                                    std::uint64_t offset, std::size_t size,
                                    std::string* bytes,
                                    std::uint64_t* file_size) {
  bytes->clear();
  const HANDLE file = open_file(path, GENERIC_READ, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure(&reason);
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (GetFileType(file) != FILE_TYPE_DISK ||
      (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)) {
    reason = "not a regular file (a pipe, a device)";
    CloseHandle(file);
    return disk_result::failed;
  }
  *file_size = static_cast<std::uint64_t>(high) << 32 | low;
  const std::uint64_t there = offset < *file_size ? *file_size - offset : 0;
  bytes->resize(static_cast<std::size_t>(size < there ? size : there));
  std::size_t got = 0;
  bool read_all = true;
  while (read_all && got < bytes->size()) {
    // A read at an offset through a handle opened for synchronous use.
    OVERLAPPED at{};
    const std::uint64_t from = offset + got;
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    const std::size_t left = bytes->size() - got;
    DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left),
          read = 0;
    read_all = ReadFile(file, &(*bytes)[got], chunk, &read, &at) && read > 0;
    got += read;
  }
  if (!read_all) failure(&reason);
  CloseHandle(file);
  bytes->resize(got);
  return read_all ? disk_result::done : disk_result::failed;
}

disk_result system_disk::look(const std::string& path, std::string* target,
                              file_facts* facts) {
  *target = path;
  *facts = file_facts{};
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const disk_result why = failure(&reason);
    facts->found = why == disk_result::missing ? why : disk_result::failed;
    return disk_result::done;
  }
  // The read-only attribute is the operator's way to freeze a script; it is
  // asked for directly because an administrator may still open such a file.
  facts->found = disk_result::done;
  facts->regular = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  facts->write_flags = (attributes & FILE_ATTRIBUTE_READONLY) == 0;
  facts->may_write = facts->write_flags;
  // Hard links on Windows are rare enough not to be asked for here:
  // write_in_place() itself refuses a file with another name.
  facts->alone = facts->regular;
  return disk_result::done;
}

disk_result system_disk::write_new(const std::string& path,
                                   std::string_view bytes,
                                   const std::string& /*like*/) {
  const HANDLE file =
      open_file(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return failure(&reason);
  // Flushed while this handle is open: a scanner may hold the file from the
  // moment it is closed, and then it can't be opened for writing again.
  const bool written = write_all(file, bytes) && FlushFileBuffers(file);
  if (!written) failure(&reason);
  if (CloseHandle(file) && written) return disk_result::done;
  retrying(path, [&] { return DeleteFileA(path.c_str()) != 0; });
  return disk_result::failed;
}

disk_result system_disk::write_in_place(const std::string& path,
                                        std::string_view bytes) {
  const HANDLE file = open_file(path, GENERIC_WRITE, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure(&reason);
  // Every other name of the file would change with it.
  BY_HANDLE_FILE_INFORMATION about;
  const bool alone = GetFileType(file) == FILE_TYPE_DISK &&
                     GetFileInformationByHandle(file, &about) &&
                     about.nNumberOfLinks == 1;
  const bool written = alone && write_all(file, bytes) && SetEndOfFile(file) &&
                       FlushFileBuffers(file);
  if (!alone)
    reason = "a file with another name besides (a hard link), or no file";
  else if (!written)
    failure(&reason);
  return CloseHandle(file) && written ? disk_result::done : disk_result::failed;
}

disk_result system_disk::hard_link(const std::string& from,
                                   const std::string& link) {
  return done_or_failure(retrying(from,
                                  [&] {
                                    return CreateHardLinkA(link.c_str(),
                                                           from.c_str(),
                                                           nullptr) != 0;
                                  }),
                         &reason);
}

disk_result system_disk::sync(const std::vector<std::string>&) {
  return disk_result::done;
}

disk_result system_disk::rename(const std::string& from,
                                const std::string& to) {
  return done_or_failure(retrying(to,
                                  [&] {
                                    return MoveFileExA(
                                        from.c_str(), to.c_str(),
                                        MOVEFILE_REPLACE_EXISTING);
                                  }),
                         &reason);
}

disk_result system_disk::remove(const std::string& path) {
  return done_or_failure(
      retrying(path, [&] { return DeleteFileA(path.c_str()) != 0; }), &reason);
}

disk_result system_disk::list_folder(const std::string& folder,
                                     std::vector<std::string>* names) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return failure(&reason);
  do names->push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  return disk_result::done;
}
