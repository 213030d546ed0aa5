#include "generator_run.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "file_set.h"
#include "folder_owner.h"
#include "map_list.h"
#include "rotation_order.h"
#include "rotation_script.h"
#include "tick_count.h"

namespace {

/// Stages `text`, the next part of the rotation script, beside its file.
/// A new part takes the mode, owner and group of the script.
bool stage_part(disk_interface& disk, const rotation_place& place,
                std::string_view text, file_set& set) {
  std::string target;
  if (!part_file(disk, place, set.files.size() + 1, &target)) return false;
  // SW_rotate.cfg was checked before the map list was read; a part that
  // can't be replaced freezes the rotation just as well.
  const disk_result state = disk.writable(target);
  if (state == disk_result::failed) return false;
  return stage_file(disk, set, target, text,
                    state == disk_result::missing ? place.first : target);
}

/// Stages a step back to the start for each part of a longer earlier
/// rotation past the new `parts`, up to the first missing number. A server
/// still playing that rotation runs such a part by name at the end of the
/// part before, so it must not vanish: the step back takes the server on
/// into the new rotation. They are never removed, as no run can know that
/// no server is still in an earlier rotation. False when one of them can't
/// be replaced.
bool stage_steps_back(disk_interface& disk, const rotation_place& place,
                      std::size_t parts, file_set& set) {
  for (std::size_t part = parts + 1;; ++part) {
    std::string target, text;
    if (!part_file(disk, place, part, &target)) return false;
    const disk_result read =
        retry_while_busy(disk, [&] { return disk.read_file(target, &text); });
    if (read == disk_result::missing) return true;
    if (disk.writable(target) != disk_result::done) return false;
    if (read == disk_result::done && text == step_back_script) continue;
    if (!stage_file(disk, set, target, step_back_script, target)) return false;
  }
}

/// Writes every file of the rotation beside its target and puts them in
/// place only when all are complete, so that a full disk or any other
/// failure leaves every previous file as it was and a server never reads
/// half a chain. Where not even the script's new file can be made (a
/// folder the tool may not write, or no inode left), a rotation of one file
/// is written over the script where it stands.
void save_rotation(disk_interface& disk, const rotation_place& place,
                   const std::string& run,
                   const std::vector<map_entry>& rotation) {
  file_set set;
  set.folder = place.folder;
  set.run = run;
  bool staged = false;
  try {
    staged = write_rotation_script(rotation, [&](std::string_view text) {
      return stage_part(disk, place, text, set);
    });
    // The parts go in place from the last down, SW_rotate.cfg last, so that
    // every link in place leads to a file in place and the server starts
    // the new rotation only once all of it is there; the steps back come
    // after it, so that each leads into the new rotation.
    std::reverse(set.files.begin(), set.files.end());
    staged = staged && stage_steps_back(disk, place, set.files.size(), set);
  } catch (const std::bad_alloc&) {  // what was staged is removed below
    staged = false;
  }
  if (staged) {
    put_in_place(disk, set);
    return;
  }
  const bool no_room = set.files.empty();
  discard(disk, set);
  // Only where the script is, and stays, the whole rotation: parts written
  // in place one by one could not go in together.
  std::string second;
  if (!no_room || !fits_one_file(rotation) ||
      disk.writable(place.first) != disk_result::done ||
      !part_file(disk, place, 2, &second) ||
      disk.writable(second) != disk_result::missing)
    return;
  std::string script;
  write_rotation_script(rotation, [&](std::string_view text) {
    script = text;
    return true;
  });
  write_over(disk, place.first, script);
}

/// The run's steps once the folder is its own, if `locked`.
void generate(disk_interface& disk, bool locked, const std::string& run) {
  rotation_place place;
  if (!find_rotation(disk, &place)) return;
  // What a killed run left beside the rotation's files; only a run that
  // holds the folder knows that no other run is staging there.
  if (locked)
    remove_leftovers(disk, place.folder, [&](std::string_view name) {
      return is_rotation_script_file(name) || name == place.name;
    });
  // A script that can't be written is left as it was; then the map list
  // isn't even read.
  const disk_result script = disk.writable(place.first);
  if (script == disk_result::failed) return;
  // The map list's bytes; the entries view their names in it. One that is
  // there but can't be read leaves the rotation in place, as does one
  // behind a link that may not be followed.
  std::string list_file, bytes;
  if (disk.follow_link(map_list_file, &list_file) != disk_result::done) return;
  const disk_result read =
      retry_while_busy(disk, [&] { return disk.read_file(list_file, &bytes); });
  if (read != disk_result::done && read != disk_result::missing) return;
  std::vector<map_entry> rotation =
      build_rotation(read_map_list(map_list_text(&bytes)).entries);
  // A list that gives no map (emptied by mistake, renamed, every map left
  // out) never takes a rotation away: the server would play nothing. Only
  // where there is none yet does the script get the final line alone.
  if (rotation.empty() && script != disk_result::missing) return;
  save_rotation(disk, place, run, rotation);
}

}  // namespace

bool find_rotation(disk_interface& disk, rotation_place* place) {
  if (disk.follow_link(rotation_script_file(1), &place->first) !=
      disk_result::done)
    return false;
  const std::size_t slash = place->first.rfind('/');
  place->folder = slash == std::string::npos ? "."
                  : slash == 0               ? "/"
                                             : place->first.substr(0, slash);
  place->name = place->first.substr(slash + 1);  // npos + 1 is 0
  return true;
}

bool part_file(disk_interface& disk, const rotation_place& place,
               std::size_t part, std::string* file) {
  if (part == 1) {
    *file = place.first;
    return true;
  }
  return disk.follow_link(path_in(place.folder, rotation_script_file(part)),
                          file) == disk_result::done;
}

int run_generator() {
  // Before the first call on the disk: a run as root acts no further than
  // the folder's owner could, whatever links that owner planted.
  if (act_as_folder_owner() == owner_switch::failed) return 0;
  system_disk disk;
  return run_generator(disk);
}

int run_generator(disk_interface& disk) {
  const std::uint32_t ticks = tick_count_ms();
  seed_random_order(ticks);
  try {
    // Runs in one folder take turns, so that the files in place are always
    // one run's whole rotation.
    // A run that another holds up for too long (a stuck process) leaves
    // the rotation as it is rather than hold up the server's start.
    const disk_result locked = retry_while_busy(
        disk, [&] { return disk.try_lock(map_list_file); }, lock_wait_ms);
    if (locked != disk_result::busy)
      generate(disk, locked == disk_result::done, std::to_string(ticks));
  } catch (const std::bad_alloc&) {
    // Out of memory: the rotation in place stays, and the tool still prints
    // nothing and exits 0.
  }
  return 0;
}
