// system_disk on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <set>

#include "disk.h"
#include "path.h"

namespace {

/// More files than this are made durable by one syncfs rather than one
/// fsync each: a long rotation is thousands of files.
constexpr std::size_t most_files_synced_one_by_one = 8;

/// What the system's `error` means, with its words kept in `*reason`.
disk_result failure(int error, std::string* reason) {
  *reason = std::strerror(error);
  return error == ENOENT   ? disk_result::missing
         : error == EEXIST ? disk_result::exists
                           : disk_result::failed;
}

/// A call refused by a rule of ours, `why`.
disk_result refused(const char* why, std::string* reason) {
  *reason = why;
  return disk_result::failed;
}

constexpr const char* not_regular = "not a regular file (a folder, a pipe)";
constexpr const char* other_users_link =
    "a link that belongs neither to this user nor to the folder's owner, "
    "which is not followed";

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  while ((fd = open(path, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
  }
  return fd;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

/// fsync of `path`, or where `whole_file_system`, syncfs of its file system.
bool sync_path(const std::string& path, bool whole_file_system) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
#ifdef __linux__
  const bool synced = (whole_file_system ? syncfs(fd) : fsync(fd)) == 0;
#else
  const bool synced = !whole_file_system && fsync(fd) == 0;
#endif
  ::close(fd);
  return synced;
}

void pause_ms(unsigned ms) {
  timespec wait{static_cast<time_t>(ms / 1000),
                static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

/// A lock file's flock, held by its open descriptor.
struct file_lock : disk_lock {
  explicit file_lock(int fd) : fd(fd) {}
  ~file_lock() override { ::close(fd); }
  int fd;
};

/// Gives the new file `fd` at `path` the mode, owner and group of file
/// `like`, or where there is none, the folder's group and a mode its owner
/// may write and its group read; each only where it differs, and as far as
/// this process may set it.
void take_after(int fd, const std::string& like, const std::string& path) {
  struct stat now, model;
  if (fstat(fd, &now) != 0) return;
  if (stat(like.c_str(), &model) != 0) {
    if (stat(folder_of(path).c_str(), &model) != 0) return;
    model.st_uid = now.st_uid;
    model.st_mode = now.st_mode | 0640;
  }
  // Owner and group first, as changing them clears the set-id bits. Only
  // root may give a file away; others keep what they may.
  if ((now.st_uid != model.st_uid || now.st_gid != model.st_gid) &&
      fchown(fd, model.st_uid, model.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), model.st_gid) != 0) {
    // This user's own file, in this user's group: as good as it gets.
  }
  if ((now.st_mode & 07777) != (model.st_mode & 07777) &&
      fchmod(fd, model.st_mode & 07777) != 0) {
    // The mode of a new file, then: the rotation still runs.
  }
}

}  // namespace

disk_result system_disk::lock(const std::string& path, unsigned wait_ms,
                              std::unique_ptr<disk_lock>* held) {
  // A file of the tool's own, not the folder: anyone who may list a folder
  // may open it and flock it, and so hold every run up. flock, not fcntl:
  // an fcntl lock ends when the process closes any descriptor of the file.
  const int fd = open_retrying(
      path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
      0660);
  if (fd < 0) return failure(errno, &reason);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular, &reason);
  }
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 64 ? wait * 2 : wait) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      *held = std::make_unique<file_lock>(fd);
      return disk_result::done;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= wait_ms) break;
    pause_ms(wait);
    waited += wait;
  }
  const int error = errno;
  ::close(fd);
  if (error != EWOULDBLOCK) return failure(error, &reason);
  reason = "held by another run for the whole wait";
  return disk_result::busy;
}

disk_result system_disk::read_file(const std::string& path,
                                   std::string* bytes) {
  // O_NONBLOCK: a named pipe without a writer must not hold the run up.
  // O_NOFOLLOW: a link planted after look() asked is not followed.
  const int fd = open_retrying(path.c_str(),
                               O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0)
    return errno == ELOOP ? refused("a symbolic link", &reason)
                          : failure(errno, &reason);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular, &reason);
  }
  // Knowing the size up front spares the copies of a growing buffer.
  if (static_cast<std::uint64_t>(status.st_size) <
      bytes->max_size() - bytes->size())
    bytes->reserve(bytes->size() + static_cast<std::size_t>(status.st_size));
  char chunk[1 << 16];
  int error = 0;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? errno : 0;
      break;
    }
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (error == 0) return disk_result::done;
  failure(error, &reason);
  return disk_result::failed;
}

