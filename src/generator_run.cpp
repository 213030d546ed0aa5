#include "generator_run.h"

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
    bool saved = write_script(disk, out, rotation);
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
  return run_generator(disk);
}

int run_generator(disk_interface& disk) {
  seed_random_order(tick_count_ms());
  std::FILE* in = disk.open_for_reading(map_list_file);
  const std::string target = disk.final_path(rotation_script_file);
  const bool can_write = disk.can_write(target);
  map_list list;
  if (in && can_write) list = read_map_list(in);
  if (in) disk.close(in);
  if (can_write)
    save_script(disk, target, build_rotation(std::move(list.entries)));
  return 0;
}
