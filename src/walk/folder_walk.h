#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

/// The folders a walk went through, each held open: from "/" down to the
/// one it stands in, the last. A name is looked up in the last; ".." steps
/// back to the one before it, by the handle already held, never by a name.
using folder_trail = std::vector<disk_folder>;

/// Which symbolic links a walk follows, as a user who isn't root (POSIX;
/// Windows follows every link on the way, as the system does).
enum class link_rule {
  /// The rotation's files: only a link that belongs to this process's user
  /// or to the owner of the folder it lies in (the rule Linux applies in
  /// sticky folders that anyone may write), so that no one else's link
  /// leads a run anywhere.
  own_or_folder_owner,
  /// The game's files: every link, as the game's own open follows them.
  any,
};

/// How far a walk got.
enum class walk_stop {
  /// To the last name: `name` in trail.back(), with its `facts`.
  reached,
  /// To a folder, or an entry of a folder anyone may add to, that belongs
  /// to user `owner`: a walk as root trusts nothing that another user may
  /// change, so the rest, from trail.back(), must be walked as that user.
  other_user,
  /// To a folder of root's that a group or others may change: a walk as
  /// root trusts nothing in it, and no single user owns it.
  refused,
  /// A folder on the way missing, a link not followed, too many links.
  failed,
};

/// Where a walk ended.
struct walk_end {
  walk_stop stop = walk_stop::failed;
  folder_trail trail;
  /// reached: the last name, and what is there (kind missing where nothing
  /// is). Empty where the walk was into a folder: it is trail.back().
  std::string name;
  file_facts facts;
  /// other_user: whose, and the group of the folder or entry that is
  /// theirs; the names still to walk, the next last.
  std::uint32_t owner = 0, group = 0;
  std::vector<std::string> rest;
  /// other_user: the folder or entry that is theirs; refused: the folder
  /// of root's that others may write; failed: the name it failed at; each
  /// as shown from the working folder.
  std::string where;
  /// refused, failed, other_user: why, for a person to read: where, and
  /// (failed) the reason alone.
  std::string why, reason;
  /// failed: because a folder on the way isn't there.
  bool missing = false;
};

/// The trail to the working folder, to start walks from.
disk_status working_trail(disk_interface& disk, folder_trail* trail);

/// Walks `path` one name at a time from `from` (from its first folder, "/",
/// where `path` is absolute), following symbolic links. Where `into_folder`,
/// the last name too must be a folder, which is opened and becomes
/// trail.back(). As root (disk.user() is 0) it trusts a name, a link or a
/// folder only where every folder above it, up to "/", is root's with no
/// group or other write bit, or is root's and sticky with the entry root's
/// (as in /tmp, where no one else may rename or remove what root owns):
/// where another user owns a folder on the way (or such an entry), it
/// stops there (other_user), and where a group or others may change a
/// folder of root's, it refuses. The folders above the working folder
/// count as well. As any other user it follows links by `links`. On
/// Windows the path is taken as it is, its folder and its last name there,
/// and neither rule applies: the system follows a link or junction on the
/// way, as the game's own opens do there; the run acts with its user's
/// rights alone, and a file is written over in place only where it is no
/// link (system_disk::write_in_place).
walk_end walk(disk_interface& disk, const folder_trail& from,
              std::string_view path, link_rule links, bool into_folder = false);

/// Goes on with a walk that stopped at another user's (other_user), as the
/// user this process now acts as.
walk_end walk_on(disk_interface& disk, const walk_end& stopped, link_rule links,
                 bool into_folder = false);
