#pragma once

#include <map>
#include <string>
#include <vector>

#include "disk.h"

/// A disk that reads another and only pretends to write: nothing on that
/// disk changes. Whatever a call would change is kept in memory instead,
/// so that later calls of the same run see it; every call that changes
/// nothing goes to the other disk as it is. Its lock takes no lock and
/// waits for none: where the lock file is there, it asks once whether
/// another run holds it, and says busy where one does. The check runs the
/// tool's own run on it, so that what it reports is that run's own record.
struct dry_disk : disk_wrapper {
  explicit dry_disk(disk_interface& real) : disk_wrapper(real) {}

  disk_result lock(const std::string& path, unsigned wait_ms,
                   std::unique_ptr<disk_lock>* held) override;
  disk_result read_file(const std::string& path, std::string* bytes) override;
  disk_result look(const std::string& path, std::string* target,
                   file_facts* facts) override;
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override;
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override;
  disk_result hard_link(const std::string& from,
                        const std::string& link) override;
  disk_result sync(const std::vector<std::string>&) override {
    return disk_result::done;
  }
  disk_result rename(const std::string& from, const std::string& to) override;
  disk_result remove(const std::string& path) override;
  std::string failure_reason() const override { return reason; }

 private:
  /// Whether something would be at `path` after the changes so far.
  disk_result found(const std::string& path);
  /// Whether a file could be made, renamed or removed in `path`'s folder.
  bool may_change_folder_of(const std::string& path);
  /// Whether the file system of `path`'s folder has room for one more new
  /// file of `size` bytes, beside those this run made.
  bool room_for(const std::string& path, std::size_t size);
  /// `result` of a call on the other disk, with its reason where it failed.
  disk_result forwarded(disk_result result);
  /// A call refused here, for `why`.
  disk_result refused(const std::string& why);
  /// Files as the changes would leave them: a size, or -1 for none.
  std::map<std::string, long long> files;
  /// The new files this run made, and the blocks they take.
  unsigned long long made = 0, blocks_made = 0;
  std::string reason;
};
