#include "folder_owner.h"

#ifdef _WIN32

owner_decision act_as_rotation_owner(run_start*) { return {}; }

#else
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "path.h"

namespace {

/// Whether only root may change the entries of a folder: root's, and no
/// write bit for its group or others.
bool only_root_changes(const struct stat& folder) {
  return folder.st_uid == 0 && (folder.st_mode & 022) == 0;
}

/// Where following a path as root stops.
struct stop {
  std::string folder, name;
  struct stat status {};
};

/// Follows `path` as root, link after link, only while the link lies in a
/// folder that only root may change: no one else could have put it there.
/// Stops at the first thing that is no link, or at a link in any other
/// folder, which the run then follows, if at all, as the user it acts as.
bool follow_as_root(std::string path, stop* at) {
  for (int hops = 0; hops < 40; ++hops) {
    at->folder = folder_of(path);
    at->name = name_of(path);
    struct stat entry;
    if (stat(at->folder.c_str(), &at->status) != 0) return false;
    if (!only_root_changes(at->status) || lstat(path.c_str(), &entry) != 0 ||
        !S_ISLNK(entry.st_mode))
      return true;
    char link[PATH_MAX];
    const ssize_t size = readlink(path.c_str(), link, sizeof link);
    if (size <= 0 || size == static_cast<ssize_t>(sizeof link)) return false;
    const std::string next(link, static_cast<std::size_t>(size));
    path = next[0] == '/' ? next : path_in(at->folder, next);
  }
  return false;
}

/// The fields of the line of `file` (/etc/passwd, /etc/group) whose field
/// `key_field` is `key`; empty where there is none. Read by hand rather than
/// through the C library, whose look-ups a static program can't rely on.
std::vector<std::string> database_line(const char* file, std::size_t key_field,
                                       const std::string& key) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ':');)
      fields.push_back(field);
    if (fields.size() > key_field && fields[key_field] == key) return fields;
  }
  return {};
}

/// The group a run acts in for the owner of `folder`: the folder's own,
/// where the owner belongs to it, as their own group or as a member;
/// otherwise the owner's own group. Never root's: 0 where there is none.
gid_t group_for(const struct stat& folder) {
  const std::vector<std::string> user =
      database_line("/etc/passwd", 2, std::to_string(folder.st_uid));
  if (user.size() < 4) return 0;
  const gid_t own =
      static_cast<gid_t>(std::strtoul(user[3].c_str(), nullptr, 10));
  if (folder.st_gid == 0 || folder.st_gid == own) return own;
  const std::vector<std::string> group =
      database_line("/etc/group", 2, std::to_string(folder.st_gid));
  std::istringstream members(group.size() > 3 ? group[3] : "");
  for (std::string member; std::getline(members, member, ',');)
    if (member == user[0]) return folder.st_gid;
  return own;
}

/// Gives root up for good for `user` in `group`, and checks that it is gone.
bool give_up_root(uid_t user, gid_t group) {
  // Groups first, while root may still change them; the user last, which
  // ends every right to change anything back.
  if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(user) != 0)
    return false;
  gid_t groups[1];
  return getuid() == user && geteuid() == user && getgid() == group &&
         getegid() == group && getgroups(1, groups) == 0 && setuid(0) != 0 &&
         setgid(0) != 0;
}

std::string shown_folder(const std::string& folder) {
  char full[PATH_MAX];
  return realpath(folder.c_str(), full) ? full : folder;
}

/// Reads the map list as root where it lies in a folder of root's alone;
/// otherwise leaves it, at a path that still leads there from the
/// rotation's folder, to the run.
void take_map_list(run_start* start) {
  stop at;
  if (!follow_as_root(start->list, &at)) {
    start->list_given = true;
    start->list_read = disk_result::failed;
    start->list_why = "too many links, or a folder on the way is missing";
    return;
  }
  if (only_root_changes(at.status)) {
    system_disk disk;
    start->list_given = true;
    start->list_read =
        disk.read_file(path_in(at.folder, at.name), &start->list_bytes);
    start->list_why = disk.failure_reason();
    return;
  }
  start->list = path_in(shown_folder(at.folder), at.name);
}

}  // namespace

owner_decision act_as_rotation_owner(run_start* start) {
  if (geteuid() != 0) return {};
  owner_decision decision;
  stop at;
  if (!follow_as_root(start->rotation, &at))
    return {owner_switch::failed,
            "SW_rotate.cfg leads through too many links, or into a folder "
            "that isn't there"};
  take_map_list(start);
  // Named only where a reason is given.
  const auto folder = [&] { return shown_folder(at.folder); };
  if (at.status.st_uid == 0 && !only_root_changes(at.status))
    return {owner_switch::refused,
            folder() +
                " belongs to root, and its group or others may write it: "
                "a run as root writes nothing there. Make it root's "
                "alone (chmod go-w), give it to the server's user "
                "(chown), or run the tool as that user"};
  if (at.status.st_uid != 0) {
    const gid_t group = group_for(at.status);
    if (group == 0)
      return {owner_switch::failed,
              folder() + " belongs to user " +
                  std::to_string(at.status.st_uid) +
                  ", who has no group of their own but root's in /etc/passwd: "
                  "a run as root writes nothing there. Give the folder a "
                  "group of that user's (chgrp)"};
    if (!give_up_root(at.status.st_uid, group))
      return {owner_switch::failed,
              "a run as root couldn't give up root for the owner of " +
                  folder() + ", so it writes nothing"};
    decision = {owner_switch::given_up, "the owner of " + folder() + " (user " +
                                            std::to_string(at.status.st_uid) +
                                            ", group " + std::to_string(group) +
                                            ")"};
  }
  // From here on, every path the run uses starts in the rotation's folder.
  if (chdir(at.folder.c_str()) != 0)
    return {owner_switch::failed, folder() + " can't be entered"};
  start->rotation = at.name;
  return decision;
}

#endif
