#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// One line of /etc/passwd.
struct user_entry {
  std::string name;
  std::uint32_t id = 0, group = 0;
};

/// One line of /etc/group.
struct group_entry {
  std::string name;
  std::uint32_t id = 0;
  std::vector<std::string> members;
};

/// The system's users and groups, as /etc/passwd and /etc/group list them,
/// read by hand: a static program can't rely on the C library's look-ups
/// (NSS). The tests fill one from text of their own.
struct user_database {
  user_database() = default;
  /// Reads the texts of the two files; a line that isn't one is skipped.
  user_database(std::string_view passwd, std::string_view group);

  /// The user or group of that number; null where there is none.
  const user_entry* user(std::uint32_t id) const;
  const group_entry* group(std::uint32_t id) const;

  /// Filled where they are first asked for, where `unread`: most runs never
  /// ask.
  mutable std::vector<user_entry> users;
  mutable std::vector<group_entry> groups;
  /// Whether the system's files are still to be read.
  mutable bool unread = false;
};

/// The system's: /etc/passwd and /etc/group, read as this process where
/// first asked (none on Windows), each as user_file_text reads it.
user_database system_user_database();

/// The most of a user file that is read: far more than any system's, a line
/// a user or group.
inline constexpr std::size_t largest_user_file = std::size_t{16} << 20;

/// The text of the user file at `path`: opened without waiting, so that a
/// named pipe in its place never holds a run up, read only where it is a
/// regular file (not a device that never ends), and at most
/// largest_user_file bytes of it; empty where it can't be. POSIX only.
std::string user_file_text(const char* path);

/// The group a run acts in for user `owner` in a folder of group
/// `folder_group`: the folder's, where the user belongs to it (as their own
/// group, or as a member); otherwise the user's own group. Never root's: 0
/// where there is no other.
std::uint32_t group_to_act_in(const user_database& users, std::uint32_t owner,
                              std::uint32_t folder_group);

/// User `id` for a person to read: "gs (1000)", or "1000" where it has no
/// name.
std::string user_shown(const user_database& users, std::uint32_t id);
/// The same for group `id`.
std::string group_shown(const user_database& users, std::uint32_t id);
