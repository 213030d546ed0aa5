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
void generate(disk_interface& disk, const run_start& start,
              const std::string& run) {
  rotation_place place;
  // A frozen script is left as it is; then not even the lock file is made.
  if (!find_rotation(disk, start.rotation, &place) || is_frozen(place.facts))
    return;
  // Runs on one rotation take turns where its files change, so that the
  // files in place are always one run's whole rotation; one held up for
  // too long (a stuck process) leaves the rotation as it is rather than
  // hold up the server's start. A run that can't make the lock file (a
  // folder it may not write) goes on without: it can only write in place.
  std::unique_ptr<disk_lock> lock;
  if (disk.lock(lock_file(place), lock_wait_ms, &lock) == disk_result::busy)
    return;
  // Another run may have changed what is there while this one waited.
  const std::string folder = place.folder;
  if (!find_rotation(disk, start.rotation, &place) || place.folder != folder)
    return;
  // Only a run that holds the lock knows that no other is staging there.
  if (lock) remove_leftovers_beside(disk, place);
  // A frozen script is left as it is; then the map list isn't even read.
  if (is_frozen(place.facts)) return;
  // The entries view their names in the list's bytes.
  std::string list_file, bytes = start.list_bytes;
  const disk_result read =
      start.list_given ? start.list_read
                       : read_list_file(disk, start.list, &list_file, &bytes);
  if (read == disk_result::failed) return;
  const std::vector<map_entry> rotation =
      build_rotation(read_map_list(map_list_text(&bytes)).entries);
  // A list that gives no map (emptied by mistake, renamed, every map left
  // out) never takes a rotation away: the server would play nothing.
  if (rotation.empty() && place.facts.found != disk_result::missing) return;
  replace_rotation(disk, place, run, rotation);
}

}  // namespace

int run_generator() {
  const std::uint32_t ticks = tick_count_ms();
  // Before the first change on the disk: a run as root acts no further
  // than the owner of the rotation's folder could, whatever links that
  // owner planted.
  run_start start;
  const owner_decision owner = act_as_rotation_owner(&start);
  if (owner.result == owner_switch::failed ||
      owner.result == owner_switch::refused)
    return 0;
  system_disk disk;
  return run_generator(disk, start, ticks);
}

int run_generator(disk_interface& disk, const run_start& start,
                  std::uint32_t ticks) {
  seed_random_order(ticks);
  try {
    generate(disk, start, std::to_string(ticks));
  } catch (const std::bad_alloc&) {
    // Out of memory: the rotation in place stays, and the tool still prints
    // nothing and exits 0.
  }
  return 0;
}
