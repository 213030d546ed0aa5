#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/disk.h"

/// A disk that reads another and only pretends to write: nothing on that
/// disk changes. Whatever a call would change is kept in memory instead,
/// so that later calls of the same run see it; every call that changes
/// nothing goes to the other disk as it is. Its lock takes no lock and
/// waits for none: where the lock file is there, it asks once whether
/// another run holds it, holding nothing itself; where it isn't, it counts
/// the file the run would make. What it learns of a folder of the other
/// disk (its names, what is at each, whether a file may be made there, the
/// room left) it asks once, so that a run on a million maps costs no more
/// than a listing of each folder. The check runs the tool's own run on it,
/// so that what it reports is that run's own record.
struct dry_disk : disk_wrapper {
  explicit dry_disk(disk_interface& real) : disk_wrapper(real) {}

  /// Forgets what the runs so far would have changed, for another run on
  /// the same disk; what it learned of the other disk stays.
  void forget_changes() {
    for (auto& [path, view] : folders) view.changed.clear();
    made = blocks_made = 0;
  }

  disk_status entry_facts(const disk_folder& at, const std::string& name,
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
  disk_status exchange(const disk_folder& at, const std::string& a,
                       const std::string& b) override;
  disk_status remove(const disk_folder& at, const std::string& name) override;

 private:
  /// Whether something would be at `name` in `at` after the changes so far:
  /// done, or missing, or why it can't be told.
  disk_status found(const disk_folder& at, const std::string& name);
  /// Whether a file could be made, renamed or removed in `at`.
  disk_status may_change(const disk_folder& at);
  /// Whether the file system of `at` has room for one more new file of
  /// `size` bytes, beside those this run made.
  disk_status room_for(const disk_folder& at, std::size_t size);
  /// A folder of the other disk, by its identity (its path where that
  /// isn't known): whether it was listed and the
  /// names it holds, what was found at each name asked for, whether a file
  /// may be made there, and the room left; and its files as the changes
  /// would leave them, by name: a size, or -1 for none.
  struct folder_view {
    bool listed = false;
    std::unordered_set<std::string> names;
    std::unordered_map<std::string, file_facts> facts;
    bool asked = false;
    disk_status changes;
    bool room_asked = false;
    disk_status room_known;
    disk_room room;
    std::unordered_map<std::string, long long> changed;
    /// Names this run gave files that had one already (hard links).
    std::unordered_set<std::string> second_names;
  };
  folder_view& view_of(const disk_folder& at);
  /// The same, with the room left on its file system asked.
  folder_view& room_of(const disk_folder& at);
  std::unordered_map<std::string, folder_view> folders;
  /// Gives back the room of the file at `name` in `at`, which a removal or
  /// a rename over it frees where that was its only name.
  void give_back(const disk_folder& at, const std::string& name);
  /// The files and blocks this run took, less those it freed.
  long long made = 0, blocks_made = 0;
};
