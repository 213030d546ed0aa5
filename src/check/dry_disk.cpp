#include "check/dry_disk.h"

#include <cerrno>
#include <cstring>

#include "platform/path.h"

namespace {

constexpr const char* not_permitted = "Permission denied";
constexpr const char* no_such = "No such file or directory";
constexpr const char* file_exists = "File exists";

/// A name as the folder's listing is asked for it: on Windows, whose
/// names match in any case, in lower case.
std::string listed_as(const std::string& name) {
#ifdef _WIN32
  return lower(name);
#else
  return name;
#endif
}

/// The blocks of `block_size` bytes that `size` bytes take.
long long blocks_of(std::uint64_t size, std::uint64_t block_size) {
  return static_cast<long long>((size + block_size - 1) / block_size);
}

/// What system_disk answers when asked to write the file of `facts` in
/// place as `user`: the system's refusal to open it for writing, in its
/// own words, or the rule of its own that refuses it.
disk_status in_place_answer(const file_facts& facts, std::uint32_t user) {
  const auto refused = [](const char* why) {
    return disk_status(disk_result::failed, why);
  };
  switch (facts.kind) {
    case file_kind::missing:
      return {disk_result::missing, no_such};
    case file_kind::link:
      return refused(std::strerror(ELOOP));
    case file_kind::folder:
      return refused(std::strerror(EISDIR));
    default:
      break;
  }
  if (facts.append_only || facts.immutable)
    return refused(std::strerror(EPERM));
  if (facts.kind != file_kind::regular) return refused(not_regular_reason);
  if (!facts.may_write) return refused(not_permitted);
  if (facts.link_count != 1) return refused(hard_linked_reason);
  if (facts.owner != user) return refused(not_own_reason);
  return {};
}

}  // namespace

dry_disk::folder_view& dry_disk::view_of(const disk_folder& at) {
  // By the folder's identity where the disk knows it, so that one folder
  // reached by two ways (a link, "..") is one view; else by its path.
  folder_view& view = folders[at.inode != 0 ? std::to_string(at.device) + ":" +
                                                  std::to_string(at.inode)
                                            : "path:" + at.path];
  if (!view.listed) {
    std::vector<std::string> names;
    view.listed = target.list_folder(at, &names).ok();
    for (const std::string& name : names) view.names.insert(listed_as(name));
  }
  return view;
}

disk_status dry_disk::found(const disk_folder& at, const std::string& name) {
  file_facts facts;
  if (disk_status looked = entry_facts(at, name, &facts); !looked.ok())
    return looked;
  return facts.kind == file_kind::missing
             ? disk_status(disk_result::missing, no_such)
             : disk_status();
}

disk_status dry_disk::may_change(const disk_folder& at) {
  folder_view& view = view_of(at);
  if (!view.asked) {
    file_facts folder;
    view.changes = target.entry_facts(at, ".", &folder);
    if (view.changes.ok() && !folder.may_write)
      view.changes = {disk_result::failed, not_permitted};
    view.asked = true;
  }
  return view.changes;
}

dry_disk::folder_view& dry_disk::room_of(const disk_folder& at) {
  folder_view& view = view_of(at);
  if (!view.room_asked) {
    view.room_known = target.free_space(at, &view.room);
    view.room_asked = true;
  }
  return view;
}

disk_status dry_disk::room_for(const disk_folder& at, std::size_t size) {
  const folder_view& view = room_of(at);
  const disk_room& room = view.room;
  if (!view.room_known.ok() || room.block_size == 0)
    return {};  // can't be asked: let the run find out
  // No one may use more files or blocks than are free.
  const long long blocks = blocks_of(size, room.block_size);
  if (made >= 0 && room.files <= static_cast<unsigned long long>(made))
    return {disk_result::failed, std::strerror(ENOSPC)};
  if (blocks + blocks_made > 0 &&
      room.blocks < static_cast<unsigned long long>(blocks + blocks_made))
    return {disk_result::failed, std::strerror(ENOSPC)};
  ++made;
  blocks_made += blocks;
  return {};
}

void dry_disk::give_back(const disk_folder& at, const std::string& name) {
  folder_view& view = room_of(at);
  file_facts facts;
  if (!view.room_known.ok() || view.room.block_size == 0 ||
      view.second_names.erase(name) || !entry_facts(at, name, &facts).ok() ||
      facts.kind != file_kind::regular || facts.link_count != 1)
    return;
  --made;
  blocks_made -= blocks_of(facts.size, view.room.block_size);
}

