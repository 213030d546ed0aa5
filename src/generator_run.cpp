#include "generator_run.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "folder_owner.h"
#include "map_list.h"
#include "rotation_files.h"
#include "rotation_order.h"
#include "tick_count.h"

namespace {

/// The run's steps: list, order, script, place.
void generate(disk_interface& disk, const std::string& run) {
  // Runs in one folder take turns, so that the files in place are always
  // one run's whole rotation; one held up for too long (a stuck process)
  // leaves the rotation as it is rather than hold up the server's start.
  std::unique_ptr<disk_lock> lock;
  if (disk.lock(map_list_file, lock_wait_ms, &lock) == disk_result::busy)
    return;
  rotation_place place;
  if (!find_rotation(disk, &place)) return;
  // Only a run that holds the folder knows that no other is staging there.
  if (lock) remove_leftovers_beside(disk, place);
  // A frozen script is left as it is; then the map list isn't even read.
  if (is_frozen(place.facts)) return;
  // The entries view their names in the list's bytes.
  std::string list_file, bytes;
  if (read_list_file(disk, &list_file, &bytes) == disk_result::failed) return;
  const std::vector<map_entry> rotation =
      build_rotation(read_map_list(map_list_text(&bytes)).entries);
  // A list that gives no map (emptied by mistake, renamed, every map left
  // out) never takes a rotation away: the server would play nothing.
  if (rotation.empty() && place.facts.found != disk_result::missing) return;
  replace_rotation(disk, place, run, rotation);
}

}  // namespace

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
    generate(disk, std::to_string(ticks));
  } catch (const std::bad_alloc&) {
    // Out of memory: the rotation in place stays, and the tool still prints
    // nothing and exits 0.
  }
  return 0;
}
