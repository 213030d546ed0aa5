// system_disk on POSIX systems: what depends on the file system's rules.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "disk.h"

std::string system_disk::final_path(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  // A link to a file that doesn't exist yet: follow it by hand, so that the
  // file is created where the link points and the link itself stays.
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    char link[PATH_MAX];
    const ssize_t size = readlink(target.c_str(), link, sizeof link);
    if (size < 0 || size == static_cast<ssize_t>(sizeof link)) return target;
    std::string next(link, static_cast<std::size_t>(size));
    const std::size_t slash = target.rfind('/');
    if (next[0] != '/' && slash != std::string::npos)
      next = target.substr(0, slash + 1) + next;
    target = next;
  }
  return path;
}

bool system_disk::can_write(const std::string& path) {
  // O_NONBLOCK keeps a FIFO without a reader from hanging the run.
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  return errno == ENOENT;
}

std::FILE* system_disk::create_beside(const std::string& path,
                                      std::string* created) {
  struct stat existing;
  const bool keep_mode = stat(path.c_str(), &existing) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *created = path + ".tmp." + std::to_string(getpid()) + "." +
               std::to_string(attempt);
    const int fd = open(created->c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (keep_mode) fchmod(fd, existing.st_mode & 07777);
    if (std::FILE* file = fdopen(fd, "wb")) return file;
    ::close(fd);
    ::unlink(created->c_str());
    return nullptr;
  }
  return nullptr;
}

std::int64_t regular_file_size(std::FILE* file) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return status.st_size;
}

bool system_disk::replace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
