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
/// disk is system_disk; no call prints anything or waits for ever.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// Makes runs in the folder of `path` take turns: waits until no other run
  /// holds it, then holds it until this disk is destroyed or the process
  /// ends. POSIX locks the folder; Windows can't lock a folder and locks
  /// `path` itself, a file that every run opens. False, and no lock, where
  /// that can't be opened.
  virtual bool lock(const std::string& path) = 0;
  /// Appends the whole content of regular file `path` to `*bytes`. missing
  /// where nothing is there; failed where it can't be opened, is not a
  /// regular file (a folder, a pipe: never waited on) or a read fails; busy
  /// where another program holds it (Windows only).
  virtual disk_result read_file(const std::string& path,
                                std::string* bytes) = 0;
  /// Whether file `path` may be replaced (done), is missing, or is frozen
  /// (failed): on POSIX not a regular file, without any write bit (to root
  /// as well) or not writable by this user; on Windows a folder or a file
  /// with the read-only attribute (one that another program holds counts
  /// as writable). Changes nothing.
  virtual disk_result writable(const std::string& path) = 0;
  /// Creates file `path`, which must not exist yet (else exists), holding
  /// `bytes`. On POSIX it takes the mode, owner and group of file `like`
  /// where `like` exists, each as far as this process may set them; on
  /// Windows it takes the folder's defaults, and the bytes reach the disk
  /// before it returns. Unless done, nothing that this
  /// call wrote is left at `path`.
  virtual disk_result write_new(const std::string& path, std::string_view bytes,
                                const std::string& like) = 0;
  /// Writes `bytes` over the existing file `path` in place, without emptying
  /// it first, ends it there and makes it reach the disk. Unless done, the
  /// file may hold anything.
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
  /// The file that writing to `path` really changes: on POSIX, where `path`
  /// is a symbolic link (even to a file not made yet), the file it points
  /// to; otherwise, and always on Windows, `path` itself.
  virtual std::string follow_link(const std::string& path) = 0;
  /// Waits `ms` milliseconds before a busy call is tried again.
  virtual void pause(unsigned ms) = 0;
};

/// The disk of the machine the tool runs on: disk_posix.cpp or
/// disk_windows.cpp.
struct system_disk : disk_interface {
  ~system_disk() override;
  bool lock(const std::string& path) override;
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
  std::string follow_link(const std::string& path) override;
  void pause(unsigned ms) override;
  /// Lets go of the lock that lock() took, if any.
  void unlock();

  /// The open folder or file that holds the lock: a descriptor on POSIX, a
  /// HANDLE on Windows; -1 while there is none.
  long long locked = -1;
};

/// Runs `call` until it is anything but busy, and returns that. While it is
/// busy it is tried again after 1 ms, then after twice as long each time,
/// for about 2 s in all, as a file held by another program is usually let
/// go soon; after that, busy counts as failed.
template <typename Call>
disk_result retry_while_busy(disk_interface& disk, const Call& call) {
  constexpr unsigned total_wait_ms = 2000;
  unsigned waited = 0;
  for (unsigned wait = 1;; wait *= 2) {
    const disk_result result = call();
    if (result != disk_result::busy) return result;
    if (waited >= total_wait_ms) return disk_result::failed;
    disk.pause(wait);
    waited += wait;
  }
}
