#include "file_set.h"

#include <algorithm>

namespace {

bool remove_file(disk_interface& disk, const std::string& path) {
  return retry_while_busy(disk, [&] { return disk.remove(path); });
}

/// Brings back what was in place before `set`: the files placed get their
/// previous content back, the one placed last first, and whatever is new
/// goes.
void roll_back(disk_interface& disk, file_set& set) {
  for (auto file = set.rbegin(); file != set.rend(); ++file) {
    if (!file->placed) {
      remove_file(disk, file->temp);
      if (!file->backup.empty()) remove_file(disk, file->backup);
    } else if (!file->backup.empty()) {
      retry_while_busy(
          disk, [&] { return disk.replace(file->backup, file->target); });
    } else {
      remove_file(disk, file->target);
    }
  }
}

/// Puts one file in place; `keep` keeps a copy of what it replaces.
bool place(disk_interface& disk, staged_file& file, bool keep) {
  if (keep && disk.exists(file.target) &&
      !disk.keep_copy(file.target, &file.backup))
    return false;
  if (!retry_while_busy(disk,
                        [&] { return disk.replace(file.temp, file.target); }))
    return false;
  file.placed = true;
  return true;
}

}  // namespace

bool stage_file(disk_interface& disk, const std::string& target,
                std::string_view bytes, file_set* set) {
  staged_file file;
  file.target = target;
  std::FILE* out = disk.create_beside(target, &file.temp);
  if (!out) return false;
  set->push_back(file);
  return write_and_close(disk, out, bytes);
}

bool put_in_place(disk_interface& disk, file_set& set) {
  for (std::size_t i = 0; i < set.size(); ++i) {
    // The file placed last needs no copy: if it can't be placed, it is as
    // it was.
    if (!place(disk, set[i], i + 1 < set.size())) {
      roll_back(disk, set);
      return false;
    }
  }
  for (const staged_file& file : set)
    if (!file.backup.empty()) remove_file(disk, file.backup);
  return true;
}

void discard(disk_interface& disk, file_set& set) { roll_back(disk, set); }

void remove_leftovers(disk_interface& disk, const std::string& folder,
                      const std::function<bool(std::string_view)>& is_target) {
  std::vector<std::string> names;
  if (!disk.list_folder(folder, &names)) return;
  for (const std::string& name : names) {
    const std::size_t kind = std::min(name.rfind(".tmp."), name.rfind(".old."));
    if (kind == std::string::npos) continue;
    const std::string_view base = std::string_view(name).substr(0, kind);
    if (is_target(base) && is_named_beside(name, base))
      remove_file(disk, folder + "/" + name);
  }
}
