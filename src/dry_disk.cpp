#include "dry_disk.h"

#include "path.h"

#ifndef _WIN32
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

disk_result dry_disk::forwarded(disk_result result) {
  if (result != disk_result::done) reason = target.failure_reason();
  return result;
}

disk_result dry_disk::refused(const std::string& why) {
  reason = why;
  return disk_result::failed;
}

disk_result dry_disk::found(const std::string& path) {
  const auto changed = files.find(path);
  if (changed != files.end())
    return changed->second < 0 ? disk_result::missing : disk_result::done;
  std::string where;
  file_facts facts;
  target.look(path, &where, &facts);
  return facts.found;
}

bool dry_disk::may_change_folder_of(const std::string& path) {
#ifdef _WIN32
  (void)path;  // Windows can't be asked without trying.
  return true;
#else
  if (access(folder_of(path).c_str(), W_OK | X_OK) == 0) return true;
  reason = std::strerror(errno);
  return false;
#endif
}

bool dry_disk::room_for(const std::string& path, std::size_t size) {
#ifdef _WIN32
  (void)path, (void)size;  // asked for by trying, on Windows
  return true;
#else
  struct statvfs disk;
  if (statvfs(folder_of(path).c_str(), &disk) != 0 || disk.f_frsize == 0)
    return true;  // can't be asked: let the run find out
  // Root may use the blocks kept back for it; no one may use more inodes
  // or blocks than are free.
  const unsigned long long blocks = (size + disk.f_frsize - 1) / disk.f_frsize;
  const unsigned long long free_blocks =
      geteuid() == 0 ? disk.f_bfree : disk.f_bavail;
  if (disk.f_favail > made && free_blocks >= blocks + blocks_made) {
    ++made;
    blocks_made += blocks;
    return true;
  }
  reason = std::strerror(ENOSPC);
  return false;
#endif
}

disk_result dry_disk::lock(const std::string& path, unsigned,
                           std::unique_ptr<disk_lock>* held) {
  // A lock file that isn't there yet is held by no one; one that is there
  // is only asked, never waited for, so that the check holds nothing up.
  if (found(path) == disk_result::missing) {
    *held = std::make_unique<disk_lock>();
    return disk_result::done;
  }
  return forwarded(target.lock(path, 0, held));
}

disk_result dry_disk::read_file(const std::string& path, std::string* bytes) {
  if (files.count(path)) return refused("a file this run made");
  return forwarded(target.read_file(path, bytes));
}

disk_result dry_disk::look(const std::string& path, std::string* where,
                           file_facts* facts) {
  const disk_result looked = forwarded(target.look(path, where, facts));
  const auto changed = files.find(*where);
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
  if (!may_change_folder_of(path) || !room_for(path, bytes.size()))
    return disk_result::failed;
  files[path] = static_cast<long long>(bytes.size());
  return disk_result::done;
}

disk_result dry_disk::write_in_place(const std::string& path,
                                     std::string_view bytes) {
  std::string where;
  file_facts facts;
  target.look(path, &where, &facts);
  if (facts.found != disk_result::done || !facts.alone || where != path)
    return refused(
        "no file of this user's alone (a hard link, a link, "
        "another user's file)");
  files[path] = static_cast<long long>(bytes.size());
  return disk_result::done;
}

disk_result dry_disk::hard_link(const std::string& from,
                                const std::string& link) {
  if (found(link) != disk_result::missing) return disk_result::exists;
  const disk_result original = found(from);
  if (original != disk_result::done) return original;
  if (!may_change_folder_of(link)) return disk_result::failed;
  files[link] = 0;
  return disk_result::done;
}

disk_result dry_disk::rename(const std::string& from, const std::string& to) {
  const auto staged = files.find(from);
  if (staged == files.end() || staged->second < 0)
    return refused("no file this run made");
  if (!may_change_folder_of(to)) return disk_result::failed;
  const long long size = staged->second;
  staged->second = -1;
  files[to] = size;
  return disk_result::done;
}

disk_result dry_disk::remove(const std::string& path) {
  if (found(path) == disk_result::missing) return disk_result::missing;
  if (!files.count(path) && !may_change_folder_of(path))
    return disk_result::failed;
  files[path] = -1;
  return disk_result::done;
}
