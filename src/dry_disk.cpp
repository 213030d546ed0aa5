#include "dry_disk.h"

#ifndef _WIN32
#include <unistd.h>
#endif

disk_result dry_disk::state(const std::string& path) {
  const auto found = files.find(path);
  if (found == files.end()) return real.writable(path);
  return found->second < 0 ? disk_result::missing : disk_result::done;
}

disk_result dry_disk::may_change_folder_of(const std::string& path) {
#ifdef _WIN32
  (void)path;  // Windows can't be asked without trying.
  return disk_result::done;
#else
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return access(folder.c_str(), W_OK | X_OK) == 0 ? disk_result::done
                                                  : disk_result::failed;
#endif
}

disk_result dry_disk::read_file(const std::string& path, std::string* bytes) {
  if (files.count(path)) return disk_result::failed;  // never asked for
  return real.read_file(path, bytes);
}

disk_result dry_disk::writable(const std::string& path) { return state(path); }

disk_result dry_disk::write_new(const std::string& path, std::string_view bytes,
                                const std::string&) {
  if (state(path) != disk_result::missing) return disk_result::exists;
  if (may_change_folder_of(path) != disk_result::done)
    return disk_result::failed;
  files[path] = static_cast<long long>(bytes.size());
  changes.push_back({"write", path, bytes.size()});
  return disk_result::done;
}

disk_result dry_disk::write_in_place(const std::string& path,
                                     std::string_view bytes) {
  if (state(path) != disk_result::done) return disk_result::failed;
  changes.push_back({"write over", path, bytes.size()});
  return disk_result::done;
}

disk_result dry_disk::copy_file(const std::string& from,
                                const std::string& copy) {
  if (state(copy) != disk_result::missing) return disk_result::exists;
  const disk_result original = state(from);
  if (original != disk_result::done) return original;
  if (may_change_folder_of(copy) != disk_result::done)
    return disk_result::failed;
  files[copy] = 0;
  changes.push_back({"keep", from, 0});
  return disk_result::done;
}

disk_result dry_disk::replace(const std::string& from, const std::string& to) {
  const auto staged = files.find(from);
  if (staged == files.end() || staged->second < 0) return disk_result::failed;
  if (may_change_folder_of(to) != disk_result::done) return disk_result::failed;
  const long long size = staged->second;
  staged->second = -1;
  files[to] = size;
  changes.push_back({"replace", to, static_cast<std::size_t>(size)});
  return disk_result::done;
}

disk_result dry_disk::remove(const std::string& path) {
  if (state(path) == disk_result::missing) return disk_result::missing;
  if (may_change_folder_of(path) != disk_result::done)
    return disk_result::failed;
  files[path] = -1;
  changes.push_back({"remove", path, 0});
  return disk_result::done;
}
