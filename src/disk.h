#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

/// How a step that another program can hold up for a moment ended.
enum class file_result {
  done,
  /// Another program holds the file for now (on Windows a virus scanner or
  /// an indexer opens every new file): trying again soon may succeed.
  busy,
  failed,
};

/// Every file operation a run makes, so that tests can make any one of them
/// fail. The real disk is system_disk; a test derives from it and overrides
/// the step it wants to break.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// Waits until no other run holds the folder of file `path`, then holds it
  /// until unlock() or the end of the process, whichever comes first. POSIX
  /// locks the folder itself; Windows can't lock a folder, so there `path`,
  /// a file that every run opens, is locked. False, and no lock, where what
  /// is to be locked can't be opened.
  virtual bool lock(const std::string& path) = 0;
  /// Lets go of the lock that lock() took.
  virtual void unlock() = 0;
  /// Appends the whole content of `path`, byte for byte, to `*contents`;
  /// false when it can't be opened or a read fails.
  virtual bool read_file(const std::string& path, std::string* contents) = 0;
  /// The file that writing to `path` really changes: where `path` is a
  /// symbolic link, the file it points to; otherwise `path` itself.
  virtual std::string final_path(const std::string& path) = 0;
  /// Whether anything, even a dangling symbolic link, is at `path`.
  virtual bool exists(const std::string& path) = 0;
  /// Whether `path` can be given new contents: it is missing, so it can be
  /// created, or it opens for writing. Changes nothing.
  virtual bool can_write(const std::string& path) = 0;
  /// Creates a new file of a unique name beside `path`, with the permissions
  /// that `path` has (those of a new file if `path` is missing), and stores
  /// its name in `*created`; null when no file can be created there.
  virtual std::FILE* create_beside(const std::string& path,
                                   std::string* created) = 0;
  /// Keeps the present content of file `path` under a new unique name beside
  /// it, stored in `*copy`, that stays when `path` is replaced.
  virtual bool keep_copy(const std::string& path, std::string* copy) = 0;
  /// Opens `path` for writing and empties it; null when it can't be opened.
  virtual std::FILE* open_for_writing(const std::string& path) = 0;
  /// Writes all of `bytes`; false on any failure.
  virtual bool write(std::FILE* file, std::string_view bytes) = 0;
  /// Hands what is buffered to the system; false on failure.
  virtual bool flush(std::FILE* file) = 0;
  /// Closes `file` in any case; false when closing reported a failure.
  virtual bool close(std::FILE* file) = 0;
  /// Puts file `from` in the place of `to` in one step; unless done, `to` is
  /// left as it was. A read-only `to` fails, never busy.
  virtual file_result replace(const std::string& from,
                              const std::string& to) = 0;
  /// Deletes `path`. A read-only `path` fails, never busy.
  virtual file_result remove(const std::string& path) = 0;
  /// Waits `ms` milliseconds before a busy step is tried again.
  virtual void pause(unsigned ms) = 0;
  /// Appends the names of the entries of `folder` to `*names`, in no set
  /// order; false when it can't be listed.
  virtual bool list_folder(const std::string& folder,
                           std::vector<std::string>* names) = 0;
};

/// The disk of the machine the tool runs on.
struct system_disk : disk_interface {
  ~system_disk() override;
  bool lock(const std::string& path) override;
  void unlock() override;
  bool read_file(const std::string& path, std::string* contents) override;
  std::string final_path(const std::string& path) override;
  bool exists(const std::string& path) override;
  bool can_write(const std::string& path) override;
  std::FILE* create_beside(const std::string& path,
                           std::string* created) override;
  bool keep_copy(const std::string& path, std::string* copy) override;
  std::FILE* open_for_writing(const std::string& path) override;
  bool write(std::FILE* file, std::string_view bytes) override;
  bool flush(std::FILE* file) override;
  bool close(std::FILE* file) override;
  file_result replace(const std::string& from, const std::string& to) override;
  file_result remove(const std::string& path) override;
  void pause(unsigned ms) override;
  bool list_folder(const std::string& folder,
                   std::vector<std::string>* names) override;

  /// The open file that holds the lock: a descriptor on POSIX, a HANDLE on
  /// Windows; -1 while there is none.
  std::intptr_t locked = -1;
};

/// Writes all of `bytes` to `file`, flushes and closes it; false when any of
/// the three failed. The file is closed in any case.
bool write_and_close(disk_interface& disk, std::FILE* file,
                     std::string_view bytes);

/// Runs `step` until it is done or fails for good. While it is busy it is
/// tried again after 1 ms, then after twice as long each time, for about
/// 2 s in all, as a file held by another program is usually let go soon.
bool retry_while_busy(disk_interface& disk,
                      const std::function<file_result()>& step);

/// What create_beside and keep_copy name their files: `path`, then
/// ".tmp." for a new file or ".old." for a kept copy, the process's number
/// and the attempt's, so that runs never share a name.
std::string name_beside(const std::string& path, std::string_view kind,
                        unsigned long process, int attempt);

/// Whether `name` is one that name_beside gives for a file `base`, of any
/// kind, process and attempt: a file that a run made beside `base`.
bool is_named_beside(std::string_view name, std::string_view base);

/// Copies file `path` into a new file beside it, named in `*copy`, through
/// `disk`: for file systems without hard links.
bool copy_beside(disk_interface& disk, const std::string& path,
                 std::string* copy);

/// The size in bytes of `file` where it is a regular file, else -1. Each
/// platform's system_disk defines it.
std::int64_t regular_file_size(std::FILE* file);
