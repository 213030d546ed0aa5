#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "platform/disk.h"
#include "walk/folder_walk.h"

/// Which of the server's configs to read, and with what rotation.
struct config_request {
  /// The configs named with --config; none means every .cfg in the working
  /// folder other than the rotation's own files and the map list, of which
  /// those that no other runs are read as the server's.
  std::vector<std::string> named;
  /// The bytes of the SW_rotate.cfg that the console will take in: the one
  /// a run writes (the largest, where the order changes it) or the one in
  /// place.
  std::size_t rotation_size = 0;
  /// Where that size comes from, where it isn't the SW_rotate.cfg of the
  /// next run, for a person to read.
  std::string rotation_why;
};

/// The server's config's part of map_rotation_check's report: reads each
/// config, walked from `here` as the engine opens it (as root, only where
/// root alone may change its way), as the original engine's console runs it
/// (console_model.h: its commands, its comments, its 16,384-byte buffer, `exec`
/// of the configs beside it), and says, for each that runs `exec
/// SW_rotate.cfg`, where; whether the rotation fits into the buffer beside what
/// of the configs still waits behind it (F + R <= 16,382); and every command
/// after it that loads a map or changes `nextmap`, which stops the rotation
/// after its first map. An `exec` of the rotation in another case works on
/// Windows and fails on Linux. True where nothing stops the rotation: no such
/// finding, and, where there are configs, one of them runs it.
bool report_configs(report_text& out, disk_interface& disk,
                    const folder_trail& here, const config_request& request);
