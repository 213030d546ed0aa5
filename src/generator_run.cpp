#include "generator_run.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "map_list.h"
#include "rotation_order.h"
#include "rotation_script.h"
#include "tick_count.h"

namespace {

/// One file of the new rotation: written under a new name beside its
/// target, then put in place.
struct staged_file {
  std::string target;
  std::string temp;
  /// The target's previous content while the rotation is put in place, so
  /// that a failure can bring it back; empty where there was no target.
  std::string backup;
  bool placed = false;
};

/// Writes `text`, the next file of the rotation script, beside its target.
/// `*no_room` tells that not even the first file could be created.
bool stage_file(disk_interface& disk, std::string_view text,
                std::vector<staged_file>* staged, bool* no_room) {
  staged_file file;
  file.target = disk.final_path(rotation_script_file(staged->size() + 1));
  // SW_rotate.cfg was checked before the map list was read; a part that
  // can't be replaced freezes the rotation just as well.
  if (!staged->empty() && !disk.can_write(file.target)) return false;
  std::FILE* out = disk.create_beside(file.target, &file.temp);
  if (!out) {
    *no_room = staged->empty();
    return false;
  }
  staged->push_back(file);
  return write_and_close(disk, out, text);
}

/// The parts of a longer earlier rotation, past the new `parts`, from the
/// last down; false when one of them can't be removed.
bool find_stale_parts(disk_interface& disk, std::size_t parts,
                      std::vector<std::string>* stale) {
  for (std::size_t part = parts + 1;; ++part) {
    std::string name = rotation_script_file(part);
    if (!disk.exists(name)) break;
    if (!disk.can_write(name)) return false;
    stale->insert(stale->begin(), std::move(name));
  }
  return true;
}

/// Puts the staged files in place from the last part down, SW_rotate.cfg
/// last, so that every link in place leads to a file in place and the
/// server starts the new rotation only once all of it is there.
bool put_in_place(disk_interface& disk, std::vector<staged_file>& staged) {
  for (std::size_t i = staged.size(); i-- > 0;) {
    staged_file& file = staged[i];
    // Replacing SW_rotate.cfg is the last step: if it fails, it is as it was.
    if (i > 0 && disk.exists(file.target) &&
        !disk.keep_copy(file.target, &file.backup))
      return false;
    if (!retry_while_busy(disk,
                          [&] { return disk.replace(file.temp, file.target); }))
      return false;
    file.placed = true;
  }
  return true;
}

bool remove_file(disk_interface& disk, const std::string& path) {
  return retry_while_busy(disk, [&] { return disk.remove(path); });
}

/// Undoes a rotation that could not be put in place whole: the files placed
/// get their previous content back, the one placed last first, and
/// whatever is new goes.
void roll_back(disk_interface& disk, std::vector<staged_file>& staged) {
  for (staged_file& file : staged) {
    if (!file.placed) {
      remove_file(disk, file.temp);
      if (!file.backup.empty()) remove_file(disk, file.backup);
    } else if (!file.backup.empty()) {
      retry_while_busy(disk,
                       [&] { return disk.replace(file.backup, file.target); });
    } else {
      remove_file(disk, file.target);
    }
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
/// reads half a chain. Parts of a longer earlier rotation are removed last.
void save_rotation(disk_interface& disk,
                   const std::vector<map_entry>& rotation) {
  std::vector<staged_file> staged;
  std::vector<std::string> stale;
  bool no_room = false;
  bool written = false;
  try {
    written = write_rotation_script(rotation, [&](std::string_view text) {
      return stage_file(disk, text, &staged, &no_room);
    });
  } catch (const std::bad_alloc&) {  // what was staged is removed below
  }
  if (!written || !find_stale_parts(disk, staged.size(), &stale) ||
      !put_in_place(disk, staged)) {
    roll_back(disk, staged);
    if (no_room && fits_one_file(rotation)) write_in_place(disk, rotation);
    return;
  }
  for (const staged_file& file : staged)
    if (!file.backup.empty()) remove_file(disk, file.backup);
  for (const std::string& part : stale) remove_file(disk, part);
}

/// The run's steps once the folder is its own.
void generate(disk_interface& disk) {
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
    generate(disk);
  } catch (const std::bad_alloc&) {
    // A map list too large for memory: the previous script stays, and the
    // tool still prints nothing and exits 0.
  }
  if (locked) disk.unlock();
  return 0;
}
