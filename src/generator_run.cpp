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

/// Writes the whole script and flushes it; false at the first failure.
bool write_script(disk_interface& disk, std::FILE* out,
                  const std::vector<map_entry>& rotation) {
  const bool written = write_rotation_script(
      rotation, [&](std::string_view piece) { return disk.write(out, piece); });
  return written && disk.flush(out);
}

/// Writes the script to a new file beside `target` and puts it in place only
/// when it is complete, so that a full disk or any other failure leaves the
/// previous script exactly as it was, and a server never reads half a chain.
void save_script(disk_interface& disk, const std::string& target,
                 const std::vector<map_entry>& rotation) {
  std::string temp;
  if (std::FILE* out = disk.create_beside(target, &temp)) {
    bool saved = false;
    try {
      saved = write_script(disk, out, rotation);
    } catch (const std::bad_alloc&) {  // a giant name, on a small machine
    }
    saved = disk.close(out) && saved;
    if (!saved || !disk.replace(temp, target)) disk.remove(temp);
    return;
  }
  // No file can be created beside it (a directory without write access, say)
  // while the script itself is writable: write it in place.
  if (std::FILE* out = disk.open_for_writing(target)) {
    write_script(disk, out, rotation);
    disk.close(out);
  }
}

}  // namespace

int run_generator() {
  system_disk disk;
  try {
    return run_generator(disk);
  } catch (const std::bad_alloc&) {
    // A map list too large for memory: the previous script stays, and the
    // tool still prints nothing and exits 0.
    return 0;
  }
}

int run_generator(disk_interface& disk) {
  seed_random_order(tick_count_ms());
  const std::string target = disk.final_path(rotation_script_file);
  // A script that can't be written is left as it was; then the map list
  // isn't even read.
  if (!disk.can_write(target)) return 0;
  // The map list's bytes; the entries view their names in it. A map list
  // that can't be read counts as one without pairs.
  std::string text;
  if (!disk.read_file(map_list_file, &text)) text.clear();
  map_list list = read_map_list(text);
  save_script(disk, target, build_rotation(std::move(list.entries)));
  return 0;
}
