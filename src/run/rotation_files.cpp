#include "run/rotation_files.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "platform/path.h"
#include "platform/words.h"
#include "run/file_set.h"
#include "run/rotation_script.h"

namespace {

/// Stages `bytes` beside `target`, like `like` (null: a file of its own);
/// false, with the reason in `record`, where no new file can be made there.
bool stage(disk_interface& disk, file_set& set, const file_place& target,
           std::string_view bytes, const file_facts* like, run_record& record) {
  const disk_status staged = stage_file(disk, set, target, bytes, like);
  if (staged.ok()) return true;
  record.keep(words({"no new file can be made beside ", target.shown(), ": ",
                     staged.reason}));
  return false;
}

/// Stages `text`, part `part` of the rotation script, beside its file;
/// false, with the reason in `record`, where that part is frozen or can't
/// be staged. A new part takes the mode, owner and group of the script,
/// but never lets others write it.
bool stage_part(disk_interface& disk, const file_place& script,
                std::size_t part, std::string_view text, file_set& set,
                run_record& record) {
  file_place target = script;
  if (part > 1) {
    std::string why;
    if (!find_part(disk, script, part, &target, &why)) {
      record.keep(why);
      return false;
    }
  }
  if (std::string why = why_frozen(target.shown(), target.facts);
      !why.empty()) {
    record.keep(why);
    return false;
  }
  file_facts like = target.facts;
  if (like.kind == file_kind::missing) {
    like = script.facts;
    like.mode &= ~0002u;
  }
  return stage(disk, set, target, text,
               like.kind == file_kind::missing ? nullptr : &like, record);
}

/// Stages a step back to the start for each part of a longer earlier
/// rotation past the new `parts`, up to the first missing number. A server
/// still playing that rotation runs such a part by name at the end of the
/// part before, so it must not vanish: the step back takes the server on
/// into the new rotation. They are never removed, as no run can know that
/// no server is still in an earlier rotation. False, with the reason in
/// `record`, when one of them can't be replaced.
bool stage_steps_back(disk_interface& disk, const file_place& script,
                      std::size_t parts, file_set& set, run_record& record) {
  for (std::size_t part = parts + 1;; ++part) {
    file_place target;
    std::string why, text;
    if (!find_part(disk, script, part, &target, &why)) {
      record.keep(words({why, " (a part of an earlier rotation)"}));
      return false;
    }
    if (target.facts.kind == file_kind::missing) return true;
    if (std::string frozen = why_frozen(target.shown(), target.facts);
        !frozen.empty()) {
      record.keep(words({frozen,
                         " (a part of an earlier rotation, which a run steps "
                         "back to the start)"}));
      return false;
    }
    // Only a part of the step back's size is read to see whether it is one:
    // an old part is never read whole, however large it was made.
    if (target.facts.size == step_back_script.size() &&
        read_whole(disk, target.folder(), target.name, &text).ok() &&
        text == step_back_script)
      continue;
    if (!stage(disk, set, target, step_back_script, &target.facts, record))
      return false;
  }
}

/// Writes `bytes` over file `path` where it stands, for a folder where no
/// new file can be made: without emptying it first, and putting its
/// previous bytes back on a failure, so that a full disk leaves the old
/// file or the whole new one. What came of it goes into `record`.
void write_over(disk_interface& disk, const file_place& path,
                std::string_view bytes, run_record& record) {
  std::string previous;
  if (const disk_status read =
          read_whole(disk, path.folder(), path.name, &previous);
      !read.ok()) {
    record.keep(words({record.why, "; ", path.shown(),
                       " can't be read to be written over: ", read.reason}));
    return;
  }
  const bool same = previous == bytes;
  const disk_status written =
      same ? disk_status()
           : disk.write_in_place(path.folder(), path.name, bytes);
  if (written.ok()) {
    record.result =
        same ? run_record::outcome::unchanged : run_record::outcome::placed;
    record.files.emplace_back(path.shown(), bytes.size());
    return;
  }
  const disk_status back =
      disk.write_in_place(path.folder(), path.name, previous);
  record.keep(
      words({record.why, "; ", path.shown(),
             " can't be written over: ", written.reason,
             back.ok() ? "" : "; and its previous bytes can't be put back: ",
             back.reason}));
}

/// Where no new file could be made: writes a rotation of one file over the
/// script, but only where the script is, and stays, the whole rotation, as
/// parts written in place one by one could not go in together.
void write_over_script(disk_interface& disk, const file_place& script,
                       run_record& record) {
  file_place second;
  std::string why;
  const char* cannot =
      record.plan.files.size() > 1 ? "the rotation takes several files"
      : script.facts.kind == file_kind::missing
          ? "SW_rotate.cfg isn't there to be written over"
      : !find_part(disk, script, 2, &second, &why) ||
              second.facts.kind != file_kind::missing
          ? "SW_rotate2.cfg is there beside it, a part of an earlier rotation"
          : nullptr;
  if (cannot) {
    record.keep(words({record.why, ", and the rotation can't be written over ",
                       script.shown(), " alone: ", cannot}));
    return;
  }
  std::string text;
  // The sink keeps the one file; it can't fail.
  (void)write_rotation_script(record.plan.order, [&](std::string_view file) {
    text = file;
    return true;
  });
  write_over(disk, script, text, record);
}

}  // namespace

