#include "run/generator_run.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/tick_count.h"
#include "platform/words.h"
#include "run/map_list.h"
#include "run/rotation_files.h"
#include "run/rotation_plan.h"
#include "run/run_start.h"

namespace {

/// The run's steps: list, order, script, place; each decision goes into
/// `record` where it is made.
void generate(disk_interface& disk, run_start& start, const std::string& run,
              run_record& record) {
  if (!start.found) return record.keep(start.not_found);
  file_place& script = start.script;
  record.found = true;
  record.folder = script.folder();
  record.script_name = script.name;
  record.lock_file = shown_path(script.folder(), lock_name(script));
  // A frozen rotation is left as it is; then not even the lock file is made.
  if (std::string why = why_folder_frozen(script.folder()); !why.empty())
    return record.keep(why);
  if (std::string why = why_frozen(script.shown(), script.facts); !why.empty())
    return record.keep(why);
  // Runs on one rotation take turns where its files change, so that the
  // files in place are always one run's whole rotation; one held up for
  // too long (a stuck process) leaves the rotation as it is rather than
  // hold up the server's start. A run that can't make the lock file (a
  // folder it may not write) goes on without: it can only write in place.
  std::unique_ptr<disk_lock> lock;
  const disk_status locked =
      disk.lock(script.folder(), lock_name(script), lock_wait_ms, &lock);
  if (locked == disk_result::busy)
    return record.keep(
        words({"another run has held the rotation (", record.lock_file,
               ") for ", std::to_string(lock_wait_ms / 1000), " s"}));
  if (locked == disk_result::failed)
    return record.keep(
        words({record.lock_file,
               ", on which runs take turns, can't be used: ", locked.reason}));
  // Another run may have changed what is there while this one waited: it is
  // asked again by its name in the folder already held, never by its path.
  if (const disk_status looked =
          disk.entry_facts(script.folder(), script.name, &script.facts);
      !looked.ok())
    return record.keep(words({script.shown(), ": ", looked.reason}));
  if (script.facts.kind == file_kind::link)
    return record.keep("the rotation moved while this run waited for it");
  // Only a run that holds the lock knows that no other is staging there.
  if (lock) remove_leftovers_beside(disk, script, record);
  if (std::string why = why_frozen(script.shown(), script.facts); !why.empty())
    return record.keep(why);
  if (!record.planned)
    return record.keep(words({record.list.file, " is there but can't be read: ",
                              record.list.status.reason}));
  record.carried_out = true;
  // A list that gives no map (emptied by mistake, renamed, every map left
  // out) never takes a rotation away: the server would play nothing.
  if (record.plan.order.empty() && script.facts.kind != file_kind::missing)
    return record.keep(
        "the map list gives no map, and a rotation is in "
        "place: a run never takes it away");
  replace_rotation(disk, script, run, record);
}

}  // namespace

int run_generator() {
  // The tick count first: it seeds the run's random order.
  const std::uint32_t ticks = tick_count_ms();
  system_disk disk;
  return run_generator(disk, system_user_database(), ticks);
}

int run_generator(disk_interface& disk, const user_database& users,
                  std::uint32_t ticks, run_record* record) {
  run_record own;
  run_record& done = record ? *record : own;
  run_start start;
  owner_decision owner;
  try {
    // Before the first change on the disk: a run as root acts no further
    // than the owner of the rotation's folder could, whatever links that
    // owner planted.
    owner = start_run(disk, users, &start);
  } catch (const std::bad_alloc&) {
    // Out of memory before the run began (a huge map list): nothing changed.
    done.keep("the run ran out of memory");
    return 0;
  }
  run_from(disk, std::move(start), owner, ticks, done);
  return 0;
}

void run_from(disk_interface& disk, run_start start,
              const owner_decision& owner, std::uint32_t seed,
              run_record& record) {
  try {
    record.owner = owner;
    record.list = start.list;
    // The plan comes first, and changes nothing: a missing list plans the
    // final line alone, one that can't be read plans nothing.
    if (record.list.status.ok() || record.list.status == disk_result::missing) {
      record.plan = plan_rotation(read_map_list(record.list.text), seed);
      record.planned = true;
    }
    if (owner.result == owner_switch::failed ||
        owner.result == owner_switch::refused)
      return record.keep(owner.why);
    generate(disk, start, std::to_string(seed), record);
  } catch (const std::bad_alloc&) {
    // Out of memory: the rotation in place stays, and the tool still prints
    // nothing and exits 0.
    record.keep("the run ran out of memory");
  }
}
