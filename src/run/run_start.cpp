#include "run/run_start.h"

#include <utility>

#include "platform/path.h"
#include "run/rotation_script.h"

namespace {

/// A decision to write nothing (refused, failed), for `why`.
owner_decision writes_nothing(owner_switch how, std::string why) {
  owner_decision decision;
  decision.result = how;
  decision.why = std::move(why);
  return decision;
}

/// Keeps `bytes`, the map list's, in `start`, with the text to read in them.
void keep_list(std::string bytes, run_start* start) {
  auto kept = std::make_shared<std::string>(std::move(bytes));
  start->list.text = map_list_text(kept.get(), &start->list.encoding);
  start->list.bytes = std::move(kept);
}

/// Reads the map list that `end` reached, or says why it can't be.
void read_list(disk_interface& disk, const walk_end& end, run_start* start) {
  if (end.stop != walk_stop::reached) {
    start->list.status = {
        end.missing ? disk_result::missing : disk_result::failed, end.why};
    return;
  }
  start->list.file = shown_path(end.trail.back(), end.name);
  std::string bytes;
  start->list.status = read_whole(disk, end.trail.back(), end.name, &bytes);
  if (start->list.status.ok()) keep_list(std::move(bytes), start);
}

#ifndef _WIN32
/// Where a walk that stopped at another user's (other_user) still had to
/// go, for a person to read.
std::string still_to_walk(const walk_end& end) {
  std::string path = end.trail.back().path;
  for (auto name = end.rest.rbegin(); name != end.rest.rend(); ++name)
    path = path_in(path, *name);
  return path;
}

/// Reads the map list, whose walk stopped at user `end.owner`'s, as that
/// user, in a process of its own: this one keeps root, or acts as another.
void read_list_as_owner(disk_interface& disk, const user_database& users,
                        const walk_end& end, run_start* start) {
  start->list.file = still_to_walk(end);
  const std::uint32_t group = group_to_act_in(users, end.owner, end.group);
  if (group == 0) {
    start->list.status = {disk_result::failed,
                          "it lies where user " + user_shown(users, end.owner) +
                              " may change it, who has no group of their own "
                              "but root's to read it in"};
    return;
  }
  std::string bytes;
  start->list.status = disk.as_user(
      end.owner, group,
      [&](disk_interface& as_owner, std::string* read) {
        const walk_end rest =
            walk_on(as_owner, end, link_rule::own_or_folder_owner);
        if (rest.stop != walk_stop::reached)
          return disk_status(
              rest.missing ? disk_result::missing : disk_result::failed,
              rest.why);
        return read_whole(as_owner, rest.trail.back(), rest.name, read);
      },
      &bytes);
  if (start->list.status.ok()) keep_list(std::move(bytes), start);
}

/// What a run as root does, from where the walk to the rotation stopped.
owner_decision decided_as_root(const user_database& users,
                               const walk_end& rotation) {
  if (rotation.stop == walk_stop::refused)
    return writes_nothing(
        owner_switch::refused,
        shown_absolute(rotation.where) +
            " belongs to root, and its group or others may write it: a run "
            "as root writes nothing there. Make it root's alone (chmod "
            "go-w), give it to the server's user (chown), or run the tool "
            "as that user");
  // Reached (root's alone all the way), or a failure the run records.
  if (rotation.stop != walk_stop::other_user) return {};
  const std::string where = shown_absolute(rotation.where);
  const std::uint32_t group =
      group_to_act_in(users, rotation.owner, rotation.group);
  if (group == 0)
    return writes_nothing(
        owner_switch::failed,
        where + " belongs to user " + user_shown(users, rotation.owner) +
            ", who has no group of their own but root's in /etc/passwd: a "
            "run as root writes nothing there. Give it a group of that "
            "user's (chgrp)");
  owner_decision decision;
  decision.result = owner_switch::given_up;
  decision.user = rotation.owner;
  decision.group = group;
  decision.folder = where;
  return decision;
}

/// A run as root, from where its walks to the rotation and to the list
/// stopped: decides whom it acts as, reads the list as it must be read,
/// gives root up where it must, and walks on to the rotation as that user.
owner_decision start_as_root(disk_interface& disk, const user_database& users,
                             walk_end& rotation, const walk_end& list,
                             run_start* start) {
  owner_decision decision = decided_as_root(users, rotation);
  const bool gives_up = decision.result == owner_switch::given_up;
  // The list is read now, before root is given up, where only root may
  // change its way, or where its way is another user's than the one the
  // run acts as; else as that user, below.
  const bool list_as_owner = list.stop == walk_stop::other_user;
  if (list_as_owner && !(gives_up && list.owner == decision.user))
    read_list_as_owner(disk, users, list, start);
  else if (!list_as_owner)
    read_list(disk, list, start);
  if (!gives_up) return decision;
  if (const disk_status given_up =
          disk.give_up_root(decision.user, decision.group);
      !given_up.ok())
    return writes_nothing(
        owner_switch::failed,
        "a run as root couldn't give up root for the owner of " +
            decision.folder + " (" + given_up.reason +
            "), so it writes nothing");
  rotation = walk_on(disk, rotation, link_rule::own_or_folder_owner);
  if (list_as_owner && list.owner == decision.user)
    read_list(disk, walk_on(disk, list, link_rule::own_or_folder_owner), start);
  return decision;
}
#endif

}  // namespace

owner_decision start_run(disk_interface& disk, const user_database& users,
                         run_start* start) {
  if (const disk_status here = working_trail(disk, &start->here); !here.ok()) {
    start->not_found = "the working folder can't be opened: " + here.reason;
    start->list.status = {disk_result::failed, start->not_found};
    return disk.user() == 0
               ? writes_nothing(owner_switch::failed, start->not_found)
               : owner_decision{};
  }
  walk_end rotation = walk(disk, start->here, rotation_script_file(1),
                           link_rule::own_or_folder_owner);
  const walk_end list =
      walk(disk, start->here, map_list_file, link_rule::own_or_folder_owner);
  owner_decision decision;
#ifdef _WIN32
  (void)users;  // no one is root
#else
  if (disk.user() == 0)
    decision = start_as_root(disk, users, rotation, list, start);
  else
#endif
  read_list(disk, list, start);
  start->found = rotation.stop == walk_stop::reached;
  if (start->found)
    start->script = {std::move(rotation.trail), std::move(rotation.name),
                     rotation.facts};
  else
    start->not_found = rotation.why;
  return decision;
}
