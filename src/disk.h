#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

/// How a call on the disk ended.
enum class disk_result {
  done,
  /// Nothing is at the path.
  missing,
  /// Something is already at the path that was to be created.
  exists,
  /// The folder's lock: another run held it for the whole wait.
  busy,
  failed,
};

/// A folder's lock, held until it is destroyed or the process ends.
struct disk_lock {
  virtual ~disk_lock() = default;
};

/// What look() finds at a path, without opening it.
struct file_facts {
  /// done where something is there, else missing or failed.
  disk_result found = disk_result::missing;
  /// A regular file: not a folder, a pipe or a device.
  bool regular = false;
  /// Whether anyone may write it as far as its own flags say: on POSIX any
  /// write bit, on Windows no read-only attribute.
  bool write_flags = false;
  /// Whether this process may write it.
  bool may_write = false;
  /// Whether write_in_place() may write it: a regular file with no other
  /// name besides, and on POSIX one of this process's user.
  bool alone = false;
};

/// Every call a run makes on the disk, in paths and bytes, shaped like the
/// system's own, so that a test can run the tool on a disk in memory and
/// make any call fail. The real disk is system_disk. No call prints
/// anything; only lock() waits, and only as long as it is told. On Windows
/// a call on a file that another program holds for a moment (a virus
/// scanner, an indexer) is tried again inside it for about 2 s before it
/// fails, so no caller ever sees that; a folder in the way or a read-only
/// file fails at once.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// Makes runs take turns on the lock file `path`, a file of the tool's
  /// own, made where it is missing: takes its lock into `*held` (done),
  /// waiting up to `wait_ms` while another run holds it; busy where it was
  /// held all that time. Only those who may open the file can hold it: on
  /// POSIX a new lock file lets its owner and group open it and no one
  /// else, whatever the umask; on Windows it takes the folder's defaults.
  /// failed, and no lock, where it can't be opened or made, or isn't a
  /// regular file (a link is never followed).
  virtual disk_result lock(const std::string& path, unsigned wait_ms,
                           std::unique_ptr<disk_lock>* held) = 0;
  /// Appends the whole content of regular file `path` to `*bytes`. missing
  /// where nothing is there; failed where it can't be opened, is a symbolic
  /// link or not a regular file (a folder, a pipe: never waited on) or a
  /// read fails.
  virtual disk_result read_file(const std::string& path,
                                std::string* bytes) = 0;
  /// Sets `*bytes` to up to `size` bytes of regular file `path` from byte
  /// `offset` on (fewer where the file ends sooner), and `*file_size` to the
  /// whole file's size. Reads only those bytes, whatever the file's size, as
  /// LevelDB's RandomAccessFile::Read does. Unlike read_file it follows
  /// symbolic links, as the game does when it opens its archives and maps.
  /// missing where nothing is there (a link that leads nowhere too); failed
  /// where it can't be opened, isn't a regular file or a read fails.
  virtual disk_result read_range(const std::string& path, std::uint64_t offset,
                                 std::size_t size, std::string* bytes,
                                 std::uint64_t* file_size) = 0;
  /// Sets `*target` to the file that writing to `path` really changes, and
  /// `*facts` to what is there. Where `path` is a symbolic link (POSIX; even
  /// to a file not made yet), that is the file it points to, link after
  /// link; a link is followed only where it belongs to this process's user
  /// or to the owner of the folder it lies in, as Linux does in sticky
  /// folders that anyone may write. failed at a link that another user
  /// planted, or after too many; otherwise done, whatever is there. Windows
  /// follows no links.
  virtual disk_result look(const std::string& path, std::string* target,
                           file_facts* facts) = 0;
  /// Creates file `path`, which must not exist yet (else exists), holding
  /// `bytes`: on Windows they reach the disk before it returns, on POSIX at
  /// sync(). On POSIX it takes the mode, owner and group of file `like`
  /// where `like` exists, each as far as this process may set them; where
  /// it doesn't, the folder's group where this process may set it, and a
  /// mode that lets the owner read and write it and the group read it,
  /// whatever the umask. On Windows it takes the folder's defaults. Unless
  /// done, nothing that this call wrote is left at `path`.
  virtual disk_result write_new(const std::string& path, std::string_view bytes,
                                const std::string& like) = 0;
  /// Writes `bytes` over the existing regular file `path` in place (never
  /// through a symbolic link), without emptying it first, ends it there and
  /// makes it reach the disk. failed, and the file as it was, where it has
  /// another name besides (a hard link: every name would change with it)
  /// or, on POSIX, belongs to another user than this process's. Unless
  /// done, the file may hold anything.
  virtual disk_result write_in_place(const std::string& path,
                                     std::string_view bytes) = 0;
  /// Makes `link` a second name of file `from`, which must not exist yet
  /// (else exists). failed where the file system has no such names (FAT).
  virtual disk_result hard_link(const std::string& from,
                                const std::string& link) = 0;
  /// Makes the content of the files and the entries of the folders in
  /// `paths` reach the disk. POSIX: fsync of each, or on Linux, for many,
  /// syncfs of the file system of each one's folder. Windows: nothing, as
  /// write_new put every file's bytes on the disk and a folder can't be
  /// synced there.
  virtual disk_result sync(const std::vector<std::string>& paths) = 0;
  /// Puts file `from` in the place of file `to` in one step, replacing what
  /// is there; unless done, both are as they were. failed where `to` is a
  /// folder.
  virtual disk_result rename(const std::string& from,
                             const std::string& to) = 0;
  /// Deletes file `path`.
  virtual disk_result remove(const std::string& path) = 0;
  /// Appends the names of the entries of `folder` to `*names`, in no set
  /// order.
  virtual disk_result list_folder(const std::string& folder,
                                  std::vector<std::string>* names) = 0;
  /// Why the last call that didn't end done ended so, for a person to
  /// read: the system's own words for its error, or the rule of ours that
  /// refused it (a link not followed, not a regular file). Empty where no
  /// call has failed yet.
  virtual std::string failure_reason() const { return ""; }
};

