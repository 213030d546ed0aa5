// system_disk on POSIX systems: every file by its name in a folder held open
// (Linux: an O_PATH descriptor), so that no path is resolved twice.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/disk.h"
#include "platform/path.h"

namespace {

/// More files than this are made durable by one syncfs rather than one
/// fsync each: a long rotation is thousands of files.
constexpr std::size_t most_files_synced_one_by_one = 8;

#ifdef O_PATH
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

/// What the system's `error` means, with its words as the reason.
disk_status failure(int error) {
  return {error == ENOENT   ? disk_result::missing
          : error == EEXIST ? disk_result::exists
                            : disk_result::failed,
          std::strerror(error)};
}

/// A call refused by a rule of ours, `why`.
disk_status refused(const char* why) { return {disk_result::failed, why}; }

constexpr const char* not_regular = not_regular_reason;

/// A descriptor that is closed with it.
struct posix_handle : disk_handle {
  explicit posix_handle(int fd) : fd(fd) {}
  ~posix_handle() override { ::close(fd); }
  int fd;
};

/// Where a call names `name` in folder `at`: by the folder's descriptor,
/// never by its path. A folder this disk didn't open has none: -1, at which
/// every call fails (EBADF) rather than look the folder up by its path.
struct at_name {
  at_name(const disk_folder& at, const std::string& name)
      : fd(at.handle ? static_cast<const posix_handle&>(*at.handle).fd : -1),
        name(name) {}
  at_name(int fd, std::string name) : fd(fd), name(std::move(name)) {}
  int fd;
  std::string name;
};

int open_at(int folder, const char* name, int flags, mode_t mode = 0) {
  int fd;
  while ((fd = openat(folder, name, flags | O_CLOEXEC, mode)) < 0 &&
         errno == EINTR) {
  }
  return fd;
}

/// A file's identity, to tell when ".." leads back to the same folder.
struct identity {
  std::uint64_t device = 0, inode = 0;
  bool operator==(const identity& other) const {
    return device == other.device && inode == other.inode;
  }
};

/// The facts of `name` in `folder` (empty with AT_EMPTY_PATH: the folder
/// itself), without following a link; false with errno set.
bool stat_at(int folder, const char* name, int flags, file_facts* facts,
             identity* id = nullptr) {
#if defined(__linux__) && defined(STATX_BASIC_STATS)
  // statx tells the append-only and immutable flags without opening.
  struct statx status;
  if (statx(folder, name, flags | AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_BASIC_STATS, &status) != 0)
    return false;
  const mode_t type = status.stx_mode & S_IFMT;
  facts->owner = status.stx_uid;
  facts->group = status.stx_gid;
  facts->mode = status.stx_mode & 07777;
  facts->size = status.stx_size;
  facts->link_count = status.stx_nlink;
  facts->append_only = (status.stx_attributes & STATX_ATTR_APPEND) != 0;
  facts->immutable = (status.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
  if (id)
    *id = {static_cast<std::uint64_t>(status.stx_dev_major) << 32 |
               status.stx_dev_minor,
           status.stx_ino};
#else
  struct stat status;
  if (fstatat(folder, name, &status, flags | AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  const mode_t type = status.st_mode & S_IFMT;
  facts->owner = status.st_uid;
  facts->group = status.st_gid;
  facts->mode = status.st_mode & 07777;
  facts->size = static_cast<std::uint64_t>(status.st_size);
  facts->link_count = status.st_nlink;
  if (id)
    *id = {static_cast<std::uint64_t>(status.st_dev),
           static_cast<std::uint64_t>(status.st_ino)};
#endif
  facts->kind = type == S_IFREG   ? file_kind::regular
                : type == S_IFDIR ? file_kind::folder
                : type == S_IFLNK ? file_kind::link
                                  : file_kind::other;
  return true;
}

/// Opens folder `name` in `at`, never through a link, with its facts.
disk_status open_folder_at(int at, const char* name, disk_folder* folder,
                           identity* id = nullptr) {
  const int fd = open_at(at, name, folder_flags);
  if (fd < 0) return failure(errno);
  auto handle = std::make_shared<posix_handle>(fd);
  identity own;
  if (!stat_at(fd, "", AT_EMPTY_PATH, &folder->facts, &own))
    return failure(errno);
  folder->handle = std::move(handle);
  folder->device = own.device;
  folder->inode = own.inode;
  if (id) *id = own;
  return {};
}

/// A descriptor of folder `at` that can be read, listed and synced.
int readable_folder(const at_name& at) {
  return open_at(at.fd, at.name.c_str(), O_RDONLY | O_DIRECTORY);
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

bool read_all(int fd, std::string* bytes) {
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

/// Reads `size` bytes into `*bytes`, or fewer where the other end closes
/// first (false).
bool read_exactly(int fd, std::size_t size, std::string* bytes) {
  bytes->resize(size);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t read = ::read(fd, bytes->data() + got, size - got);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return false;
    got += static_cast<std::size_t>(read);
  }
  return true;
}

void pause_ms(unsigned ms) {
  timespec wait{static_cast<time_t>(ms / 1000),
                static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

/// A regular file open for reading.
struct posix_file : readable_file {
  explicit posix_file(int fd) : fd(fd) {}
  ~posix_file() override { ::close(fd); }
  disk_status read(std::uint64_t offset, std::size_t size,
                   std::string* bytes) override {
    bytes->resize(within(offset, size));
    std::size_t got = 0;
    while (got < bytes->size()) {
      const ssize_t read = ::pread(fd, bytes->data() + got, bytes->size() - got,
                                   static_cast<off_t>(offset + got));
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) {
        const int error = errno;
        bytes->resize(got);
        return failure(error);
      }
      if (read == 0) break;
      got += static_cast<std::size_t>(read);
    }
    bytes->resize(got);
    return {};
  }
  int fd;
};

/// A lock file's flock, held by its open descriptor.
struct file_lock : disk_lock {
  explicit file_lock(int fd) : fd(fd) {}
  ~file_lock() override { ::close(fd); }
  int fd;
};

/// Whether file `fd` carries ACL entries beyond its owner, group and others.
bool has_acl(int fd) {
#ifdef __linux__
  return fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0;
#else
  (void)fd;
  return false;
#endif
}

/// Makes lock file `fd`, of this user's, one that only its owner and group
/// may open: no ACL entry beyond them (a default ACL of the folder gives a
/// new file some), mode 0660 whatever the umask, and the folder's group.
bool keep_lock_to_its_group(int fd, const struct stat& status,
                            std::uint32_t folder_group) {
#ifdef __linux__
  if (has_acl(fd) && fremovexattr(fd, "system.posix_acl_access") != 0)
    return false;
#endif
  if (status.st_gid != folder_group &&
      fchown(fd, static_cast<uid_t>(-1), folder_group) != 0) {
    // Not a member of the folder's group: the file stays in this user's.
  }
  return (status.st_mode & 07777) == 0660 || fchmod(fd, 0660) == 0;
}

}  // namespace

std::uint32_t system_disk::user() {
  if (acting_user < 0) acting_user = geteuid(), acting_group = getegid();
  return static_cast<std::uint32_t>(acting_user);
}

bool system_disk::hard_links_protected() {
  // Asked once: the setting is the machine's, and a run is short.
  if (links_protected < 0) {
    links_protected = 0;
#ifdef __linux__
    const int fd = ::open("/proc/sys/fs/protected_hardlinks",
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    char setting = '0';
    if (fd >= 0) {
      if (::read(fd, &setting, 1) == 1) links_protected = setting == '1';
      ::close(fd);
    }
#endif
  }
  return links_protected == 1;
}

disk_status system_disk::give_up_root(std::uint32_t user, std::uint32_t group) {
  // Groups first, while root may still change them; the user last, which
  // ends every right to change anything back.
  acting_user = acting_group = -1;
  if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
      setresuid(user, user, user) != 0)
    return failure(errno);
  uid_t real, effective, saved;
  gid_t real_group, effective_group, saved_group;
  const bool gone =
      getresuid(&real, &effective, &saved) == 0 &&
      getresgid(&real_group, &effective_group, &saved_group) == 0 &&
      real == user && effective == user && saved == user &&
      real_group == group && effective_group == group && saved_group == group &&
      getgroups(0, nullptr) == 0 && setuid(0) != 0 && setgid(0) != 0;
  return gone ? disk_status() : refused("root could be regained");
}

disk_status system_disk::as_user(std::uint32_t user, std::uint32_t group,
                                 const user_work& work, std::string* bytes) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return failure(errno);
  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    ::close(pipe_ends[0]), ::close(pipe_ends[1]);
    return failure(error);
  }
  if (child == 0) {
    // The child: its status first (a result byte, the reason's length in
    // four bytes, the reason), then its bytes. It ends without any of the
    // parent's clean-up.
    ::close(pipe_ends[0]);
    std::string out;
    disk_status status = give_up_root(user, group);
    if (status.ok()) {
      try {
        status = work(*this, &out);
      } catch (const std::bad_alloc&) {
        status = refused("ran out of memory");
        out.clear();
      }
    }
    std::string head(1, static_cast<char>(status.result));
    for (int i = 0; i < 4; ++i)
      head += static_cast<char>(status.reason.size() >> (8 * i));
    _exit(write_all(pipe_ends[1], head + status.reason) &&
                  write_all(pipe_ends[1], out)
              ? 0
              : 1);
  }
  ::close(pipe_ends[1]);
  // The head, then the bytes straight where they go: a list of a gigabyte
  // is never copied.
  std::string head;
  bool read = read_exactly(pipe_ends[0], 5, &head);
  std::size_t reason = 0;
  for (int i = 0; read && i < 4; ++i)
    reason |= static_cast<std::size_t>(static_cast<unsigned char>(head[1 + i]))
              << (8 * i);
  std::string why;
  const std::size_t start = bytes->size();
  read = read && read_exactly(pipe_ends[0], reason, &why) &&
         read_all(pipe_ends[0], bytes);
  ::close(pipe_ends[0]);
  int ended = 0;
  while (waitpid(child, &ended, 0) < 0 && errno == EINTR) {
  }
  if (!read || !WIFEXITED(ended) || WEXITSTATUS(ended) != 0) {
    bytes->resize(start);
    return refused(
        "the process that reads as that user ended without an answer");
  }
  return {static_cast<disk_result>(head[0]), why};
}

disk_status system_disk::working_folders(std::vector<disk_folder>* folders) {
  // From the working folder up, by "..", to the folder that is its own
  // parent: "/".
  std::vector<disk_folder> up(1);
  identity at;
  if (disk_status opened = open_folder_at(AT_FDCWD, ".", &up[0], &at);
      !opened.ok())
    return opened;
  up[0].path = ".";
  for (;;) {
    disk_folder parent;
    identity above;
    const int fd = static_cast<const posix_handle&>(*up.back().handle).fd;
    if (disk_status opened = open_folder_at(fd, "..", &parent, &above);
        !opened.ok())
      return opened;
    if (above == at) break;
    parent.path = up.back().path == "." ? ".." : up.back().path + "/..";
    up.push_back(std::move(parent));
    at = above;
  }
  up.back().path = "/";
  folders->assign(std::make_move_iterator(up.rbegin()),
                  std::make_move_iterator(up.rend()));
  return {};
}

disk_status system_disk::open_folder(const disk_folder& at,
                                     const std::string& name,
                                     disk_folder* folder) {
  const at_name in(at, name);
  if (disk_status opened = open_folder_at(in.fd, in.name.c_str(), folder);
      !opened.ok())
    return opened;
  folder->path = shown_path(at, name);
  return {};
}

disk_status system_disk::entry_facts(const disk_folder& at,
                                     const std::string& name,
                                     file_facts* facts) {
  const at_name in(at, name);
  *facts = file_facts{};
  if (!stat_at(in.fd, in.name.c_str(), 0, facts)) {
    if (errno != ENOENT) return failure(errno);
    facts->kind = file_kind::missing;
    return {};
  }
  if (facts->kind == file_kind::regular || facts->kind == file_kind::folder)
    facts->may_write =
        faccessat(in.fd, in.name.c_str(),
                  facts->kind == file_kind::folder ? W_OK | X_OK : W_OK,
                  AT_EACCESS) == 0;
  return {};
}

disk_status system_disk::read_link(const disk_folder& at,
                                   const std::string& name,
                                   std::string* target) {
  const at_name in(at, name);
  char link[PATH_MAX];
  const ssize_t size = readlinkat(in.fd, in.name.c_str(), link, sizeof link);
  if (size < 0) return failure(errno);
  if (size == static_cast<ssize_t>(sizeof link))
    return refused("a link too long to be read");
  target->assign(link, static_cast<std::size_t>(size));
  return {};
}

disk_status system_disk::open_file(const disk_folder& at,
                                   const std::string& name,
                                   std::unique_ptr<readable_file>* file) {
  // O_NONBLOCK: a named pipe without a writer must not hold the run up.
  // O_NOFOLLOW: a link is walked, never opened.
  const at_name in(at, name);
  const int fd = open_at(in.fd, in.name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0)
    return errno == ELOOP ? refused("a symbolic link") : failure(errno);
  auto opened = std::make_unique<posix_file>(fd);
  struct stat status;
  if (fstat(fd, &status) != 0) return failure(errno);
  if (!S_ISREG(status.st_mode)) return refused(not_regular);
  opened->size = static_cast<std::uint64_t>(status.st_size);
  *file = std::move(opened);
  return {};
}

namespace {

/// Whether the file system of folder `at` takes the lock a run would take,
/// asked where there is no lock file yet, without making one: a shared
/// lock on the folder itself, let go at once, which holds no run up. Some
/// network file systems take none (ENOLCK): there a run keeps the rotation.
disk_status file_system_locks(const at_name& at) {
  const int fd = readable_folder(at_name(at.fd, "."));
  if (fd < 0) return {};  // a folder that can't be read: the run finds out
  int locked;
  // As the run tries: an interrupted call is tried again.
  for (int tries = 0; (locked = flock(fd, LOCK_SH | LOCK_NB)) != 0 &&
                      errno == EINTR && tries < 8;
       ++tries) {
  }
  const int error = errno;
  ::close(fd);
  return locked == 0 || error == EWOULDBLOCK ? disk_status() : failure(error);
}

}  // namespace

disk_status system_disk::lock(const disk_folder& at, const std::string& name,
                              unsigned wait_ms,
                              std::unique_ptr<disk_lock>* held) {
  // A file of the tool's own, not the folder: anyone who may list a folder
  // may open it and flock it, and so hold every run up. flock, not fcntl:
  // an fcntl lock ends when the process closes any descriptor of the file.
  const at_name in(at, name);
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  const int fd =
      open_at(in.fd, in.name.c_str(), held ? flags | O_CREAT : flags, 0660);
  if (fd < 0) {
    const int error = errno;
    file_facts there;
    const bool none =
        error == ENOENT ||
        (!stat_at(in.fd, in.name.c_str(), 0, &there) && errno == ENOENT);
    if (none && !held) return file_system_locks(in);
    if (none) return {disk_result::missing, std::strerror(error)};
    return error == ELOOP ? refused("a symbolic link") : failure(error);
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular);
  }
  // A lock file of the tool's own has one name: one with more may be
  // another file given this name (a hard link), whose mode a run would
  // change.
  if (status.st_nlink != 1) {
    ::close(fd);
    return refused(
        "a lock file with another name besides (a hard link): it may be "
        "another file; remove it, and a run makes its own");
  }
  // One that others may open lets them hold every run up: made so, or
  // refused where it isn't this user's to change.
  const bool mine = status.st_uid == user();
  if (held && mine && !keep_lock_to_its_group(fd, status, at.facts.group)) {
    ::close(fd);
    return refused("a lock file whose ACL entries can't be taken off");
  }
  if (!mine && ((status.st_mode & 0007) != 0 || has_acl(fd))) {
    ::close(fd);
    return refused(
        "a lock file of another user's that others may open too (mode or ACL "
        "entries): only its owner can change that");
  }
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 64 ? wait * 2 : wait) {
    // Only asked: a shared lock, let go at once, holds no run up.
    if (flock(fd, (held ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
      if (held) {
        *held = std::make_unique<file_lock>(fd);
        return {};
      }
      ::close(fd);
      return {};
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= wait_ms) break;
    pause_ms(wait);
    waited += wait;
  }
  const int error = errno;
  ::close(fd);
  if (error != EWOULDBLOCK) return failure(error);
  return {disk_result::busy, "held by another run for the whole wait"};
}

disk_status system_disk::write_new(const disk_folder& at,
                                   const std::string& name,
                                   std::string_view bytes,
                                   const file_facts* like) {
  const at_name in(at, name);
  const mode_t mode = like ? like->mode & 07777 : 0640;
  const int fd = open_at(in.fd, in.name.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode & 0777);
  if (fd < 0) return failure(errno);
  // Owner and group first, as changing them clears the set-id bits; each
  // only where it isn't what the system gave already. Only root may give a
  // file away; others keep what they may.
  const uid_t me = user(), owner = like ? like->owner : me;
  const gid_t group = like ? like->group : at.facts.group;
  const gid_t given = at.facts.mode & S_ISGID
                          ? at.facts.group
                          : static_cast<gid_t>(acting_group);
  const bool regrouped = owner != me || group != given;
  if (regrouped && fchown(fd, owner, group) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), group) != 0) {
    // This user's own file, in this user's group: as good as it gets.
  }
  // The umask, read once: a new file's mode passes through it.
  if (mask < 0) umask(static_cast<mode_t>(mask = static_cast<int>(umask(0))));
  if ((regrouped || (mode & static_cast<mode_t>(mask)) != 0 ||
       (mode & 07000) != 0) &&
      fchmod(fd, mode) != 0) {
    // The mode the system gave: the rotation still runs.
  }
  const bool written = write_all(fd, bytes);
  const int error = errno;
  if (::close(fd) == 0 && written) return {};
  const disk_status failed = failure(written ? errno : error);
  // What was written goes; where even that fails, the caller's clean-up of
  // its staged names (a run's leftovers) finds it later.
  const bool removed = unlinkat(in.fd, in.name.c_str(), 0) == 0;
  return {disk_result::failed,
          removed ? failed.reason
                  : failed.reason + "; the part written is left behind"};
}

disk_status system_disk::write_in_place(const disk_folder& at,
                                        const std::string& name,
                                        std::string_view bytes) {
  const at_name in(at, name);
  const int fd = open_at(in.fd, in.name.c_str(),
                         O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return failure(errno);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return refused(not_regular);
  }
  // Every other name of the file would change with it, and another user's
  // file is no file of this run's to change.
  if (status.st_nlink != 1 || status.st_uid != user()) {
    ::close(fd);
    return refused(status.st_nlink != 1 ? hard_linked_reason : not_own_reason);
  }
  const bool written = write_all(fd, bytes) &&
                       ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
                       fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) == 0 && written) return {};
  const disk_status failed = failure(written ? errno : error);
  return {disk_result::failed, failed.reason};
}

