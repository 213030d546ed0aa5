#pragma once

#include <string>

#include "disk.h"

/// Where a run finds its two files, and the map list where it was read
/// before the run began.
struct run_start {
  /// The rotation's script: the run looks for it here, and works in its
  /// folder.
  std::string rotation = "SW_rotate.cfg";
  /// The map list, read by the run as the user it acts as.
  std::string list = "map_list.cfg";
  /// Whether the map list was read already, as root in a folder of root's
  /// alone: then `list_read` and `list_bytes` are what reading it gave, and
  /// the run reads nothing more of it.
  bool list_given = false;
  disk_result list_read = disk_result::missing;
  std::string list_bytes;
  /// Why the list couldn't be read, where it was read and couldn't be.
  std::string list_why;
};

/// What a run as root did about root before it began.
enum class owner_switch {
  /// Not root, or root in folders that only root may change: the process
  /// acts as it was.
  kept,
  /// Root given up for the owner of the folder where the rotation lies.
  given_up,
  /// The rotation lies in a folder of root's that a group or others may
  /// write: the run writes nothing, as no user it could act as owns it.
  refused,
  /// Root could not be given up, or there is no group to act in: the run
  /// writes nothing.
  failed,
};

/// What act_as_rotation_owner decided, and why, for a person to read.
struct owner_decision {
  owner_switch result = owner_switch::kept;
  /// Why a run writes nothing (refused, failed), or whom it acts as
  /// (given_up); empty where the process acts as it was.
  std::string why;
};

/// Decides whom a run acts as, before it changes anything. Where this
/// process has root's rights (POSIX), it follows SW_rotate.cfg as root only
/// through links in folders that only root may change, to the folder where
/// the rotation lies: a folder of another user's means giving root up for
/// good for that user, in the folder's group where the user belongs to it
/// and otherwise in the user's own group (never root's); a folder of
/// root's that a group or others may write means refusing. A map list in a
/// folder of root's alone is read there, as root, first (into `*start`);
/// one that lies in another user's folder is left for the run, which reads
/// it as the user it then acts as. Then it moves into the rotation's folder
/// and sets `start->rotation` to its name there, so that no path the run
/// uses passes through a folder that another user may change. Windows has
/// no root: there, and for any process without root's rights, nothing
/// changes and `*start` stays as it was.
owner_decision act_as_rotation_owner(run_start* start);
