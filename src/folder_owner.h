#pragma once

/// Where this process has root's rights and the working folder belongs to
/// another user, gives those rights up for good before any call on the
/// disk: from then on it acts as the folder's owner, in the folder's group
/// and no other, so that it may read, follow and write only what that user
/// may, and the files it makes are that user's. True where it acts with
/// no more rights than the folder's owner (or was never root, or the folder
/// is root's); false where it couldn't give them up, and then it must write
/// nothing. POSIX only: Windows has no root, and there it changes nothing.
bool act_as_folder_owner();
