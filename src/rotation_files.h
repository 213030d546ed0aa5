#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "disk.h"
#include "map_list.h"
#include "run_record.h"

/// Where the rotation lies: beside SW_rotate.cfg or, where that is a
/// symbolic link, beside the file it points to. The server runs the parts
/// by name from its own folder, so parts beside a linked script's target
/// serve only where that is the server's folder.
struct rotation_place {
  /// The file the script goes into: `name` in `folder`.
  std::string first;
  std::string folder;
  std::string name;
  /// What is at `first` now.
  file_facts facts;
};

/// Finds where the rotation lies, from `script`, the path of SW_rotate.cfg
/// or of what it links to; false, with the reason in `*why`, where that is
/// a link that may not be followed.
bool find_rotation(disk_interface& disk, const std::string& script,
                   rotation_place* place, std::string* why);

/// The file whose lock makes runs take turns on the rotation at `place`,
/// beside its files: a file of the tool's own that only the rotation's
/// owner and group may open (POSIX), so that no one else can hold a run up.
std::string lock_file(const rotation_place& place);

/// Sets `*file` to the file that part `part` of the rotation goes into, and
/// `*facts` to what is there now; false where it lies behind a link that
/// may not be followed.
bool part_file(disk_interface& disk, const rotation_place& place,
               std::size_t part, std::string* file, file_facts* facts);

/// Why file `path` of the rotation, of which `facts` tell, is frozen, so
/// that no file of the rotation may change: it is read-only (on POSIX
/// without any write bit, which binds root as well), not a regular file,
/// not one this user may write, or can't even be asked about (with the
/// reason of `disk`'s last failure, the look that gave `facts`). Empty
/// where it isn't.
std::string why_frozen(const disk_interface& disk, const std::string& path,
                       const file_facts& facts);

/// Removes what a killed run left beside the files of the rotation at
/// `place`: new files and kept copies in the names a file set gives them,
/// beside a file of the rotation, and no other file. Only for a run that
/// holds the rotation's lock; each file removed goes into `record`.
void remove_leftovers_beside(disk_interface& disk, const rotation_place& place,
                             run_record& record);

/// Replaces the rotation's files with the script for `record.rotation`, all
/// of them or none: the parts of the new rotation, and a step back to the
/// start for each part of a longer earlier one. Every file is written
/// beside its target first and put in place only when all are complete,
/// the last part first and SW_rotate.cfg after the parts, so that every
/// link in place leads to a file in place. A frozen part leaves every file
/// as it is. Where not even one new file can be made (a folder the run may
/// not write), a rotation of one file is written over the script where it
/// stands. `run` sets this run's new files apart. What came of it, and why,
/// goes into `record`.
void replace_rotation(disk_interface& disk, const rotation_place& place,
                      const std::string& run, run_record& record);
