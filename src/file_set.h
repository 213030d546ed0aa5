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
  /// Where the target's previous file is kept while the set goes in place,
  /// so that a failure can bring it back; empty where nothing is kept.
  std::string kept;
  bool placed = false;
};

/// Files that go in place together or not at all.
struct file_set {
  /// The folder they lie in, whose entries reach the disk once all are in.
  std::string folder = ".";
  /// Digits that set this run's new files and kept copies apart from those
  /// of any other run.
  std::string run = "0";
  /// In the order they go in place.
  std::vector<staged_file> files;
};

/// Writes `bytes` into a new file beside `target`, with the mode, owner and
/// group of `like`, and adds it to the end of `set`. Nothing in place
/// changes. False, and `set` as it was, when it couldn't be written.
bool stage_file(disk_interface& disk, file_set& set, const std::string& target,
                std::string_view bytes, const std::string& like);

/// Puts every file of `set` in place, one after another in the set's order,
/// after making them durable, and keeps what each replaces until all are
/// in, then lets the kept copies go. If the files in place formed a whole
/// chain after each step, they form one whatever fails: on a failure the
/// files placed get their previous file back, the one placed last first,
/// so that all are as they were; should that fail too, it stops there, at
/// a state the placing had passed through. False unless all went in place.
bool put_in_place(disk_interface& disk, file_set& set);

/// Removes the new files of a set that will not go in place.
void discard(disk_interface& disk, file_set& set);

/// Writes `bytes` over file `path` where it stands, for a folder where no
/// new file can be made: without emptying it first, and putting its
/// previous bytes back on a failure, so that a full disk leaves the old
/// file or the whole new one. False unless the new bytes are in.
bool write_over(disk_interface& disk, const std::string& path,
                std::string_view bytes);

/// The path of `name` in `folder`: the name alone in the working folder.
std::string path_in(const std::string& folder, const std::string& name);

/// The name of the file beside which staging, in any run, gives a new file
/// or a kept copy the name `name`; empty where `name` is no such name, as
/// no copy an operator makes is.
std::string_view named_beside(std::string_view name);

/// Removes from `folder` the new files and kept copies that staging beside
/// a file named as `is_target` accepts left there: those of a run that
/// ended before it could. Only safe while no other run can stage there.
void remove_leftovers(disk_interface& disk, const std::string& folder,
                      const std::function<bool(std::string_view)>& is_target);