disk_result system_disk::read_range(const std::string& path,
                                    std::uint64_t offset, std::size_t size,
                                    std::string* bytes,
                                    std::uint64_t* file_size) {
  bytes->clear();
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return failure(errno, &reason);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular, &reason);
  }
  *file_size = static_cast<std::uint64_t>(status.st_size);
  const std::uint64_t there = offset < *file_size ? *file_size - offset : 0;
  bytes->resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, there)));
  std::size_t got = 0;
  int error = 0;
  while (got < bytes->size()) {
    const ssize_t read = ::pread(fd, bytes->data() + got, bytes->size() - got,
                                 static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) {
      error = read < 0 ? errno : 0;
      break;
    }
    got += static_cast<std::size_t>(read);
  }
  ::close(fd);
  bytes->resize(got);
  if (error == 0) return disk_result::done;
  failure(error, &reason);
  return disk_result::failed;
}

disk_result system_disk::look(const std::string& path, std::string* target,
                              file_facts* facts) {
  // By hand rather than realpath, so that a link to a file not made yet is
  // followed too: the file is then created where the link points.
  *target = path;
  *facts = file_facts{};
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status, folder;
    if (lstat(target->c_str(), &status) != 0) {
      facts->found = failure(errno, &reason);
      if (facts->found == disk_result::exists)
        facts->found = disk_result::failed;
      return disk_result::done;
    }
    if (!S_ISLNK(status.st_mode)) {
      facts->found = disk_result::done;
      facts->regular = S_ISREG(status.st_mode);
      facts->write_flags = (status.st_mode & 0222) != 0;
      facts->may_write =
          faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) == 0;
      facts->alone = S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                     status.st_uid == geteuid();
      return disk_result::done;
    }
    // The rule of fs.protected_symlinks: a link that another user planted
    // in a folder they may write leads nowhere.
    if (stat(folder_of(*target).c_str(), &folder) != 0) {
      failure(errno, &reason);
      return disk_result::failed;
    }
    if (status.st_uid != geteuid() && status.st_uid != folder.st_uid)
      return refused(other_users_link, &reason);
    char link[PATH_MAX];
    const ssize_t size = readlink(target->c_str(), link, sizeof link);
    if (size <= 0 || size == static_cast<ssize_t>(sizeof link))
      return refused("a link that can't be read", &reason);
    std::string next(link, static_cast<std::size_t>(size));
    if (next[0] != '/') next = path_in(folder_of(*target), next);
    *target = next;
  }
  return refused("too many links, one after another", &reason);
}

disk_result system_disk::write_new(const std::string& path,
                                   std::string_view bytes,
                                   const std::string& like) {
  const int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return failure(errno, &reason);
  take_after(fd, like, path);
  const bool written = write_all(fd, bytes);
  const int error = errno;
  if (::close(fd) == 0 && written) return disk_result::done;
  failure(written ? errno : error, &reason);
  ::unlink(path.c_str());
  return disk_result::failed;
}

disk_result system_disk::write_in_place(const std::string& path,
                                        std::string_view bytes) {
  const int fd = open_retrying(path.c_str(),
                               O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return failure(errno, &reason);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular, &reason);
  }
  // Every other name of the file would change with it, and another user's
  // file is no file of this run's to change.
  if (status.st_nlink != 1 || status.st_uid != geteuid()) {
    ::close(fd);
    return refused(status.st_nlink != 1
                       ? "a file with another name besides (a hard link)"
                       : "a file of another user's",
                   &reason);
  }
  const bool written = write_all(fd, bytes) &&
                       ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                       fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) == 0 && written) return disk_result::done;
  failure(written ? errno : error, &reason);
  return disk_result::failed;
}

disk_result system_disk::hard_link(const std::string& from,
                                   const std::string& link) {
  return ::link(from.c_str(), link.c_str()) == 0 ? disk_result::done
                                                 : failure(errno, &reason);
}

disk_result system_disk::sync(const std::vector<std::string>& paths) {
  // Elsewhere than on Linux, without syncfs, each is synced on its own.
  if (paths.size() > most_files_synced_one_by_one) {
    std::set<std::string> folders;
    for (const std::string& path : paths) folders.insert(folder_of(path));
    bool synced = true;
    for (const std::string& folder : folders)
      synced = synced && sync_path(folder, true);
    if (synced) return disk_result::done;
  }
  for (const std::string& path : paths)
    if (!sync_path(path, false)) {
      failure(errno, &reason);
      return disk_result::failed;
    }
  return disk_result::done;
}

disk_result system_disk::rename(const std::string& from,
                                const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? disk_result::done
                                                 : failure(errno, &reason);
}

disk_result system_disk::remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? disk_result::done
                                     : failure(errno, &reason);
}

disk_result system_disk::list_folder(const std::string& folder,
                                     std::vector<std::string>* names) {
  DIR* entries = opendir(folder.c_str());
  if (!entries) return failure(errno, &reason);
  while (const dirent* entry = readdir(entries))
    names->push_back(entry->d_name);
  closedir(entries);
  return disk_result::done;
}
