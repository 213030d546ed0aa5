#include "generator_run.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "file_set.h"
#include "map_list.h"
#include "rotation_order.h"
#include "rotation_script.h"
#include "tick_count.h"

namespace {

/// Stages `text`, the next part of the rotation script, beside its target.
/// `*no_room` tells that not even the first file could be created.
bool stage_part(disk_interface& disk, std::string_view text, file_set* set,
                bool* no_room) {
  const std::string target =
      disk.final_path(rotation_script_file(set->size() + 1));
  // SW_rotate.cfg was checked before the map list was read; a part that
  // can't be replaced freezes the rotation just as well.
  if (!set->empty() && !disk.can_write(target)) return false;
  if (stage_file(disk, target, text, set)) return true;
  *no_room = set->empty();
  return false;
}

/// Stages a step back to the start for each part of a longer earlier
/// rotation past the new `parts`, up to the first missing number. A server
/// still playing that rotation runs such a part by name at the end of the
/// part before, so it must not vanish: the step back takes the server on
/// into the new rotation. They are never removed, as no run can know that
/// no server is still in an earlier rotation. False when one of them can't
/// be replaced.
bool stage_steps_back(disk_interface& disk, std::size_t parts, file_set* set) {
  for (std::size_t part = parts + 1;; ++part) {
    const std::string name = rotation_script_file(part);
    if (!disk.exists(name)) return true;
    if (!disk.can_write(name)) return false;
    std::string text;
    if (disk.read_file(name, &text) && text == step_back_script) continue;
    if (!stage_file(disk, disk.final_path(name), step_back_script, set))
      return false;
  }
}

/// Writes a rotation of one file straight into SW_rotate.cfg, for a folder
/// where no new file can be created but the script itself is writable.
void write_in_place(disk_interface& disk,
                    const std::vector<map_entry>& rotation) {
  const std::string target = disk.final_path(rotation_script_file(1));
  if (std::FILE* out = disk.open_for_writing(target)) {
    write_rotation_script(
        rotation, [&](std::string_view text) { return disk.write(out, text); });
    disk.close(out);
  }
}

/// Writes every file of the rotation beside its target and puts them in
/// place only when all are complete, so that a full disk or any other
/// failure leaves every previous file exactly as it was and a server never
/// reads half a chain.
void save_rotation(disk_interface& disk,
                   const std::vector<map_entry>& rotation) {
  file_set set;
  bool no_room = false;
  bool staged = false;
  try {
    staged = write_rotation_script(rotation, [&](std::string_view text) {
      return stage_part(disk, text, &set, &no_room);
    });
    // The parts go in place from the last down, SW_rotate.cfg last, so that
    // every link in place leads to a file in place and the server starts
    // the new rotation only once all of it is there; the steps back come
    // after it, so that each leads into the new rotation.
    std::reverse(set.begin(), set.end());
    staged = staged && stage_steps_back(disk, set.size(), &set);
  } catch (const std::bad_alloc&) {  // what was staged is removed below
    staged = false;
  }
  if (staged && put_in_place(disk, set)) return;
  if (!staged) discard(disk, set);
  if (no_room && fits_one_file(rotation)) write_in_place(disk, rotation);
}

/// The run's steps once the folder is its own.
void generate(disk_interface& disk, bool locked) {
  // What a killed run left beside the rotation's files; only a run that
  // holds the folder knows that no other run is staging there.
  if (locked) remove_leftovers(disk, ".", is_rotation_script_file);
  // A script that can't be written is left as it was; then the map list
  // isn't even read.
  if (!disk.can_write(disk.final_path(rotation_script_file(1)))) return;
  // The map list's bytes; the entries view their names in it. A map list
  // that can't be read counts as one without pairs.
  std::string text;
  if (!disk.read_file(map_list_file, &text)) text.clear();
  map_list list = read_map_list(text);
  save_rotation(disk, build_rotation(std::move(list.entries)));
}

}  // namespace

int run_generator() {
  system_disk disk;
  return run_generator(disk);
}

int run_generator(disk_interface& disk) {
  seed_random_order(tick_count_ms());
  // Runs in one folder take turns, so that the files in place are always one
  // run's whole rotation.
  const bool locked = disk.lock(map_list_file);
  try {
    generate(disk, locked);
  } catch (const std::bad_alloc&) {
    // A map list too large for memory: the previous script stays, and the
    // tool still prints nothing and exits 0.
  }
  if (locked) disk.unlock();
  return 0;
}
