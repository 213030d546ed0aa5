#include "rotation_files.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "file_set.h"
#include "path.h"
#include "rotation_script.h"

namespace {

/// Stages `text`, part `part` of the rotation script, beside its file;
/// false where that part is frozen. A new part takes the mode, owner and
/// group of the script.
bool stage_part(disk_interface& disk, const rotation_place& place,
                std::size_t part, std::string_view text, file_set& set) {
  std::string target;
  file_facts facts = place.facts;
  if (part == 1)
    target = place.first;
  else if (!part_file(disk, place, part, &target, &facts))
    return false;
  if (is_frozen(facts)) return false;
  return stage_file(disk, set, target, text,
                    facts.found == disk_result::missing ? place.first : target);
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
    file_facts facts;
    if (!part_file(disk, place, part, &target, &facts)) return false;
    if (facts.found == disk_result::missing) return true;
    if (is_frozen(facts)) return false;
    if (disk.read_file(target, &text) == disk_result::done &&
        text == step_back_script)
      continue;
    if (!stage_file(disk, set, target, step_back_script, target)) return false;
  }
}

/// Writes `bytes` over file `path` where it stands, for a folder where no
/// new file can be made: without emptying it first, and putting its
/// previous bytes back on a failure, so that a full disk leaves the old
/// file or the whole new one. False unless the new bytes are in.
bool write_over(disk_interface& disk, const std::string& path,
                std::string_view bytes) {
  std::string previous;
  if (disk.read_file(path, &previous) != disk_result::done) return false;
  if (previous == bytes) return true;
  if (disk.write_in_place(path, bytes) == disk_result::done) return true;
  disk.write_in_place(path, previous);
  return false;
}

/// Where no new file could be made: writes a rotation of one file over the
/// script, but only where the script is, and stays, the whole rotation, as
/// parts written in place one by one could not go in together.
void write_over_script(disk_interface& disk, const rotation_place& place,
                       const std::vector<map_entry>& rotation) {
  std::string second;
  file_facts facts;
  if (!fits_one_file(rotation) || place.facts.found != disk_result::done ||
      is_frozen(place.facts) || !part_file(disk, place, 2, &second, &facts) ||
      facts.found != disk_result::missing)
    return;
  std::string script;
  write_rotation_script(rotation, [&](std::string_view text) {
    script = text;
    return true;
  });
  write_over(disk, place.first, script);
}

}  // namespace

bool find_rotation(disk_interface& disk, const std::string& script,
                   rotation_place* place) {
  if (disk.look(script, &place->first, &place->facts) != disk_result::done)
    return false;
  place->folder = folder_of(place->first);
  place->name = name_of(place->first);
  return true;
}

std::string lock_file(const rotation_place& place) {
  return path_in(place.folder, place.name + ".map_rotation-lock");
}

bool part_file(disk_interface& disk, const rotation_place& place,
               std::size_t part, std::string* file, file_facts* facts) {
  return disk.look(path_in(place.folder, rotation_script_file(part)), file,
                   facts) == disk_result::done;
}

bool is_frozen(const file_facts& facts) {
  return facts.found == disk_result::failed ||
         (facts.found == disk_result::done &&
          (!facts.regular || !facts.write_flags || !facts.may_write));
}

disk_result read_list_file(disk_interface& disk, const std::string& path,
                           std::string* file, std::string* bytes) {
  file_facts facts;
  if (disk.look(path, file, &facts) != disk_result::done)
    return disk_result::failed;
  return disk.read_file(*file, bytes);
}

void remove_leftovers_beside(disk_interface& disk,
                             const rotation_place& place) {
  remove_leftovers(disk, place.folder, [&](std::string_view name) {
    return is_rotation_script_file(name) || name == place.name;
  });
}

void replace_rotation(disk_interface& disk, const rotation_place& place,
                      const std::string& run,
                      const std::vector<map_entry>& rotation) {
  file_set set;
  set.folder = place.folder;
  set.run = run;
  bool staged = false;
  std::size_t parts = 0;
  try {
    staged = write_rotation_script(rotation, [&](std::string_view text) {
      return stage_part(disk, place, ++parts, text, set);
    });
    // The parts go in place from the last down, SW_rotate.cfg last, so that
    // every link in place leads to a file in place and the server starts
    // the new rotation only once all of it is there; the steps back come
    // after it, so that each leads into the new rotation.
    std::reverse(set.files.begin(), set.files.end());
    staged = staged && stage_steps_back(disk, place, parts, set);
  } catch (const std::bad_alloc&) {  // what was staged is removed below
    staged = false;
  }
  if (staged) {
    put_in_place(disk, set);
    return;
  }
  const bool no_room = set.files.empty();
  discard(disk, set);
  if (no_room) write_over_script(disk, place, rotation);
}
