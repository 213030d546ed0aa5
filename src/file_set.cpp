#include "file_set.h"

#include <new>

#include "path.h"
#include "run_record.h"

namespace {

/// What sets the names of a run's new files and kept copies apart from any
/// copy an operator makes: the program's own name.
constexpr std::string_view new_kind = ".map_rotation-tmp.",
                           kept_kind = ".map_rotation-old.";

/// How many names a run tries beside one file before it gives up: only a
/// run without the lock can meet names of another run.
constexpr int attempts = 100;

std::string name_beside(const file_set& set, const std::string& path,
                        std::string_view kind, int attempt) {
  return path + std::string(kind) + set.run + "." + std::to_string(attempt);
}

bool remove_file(disk_interface& disk, const std::string& path) {
  return disk.remove(path) == disk_result::done;
}

/// Makes `copy` hold what `from` holds now, and keep it when `from` is
/// replaced: a second name for the same file, which costs nothing and can't
/// half fail, or where the file system has none, a copy of its bytes.
disk_result keep_copy(disk_interface& disk, const std::string& from,
                      const std::string& copy) {
  const disk_result linked = disk.hard_link(from, copy);
  if (linked != disk_result::failed) return linked;
  std::string bytes;
  const disk_result read = disk.read_file(from, &bytes);
  return read == disk_result::done ? disk.write_new(copy, bytes, from) : read;
}

/// Keeps the target's present file beside it in `file.kept`; true also
/// where there is none to keep.
bool keep_previous(disk_interface& disk, const file_set& set,
                   staged_file& file) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const std::string kept = name_beside(set, file.target, kept_kind, attempt);
    const disk_result result = keep_copy(disk, file.target, kept);
    if (result == disk_result::exists) continue;
    if (result == disk_result::done) file.kept = kept;
    return result == disk_result::done || result == disk_result::missing;
  }
  return false;
}

/// Brings back the files the set replaced, the one placed last first, so
/// that each step returns to a state the placing passed through; stops at
/// the first that can't be brought back. Then removes what is left over.
void roll_back(disk_interface& disk, file_set& set) {
  std::vector<std::string> kept;
  for (const staged_file& file : set.files)
    if (file.placed && !file.kept.empty()) kept.push_back(file.kept);
  // A copy of bytes, where there are no hard links, must outlive a power cut
  // once it is back in place: where it can't be made to, none goes back.
  const bool kept_durable =
      kept.empty() || disk.sync(kept) == disk_result::done;
  for (auto file = set.files.rbegin(); file != set.files.rend(); ++file) {
    if (!file->placed) continue;
    const bool back =
        file->kept.empty()
            ? remove_file(disk, file->target)
            : kept_durable &&
                  disk.rename(file->kept, file->target) == disk_result::done;
    if (!back) break;
    file->placed = false;
    file->kept.clear();
  }
  disk.sync({set.folder});
  discard(disk, set);
}

/// Puts the files in place, in order; false at the first that can't be.
bool place_all(disk_interface& disk, file_set& set) {
  std::vector<std::string> temps;
  for (const staged_file& file : set.files) temps.push_back(file.temp);
  if (disk.sync(temps) != disk_result::done) {
    set.failure =
        words({"the new files can't be made durable: ", disk.failure_reason(),
               "; every file is as it was"});
    return false;
  }
  for (std::size_t i = 0; i < set.files.size(); ++i) {
    staged_file& file = set.files[i];
    // The file placed last needs no copy: if it can't be placed, it is as
    // it was.
    if (i + 1 < set.files.size() && !keep_previous(disk, set, file)) {
      set.failure = words({"no copy of ", file.target,
                           " can be kept while the new files go in place: ",
                           disk.failure_reason()});
      return false;
    }
    if (disk.rename(file.temp, file.target) != disk_result::done) {
      set.failure =
          words({file.target, " can't be replaced: ", disk.failure_reason()});
      return false;
    }
    file.placed = true;
  }
  return true;
}

}  // namespace

bool stage_file(disk_interface& disk, file_set& set, const std::string& target,
                std::string_view bytes, const std::string& like) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    const std::string temp = name_beside(set, target, new_kind, attempt);
    const disk_result result = disk.write_new(temp, bytes, like);
    if (result == disk_result::exists) continue;
    if (result != disk_result::done) return false;
    set.files.push_back({target, temp, "", false, bytes.size()});
    return true;
  }
  return false;
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
  disk.sync({set.folder});
  for (staged_file& file : set.files)
    if (!file.kept.empty()) remove_file(disk, file.kept);
  return true;
}

void discard(disk_interface& disk, file_set& set) {
  for (staged_file& file : set.files) {
    if (!file.placed) remove_file(disk, file.temp);
    if (!file.kept.empty()) remove_file(disk, file.kept);
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
