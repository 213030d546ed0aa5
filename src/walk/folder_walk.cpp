#include "walk/folder_walk.h"

#include <utility>

#include "platform/path.h"

disk_status working_trail(disk_interface& disk, folder_trail* trail) {
  trail->clear();
  return disk.working_folders(trail);
}

#ifdef _WIN32

namespace {

bool is_absolute(std::string_view path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

}  // namespace

walk_end walk(disk_interface& disk, const folder_trail& from,
              std::string_view path, link_rule, bool into_folder) {
  // Windows follows every link on the way itself, as the game's own opens
  // do there, and has no root to guard: the path is taken as it is.
  const std::string full = is_absolute(path)
                               ? std::string(path)
                               : path_in(from.back().path, std::string(path));
  walk_end end;
  disk_folder folder;
  folder.path = folder_of(full);
  disk_status status;
  if (into_folder) {
    disk_folder opened;
    status = disk.open_folder(folder, name_of(full), &opened);
    end.trail = {opened};
    end.facts = opened.facts;
  } else {
    end.trail = {folder};
    end.name = name_of(full);
    status = disk.entry_facts(folder, end.name, &end.facts);
  }
  end.stop = status.ok() ? walk_stop::reached : walk_stop::failed;
  if (!status.ok()) {
    end.where = full;
    end.reason = status.reason;
    end.missing = status == disk_result::missing;
    end.why = full + ": " + status.reason;
  }
  return end;
}

walk_end walk_on(disk_interface&, const walk_end& stopped, link_rule, bool) {
  return stopped;
}

#else

namespace {

/// The most links one walk follows, as the kernel's own limit.
constexpr int most_links = 40;

/// Whether only root may change the entries of folder `facts`: root's,
/// with no write bit for its group or others.
bool only_root_changes(const file_facts& facts) {
  return facts.owner == 0 && (facts.mode & 022) == 0;
}

bool sticky(const file_facts& facts) { return (facts.mode & 01000) != 0; }

/// The names of `path`, the first last, so that the next is at the back;
/// without empty names and ".".
void push_names(std::string_view path, std::vector<std::string>* names) {
  std::vector<std::string> ahead;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view name = path.substr(0, slash);
    if (!name.empty() && name != ".") ahead.emplace_back(name);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  names->insert(names->end(), std::make_move_iterator(ahead.rbegin()),
                std::make_move_iterator(ahead.rend()));
}

/// What a walk as root makes of one entry: trusted (reached), or why not.
struct judgement {
  walk_stop stop = walk_stop::reached;
  std::uint32_t owner = 0, group = 0;
  std::string where, why;
};

/// What a walk as root makes of `entry`, shown as `shown`, in `folder`,
/// which only root may change or which is sticky; `entering` where the walk
/// goes into it as a folder, whose entries its owner may then change.
/// `names_protected` where no user may give another's file a name.
judgement judged_as_root(const disk_folder& folder, const std::string& shown,
                         const file_facts& entry, bool entering,
                         bool names_protected) {
  if (!only_root_changes(folder.facts)) {
    if (!sticky(folder.facts))
      return {walk_stop::refused, 0, 0, folder.path,
              folder.path +
                  " belongs to root, and its group or others may write it"};
    // A sticky folder of root's, as /tmp: others may add to it, but not
    // rename or remove what root owns.
    if (entry.kind == file_kind::missing)
      return {walk_stop::refused, 0, 0, folder.path,
              shown +
                  " isn't there, in a folder of root's that others may add "
                  "to"};
    // Where anyone may give a file of root's another name, an entry of
    // root's with more names than one may be another user's doing: a hard
    // link to root's file, made to have root act on it.
    if (!names_protected && entry.owner == 0 &&
        entry.kind != file_kind::folder && entry.link_count > 1)
      return {walk_stop::refused, 0, 0, shown,
              shown + " has " + std::to_string(entry.link_count) +
                  " names, in a folder of root's that others may add to, "
                  "where anyone may give a file another name: it may be "
                  "another user's hard link"};
    entering = true;
  }
  if (!entering || entry.owner == 0) return {};
  return {walk_stop::other_user, entry.owner, entry.group, shown,
          shown + " belongs to another user"};
}

/// One walk, name after name, from end.trail with end.rest left to walk.
struct walker {
  disk_interface& disk;
  link_rule links;
  bool into_folder;
  bool as_root;
  /// As root: whether hard links are protected, asked once a walk.
  bool names_protected;
  walk_end end;
  int hops = 0;

  /// Ends the walk with `how`, for `why`: what run() returns.
  walk_end stop(walk_stop how, std::string why) {
    end.stop = how;
    end.why = std::move(why);
    return std::move(end);
  }

  /// Ends the walk, which failed at `shown`, for `reason`.
  walk_end failed(const std::string& shown, std::string reason) {
    end.where = shown;
    end.reason = std::move(reason);
    return stop(walk_stop::failed, shown + ": " + end.reason);
  }

