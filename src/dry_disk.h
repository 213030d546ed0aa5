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
/// another run holds it, holding nothing itself; where it isn't, it counts
/// the file the run would make. The check runs the tool's own run on it,
/// so that what it reports is that run's own record.
struct dry_disk : disk_wrapper {
  explicit dry_disk(disk_interface& real) : disk_wrapper(real) {}

  disk_status look(const disk_folder& at, const std::string& name,
                   file_facts* facts) override;
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
  disk_status sync(const disk_folder&,
                   const std::vector<std::string>&) override {
    return {};
  }
  disk_status rename(const disk_folder& at, const std::string& from,
                     const std::string& to) override;
  disk_status remove(const disk_folder& at, const std::string& name) override;

 private:
  /// Whether something would be at `name` in `at` after the changes so far.
  disk_result found(const disk_folder& at, const std::string& name);
  /// Whether a file could be made, renamed or removed in `at`.
  disk_status may_change(const disk_folder& at);
  /// Whether the file system of `at` has room for one more new file of
  /// `size` bytes, beside those this run made.
  disk_status room_for(const disk_folder& at, std::size_t size);
  /// Files as the changes would leave them, by path: a size, or -1 for
  /// none.
  std::map<std::string, long long> files;
  /// The new files this run made, and the blocks they take.
  unsigned long long made = 0, blocks_made = 0;
};
