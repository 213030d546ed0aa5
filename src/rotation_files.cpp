#include "rotation_files.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "file_set.h"
#include "path.h"
#include "rotation_script.h"

namespace {

/// Stages `bytes` beside `target`, like file `like`; false, with the reason
/// in `record`, where no new file can be made there.
bool stage(disk_interface& disk, file_set& set, const std::string& target,
           std::string_view bytes, const std::string& like,
           run_record& record) {
  if (stage_file(disk, set, target, bytes, like)) return true;
  record.keep(words({"no new file can be made beside ", target, ": ",
                     disk.failure_reason()}));
  return false;
}

/// Stages `text`, part `part` of the rotation script, beside its file;
/// false, with the reason in `record`, where that part is frozen or can't
/// be staged. A new part takes the mode, owner and group of the script.
bool stage_part(disk_interface& disk, const rotation_place& place,
                std::size_t part, std::string_view text, file_set& set,
                run_record& record) {
  std::string target;
  file_facts facts = place.facts;
  if (part == 1) {
    target = place.first;
  } else if (!part_file(disk, place, part, &target, &facts)) {
    record.keep(
        words({rotation_script_file(part), ": ", disk.failure_reason()}));
    return false;
  }
  if (std::string why = why_frozen(disk, target, facts); !why.empty()) {
    record.keep(why);
    return false;
  }
  return stage(disk, set, target, text,
               facts.found == disk_result::missing ? place.first : target,
               record);
}

/// Stages a step back to the start for each part of a longer earlier
/// rotation past the new `parts`, up to the first missing number. A server
/// still playing that rotation runs such a part by name at the end of the
/// part before, so it must not vanish: the step back takes the server on
/// into the new rotation. They are never removed, as no run can know that
/// no server is still in an earlier rotation. False, with the reason in
/// `record`, when one of them can't be replaced.
bool stage_steps_back(disk_interface& disk, const rotation_place& place,
                      std::size_t parts, file_set& set, run_record& record) {
  for (std::size_t part = parts + 1;; ++part) {
    std::string target, text;
    file_facts facts;
    if (!part_file(disk, place, part, &target, &facts)) {
      record.keep(
          words({rotation_script_file(part),
                 ", a part of an earlier rotation: ", disk.failure_reason()}));
      return false;
    }
    if (facts.found == disk_result::missing) return true;
    if (std::string why = why_frozen(disk, target, facts); !why.empty()) {
      record.keep(words({why,
                         " (a part of an earlier rotation, which a run steps "
                         "back to the start)"}));
      return false;
    }
    if (disk.read_file(target, &text) == disk_result::done &&
        text == step_back_script)
      continue;
    if (!stage(disk, set, target, step_back_script, target, record))
      return false;
  }
}

/// Writes `bytes` over file `path` where it stands, for a folder where no
/// new file can be made: without emptying it first, and putting its
/// previous bytes back on a failure, so that a full disk leaves the old
/// file or the whole new one. What came of it goes into `record`.
void write_over(disk_interface& disk, const std::string& path,
                std::string_view bytes, run_record& record) {
  std::string previous;
  if (disk.read_file(path, &previous) != disk_result::done) {
    record.keep(
        words({record.why, "; ", path,
               " can't be read to be written over: ", disk.failure_reason()}));
    return;
  }
  const bool same = previous == bytes;
  if (same || disk.write_in_place(path, bytes) == disk_result::done) {
    record.result = same ? run_record::outcome::unchanged
                         : run_record::outcome::placed;
    record.files.emplace_back(path, bytes.size());
    return;
  }
  record.keep(words({record.why, "; ", path,
                     " can't be written over: ", disk.failure_reason()}));
  disk.write_in_place(path, previous);
}

/// Where no new file could be made: writes a rotation of one file over the
/// script, but only where the script is, and stays, the whole rotation, as
/// parts written in place one by one could not go in together.
void write_over_script(disk_interface& disk, const rotation_place& place,
                       run_record& record) {
  std::string second;
  file_facts facts;
  const char* cannot =
      !fits_one_file(record.rotation) ? "the rotation takes several files"
      : place.facts.found != disk_result::done
          ? "SW_rotate.cfg isn't there to be written over"
      : !part_file(disk, place, 2, &second, &facts) ||
              facts.found != disk_result::missing
          ? "SW_rotate2.cfg is there beside it, a part of an earlier rotation"
          : nullptr;
  if (cannot) {
    record.keep(words({record.why, ", and the rotation can't be written over ",
                       place.first, " alone: ", cannot}));
    return;
  }
  std::string script;
  write_rotation_script(record.rotation, [&](std::string_view text) {
    script = text;
    return true;
  });
  write_over(disk, place.first, script, record);
}

}  // namespace

bool find_rotation(disk_interface& disk, const std::string& script,
                   rotation_place* place, std::string* why) {
  if (disk.look(script, &place->first, &place->facts) != disk_result::done) {
    *why = words({script, ": ", disk.failure_reason()});
    return false;
  }
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

std::string why_frozen(const disk_interface& disk, const std::string& path,
                       const file_facts& facts) {
  if (facts.found == disk_result::failed)
    return words({path, " can't be looked at: ", disk.failure_reason()});
  if (facts.found != disk_result::done) return "";
  if (!facts.regular)
    return words({path, " is not a regular file (a folder, a pipe)"});
  if (!facts.write_flags) return words({path, " is read-only"});
  if (!facts.may_write)
    return words({path, " may not be written by this user"});
  return "";
}

void remove_leftovers_beside(disk_interface& disk, const rotation_place& place,
                             run_record& record) {
  std::vector<std::string> names;
  if (disk.list_folder(place.folder, &names) != disk_result::done) return;
  for (const std::string& name : names) {
    const std::string_view base = named_beside(name);
    if (base.empty() || (!is_rotation_script_file(base) && base != place.name))
      continue;
    const std::string path = path_in(place.folder, name);
    if (disk.remove(path) == disk_result::done) record.removed.push_back(path);
  }
}

void replace_rotation(disk_interface& disk, const rotation_place& place,
                      const std::string& run, run_record& record) {
  file_set set;
  set.folder = place.folder;
  set.run = run;
  bool staged = false;
  try {
    staged = write_rotation_script(record.rotation, [&](std::string_view text) {
      return stage_part(disk, place, ++record.parts, text, set, record);
    });
    // The parts go in place from the last down, SW_rotate.cfg last, so that
    // every link in place leads to a file in place and the server starts
    // the new rotation only once all of it is there; the steps back come
    // after it, so that each leads into the new rotation.
    std::reverse(set.files.begin(), set.files.end());
    staged = staged && stage_steps_back(disk, place, record.parts, set, record);
  } catch (const std::bad_alloc&) {  // what was staged is removed below
    record.keep("the run ran out of memory");
    staged = false;
  }
  if (staged && put_in_place(disk, set)) {
    record.result = run_record::outcome::placed;
    // In the order of the parts, then the steps back.
    const auto parts_end =
        set.files.begin() + static_cast<std::ptrdiff_t>(record.parts);
    std::reverse(set.files.begin(), parts_end);
    for (const staged_file& file : set.files)
      record.files.emplace_back(file.target, file.size);
    return;
  }
  if (staged) record.keep(set.failure);
  const bool no_room = set.files.empty();
  discard(disk, set);
  if (no_room) write_over_script(disk, place, record);
}
