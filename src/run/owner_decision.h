#pragma once

#include <cstdint>
#include <string>

/// What a run as root did about root before it began.
enum class owner_switch {
  /// Not root, or root in folders that only root may change: the process
  /// acts as it was.
  kept,
  /// Root given up for good for `user` in `group`, the owner of `folder`,
  /// the first folder on the way to the rotation that another user may
  /// change.
  given_up,
  /// The way to the rotation leads through a folder of root's that a group
  /// or others may write: the run writes nothing, as no user it could act
  /// as owns it.
  refused,
  /// Root could not be given up, or there is no group to act in: the run
  /// writes nothing.
  failed,
};

/// What start_run decided, and why, for a person to read.
struct owner_decision {
  owner_switch result = owner_switch::kept;
  /// Why a run writes nothing (refused, failed).
  std::string why;
  /// given_up: whom it acts as, and the folder or entry of theirs.
  std::uint32_t user = 0, group = 0;
  std::string folder;
};