  /// Stops where `judged` says so; false where the walk goes on. `name` is
  /// walked again by whoever goes on.
  bool stops(judgement judged, const std::string& name) {
    if (judged.stop == walk_stop::reached) return false;
    end.owner = judged.owner;
    end.group = judged.group;
    end.where = std::move(judged.where);
    if (!name.empty()) end.rest.push_back(name);
    end.stop = judged.stop;
    end.why = std::move(judged.why);
    return true;
  }

  /// As root: whether a folder of the trail, from "/" down, isn't root's
  /// alone; then the rest is walked from the last, as its owner.
  bool trail_stops_as_root() {
    const folder_trail& trail = end.trail;
    for (std::size_t i = 0; i < trail.size(); ++i) {
      const judgement judged =
          i == 0 ? judgement{trail[0].facts.owner == 0 ? walk_stop::reached
                                                       : walk_stop::other_user,
                             trail[0].facts.owner, trail[0].facts.group, "/",
                             "/ belongs to another user"}
                 : judged_as_root(trail[i - 1], trail[i].path, trail[i].facts,
                                  true, names_protected);
      if (stops(judged, "")) return true;
    }
    return false;
  }

  walk_end run() {
    if (as_root && trail_stops_as_root()) return std::move(end);
    folder_trail& trail = end.trail;
    std::vector<std::string>& names = end.rest;
    while (!names.empty()) {
      const std::string name = std::move(names.back());
      names.pop_back();
      if (name == "..") {
        if (trail.size() > 1) trail.pop_back();
        continue;
      }
      const bool last = names.empty();
      const std::string shown = shown_path(trail.back(), name);
      file_facts facts;
      if (disk_status looked = disk.entry_facts(trail.back(), name, &facts);
          !looked.ok())
        return failed(shown, looked.reason);
      const bool entering =
          facts.kind == file_kind::folder && (!last || into_folder);
      if (as_root && stops(judged_as_root(trail.back(), shown, facts, entering,
                                          names_protected),
                           name))
        return std::move(end);
      if (facts.kind == file_kind::link) {
        if (!as_root && links == link_rule::own_or_folder_owner &&
            facts.owner != disk.user() &&
            facts.owner != trail.back().facts.owner)
          return failed(shown,
                        "a link that belongs neither to this user nor to the "
                        "folder's owner, which is not followed");
        std::string target;
        if (disk_status read = disk.read_link(trail.back(), name, &target);
            !read.ok() || target.empty())
          return failed(shown, "a link that can't be read");
        if (++hops > most_links)
          return failed(shown, "too many links, one after another");
        if (target[0] == '/') trail.resize(1);
        push_names(target, &names);
        continue;
      }
      if (last && !into_folder) {
        end.stop = walk_stop::reached;
        end.name = name;
        end.facts = facts;
        return std::move(end);
      }
      end.missing = facts.kind == file_kind::missing;
      if (facts.kind != file_kind::folder)
        return failed(shown, !end.missing ? "not a folder"
                             : last       ? "not there"
                                          : "a folder on the way isn't there");
      disk_folder next;
      if (disk_status opened = disk.open_folder(trail.back(), name, &next);
          !opened.ok())
        return failed(shown, opened.reason);
      // What was opened decides, whatever was looked at before.
      if (as_root && stops(judged_as_root(trail.back(), shown, next.facts, true,
                                          names_protected),
                           name))
        return std::move(end);
      trail.push_back(std::move(next));
    }
    if (!into_folder) return failed(trail.back().path, "a folder");
    end.stop = walk_stop::reached;
    end.facts = trail.back().facts;
    return std::move(end);
  }
};

/// A walk by this process, as whoever it acts as, from `trail` with `rest`
/// still to walk, the next last.
walk_end walk_from(disk_interface& disk, folder_trail trail,
                   std::vector<std::string> rest, link_rule links,
                   bool into_folder) {
  const bool as_root = disk.user() == 0;
  walker walk{disk,
              links,
              into_folder,
              as_root,
              !as_root || disk.hard_links_protected(),
              {}};
  walk.end.trail = std::move(trail);
  walk.end.rest = std::move(rest);
  return walk.run();
}

}  // namespace

walk_end walk(disk_interface& disk, const folder_trail& from,
              std::string_view path, link_rule links, bool into_folder) {
  folder_trail trail = from;
  if (!path.empty() && path[0] == '/') trail.resize(1);
  std::vector<std::string> rest;
  push_names(path, &rest);
  return walk_from(disk, std::move(trail), std::move(rest), links, into_folder);
}

walk_end walk_on(disk_interface& disk, const walk_end& stopped, link_rule links,
                 bool into_folder) {
  return walk_from(disk, stopped.trail, stopped.rest, links, into_folder);
}

#endif
