#pragma once

/// Where this process has root's rights and the working folder belongs to
/// another user, gives those rights up for good before any call on the
/// disk: from then on it acts as the folder's owner, in the folder's group
/// and no other, so that it may read, follow and write only what that user
/// may, and the files it makes are that user's. POSIX only: Windows has no
/// root, and there it changes nothing.
enum class owner_switch {
  /// Not root, or in a folder of root's: the process acts as it was.
  kept,
  /// Root given up for the folder's owner.
  given_up,
  /// Root could not be given up: the process must write nothing.
  failed,
};
owner_switch act_as_folder_owner();
