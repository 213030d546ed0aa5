// system_disk on Windows: what depends on the file system's rules.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "disk.h"

namespace {

/// The byte the lock covers: past the end of any map list, so that an editor
/// can still read the list while a run holds the lock.
constexpr DWORD lock_offset = 0xFFFFFFFF;

bool read_only(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

/// What the last error means for a step on `path`: a sharing violation, or
/// an access denied while the file is not read-only, is another program
/// holding the file (a scanner, an indexer, the server reading it).
file_result failure_on(const std::string& path) {
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return file_result::busy;
  if (error == ERROR_ACCESS_DENIED && !read_only(path))
    return file_result::busy;
  return file_result::failed;
}

}  // namespace

system_disk::~system_disk() { unlock(); }

bool system_disk::lock(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  at.Offset = lock_offset;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    CloseHandle(file);
    return false;
  }
  unlock();
  locked = reinterpret_cast<std::intptr_t>(file);
  return true;
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

std::string system_disk::final_path(const std::string& path) { return path; }

bool system_disk::exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool system_disk::can_write(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  // The read-only attribute is the operator's way to freeze a script; it is
  // asked for directly because an administrator may still open such a file.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
    return false;
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Held by another program for now (a scanner, the server reading it):
    // replacing it is tried again for a while, and only then given up.
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  CloseHandle(file);
  return true;
}

std::FILE* system_disk::create_beside(const std::string& path,
                                      std::string* created) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *created = name_beside(path, "tmp", GetCurrentProcessId(), attempt);
    const int fd =
        _open(created->c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
              _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (std::FILE* file = _fdopen(fd, "wb")) return file;
    _close(fd);
    DeleteFileA(created->c_str());
    return nullptr;
  }
  return nullptr;
}

std::int64_t regular_file_size(std::FILE* file) {
  struct _stati64 status;
  if (_fstati64(_fileno(file), &status) != 0 ||
      (status.st_mode & _S_IFMT) != _S_IFREG)
    return -1;
  return status.st_size;
}

bool system_disk::keep_copy(const std::string& path, std::string* copy) {
  // A second name for the same file costs nothing; FAT has none, so there
  // the bytes are copied.
  for (int attempt = 0; attempt < 100; ++attempt) {
    *copy = name_beside(path, "old", GetCurrentProcessId(), attempt);
    if (CreateHardLinkA(copy->c_str(), path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return copy_beside(*this, path, copy);
}

file_result system_disk::replace(const std::string& from,
                                 const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return file_result::done;
  return failure_on(to);
}

file_result system_disk::remove(const std::string& path) {
  if (DeleteFileA(path.c_str())) return file_result::done;
  return failure_on(path);
}

void system_disk::pause(unsigned ms) { Sleep(ms); }

bool system_disk::list_folder(const std::string& folder,
                              std::vector<std::string>* names) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  do names->push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  return true;
}
