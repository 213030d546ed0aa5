#include "run/file_set.h"

#include <algorithm>
#include <new>

#include "platform/path.h"
#include "platform/words.h"

namespace {

/// What sets the names of a run's new files and kept copies apart from any
/// copy an operator makes: the program's own name.
constexpr std::string_view new_kind = ".map_rotation-tmp.",
                           kept_kind = ".map_rotation-old.";

/// How many names a run tries beside one file before it gives up: only a
/// run without the lock can meet names of another run.
constexpr int attempts = 100;

std::string name_beside(const file_set& set, const std::string& name,
                        std::string_view kind, int attempt) {
  return name + std::string(kind) + set.run + "." + std::to_string(attempt);
}

/// Makes `copy` hold what `file.target` holds now, and keep it when it is
/// replaced: a second name for the same file, which costs nothing and can't
/// half fail, or where the file system has none, a copy of its bytes.
disk_status keep_copy(disk_interface& disk, const staged_file& file,
                      const std::string& copy) {
  const disk_status linked = disk.hard_link(*file.folder, file.target, copy);
  if (linked != disk_result::failed) return linked;
  std::string bytes;
  const disk_status read = read_whole(disk, *file.folder, file.target, &bytes);
  return read.ok() ? disk.write_new(*file.folder, copy, bytes, &file.was)
                   : read;
}

/// Keeps the target's present file beside it in `file.kept_copy`; done also
/// where there is none to keep.
disk_status keep_previous(disk_interface& disk, const file_set& set,
                          staged_file& file) {
  disk_status kept_copy;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const std::string copy = name_beside(set, file.target, kept_kind, attempt);
    kept_copy = keep_copy(disk, file, copy);
    if (kept_copy == disk_result::exists) continue;
    if (kept_copy.ok()) file.kept_copy = copy;
    return kept_copy == disk_result::missing ? disk_status() : kept_copy;
  }
  return kept_copy;
}

/// The folders of the set's files, each once.
std::vector<const disk_folder*> folders_of(const file_set& set) {
  std::vector<const disk_folder*> folders;
  for (const staged_file& file : set.files)
    if (std::none_of(folders.begin(), folders.end(),
                     [&](const disk_folder* folder) {
                       return folder->path == file.folder->path;
                     }))
      folders.push_back(file.folder.get());
  return folders;
}

/// Makes the file `name` of every file of the set reach the disk (the new
/// file, or the kept copy of one placed), folder by folder, and where
/// `entries`, each folder's entries; where `name` is null, only those.
disk_status sync_set(disk_interface& disk, const file_set& set,
                     std::string staged_file::*name, bool entries) {
  for (const disk_folder* folder : folders_of(set)) {
    std::vector<std::string> in;
    in.reserve(set.files.size() + 1);  // grown by doubling, it may hold twice
    for (const staged_file& file : set.files)
      if (name && file.folder->path == folder->path && !(file.*name).empty() &&
          (name != &staged_file::kept_copy || file.placed))
        in.push_back(file.*name);
    if (entries) in.push_back(".");
    if (in.empty()) continue;
    if (const disk_status synced = disk.sync(*folder, in); !synced.ok())
      return synced;
  }
  return {};
}

/// Brings back the files the set replaced, the one placed last first, so
/// that each step returns to a state the placing passed through; stops at
/// the first that can't be brought back. Then removes what is left over.
void roll_back(disk_interface& disk, file_set& set) {
  // A copy of bytes, where there are no hard links, must outlive a power cut
  // once it is back in place: where it can't be made to, none goes back.
  const bool kept_durable =
      sync_set(disk, set, &staged_file::kept_copy, false).ok();
  for (auto file = set.files.rbegin(); file != set.files.rend(); ++file) {
    if (!file->placed) continue;
    const bool back =
        file->kept_copy.empty()
            ? disk.remove(*file->folder, file->target).ok()
            : kept_durable &&
                  disk.rename(*file->folder, file->kept_copy, file->target)
                      .ok();
    if (!back) break;
    file->placed = false;
    file->kept_copy.clear();
  }
  // The files are back as they were; where their folders' entries can't be
  // made durable, a power cut may still undo the steps back, each to a state
  // the placing passed through. Nothing more can be done for them here.
  (void)sync_set(disk, set, nullptr, true);
  discard(disk, set);
}

