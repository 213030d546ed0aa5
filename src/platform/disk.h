#pragma once

#include <cassert>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// How a call on the disk ended.
enum class disk_result {
  done,
  /// Nothing is at the name.
  missing,
  /// Something is already at the name that was to be created.
  exists,
  /// A lock that another run held for the whole wait.
  busy,
  failed,
};

/// How a call ended and why, for a person to read: the system's own words
/// for its error, or the rule of ours that refused it. Each call returns
/// its own, so that no call in between can overwrite the reason of another
/// (LevelDB's Status). Every call's status is to be looked at: one that is
/// dropped must say so, with (void) and why.
struct [[nodiscard]] disk_status {
  /// done.
  disk_status() = default;
  /// Ended as `result`, because of `reason`: a call that didn't succeed
  /// always says why.
  disk_status(disk_result result, std::string reason)
      : result(result), reason(std::move(reason)) {
    assert(result == disk_result::done || !this->reason.empty());
  }
  bool ok() const { return result == disk_result::done; }
  friend bool operator==(const disk_status& status, disk_result result) {
    return status.result == result;
  }
  friend bool operator!=(const disk_status& status, disk_result result) {
    return status.result != result;
  }
  friend bool operator==(disk_result result, const disk_status& status) {
    return status.result == result;
  }
  disk_result result = disk_result::done;
  std::string reason;
};

/// The reasons system_disk gives where a rule of its own refuses a call,
/// for any disk that answers as it does.
constexpr const char* not_regular_reason =
    "not a regular file (a folder, a pipe)";
constexpr const char* hard_linked_reason =
    "a file with another name besides (a hard link)";
constexpr const char* not_own_reason = "a file of another user's";

/// What a name is.
enum class file_kind { missing, regular, folder, link, other };

/// What is at a name, as the system tells it without opening it or
/// following a link.
struct file_facts {
  file_kind kind = file_kind::missing;
  /// POSIX owner and group; 0 on Windows.
  std::uint32_t owner = 0, group = 0;
  /// The permission bits with the set-id and sticky bits (07777). Windows:
  /// 0444 for a read-only file, else 0666; a folder 0777.
  std::uint32_t mode = 0;
  std::uint64_t size = 0;
  /// How many names the file has (hard links).
  std::uint64_t link_count = 1;
  /// Linux's append-only and immutable flags (chattr +a, +i): such a file
  /// can be neither replaced nor removed, and in such a folder no name can
  /// be replaced or removed.
  bool append_only = false, immutable = false;
  /// Whether this process may write it, asked of the system (POSIX: ACLs
  /// and the flags above included). Asked for a regular file or a folder
  /// only.
  bool may_write = false;
  /// Whether any write bit is set: none means read-only, for root as well.
  bool write_flags() const { return (mode & 0222) != 0; }
};

/// A handle that a disk keeps for a folder it opened.
struct disk_handle {
  virtual ~disk_handle() = default;
};

/// A folder that the disk holds open, so that every later call names a
/// file in it and no call resolves the folder's path again (POSIX: a
/// descriptor, O_PATH on Linux, kept until the last copy goes; a call given
/// a folder the disk didn't open fails). Windows holds its path instead, and
/// each call looks the folder up by it again.
struct disk_folder {
  /// How the walk reached it, for a person to read: from the working
  /// folder (".", "..", "game") or from "/".
  std::string path;
  std::shared_ptr<const disk_handle> handle;
  /// What the folder was when it was opened.
  file_facts facts;
  /// Which folder it is: two folders with the same pair, not 0, are one
  /// (POSIX: its device and inode); 0 where it isn't known (Windows).
  std::uint64_t device = 0, inode = 0;
};

/// The path of `name` in `folder`, for a person to read.
std::string shown_path(const disk_folder& folder, const std::string& name);

/// A file held open for reading at any offset, so that all the pieces read
/// come from the one file that was opened (LevelDB's RandomAccessFile).
struct readable_file {
  virtual ~readable_file() = default;
  /// Sets `*bytes` to up to `size` bytes from `offset` on; fewer where the
  /// file ends sooner. Reads only those bytes.
  virtual disk_status read(std::uint64_t offset, std::size_t size,
                           std::string* bytes) = 0;
  /// The file's size when it was opened.
  std::uint64_t size = 0;

 protected:
  /// How many of `count` bytes from `offset` on lie within `size`.
  std::size_t within(std::uint64_t offset, std::size_t count) const {
    const std::uint64_t there = offset < size ? size - offset : 0;
    return static_cast<std::size_t>(count < there ? count : there);
  }
};