/// The disk of the machine the tool runs on: disk_posix.cpp or
/// disk_windows.cpp.
struct system_disk : disk_interface {
  disk_result lock(const std::string& path, unsigned wait_ms,
                   std::unique_ptr<disk_lock>* held) override;
  disk_result read_file(const std::string& path, std::string* bytes) override;
  disk_result read_range(const std::string& path, std::uint64_t offset,
                         std::size_t size, std::string* bytes,
                         std::uint64_t* file_size) override;
  disk_result look(const std::string& path, std::string* target,
                   file_facts* facts) override;
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override;
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override;
  disk_result hard_link(const std::string& from,
                        const std::string& link) override;
  disk_result sync(const std::vector<std::string>& paths) override;
  disk_result rename(const std::string& from, const std::string& to) override;
  disk_result remove(const std::string& path) override;
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override;
  std::string failure_reason() const override { return reason; }

  /// What failure_reason() says.
  std::string reason;
};

/// A disk that forwards every call to another, `target`: the base of a disk
/// that changes only some of the calls, as the check's dry disk changes
/// those that write.
struct disk_wrapper : disk_interface {
  explicit disk_wrapper(disk_interface& target) : target(target) {}
  disk_result lock(const std::string& path, unsigned wait_ms,
                   std::unique_ptr<disk_lock>* held) override {
    return target.lock(path, wait_ms, held);
  }
  disk_result read_file(const std::string& path, std::string* bytes) override {
    return target.read_file(path, bytes);
  }
  disk_result read_range(const std::string& path, std::uint64_t offset,
                         std::size_t size, std::string* bytes,
                         std::uint64_t* file_size) override {
    return target.read_range(path, offset, size, bytes, file_size);
  }
  disk_result look(const std::string& path, std::string* found,
                   file_facts* facts) override {
    return target.look(path, found, facts);
  }
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override {
    return target.write_new(path, bytes, like);
  }
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override {
    return target.write_in_place(path, bytes);
  }
  disk_result hard_link(const std::string& from,
                        const std::string& link) override {
    return target.hard_link(from, link);
  }
  disk_result sync(const std::vector<std::string>& paths) override {
    return target.sync(paths);
  }
  disk_result rename(const std::string& from, const std::string& to) override {
    return target.rename(from, to);
  }
  disk_result remove(const std::string& path) override {
    return target.remove(path);
  }
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override {
    return target.list_folder(folder, names);
  }
  std::string failure_reason() const override {
    return target.failure_reason();
  }

  disk_interface& target;
};