disk_status system_disk::hard_link(const disk_folder& at,
                                   const std::string& from,
                                   const std::string& link) {
  const at_name source(at, from), name(at, link);
  return linkat(source.fd, source.name.c_str(), name.fd, name.name.c_str(),
                0) == 0
             ? disk_status()
             : failure(errno);
}

disk_status system_disk::sync(const disk_folder& at,
                              const std::vector<std::string>& names) {
  const at_name folder(at, ".");
#ifdef __linux__
  // One syncfs makes every file and folder of the file system durable.
  if (names.size() > most_files_synced_one_by_one) {
    const int fd = readable_folder(folder);
    const bool synced = fd >= 0 && syncfs(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (synced) return {};
    return failure(error);
  }
#endif
  for (const std::string& name : names) {
    const at_name file(at, name);
    const int fd = name == "." ? readable_folder(folder)
                               : open_at(file.fd, file.name.c_str(),
                                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!synced) return failure(error);
  }
  return {};
}

disk_status system_disk::rename(const disk_folder& at, const std::string& from,
                                const std::string& to) {
  const at_name source(at, from), target(at, to);
  return renameat(source.fd, source.name.c_str(), target.fd,
                  target.name.c_str()) == 0
             ? disk_status()
             : failure(errno);
}

disk_status system_disk::exchange(const disk_folder& at, const std::string& a,
                                  const std::string& b) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
  const at_name first(at, a), second(at, b);
  return renameat2(first.fd, first.name.c_str(), second.fd, second.name.c_str(),
                   RENAME_EXCHANGE) == 0
             ? disk_status()
             : failure(errno);
#else
  (void)at, (void)a, (void)b;
  return {disk_result::failed, "this system swaps no names"};
#endif
}