/// A lock file's lock, held until it is destroyed or the process ends.
struct disk_lock {
  virtual ~disk_lock() = default;
};

/// What a file system has left for this process: files, and blocks of
/// `block_size` bytes; and whether it gives a file more names than one
/// (FAT doesn't).
struct disk_room {
  std::uint64_t files = 0, blocks = 0, block_size = 0;
  bool hard_links = true;
};

/// Every call a run makes on the disk, shaped like the system's own, so
/// that a test can run the tool on a disk in memory and make any call
/// fail. The real disk is system_disk. A file is named by its name in a
/// folder the disk holds open: a path is walked one name at a time
/// (folder_walk.h), and nothing is looked up again by its path. On Windows
/// the folder is its path, which the system resolves anew on every call,
/// following a link or junction on the way, as the game's own opens do. At
/// its end open_file, open_folder and entry_facts follow one too,
/// lock and write_in_place refuse one, and rename, remove and hard_link act
/// on the link itself; read_link reads none, and no one is root. No call
/// prints anything; only lock() waits, and only as long as it is told, and
/// as_user() for the work it runs apart. On
/// Windows a call on a file that another program holds for a moment (a
/// virus scanner, an indexer) is tried again inside it for about 2 s
/// before it fails; a folder in the way or a read-only file fails at once.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// The user this process acts as: 0 for root. Never 0 on Windows.
  virtual std::uint32_t user() = 0;
  /// Whether no user may give a file that isn't theirs another name (a
  /// hard link), as Linux's fs.protected_hardlinks = 1 rules: then a file
  /// of root's with more names was given them by root. False where the
  /// system lets anyone (other POSIX systems, that setting at 0); true on
  /// Windows, which has no root.
  virtual bool hard_links_protected() = 0;
  /// Gives up root for good for `user`, in `group` and no other, and
  /// checks that it is gone: real, effective and saved ids, and no
  /// supplementary group. failed where it couldn't be.
  virtual disk_status give_up_root(std::uint32_t user, std::uint32_t group) = 0;
  /// What `work` does as another user: it is given a disk and adds bytes.
  using user_work = std::function<disk_status(disk_interface&, std::string*)>;
  /// Runs `work` as `user` in `group`, apart from this process, which keeps
  /// its rights (POSIX: in a child that gives up root for good first), and
  /// appends the bytes it gave to `*bytes`: its status, or failed where it
  /// couldn't run.
  virtual disk_status as_user(std::uint32_t user, std::uint32_t group,
                              const user_work& work, std::string* bytes) = 0;

  /// Sets `*folders` to the folders from "/" down to the working folder,
  /// each open, the working folder last (path "."; above it "..", "../..",
  /// and "/"). Windows: the working folder alone.
  virtual disk_status working_folders(std::vector<disk_folder>* folders) = 0;
  /// Opens folder `name` in `at` into `*folder`: never through a symbolic
  /// link (failed; on Windows, through it), and its facts are those of
  /// what was opened.
  virtual disk_status open_folder(const disk_folder& at,
                                  const std::string& name,
                                  disk_folder* folder) = 0;
  /// Sets `*facts` to what is at `name` in `at`, without following a link
  /// (on Windows: what a link or junction leads to, as the path is taken):
  /// done, with kind missing where nothing is there; failed where it can't
  /// be asked.
  virtual disk_status entry_facts(const disk_folder& at,
                                  const std::string& name,
                                  file_facts* facts) = 0;
  /// Sets `*target` to what symbolic link `name` in `at` holds.
  virtual disk_status read_link(const disk_folder& at, const std::string& name,
                                std::string* target) = 0;

  /// Opens regular file `name` in `at` for reading. missing where nothing
  /// is there; failed where it is a symbolic link (never followed; on
  /// Windows followed, as the game's own open follows it), not a
  /// regular file (a folder, a pipe: never waited on) or can't be opened.
  virtual disk_status open_file(const disk_folder& at, const std::string& name,
                                std::unique_ptr<readable_file>* file) = 0;
  /// Makes runs take turns on the lock file `name` in `at`, a file of the
  /// tool's own, made where it is missing: takes its lock into `*held`
  /// (done), waiting up to `wait_ms` while another run holds it (busy).
  /// Only the file's owner and group may open it: it is made 0660 whatever
  /// the umask, and any ACL entry beyond those is taken off (POSIX; on
  /// Windows it takes the folder's defaults). missing where there is none
  /// and none can be made (a folder this user may not write, a full disk);
  /// failed where one is there that can't be used: it can't be opened,
  /// isn't a regular file (a link or junction is never followed), has
  /// another name besides (a hard link: it may be another file), or carries ACL
  /// entries that can't be taken off. Where `held` is null it only asks,
  /// holding nothing and making nothing: done where no run holds it and,
  /// where there is no lock file yet, where the file system takes such a
  /// lock at all (POSIX: a shared lock on the folder, let go at once; some
  /// network file systems take none, ENOLCK).
  virtual disk_status lock(const disk_folder& at, const std::string& name,
                           unsigned wait_ms,
                           std::unique_ptr<disk_lock>* held) = 0;
  /// Creates file `name` in `at`, which must not exist yet (else exists),
  /// holding `bytes`: on Windows they reach the disk before it returns, on
  /// POSIX at sync(). On POSIX it takes the mode, owner and group of
  /// `like` where given, each as far as this process may set them; where
  /// not, the folder's group where this process may set it, and mode 0640
  /// (its owner reads and writes it, its group reads it), whatever the
  /// umask. On Windows it takes the folder's defaults. Unless done, what
  /// this call wrote is removed again, or, where even that fails, the
  /// reason says it is left behind.
  virtual disk_status write_new(const disk_folder& at, const std::string& name,
                                std::string_view bytes,
                                const file_facts* like) = 0;
  /// Writes `bytes` over the existing regular file `name` in `at` in place
  /// (never through a symbolic link, nor on Windows through a junction or
  /// any other reparse point), without emptying it first, ends it there
  /// and makes it reach the disk. failed, and the file as it was, where it
  /// is a link, has another name besides (a hard link: every name would
  /// change with it) or, on POSIX, belongs to another user than this
  /// process's. Unless done, the file may hold anything.
  virtual disk_status write_in_place(const disk_folder& at,
                                     const std::string& name,
                                     std::string_view bytes) = 0;
  /// Makes `link` in `at` a second name of file `from` in `at`, which must
  /// not exist yet (else exists). failed where the file system has no such
  /// names (FAT).
  virtual disk_status hard_link(const disk_folder& at, const std::string& from,
                                const std::string& link) = 0;
  /// Makes the content of the files `names` in `at` reach the disk, and,
  /// where a name is ".", the folder's entries. POSIX: fsync of each, or on
  /// Linux, for many, one syncfs. Windows: nothing, as write_new put every
  /// file's bytes on the disk and a folder can't be synced there.
  virtual disk_status sync(const disk_folder& at,
                           const std::vector<std::string>& names) = 0;
  /// Puts file `from` in `at` in the place of file `to` in `at` in one
  /// step, replacing what is there; unless done, both are as they were.
  /// failed where `to` is a folder.
  virtual disk_status rename(const disk_folder& at, const std::string& from,
                             const std::string& to) = 0;
  /// Swaps files `a` and `b` in `at` in one step, each name then holding
  /// what the other held (Linux: renameat2 with RENAME_EXCHANGE); unless
  /// done, both are as they were. failed where either isn't there, and
  /// where the system or the file system can't swap names (other POSIX
  /// systems, Windows, some file systems): the caller then does it in
  /// steps of its own.
  virtual disk_status exchange(const disk_folder& at, const std::string& a,
                               const std::string& b) = 0;
  /// Deletes file `name` in `at`.
  virtual disk_status remove(const disk_folder& at,
                             const std::string& name) = 0;
  /// Appends the names of the entries of `at` to `*names`, in no set
  /// order, without "." and "..".
  virtual disk_status list_folder(const disk_folder& at,
                                  std::vector<std::string>* names) = 0;
  /// Sets `*room` to how many files and blocks this process may still add
  /// to the file system of `at`. failed where that can't be asked
  /// (Windows).
  virtual disk_status free_space(const disk_folder& at, disk_room* room) = 0;
};