/// Puts the files in place, in order; false at the first that can't be.
bool place_all(disk_interface& disk, file_set& set) {
  if (const disk_status synced = sync_set(disk, set, &staged_file::temp, false);
      !synced.ok()) {
    set.failure = words({"the new files can't be made durable: ", synced.reason,
                         "; every file is as it was"});
    return false;
  }
  for (std::size_t i = 0; i < set.files.size(); ++i) {
    staged_file& file = set.files[i];
    // The file placed last needs no copy: if it can't be placed, it is as
    // it was.
    // Where the names can be swapped, the file in place goes under the new
    // file's name in the same step: one call, and the same states on the
    // way as a second name and a rename give.
    if (i + 1 < set.files.size() && file.was.kind != file_kind::missing &&
        set.swaps_names) {
      set.swaps_names =
          disk.exchange(*file.folder, file.temp, file.target).ok();
      if (set.swaps_names) {
        file.kept_copy = std::move(file.temp);  // it names the old file now
        file.placed = true;
        continue;
      }
    }
    if (i + 1 < set.files.size()) {
      if (const disk_status kept_copy = keep_previous(disk, set, file);
          !kept_copy.ok()) {
        set.failure = words({"no copy of ", file.shown(),
                             " can be kept while the new files go in place: ",
                             kept_copy.reason});
        return false;
      }
    }
    if (const disk_status renamed =
            disk.rename(*file.folder, file.temp, file.target);
        !renamed.ok()) {
      set.failure =
          words({file.shown(), " can't be replaced: ", renamed.reason});
      return false;
    }
    file.placed = true;
  }
  return true;
}

/// `folder`, held once for all the files staged one after another in it.
std::shared_ptr<const disk_folder> shared_folder(const file_set& set,
                                                 const disk_folder& folder) {
  if (!set.files.empty()) {
    const std::shared_ptr<const disk_folder>& last = set.files.back().folder;
    if (last->handle == folder.handle && last->path == folder.path) return last;
  }
  return std::make_shared<const disk_folder>(folder);
}

}  // namespace

disk_status stage_file(disk_interface& disk, file_set& set,
                       const file_place& target, std::string_view bytes,
                       const file_facts* like) {
  disk_status written;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const std::string temp = name_beside(set, target.name, new_kind, attempt);
    written = disk.write_new(target.folder(), temp, bytes, like);
    if (written == disk_result::exists) continue;
    if (written.ok())
      set.files.push_back({shared_folder(set, target.folder()), target.name,
                           target.facts, temp, "", false, bytes.size()});
    return written;
  }
  return written;
}

bool put_in_place(disk_interface& disk, file_set& set) {
  bool placed = false;
  try {
    placed = place_all(disk, set);
  } catch (const std::bad_alloc&) {  // brought back below, as any failure
    set.failure = "the run ran out of memory";
  }
  if (!placed) {
    roll_back(disk, set);
    return false;
  }
  // The new rotation is in place whatever this sync says: where it fails,
  // a power cut may undo the last steps, each to a state the placing passed
  // through, which the kept copies can't change; they go all the same.
  (void)sync_set(disk, set, nullptr, true);
  // The new rotation is in place: a kept copy that can't be removed is a
  // leftover with a name of the run's own, which the next run removes.
  for (staged_file& file : set.files)
    if (!file.kept_copy.empty())
      (void)disk.remove(*file.folder, file.kept_copy);
  return true;
}

void discard(disk_interface& disk, file_set& set) {
  // What can't be removed has a name of the run's own, which the next run
  // removes; the rotation in place is whole either way.
  for (staged_file& file : set.files) {
    if (!file.placed) (void)disk.remove(*file.folder, file.temp);
    if (!file.kept_copy.empty())
      (void)disk.remove(*file.folder, file.kept_copy);
  }
}

namespace {

/// Takes one or more decimal digits off the end of `text`.
bool drop_number(std::string_view* text) {
  std::size_t digits = 0;
  while (digits < text->size() && (*text)[text->size() - 1 - digits] >= '0' &&
         (*text)[text->size() - 1 - digits] <= '9')
    ++digits;
  text->remove_suffix(digits);
  return digits > 0;
}

/// Takes `tail` off the end of `text`, if it is there.
bool drop(std::string_view* text, std::string_view tail) {
  if (text->size() < tail.size() ||
      text->substr(text->size() - tail.size()) != tail)
    return false;
  text->remove_suffix(tail.size());
  return true;
}

}  // namespace

std::string_view named_beside(std::string_view name) {
  // From the end, so that a base holding the marks itself is still found.
  if (drop_number(&name) && drop(&name, ".") && drop_number(&name) &&
      (drop(&name, new_kind) || drop(&name, kept_kind)))
    return name;
  return {};
}
