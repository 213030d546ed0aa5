#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "run/run_record.h"
#include "walk/file_place.h"
#include "walk/folder_walk.h"

/// The name of the file whose lock makes runs take turns on the rotation
/// whose script is at `script`, beside it: a file of the tool's own that
/// only the rotation's owner and group may open (POSIX), so that no one
/// else can hold a run up.
std::string lock_name(const file_place& script);

/// Sets `*part` to where part `part` of the rotation whose script is at
/// `script` goes: beside SW_rotate.cfg or, where that is a symbolic link,
/// beside the file it points to (the server runs the parts by name from its
/// own folder, so parts beside a linked script's target serve only where
/// that is the server's folder), walked from the script's folder as the run
/// acts; false, with the reason in `*why`, where it lies behind a link that may
/// not be followed or in a folder that a run as root doesn't enter.
bool find_part(disk_interface& disk, const file_place& script, std::size_t part,
               file_place* place, std::string* why);

/// Why file `shown` of the rotation, of which `facts` tell, is frozen, so
/// that no file of the rotation may change: it is read-only (on POSIX
/// without any write bit, which binds root as well), append-only or
/// immutable (chattr +a, +i), not a regular file, or not one this user may
/// write. Empty where it isn't.
std::string why_frozen(const std::string& shown, const file_facts& facts);

/// Why no file may change in `folder`, the rotation's: it is append-only or
/// immutable, so that files staged there could never be put in place or
/// removed. Empty where nothing stops it.
std::string why_folder_frozen(const disk_folder& folder);

/// Removes what a killed run left beside the files of the rotation whose
/// script is at `script`: new files and kept copies in the names a file set
/// gives them, beside a file of the rotation, and no other file. Only for a
/// run that holds the rotation's lock; each file removed goes into
/// `record`.
void remove_leftovers_beside(disk_interface& disk, const file_place& script,
                             run_record& record);

/// Replaces the rotation's files with the script of `record.plan`, all
/// of them or none: the parts of the new rotation, and a step back to the
/// start for each part of a longer earlier one. Every file is written
/// beside its target first and put in place only when all are complete,
/// the last part first and SW_rotate.cfg after the parts, so that every
/// link in place leads to a file in place. A frozen part leaves every file
/// as it is. Where not even one new file can be made (a folder the run may
/// not write), a rotation of one file is written over the script where it
/// stands. `run` sets this run's new files apart. What came of it, and why,
/// goes into `record`.
void replace_rotation(disk_interface& disk, const file_place& script,
                      const std::string& run, run_record& record);
