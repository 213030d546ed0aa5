#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "disk.h"

/// One file on its way into place.
struct staged_file {
  /// The file it replaces, or creates.
  std::string target;
  /// The new file, written beside the target under a name of its own.
  std::string temp;
  /// The target's previous content while the set is put in place, so that
  /// a failure can bring it back; empty where there was no target.
  std::string backup;
  bool placed = false;
};

/// Files that go in place together or not at all, in the order they go in
/// place.
using file_set = std::vector<staged_file>;

/// Writes `bytes` into a new file beside `target` and adds it to the end of
/// `*set`. Nothing in place changes. False when the new file couldn't be
/// created (then `*set` is as it was) or written.
bool stage_file(disk_interface& disk, const std::string& target,
                std::string_view bytes, file_set* set);

/// Puts every file of `set` in place, one after another in the set's order,
/// keeping what each replaces until all are in place, then lets the kept
/// copies go. On any failure the files already placed get their previous
/// content back, the one placed last first, the new files are removed, and
/// every target is as it was: false.
bool put_in_place(disk_interface& disk, file_set& set);

/// Removes the new files of a set that will not go in place.
void discard(disk_interface& disk, file_set& set);

/// Removes from `folder` what staging beside a file named as `is_target`
/// accepts left there: the new files and kept copies of a run that ended
/// before it could remove them. Only safe while no other run can stage
/// there.
void remove_leftovers(disk_interface& disk, const std::string& folder,
                      const std::function<bool(std::string_view)>& is_target);
