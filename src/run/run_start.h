#pragma once

#include <string>

#include "platform/disk.h"
#include "platform/user_database.h"
#include "run/list_read.h"
#include "run/owner_decision.h"
#include "walk/file_place.h"
#include "walk/folder_walk.h"

/// Where a run starts, as start_run() left it: what its walks found, and
/// the map list, read as it must be.
struct run_start {
  /// The folders to the working folder, held open, to walk from.
  folder_trail here;
  /// Where SW_rotate.cfg lies, walked as the run acts; where the walk
  /// failed (a link that may not be followed, a folder missing on the way),
  /// `found` is false and `not_found` says why.
  bool found = false;
  file_place script;
  std::string not_found;
  /// The map list, read as it must be, shared by every run from here.
  list_read list;
};

/// Starts a run, before it changes anything: walks from the working folder
/// to SW_rotate.cfg and to the map list, decides whom the run acts as, and
/// reads the map list into `*start`. A run as root trusts only what root
/// alone may change (folder_walk.h): where the way to the rotation reaches
/// a folder that another user owns, it gives up root for good for that
/// user (in the folder's group where the user belongs to it, else in the
/// user's own group from /etc/passwd, never root's) and walks the rest as
/// that user; where it reaches a folder of root's that others may write,
/// it refuses. The map list is read as root only where root alone may
/// change everything on its way; where another user may change something
/// on its way it is read as that user (in a process of its own where that
/// isn't the user the run acts as), or not at all. For any process without
/// root's rights, the walks follow only links of this user's or of the
/// folder's owner, and nothing changes. Windows has no root, and its walks
/// take a path as the system resolves it (folder_walk.h).
/// Running out of memory throws std::bad_alloc, for the caller to keep the
/// run's promise.
owner_decision start_run(disk_interface& disk, const user_database& users,
                         run_start* start);
