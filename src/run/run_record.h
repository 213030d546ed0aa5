#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/disk.h"
#include "run/list_read.h"
#include "run/owner_decision.h"
#include "run/rotation_plan.h"

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

  /// What a run as root decided about root before it began.
  owner_decision owner;
  /// The map list as the run read it; its bytes, which the plan's names
  /// view, are kept alive here.
  list_read list;
  /// The plan made of the list and the run's seed, before anything on the
  /// disk changes: made wherever the list was read or isn't there, so that
  /// even a run that keeps the rotation tells what it would have written.
  bool planned = false;
  rotation_plan plan;

  /// The folder where the rotation lies, once found: the script's, and its
  /// lock file's.
  bool found = false;
  disk_folder folder;
  /// The script's name there: SW_rotate.cfg, or the name of the file that
  /// SW_rotate.cfg links to.
  std::string script_name;
  std::string lock_file;

  /// Whether the run got as far as carrying out its plan: past the lock,
  /// with a list that could be read.
  bool carried_out = false;
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
