#pragma once

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
  /// Another program holds the file for now (on Windows a virus scanner or
  /// an indexer opens every new file): trying again soon may succeed.
  busy,
  failed,
};

/// Every call a run makes on the disk, in paths and bytes, so that a test
/// can run the tool on a disk in memory and make any call fail. The real
/// disk is system_disk; no call prints anything or waits for long: only
/// the retries above it wait.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// Makes runs in the folder of `path` take turns: takes the lock where no
  /// other run holds it (done) and holds it until this disk is destroyed or
  /// the process ends; busy, at once, where another run holds it. POSIX
  /// locks the folder; Windows can't lock a folder and locks `path` itself,
  /// a file that every run opens. failed, and no lock, where that can't be
  /// opened.
  virtual disk_result try_lock(const std::string& path) = 0;
  /// Appends the whole content of regular file `path` to `*bytes`. missing
  /// where nothing is there; failed where it can't be opened, is a symbolic
  /// link or not a regular file (a folder, a pipe: never waited on) or a
  /// read fails; busy where another program holds it (Windows only).
  virtual disk_result read_file(const std::string& path,
                                std::string* bytes) = 0;
  /// Whether file `path` may be replaced (done), is missing, or is frozen
  /// (failed): on POSIX a symbolic link or not a regular file, without any
  /// write bit (to root
  /// as well) or not writable by this user; on Windows a folder or a file
  /// with the read-only attribute (one that another program holds counts
  /// as writable). Changes nothing.
  virtual disk_result writable(const std::string& path) = 0;
  /// Creates file `path`, which must not exist yet (else exists), holding
  /// `bytes`. On POSIX it takes the mode, owner and group of file `like`
  /// where `like` exists, each as far as this process may set them; where
  /// it doesn't, the folder's group where this process may set it, and a
  /// mode that lets the owner read and write it and the group read it,
  /// whatever the umask. On Windows it takes the folder's defaults, and the
  /// bytes reach the disk before it returns. Unless done, nothing that this
  /// call wrote is left at `path`.
  virtual disk_result write_new(const std::string& path, std::string_view bytes,
                                const std::string& like) = 0;
  /// Writes `bytes` over the existing regular file `path` in place (never
  /// through a symbolic link), without emptying it first, ends it there and
  /// makes it reach the disk. Unless done, the file may hold anything.
  virtual disk_result write_in_place(const std::string& path,
                                     std::string_view bytes) = 0;
  /// Makes `copy`, which must not exist yet, hold what file `from` holds
  /// now, and keep it when `from` is replaced: a second name for the same
  /// file where the file system has them, else a copy of its bytes.
  virtual disk_result copy_file(const std::string& from,
                                const std::string& copy) = 0;
  /// Makes the content of the files and the entries of the folders in
  /// `paths` reach the disk. POSIX: fsync of each, or on Linux one syncfs
  /// of their file system for many. Windows: nothing, as write_new flushed
  /// every new file and replace writes through.
  virtual disk_result make_durable(const std::vector<std::string>& paths) = 0;
  /// Puts file `from` in the place of `to` in one step; unless done, both
  /// are as they were.
  virtual disk_result replace(const std::string& from,
                              const std::string& to) = 0;
  /// Deletes file `path`.
  virtual disk_result remove(const std::string& path) = 0;
  /// Appends the names of the entries of `folder` to `*names`, in no set
  /// order.
  virtual disk_result list_folder(const std::string& folder,
                                  std::vector<std::string>* names) = 0;
  /// Sets `*target` to the file that writing to `path` really changes: on
  /// POSIX, where `path` is a symbolic link (even to a file not made yet),
  /// the file it points to, link after link; otherwise `path` itself. A
  /// link is followed only where it belongs to this process's user or to
  /// the owner of the folder it lies in, as Linux does in sticky folders
  /// that anyone may write: failed at a link that another user planted, or
  /// after too many. Windows follows no links: always `path`, done.
  virtual disk_result follow_link(const std::string& path,
                                  std::string* target) = 0;
  /// Waits `ms` milliseconds before a busy call is tried again.
  virtual void pause(unsigned ms) = 0;
};

/// The disk of the machine the tool runs on: disk_posix.cpp or
/// disk_windows.cpp.
struct system_disk : disk_interface {
  ~system_disk() override;
  disk_result try_lock(const std::string& path) override;
  disk_result read_file(const std::string& path, std::string* bytes) override;
  disk_result writable(const std::string& path) override;
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override;
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override;
  disk_result copy_file(const std::string& from,
                        const std::string& copy) override;
  disk_result make_durable(const std::vector<std::string>& paths) override;
  disk_result replace(const std::string& from, const std::string& to) override;
  disk_result remove(const std::string& path) override;
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override;
  disk_result follow_link(const std::string& path,
                          std::string* target) override;
  void pause(unsigned ms) override;
  /// Lets go of the lock that try_lock() took, if any.
  void unlock();

  /// The open folder or file that holds the lock: a descriptor on POSIX, a
  /// HANDLE on Windows; -1 while there is none.
  long long locked = -1;
};

/// How long a run waits for another run that holds the folder: longer than
/// a run on a list of a million maps takes, and short enough that a stuck
/// process never holds up a server's start for good.
inline constexpr unsigned lock_wait_ms = 20000;

/// Runs `call` until it is anything but busy, and returns that. While it is
/// busy it is tried again after 1 ms, then after twice as long each time up
/// to a quarter of a second, for about `total_wait_ms` in all (2 s, as a
/// file held by another program is usually let go soon); after that it
/// returns busy.
template <typename Call>
disk_result retry_while_busy(disk_interface& disk, const Call& call,
                             unsigned total_wait_ms = 2000) {
  constexpr unsigned longest_wait_ms = 256;
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < longest_wait_ms ? wait * 2 : wait) {
    const disk_result result = call();
    if (result != disk_result::busy || waited >= total_wait_ms) return result;
    disk.pause(wait);
    waited += wait;
  }
}
