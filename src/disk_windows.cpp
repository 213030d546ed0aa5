// system_disk on Windows: what depends on the file system's rules.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "disk.h"

std::string system_disk::final_path(const std::string& path) { return path; }

bool system_disk::can_write(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  // The read-only attribute is the operator's way to freeze a script; it is
  // asked for directly because an administrator may still open such a file.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
    return false;
  // A file locked by another program fails here and is then left alone.
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::FILE* system_disk::create_beside(const std::string& path,
                                      std::string* created) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *created = path + ".tmp." + std::to_string(GetCurrentProcessId()) + "." +
               std::to_string(attempt);
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

bool system_disk::replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
