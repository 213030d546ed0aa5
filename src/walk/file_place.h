#pragma once

#include <string>

#include "platform/disk.h"
#include "walk/folder_walk.h"

/// Where a file lies, as a walk reached it: the folders the walk took to
/// it, each held open, the last holding it; its name there and what is
/// there (kind missing where nothing is).
struct file_place {
  folder_trail trail;
  std::string name;
  file_facts facts;
  const disk_folder& folder() const { return trail.back(); }
  /// Its path, for a person to read.
  std::string shown() const { return shown_path(folder(), name); }
};
