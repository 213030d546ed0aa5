// system_disk on Windows, within what Windows XP SP3 has.
#include <windows.h>

#include "disk.h"

namespace {

/// The byte the lock covers: past the end of any map list, so that an editor
/// can still read the list while a run holds the lock.
constexpr DWORD lock_offset = 0xFFFFFFFF;

constexpr DWORD share_all =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool read_only(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

/// What the last error means for a call on `path`: a sharing violation, or
/// an access denied while the file is not read-only, is another program
/// holding the file (a scanner, an indexer, the server reading it).
disk_result failure_on(const std::string& path) {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return disk_result::missing;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return disk_result::exists;
    case ERROR_SHARING_VIOLATION:
      return disk_result::busy;
    case ERROR_ACCESS_DENIED:
      return read_only(path) ? disk_result::failed : disk_result::busy;
    default:
      return disk_result::failed;
  }
}

HANDLE open_file(const std::string& path, DWORD access, DWORD share,
                 DWORD how) {
  return CreateFileA(path.c_str(), access, share, nullptr, how,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
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

}  // namespace

system_disk::~system_disk() { unlock(); }

disk_result system_disk::try_lock(const std::string& path) {
  const HANDLE file = open_file(path, GENERIC_READ, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return disk_result::failed;
  OVERLAPPED at{};
  at.Offset = lock_offset;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                  1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION ? disk_result::busy
                                         : disk_result::failed;
  }
  unlock();
  locked = reinterpret_cast<long long>(file);
  return disk_result::done;
}

void system_disk::unlock() {
  if (locked == -1) return;
  const HANDLE file = reinterpret_cast<HANDLE>(locked);
  OVERLAPPED at{};
  at.Offset = lock_offset;
  UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  locked = -1;
}

disk_result system_disk::read_file(const std::string& path,
                                   std::string* bytes) {
  // A folder doesn't open without FILE_FLAG_BACKUP_SEMANTICS: failed.
  const HANDLE file = open_file(path, GENERIC_READ, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure_on(path);
  // Only a file on disk: a pipe or a device could hold the run up.
  bool read_all = GetFileType(file) == FILE_TYPE_DISK;
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
  CloseHandle(file);
  return read_all ? disk_result::done : disk_result::failed;
}

disk_result system_disk::writable(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const disk_result why = failure_on(path);
    return why == disk_result::missing ? why : disk_result::failed;
  }
  // The read-only attribute is the operator's way to freeze a script; it is
  // asked for directly because an administrator may still open such a file.
  // A file held by another program for now counts as writable: replacing it
  // is tried again for a while.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
    return disk_result::failed;
  return disk_result::done;
}

disk_result system_disk::write_new(const std::string& path,
                                   std::string_view bytes,
                                   const std::string& /*like*/) {
  const HANDLE file =
      open_file(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return failure_on(path);
  // Flushed while this handle is open: a scanner may hold the file from the
  // moment it is closed, and then it can't be opened for writing again.
  const bool written = write_all(file, bytes) && FlushFileBuffers(file);
  if (CloseHandle(file) && written) return disk_result::done;
  DeleteFileA(path.c_str());
  return disk_result::failed;
}

disk_result system_disk::write_in_place(const std::string& path,
                                        std::string_view bytes) {
  const HANDLE file = open_file(path, GENERIC_WRITE, share_all, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure_on(path);
  const bool written = GetFileType(file) == FILE_TYPE_DISK &&
                       write_all(file, bytes) && SetEndOfFile(file) &&
                       FlushFileBuffers(file);
  return CloseHandle(file) && written ? disk_result::done : disk_result::failed;
}

disk_result system_disk::copy_file(const std::string& from,
                                   const std::string& copy) {
  // A second name for the same file costs nothing; FAT has none, so there
  // the bytes are copied.
  if (CreateHardLinkA(copy.c_str(), from.c_str(), nullptr))
    return disk_result::done;
  const disk_result why = failure_on(copy);
  if (why == disk_result::exists || why == disk_result::missing) return why;
  std::string bytes;
  const disk_result read = read_file(from, &bytes);
  return read == disk_result::done ? write_new(copy, bytes, from) : read;
}

disk_result system_disk::make_durable(const std::vector<std::string>&) {
  // write_new flushed every new file, and replace writes through.
  return disk_result::done;
}

disk_result system_disk::replace(const std::string& from,
                                 const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return disk_result::done;
  return failure_on(to);
}

disk_result system_disk::remove(const std::string& path) {
  if (DeleteFileA(path.c_str())) return disk_result::done;
  return failure_on(path);
}

disk_result system_disk::list_folder(const std::string& folder,
                                     std::vector<std::string>* names) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return failure_on(folder);
  do names->push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  return disk_result::done;
}

disk_result system_disk::follow_link(const std::string& path,
                                     std::string* target) {
  *target = path;
  return disk_result::done;
}

void system_disk::pause(unsigned ms) { Sleep(ms); }