disk_status system_disk::remove(const disk_folder& at,
                                const std::string& name) {
  const at_name in(at, name);
  return unlinkat(in.fd, in.name.c_str(), 0) == 0 ? disk_status()
                                                  : failure(errno);
}

disk_status system_disk::list_folder(const disk_folder& at,
                                     std::vector<std::string>* names) {
  const int fd = readable_folder(at_name(at, "."));
  DIR* entries = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!entries) {
    const disk_status failed = failure(errno);
    if (fd >= 0) ::close(fd);
    return failed;
  }
  while (const dirent* entry = readdir(entries))
    if (std::strcmp(entry->d_name, ".") != 0 &&
        std::strcmp(entry->d_name, "..") != 0)
      names->push_back(entry->d_name);
  closedir(entries);
  return {};
}

disk_status system_disk::free_space(const disk_folder& at, disk_room* room) {
  const int fd = readable_folder(at_name(at, "."));
  struct statvfs disk;
  const bool asked = fd >= 0 && fstatvfs(fd, &disk) == 0;
  const int error = errno;
  // Where the system can't tell, as most can: hard links are taken.
  const long most_names = asked ? fpathconf(fd, _PC_LINK_MAX) : -1;
  if (fd >= 0) ::close(fd);
  if (!asked) return failure(error);
  room->hard_links = most_names != 1;
  // A file system that counts no files (FAT) has no bound on them. Root
  // may use the blocks kept back for it.
  room->files = disk.f_files == 0 ? UINT64_MAX : disk.f_favail;
  room->blocks = user() == 0 ? disk.f_bfree : disk.f_bavail;
  room->block_size = disk.f_frsize;
  return {};
}
