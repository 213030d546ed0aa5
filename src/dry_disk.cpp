#include "dry_disk.h"

#include "path.h"

#ifndef _WIN32
#include <unistd.h>
#endif

disk_result dry_disk::found(const std::string& path) {
  const auto changed = files.find(path);
  if (changed != files.end())
    return changed->second < 0 ? disk_result::missing : disk_result::done;
  std::string target;
  file_facts facts;
  real.look(path, &target, &facts);
  return facts.found;
}

bool dry_disk::may_change_folder_of(const std::string& path) {
#ifdef _WIN32
  (void)path;  // Windows can't be asked without trying.
  return true;
#else
  return access(folder_of(path).c_str(), W_OK | X_OK) == 0;
#endif
}

disk_result dry_disk::read_file(const std::string& path, std::string* bytes) {
  if (files.count(path)) return disk_result::failed;  // never asked for
  return real.read_file(path, bytes);
}

disk_result dry_disk::look(const std::string& path, std::string* target,
                           file_facts* facts) {
  const disk_result looked = real.look(path, target, facts);
  const auto changed = files.find(*target);
  if (looked == disk_result::done && changed != files.end()) {
    *facts = file_facts{};
    facts->found =
        changed->second < 0 ? disk_result::missing : disk_result::done;
    facts->regular = facts->write_flags = facts->may_write = true;
  }
  return looked;
}

disk_result dry_disk::write_new(const std::string& path, std::string_view bytes,
                                const std::string&) {
  if (found(path) != disk_result::missing) return disk_result::exists;
  if (!may_change_folder_of(path)) return disk_result::failed;
  files[path] = static_cast<long long>(bytes.size());
  changes.push_back({"write", path, bytes.size()});
  return disk_result::done;
}

disk_result dry_disk::write_in_place(const std::string& path,
                                     std::string_view bytes) {
  if (found(path) != disk_result::done) return disk_result::failed;
  changes.push_back({"write over", path, bytes.size()});
  return disk_result::done;
}

disk_result dry_disk::hard_link(const std::string& from,
                                const std::string& link) {
  if (found(link) != disk_result::missing) return disk_result::exists;
  const disk_result original = found(from);
  if (original != disk_result::done) return original;
  if (!may_change_folder_of(link)) return disk_result::failed;
  files[link] = 0;
  changes.push_back({"keep", from, 0});
  return disk_result::done;
}

disk_result dry_disk::rename(const std::string& from, const std::string& to) {
  const auto staged = files.find(from);
  if (staged == files.end() || staged->second < 0) return disk_result::failed;
  if (!may_change_folder_of(to)) return disk_result::failed;
  const long long size = staged->second;
  staged->second = -1;
  files[to] = size;
  changes.push_back({"rename", to, static_cast<std::size_t>(size)});
  return disk_result::done;
}

disk_result dry_disk::remove(const std::string& path) {
  if (found(path) == disk_result::missing) return disk_result::missing;
  if (files.count(path)) {  // one this run made
    files[path] = -1;
    return disk_result::done;
  }
  if (!may_change_folder_of(path)) return disk_result::failed;
  files[path] = -1;
  changes.push_back({"remove", path, 0});
  return disk_result::done;
}