disk_status dry_disk::entry_facts(const disk_folder& at,
                                  const std::string& name, file_facts* facts) {
  folder_view& view = view_of(at);
  const auto changed = view.changed.find(name);
  if (changed == view.changed.end()) {
    // A name the folder's listing doesn't hold isn't there.
    if (view.listed && name != "." && name != ".." &&
        !view.names.count(listed_as(name))) {
      *facts = file_facts{};
      return {};
    }
    const auto known = view.facts.find(name);
    if (known != view.facts.end()) {
      *facts = known->second;
      return {};
    }
    const disk_status looked = target.entry_facts(at, name, facts);
    if (looked.ok()) view.facts.emplace(name, *facts);
    return looked;
  }
  *facts = file_facts{};
  if (changed->second >= 0) {
    facts->kind = file_kind::regular;
    facts->owner = target.user();
    facts->mode = 0640;
    facts->size = static_cast<std::uint64_t>(changed->second);
    facts->may_write = true;
  }
  return {};
}

disk_status dry_disk::open_file(const disk_folder& at, const std::string& name,
                                std::unique_ptr<readable_file>* file) {
  if (view_of(at).changed.count(name))
    return {disk_result::failed, "a file this run made"};
  return target.open_file(at, name, file);
}

disk_status dry_disk::lock(const disk_folder& at, const std::string& name,
                           unsigned, std::unique_ptr<disk_lock>* held) {
  // A lock file that isn't there yet is made by the run, where it may: one
  // more file on the disk.
  // The lock is asked as the run takes it, never waited for, so that the
  // check holds nothing up: where the file system takes none, or one that
  // is there can't be used, the run keeps the rotation, and so does this.
  if (found(at, name) == disk_result::missing) {
    disk_status made_here = may_change(at);
    if (made_here.ok()) made_here = room_for(at, 0);
    if (!made_here.ok()) return {disk_result::missing, made_here.reason};
    if (disk_status asked = target.lock(at, name, 0, nullptr); !asked.ok())
      return asked;
    view_of(at).changed[name] = 0;
  } else if (const disk_status asked = target.lock(at, name, 0, nullptr);
             !asked.ok()) {
    return asked;
  }
  if (held) *held = std::make_unique<disk_lock>();
  return {};
}

disk_status dry_disk::write_new(const disk_folder& at, const std::string& name,
                                std::string_view bytes, const file_facts*) {
  if (found(at, name) != disk_result::missing)
    return {disk_result::exists, file_exists};
  disk_status made_here = may_change(at);
  if (made_here.ok()) made_here = room_for(at, bytes.size());
  if (!made_here.ok()) return {disk_result::failed, made_here.reason};
  view_of(at).changed[name] = static_cast<long long>(bytes.size());
  return {};
}

disk_status dry_disk::write_in_place(const disk_folder& at,
                                     const std::string& name,
                                     std::string_view bytes) {
  file_facts facts;
  if (disk_status looked = entry_facts(at, name, &facts); !looked.ok())
    return looked;
  if (disk_status opens = in_place_answer(facts, target.user()); !opens.ok())
    return opens;
  view_of(at).changed[name] = static_cast<long long>(bytes.size());
  return {};
}

disk_status dry_disk::hard_link(const disk_folder& at, const std::string& from,
                                const std::string& link) {
  if (found(at, link) != disk_result::missing)
    return {disk_result::exists, file_exists};
  if (disk_status original = found(at, from); !original.ok()) return original;
  if (const disk_status changes = may_change(at); !changes.ok()) return changes;
  folder_view& view = room_of(at);
  if (view.room_known.ok() && !view.room.hard_links)
    return {disk_result::failed, std::strerror(EPERM)};
  if (const auto known = view.facts.find(from); known != view.facts.end())
    ++known->second.link_count;
  view.second_names.insert(link);
  view.changed[link] = 0;
  return {};
}

disk_status dry_disk::rename(const disk_folder& at, const std::string& from,
                             const std::string& to) {
  folder_view& view = view_of(at);
  const auto staged = view.changed.find(from);
  if (staged == view.changed.end() || staged->second < 0)
    return {disk_result::failed, "no file this run made"};
  if (const disk_status changes = may_change(at); !changes.ok()) return changes;
  const long long size = staged->second;
  if (found(at, to).ok()) give_back(at, to);
  staged->second = -1;
  view.changed[to] = size;
  return {};
}

disk_status dry_disk::exchange(const disk_folder& at, const std::string& a,
                               const std::string& b) {
  if (disk_status there = found(at, a); !there.ok()) return there;
  if (disk_status there = found(at, b); !there.ok()) return there;
  if (const disk_status changes = may_change(at); !changes.ok()) return changes;
  // Not asked of the real disk, which can't answer without swapping: a dry
  // run keeps a replaced file by a second name, or a copy, as a run does
  // where names can't be swapped. Both ways end alike wherever a second
  // name can be made; where none can (a file system without hard links),
  // the dry run may see no room for a copy that a swap would not need.
  return {disk_result::failed, "a dry run swaps no names"};
}

disk_status dry_disk::remove(const disk_folder& at, const std::string& name) {
  if (disk_status there = found(at, name); !there.ok()) return there;
  folder_view& view = view_of(at);
  if (!view.changed.count(name))
    if (const disk_status changes = may_change(at); !changes.ok())
      return changes;
  give_back(at, name);
  view.changed[name] = -1;
  return {};
}
