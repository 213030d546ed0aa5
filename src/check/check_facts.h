#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "check/list_analysis.h"
#include "check/map_lookup.h"
#include "check/rotation_in_place.h"
#include "check/server_config.h"
#include "check/server_status.h"
#include "run/run_record.h"

/// Another order of the same list, which takes another number of files,
/// and the record of a dry run with its seed.
struct other_order {
  std::uint32_t seed = 0;
  std::size_t parts = 0;
  std::unique_ptr<run_record> record;
};

/// What the run does: the record of the tool's own run on a disk that only
/// pretends to write, and of other orders that take another number of
/// files.
struct run_facts {
  std::unique_ptr<run_record> own = std::make_unique<run_record>();
  /// Where the run as root gives up root: whom it acts as, for a person.
  std::string user, group;
  std::vector<other_order> others;
  /// Names in the rotation's folder that differ from a file of the
  /// rotation's only in case, and that file's name: a server on Windows
  /// may run them instead.
  std::vector<std::pair<std::string, std::string>> case_twins;
  /// Whether a run leaves the rotation as it is or writes no map, in the
  /// order of the next run or in another order tried.
  bool keeps_rotation() const;
};

/// Everything map_rotation_check found, as facts: the report renders them
/// (check_report.h).
struct check_facts {
  list_facts list;
  run_facts run;
  in_place_facts in_place;
  maps_facts maps;
  config_facts configs;
  /// What a playing server said, where the check asked one (--server): it
  /// never changes the exit status, which is about the next run.
  server_facts server;
};