/// Appends the whole of regular file `name` in `at` to `*bytes`, as
/// open_file() opens it.
disk_status read_whole(disk_interface& disk, const disk_folder& at,
                       const std::string& name, std::string* bytes);

/// The disk of the machine the tool runs on: disk_posix.cpp or
/// disk_windows.cpp.
struct system_disk : disk_interface {
  std::uint32_t user() override;
  bool hard_links_protected() override;
  disk_status give_up_root(std::uint32_t user, std::uint32_t group) override;
  disk_status as_user(std::uint32_t user, std::uint32_t group,
                      const user_work& work, std::string* bytes) override;
  disk_status working_folders(std::vector<disk_folder>* folders) override;
  disk_status open_folder(const disk_folder& at, const std::string& name,
                          disk_folder* folder) override;
  disk_status entry_facts(const disk_folder& at, const std::string& name,
                          file_facts* facts) override;
  disk_status read_link(const disk_folder& at, const std::string& name,
                        std::string* target) override;
  disk_status open_file(const disk_folder& at, const std::string& name,
                        std::unique_ptr<readable_file>* file) override;
  disk_status lock(const disk_folder& at, const std::string& name,
                   unsigned wait_ms, std::unique_ptr<disk_lock>* held) override;
  disk_status write_new(const disk_folder& at, const std::string& name,
                        std::string_view bytes,
                        const file_facts* like) override;
  disk_status write_in_place(const disk_folder& at, const std::string& name,
                             std::string_view bytes) override;
  disk_status hard_link(const disk_folder& at, const std::string& from,
                        const std::string& link) override;
  disk_status sync(const disk_folder& at,
                   const std::vector<std::string>& names) override;
  disk_status rename(const disk_folder& at, const std::string& from,
                     const std::string& to) override;
  disk_status exchange(const disk_folder& at, const std::string& a,
                       const std::string& b) override;
  disk_status remove(const disk_folder& at, const std::string& name) override;
  disk_status list_folder(const disk_folder& at,
                          std::vector<std::string>* names) override;
  disk_status free_space(const disk_folder& at, disk_room* room) override;

