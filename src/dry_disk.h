#pragma once

#include <map>
#include <string>
#include <vector>

#include "disk.h"

/// A disk that reads another and only pretends to write: nothing on that
/// disk changes, and no lock is taken or waited for, though the run is told
/// it holds one (so that it looks for what a killed run left). The check
/// runs the tool's own run on it, so that what it says a run would do is
/// what the run does.
struct dry_disk : disk_interface {
  explicit dry_disk(disk_interface& real) : real(real) {}

  /// One change that the run would have made.
  struct change {
    /// "write", "write over", "keep", "rename" or "remove".
    std::string what;
    std::string path;
    /// The bytes it would hold (write, write over, rename).
    std::size_t size = 0;
  };

  disk_result lock(const std::string&, unsigned,
                   std::unique_ptr<disk_lock>* held) override {
    *held = std::make_unique<disk_lock>();
    return disk_result::done;
  }
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
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override {
    return real.list_folder(folder, names);
  }

  disk_interface& real;
  /// What the run would have changed on the disk, in order: not the files
  /// it would make and remove again.
  std::vector<change> changes;

 private:
  /// Whether something would be at `path` after the changes so far.
  disk_result found(const std::string& path);
  /// Whether a file could be made, renamed or removed in `path`'s folder.
  bool may_change_folder_of(const std::string& path);
  /// Files as the changes would leave them: a size, or -1 for none.
  std::map<std::string, long long> files;
};
