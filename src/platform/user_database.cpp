#include "platform/user_database.h"

#include <algorithm>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

/// The fields of `line`, split at each ':'.
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t colon; (colon = line.find(':')) != std::string_view::npos;) {
    fields.push_back(line.substr(0, colon));
    line.remove_prefix(colon + 1);
  }
  fields.push_back(line);
  return fields;
}

/// A decimal id, all digits and at most 32 bits; false for anything else.
bool id_of(std::string_view text, std::uint32_t* id) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  *id = static_cast<std::uint32_t>(value);
  return true;
}

/// Calls `each` with the fields of every line of `text`.
template <typename Each>
void each_line(std::string_view text, const Each& each) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line[0] != '#') each(fields_of(line));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

#ifndef _WIN32
std::string user_file_text(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return "";
  std::string text;
  struct stat facts;
  if (fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode)) {
    text.resize(static_cast<std::size_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(facts.st_size), largest_user_file)));
    std::size_t got = 0;
    for (ssize_t more = 1; got < text.size() && more > 0;) {
      more = read(fd, &text[got], text.size() - got);
      if (more > 0) got += static_cast<std::size_t>(more);
    }
    text.resize(got);
  }
  close(fd);
  return text;
}
#endif

user_database::user_database(std::string_view passwd, std::string_view group) {
  // name:password:uid:gid:gecos:home:shell
  each_line(passwd, [&](const std::vector<std::string_view>& fields) {
    user_entry user;
    if (fields.size() < 4 || !id_of(fields[2], &user.id) ||
        !id_of(fields[3], &user.group))
      return;
    user.name = std::string(fields[0]);
    users.push_back(std::move(user));
  });
  // name:password:gid:member,member
  each_line(group, [&](const std::vector<std::string_view>& fields) {
    group_entry entry;
    if (fields.size() < 3 || !id_of(fields[2], &entry.id)) return;
    entry.name = std::string(fields[0]);
    std::string_view members = fields.size() > 3 ? fields[3] : "";
    while (!members.empty()) {
      const std::size_t comma = members.find(',');
      if (comma != 0) entry.members.emplace_back(members.substr(0, comma));
      if (comma == std::string_view::npos) break;
      members.remove_prefix(comma + 1);
    }
    groups.push_back(std::move(entry));
  });
}

namespace {

/// Reads the system's files into `users` where they are still unread.
void read_if_unread(const user_database& users) {
  if (!users.unread) return;
  users.unread = false;
#ifndef _WIN32
  user_database read(user_file_text("/etc/passwd"),
                     user_file_text("/etc/group"));
  users.users = std::move(read.users);
  users.groups = std::move(read.groups);
#endif
}

}  // namespace

const user_entry* user_database::user(std::uint32_t id) const {
  read_if_unread(*this);
  for (const user_entry& entry : users)
    if (entry.id == id) return &entry;
  return nullptr;
}

const group_entry* user_database::group(std::uint32_t id) const {
  read_if_unread(*this);
  for (const group_entry& entry : groups)
    if (entry.id == id) return &entry;
  return nullptr;
}

user_database system_user_database() {
  user_database users;
  users.unread = true;
  return users;
}

std::uint32_t group_to_act_in(const user_database& users, std::uint32_t owner,
                              std::uint32_t folder_group) {
  const user_entry* user = users.user(owner);
  if (!user) return 0;
  if (folder_group == 0 || folder_group == user->group) return user->group;
  if (const group_entry* group = users.group(folder_group))
    for (const std::string& member : group->members)
      if (member == user->name) return folder_group;
  return user->group;
}

std::string user_shown(const user_database& users, std::uint32_t id) {
  const user_entry* user = users.user(id);
  return user ? user->name + " (" + std::to_string(id) + ")"
              : std::to_string(id);
}

std::string group_shown(const user_database& users, std::uint32_t id) {
  const group_entry* group = users.group(id);
  return group ? group->name + " (" + std::to_string(id) + ")"
               : std::to_string(id);
}