std::string lock_name(const file_place& script) {
  return script.name + ".map_rotation-lock";
}

bool find_part(disk_interface& disk, const file_place& script, std::size_t part,
               file_place* place, std::string* why) {
  walk_end end = walk(disk, script.trail, rotation_script_file(part),
                      link_rule::own_or_folder_owner);
  if (end.stop == walk_stop::reached) {
    *place = {std::move(end.trail), std::move(end.name), end.facts};
    return true;
  }
  *why = end.stop == walk_stop::failed
             ? end.why
             : end.why + ", which a run as root doesn't enter";
  return false;
}

std::string why_frozen(const std::string& shown, const file_facts& facts) {
  switch (facts.kind) {
    case file_kind::missing:
      return "";
    case file_kind::regular:
      break;
    default:
      return words({shown, " is not a regular file (a folder, a pipe)"});
  }
  if (facts.immutable)
    return words({shown,
                  " is immutable (chattr +i): a run can't replace it; chattr "
                  "-i it to let runs write the rotation again"});
  if (facts.append_only)
    return words({shown,
                  " is append-only (chattr +a): a run can't replace it; "
                  "chattr -a it to let runs write the rotation again"});
  if (!facts.write_flags()) return words({shown, " is read-only"});
  if (!facts.may_write)
    return words({shown, " may not be written by this user"});
  return "";
}

std::string why_folder_frozen(const disk_folder& folder) {
  const file_facts& facts = folder.facts;
  if (!facts.append_only && !facts.immutable) return "";
  return words({shown_absolute(folder.path),
                facts.immutable ? " is immutable (chattr +i)"
                                : " is append-only (chattr +a)",
                ": a run could never replace or remove a file there, so it "
                "changes nothing; ",
                facts.immutable ? "chattr -i" : "chattr -a",
                " it to let runs write the rotation again"});
}

void remove_leftovers_beside(disk_interface& disk, const file_place& script,
                             run_record& record) {
  std::vector<std::string> names;
  if (!disk.list_folder(script.folder(), &names).ok()) return;
  for (const std::string& name : names) {
    const std::string_view base = named_beside(name);
    if (base.empty() || (!is_rotation_script_file(base) && base != script.name))
      continue;
    if (disk.remove(script.folder(), name).ok())
      record.removed.push_back(shown_path(script.folder(), name));
  }
}

void replace_rotation(disk_interface& disk, const file_place& script,
                      const std::string& run, run_record& record) {
  file_set set;
  set.run = run;
  const std::size_t parts = record.plan.files.size();
  bool staged = false;
  try {
    std::size_t part = 0;
    staged =
        write_rotation_script(record.plan.order, [&](std::string_view text) {
          return stage_part(disk, script, ++part, text, set, record);
        });
    // The parts go in place from the last down, SW_rotate.cfg last, so that
    // every link in place leads to a file in place and the server starts
    // the new rotation only once all of it is there; the steps back come
    // after it, so that each leads into the new rotation.
    std::reverse(set.files.begin(), set.files.end());
    staged = staged && stage_steps_back(disk, script, parts, set, record);
  } catch (const std::bad_alloc&) {  // what was staged is removed below
    record.keep("the run ran out of memory");
    staged = false;
  }
  if (staged && put_in_place(disk, set)) {
    record.result = run_record::outcome::placed;
    // In the order of the parts, then the steps back.
    const auto parts_end =
        set.files.begin() + static_cast<std::ptrdiff_t>(parts);
    std::reverse(set.files.begin(), parts_end);
    // Taken off the set as they are recorded, so that a long rotation's
    // set and its record are never held whole together.
    record.files.reserve(set.files.size());
    for (; !set.files.empty(); set.files.pop_front())
      record.files.emplace_back(set.files.front().shown(),
                                set.files.front().size);
    return;
  }
  if (staged) record.keep(set.failure);
  const bool no_room = set.files.empty();
  discard(disk, set);
  if (no_room) write_over_script(disk, script, record);
}
