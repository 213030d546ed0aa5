// system_disk on POSIX systems: what depends on the file system's rules.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

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

system_disk::~system_disk() { unlock(); }

bool system_disk::lock(const std::string& path) {
  // The folder, not a file in it: a file can be replaced under the lock, as
  // an editor saving the map list does. flock, not fcntl: an fcntl lock
  // ends when the process closes any descriptor of the same file.
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  int locked_now;
  while ((locked_now = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (locked_now != 0) {
    ::close(fd);
    return false;
  }
  unlock();
  locked = fd;
  return true;
}

void system_disk::unlock() {
  if (locked < 0) return;
  ::close(static_cast<int>(locked));
  locked = -1;
}

bool system_disk::exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

bool system_disk::can_write(const std::string& path) {
  // O_NONBLOCK keeps a FIFO without a reader from hanging the run.
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT;
  // A file without any write permission is read-only even to root, who
  // may open it all the same: chmod a-w freezes a rotation for every user.
  struct stat status;
  const bool writable = fstat(fd, &status) == 0 && (status.st_mode & 0222) != 0;
  ::close(fd);
  return writable;
}

std::FILE* system_disk::create_beside(const std::string& path,
                                      std::string* created) {
  struct stat existing;
  const bool keep_mode = stat(path.c_str(), &existing) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *created =
        name_beside(path, "tmp", static_cast<unsigned long>(getpid()), attempt);
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

bool system_disk::keep_copy(const std::string& path, std::string* copy) {
  // A second name for the same file costs nothing and can't half fail.
  for (int attempt = 0; attempt < 100; ++attempt) {
    *copy =
        name_beside(path, "old", static_cast<unsigned long>(getpid()), attempt);
    if (link(path.c_str(), copy->c_str()) == 0) return true;
    if (errno != EEXIST) break;
  }
  return copy_beside(*this, path, copy);
}

file_result system_disk::replace(const std::string& from,
                                 const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? file_result::done
                                                    : file_result::failed;
}

file_result system_disk::remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? file_result::done : file_result::failed;
}

void system_disk::pause(unsigned ms) {
  timespec wait{static_cast<time_t>(ms / 1000),
                static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

bool system_disk::list_folder(const std::string& folder,
                              std::vector<std::string>* names) {
  DIR* entries = opendir(folder.c_str());
  if (!entries) return false;
  while (const dirent* entry = readdir(entries))
    names->push_back(entry->d_name);
  closedir(entries);
  return true;
}