  /// The umask (POSIX), read where a new file's mode is first set; the
  /// user and group this process acts as, asked once and again only once
  /// root is given up.
  int mask = -1;
  std::int64_t acting_user = -1, acting_group = -1;
  /// Whether hard links are protected: -1 until asked.
  int links_protected = -1;
};

/// A disk that forwards every call to another, `target`: the base of a disk
/// that changes only some of the calls, as the check's dry disk changes
/// those that write.
struct disk_wrapper : disk_interface {
  explicit disk_wrapper(disk_interface& target) : target(target) {}
  std::uint32_t user() override { return target.user(); }
  bool hard_links_protected() override { return target.hard_links_protected(); }
  disk_status give_up_root(std::uint32_t user, std::uint32_t group) override {
    return target.give_up_root(user, group);
  }
  disk_status as_user(std::uint32_t user, std::uint32_t group,
                      const user_work& work, std::string* bytes) override {
    return target.as_user(user, group, work, bytes);
  }
  disk_status working_folders(std::vector<disk_folder>* folders) override {
    return target.working_folders(folders);
  }
  disk_status open_folder(const disk_folder& at, const std::string& name,
                          disk_folder* folder) override {
    return target.open_folder(at, name, folder);
  }
  disk_status entry_facts(const disk_folder& at, const std::string& name,
                          file_facts* facts) override {
    return target.entry_facts(at, name, facts);
  }
  disk_status read_link(const disk_folder& at, const std::string& name,
                        std::string* link) override {
    return target.read_link(at, name, link);
  }
  disk_status open_file(const disk_folder& at, const std::string& name,
                        std::unique_ptr<readable_file>* file) override {
    return target.open_file(at, name, file);
  }
  disk_status lock(const disk_folder& at, const std::string& name,
                   unsigned wait_ms,
                   std::unique_ptr<disk_lock>* held) override {
    return target.lock(at, name, wait_ms, held);
  }
  disk_status write_new(const disk_folder& at, const std::string& name,
                        std::string_view bytes,
                        const file_facts* like) override {
    return target.write_new(at, name, bytes, like);
  }
  disk_status write_in_place(const disk_folder& at, const std::string& name,
                             std::string_view bytes) override {
    return target.write_in_place(at, name, bytes);
  }
  disk_status hard_link(const disk_folder& at, const std::string& from,
                        const std::string& link) override {
    return target.hard_link(at, from, link);
  }
  disk_status sync(const disk_folder& at,
                   const std::vector<std::string>& names) override {
    return target.sync(at, names);
  }
  disk_status rename(const disk_folder& at, const std::string& from,
                     const std::string& to) override {
    return target.rename(at, from, to);
  }
  disk_status exchange(const disk_folder& at, const std::string& a,
                       const std::string& b) override {
    return target.exchange(at, a, b);
  }
  disk_status remove(const disk_folder& at, const std::string& name) override {
    return target.remove(at, name);
  }
  disk_status list_folder(const disk_folder& at,
                          std::vector<std::string>* names) override {
    return target.list_folder(at, names);
  }
  disk_status free_space(const disk_folder& at, disk_room* room) override {
    return target.free_space(at, room);
  }

  disk_interface& target;
};
