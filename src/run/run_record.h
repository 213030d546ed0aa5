#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "platform/words.h"
#include "run/map_list.h"

/// What one run did and why, recorded where each decision is made, so that
/// no one else has to guess it afterwards. The tool prints none of it;
/// map_rotation_check prints all of it.
struct run_record {
  run_record() = default;
  /// Never copied or moved, so that no copy outlives what it holds.
  run_record(const run_record&) = delete;
  run_record& operator=(const run_record&) = delete;

  /// What became of the rotation.
  enum class outcome {
    /// Every file of the rotation is as it was: `why` says why.
    kept,
    /// The new rotation is in place.
    placed,
    /// What was in place is the new rotation already: nothing changed.
    unchanged,
  };
  outcome result = outcome::kept;
  /// Why the rotation was kept, for a person to read.
  std::string why;

  /// The map list: the file read, how reading it ended, its bytes (which
  /// the rotation's names view, kept alive here), the text read of them and
  /// how it was written.
  std::string list_file;
  disk_status list_read{disk_result::missing};
  std::shared_ptr<const std::string> list_bytes;
  std::string_view list_text;
  list_encoding encoding = list_encoding::plain;

  /// The folder where the rotation lies, once found: the script's, and its
  /// lock file's.
  bool found = false;
  disk_folder folder;
  std::string lock_file;

  /// The order of play, where the run got as far as ordering the list,
  /// and the files of the rotation script it takes.
  bool ordered = false;
  std::vector<map_entry> rotation;
  std::size_t parts = 0;
  /// The files put in place, in order, with their sizes: the parts, then
  /// the steps back.
  std::vector<std::pair<std::string, std::size_t>> files;
  /// What a killed run had left that this run removed.
  std::vector<std::string> removed;

  /// Records that the rotation stays as it is, because of `because`.
  void keep(std::string because) {
    result = outcome::kept;
    why = std::move(because);
  }
};
