#include "generator_run.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "folder_owner.h"
#include "map_list.h"
#include "rotation_files.h"
#include "rotation_order.h"
#include "tick_count.h"

namespace {

/// The run's steps: list, order, script, place; each decision goes into
/// `record` where it is made.
void generate(disk_interface& disk, run_start& start, const std::string& run,
              run_record& record) {
  rotation_place place;
  // A frozen script is left as it is; then not even the lock file is made.
  if (!find_rotation(disk, start.rotation, &place, &record.why)) return;
  record.folder = place.folder;
  if (std::string why = why_frozen(disk, place.first, place.facts);
      !why.empty())
    return record.keep(why);
  // Runs on one rotation take turns where its files change, so that the
  // files in place are always one run's whole rotation; one held up for
  // too long (a stuck process) leaves the rotation as it is rather than
  // hold up the server's start. A run that can't make the lock file (a
  // folder it may not write) goes on without: it can only write in place.
  std::unique_ptr<disk_lock> lock;
  if (disk.lock(lock_file(place), lock_wait_ms, &lock) == disk_result::busy)
    return record.keep(
        words({"another run has held the rotation (", lock_file(place),
               ") for ", std::to_string(lock_wait_ms / 1000), " s"}));
  // Another run may have changed what is there while this one waited.
  const std::string folder = place.folder;
  if (!find_rotation(disk, start.rotation, &place, &record.why)) return;
  if (place.folder != folder)
    return record.keep("the rotation moved while this run waited for it");
  // Only a run that holds the lock knows that no other is staging there.
  if (lock) remove_leftovers_beside(disk, place, record);
  if (std::string why = why_frozen(disk, place.first, place.facts);
      !why.empty())
    return record.keep(why);
  // The entries view their names in the list's bytes.
  const std::string why = read_list_into(disk, start, record);
  if (record.list_read == disk_result::failed)
    return record.keep(
        words({record.list_file, " is there but can't be read: ", why}));
  record.rotation = build_rotation(read_map_list(record.list_text).entries);
  record.ordered = true;
  // A list that gives no map (emptied by mistake, renamed, every map left
  // out) never takes a rotation away: the server would play nothing.
  if (record.rotation.empty() && place.facts.found != disk_result::missing)
    return record.keep(
        "the map list gives no map, and a rotation is in "
        "place: a run never takes it away");
  replace_rotation(disk, place, run, record);
}

}  // namespace

std::string read_list_into(disk_interface& disk, run_start& start,
                           run_record& record) {
  record.list_file = start.list;
  record.list_bytes = std::move(start.list_bytes);
  record.list_read = start.list_given
                         ? start.list_read
                         : read_list_file(disk, start.list, &record.list_file,
                                          &record.list_bytes);
  if (record.list_read == disk_result::done)
    record.list_text = map_list_text(&record.list_bytes, &record.encoding);
  return start.list_given ? start.list_why : disk.failure_reason();
}

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
  return run_generator(disk, std::move(start), ticks);
}

int run_generator(disk_interface& disk, run_start start, std::uint32_t ticks,
                  run_record* record) {
  seed_random_order(ticks);
  run_record own;
  run_record& kept = record ? *record : own;
  try {
    generate(disk, start, std::to_string(ticks), kept);
  } catch (const std::bad_alloc&) {
    // Out of memory: the rotation in place stays, and the tool still prints
    // nothing and exits 0.
    kept.keep("the run ran out of memory");
  }
  return 0;
}
