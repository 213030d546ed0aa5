#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"
#include "walk/file_place.h"

/// One file on its way into place, in the folder of its target.
struct staged_file {
  /// Shared by the files staged in one folder: a rotation of a million maps
  /// stages 30,000.
  std::shared_ptr<const disk_folder> folder;
  /// The name of the file it replaces, or creates, and what was there.
  std::string target;
  file_facts was;
  /// The new file, written beside the target under a name of its own.
  std::string temp;
  /// Where the target's previous file is kept while the set goes in place,
  /// so that a failure can bring it back; empty where nothing is kept.
  std::string kept_copy;
  bool placed = false;
  /// The bytes of the new file.
  std::size_t size = 0;
  /// The target, for a person to read.
  std::string shown() const { return shown_path(*folder, target); }
};

/// Files that go in place together or not at all, in the order they are
/// staged: each is placed only after all before it.
struct file_set {
  /// Digits that set this set's new files and kept copies apart from those
  /// of any other.
  std::string run = "0";
  /// A deque: a rotation of a million maps stages 30,000 files, and an
  /// array that grows by copying would hold two of them at once.
  std::deque<staged_file> files;
  /// Whether the file system swaps two names in one step, until a swap
  /// fails: then the set keeps replaced files by a second name instead.
  bool swaps_names = true;
  /// Why the set could not go in place, where it couldn't.
  std::string failure;
};

/// Writes `bytes` into a new file beside `target`, with the mode, owner and
/// group of `like` (where null, those of a file of its own: write_new), and
/// adds it to the end of `set`. Nothing in place changes. Unless done,
/// `set` is as it was.
disk_status stage_file(disk_interface& disk, file_set& set,
                       const file_place& target, std::string_view bytes,
                       const file_facts* like);

/// Puts every file of `set` in place, one after another in the set's order,
/// after making them durable, and keeps what each replaces until all are
/// in, and the entries of their folders too, then lets the kept copies go. If
/// the files in place formed a whole chain after each step, they form one
/// whatever fails: on a failure or on running out of memory, the files placed
/// get their previous file back, the one placed last first, so that all are as
/// they were; should that fail too, it stops there, at a state the placing had
/// passed through. False unless all went in place, with the reason in
/// `set.failure`.
bool put_in_place(disk_interface& disk, file_set& set);

/// Removes the new files of a set that will not go in place.
void discard(disk_interface& disk, file_set& set);

/// The name of the file beside which a set, in any run, gives a new file
/// or a kept copy the name `name`; empty where `name` is no such name, as
/// no copy an operator makes is. Such a file outlives its run only where
/// that run was killed.
std::string_view named_beside(std::string_view name);
