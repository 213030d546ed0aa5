#include "support/memory_disk.h"

#include <algorithm>
#include <new>

#include "platform/path.h"

namespace {

/// The system's words, as a real disk gives them.
constexpr const char* no_such = "No such file or directory";
constexpr const char* denied = "Permission denied";
constexpr const char* not_permitted = "Operation not permitted";

/// A lock that nothing can see: the memory disk is one run's alone.
struct memory_lock : disk_lock {};

}  // namespace

namespace {

/// The handle of a folder the memory disk opened: its identity.
struct memory_handle : disk_handle {
  explicit memory_handle(std::uint64_t id) : id(id) {}
  std::uint64_t id;
};

/// Where the names of a folder that is gone lie: in no folder at all.
constexpr const char* gone = "/\x01gone";

}  // namespace

memory_disk::memory_disk() {
  make_folder("/", 0, 0, 0755);
  make_folder("/w");
}

void memory_disk::heal() {
  calls.clear();
  events.clear();
  broken.clear();
  broken_of.clear();
}

void memory_disk::break_calls(int first, int times, fault how) {
  for (int call = first; call < first + times; ++call) broken[call] = how;
}

void memory_disk::break_calls(const std::string& kind, int first, int times,
                              fault how) {
  for (int call = first; call < first + times; ++call)
    broken_of[{kind, call}] = how;
}

disk_status memory_disk::fault_of(const std::string& kind) {
  calls.push_back(kind);
  const int call = static_cast<int>(calls.size()),
            of_kind =
                static_cast<int>(std::count(calls.begin(), calls.end(), kind));
  if (const auto event = events.find({kind, of_kind}); event != events.end()) {
    const std::function<void()> happen = std::move(event->second);
    events.erase(event);
    happen();
  }
  const fault* how = nullptr;
  if (const auto found = broken.find(call); found != broken.end())
    how = &found->second;
  else if (const auto of = broken_of.find({kind, of_kind});
           of != broken_of.end())
    how = &of->second;
  if (!how) return {};
  switch (*how) {
    case fault::kill:
      throw killed_run{};
    case fault::out_of_memory:
      throw std::bad_alloc();
    default:
      return {disk_result::failed, "Input/output error"};
  }
}

std::string memory_disk::absolute(const std::string& path) const {
  const std::string full =
      !path.empty() && path[0] == '/' ? path : working + "/" + path;
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at <= full.size()) {
    const std::size_t slash = std::min(full.find('/', at), full.size());
    const std::string name = full.substr(at, slash - at);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    at = slash + 1;
  }
  std::string joined;
  for (const std::string& name : names) joined += "/" + name;
  return joined.empty() ? "/" : joined;
}

void memory_disk::hold(const std::string& path, disk_folder* folder) const {
  const std::uint64_t id = folders.at(path).id;
  folder->handle = std::make_shared<memory_handle>(id);
  folder->device = 1, folder->inode = id;
  folder->facts = facts_of(path);
}

std::string memory_disk::path_of(const disk_folder& at) const {
  if (!at.handle) return "";
  const std::uint64_t id = static_cast<const memory_handle&>(*at.handle).id;
  for (const auto& [path, it] : folders)
    if (it.id == id) return path;
  return "";
}

std::string memory_disk::key(const disk_folder& at,
                             const std::string& name) const {
  const std::string folder = path_of(at);
  if (folder.empty()) return std::string(gone) + "/" + name;
  return absolute(path_in(folder, name));
}

bool memory_disk::may(std::uint32_t owner, std::uint32_t group,
                      std::uint32_t mode, std::uint32_t want) const {
  if (uid == 0) return true;
  const std::uint32_t bits =
      uid == owner ? mode >> 6
      : gid == group ||
              std::find(groups.begin(), groups.end(), group) != groups.end()
          ? mode >> 3
          : mode;
  return (bits & want) == want;
}

disk_status memory_disk::may_search(const std::string& path) const {
  const auto in = folders.find(folder_of(path));
  if (in == folders.end()) return {disk_result::missing, no_such};
  return may(in->second.owner, in->second.group, in->second.mode, 1)
             ? disk_status()
             : disk_status(disk_result::failed, denied);
}

disk_status memory_disk::may_change_in(const std::string& path) const {
  if (disk_status searched = may_search(path); !searched.ok()) return searched;
  const folder& in = folders.at(folder_of(path));
  if (in.immutable) return {disk_result::failed, not_permitted};
  return may(in.owner, in.group, in.mode, 3)
             ? disk_status()
             : disk_status(disk_result::failed, denied);
}

memory_disk::file& memory_disk::put(const std::string& path,
                                    const std::string& bytes) {
  const std::string at = absolute(path);
  make_folder(folder_of(at), uid, gid);
  files[at] = std::make_shared<file>();
  files[at]->bytes = bytes;
  files[at]->owner = uid;
  files[at]->group = gid;
  return *files[at];
}

memory_disk::file& memory_disk::at(const std::string& path) {
  return *files.at(absolute(path));
}

memory_disk::folder& memory_disk::make_folder(const std::string& path,
                                              std::uint32_t owner,
                                              std::uint32_t group,
                                              std::uint32_t mode) {
  const std::string at = absolute(path);
  if (at != "/" && !folders.count(folder_of(at)))
    make_folder(folder_of(at), owner, group);
  const auto [made, is_new] =
      folders.emplace(at, folder{owner, group, mode, false, false, 0});
  if (is_new) made->second.id = next_id++;
  return made->second;
}

void memory_disk::make_link(const std::string& path, const std::string& target,
                            std::uint32_t owner) {
  const std::string at = absolute(path);
  make_folder(folder_of(at), uid, gid);
  links[at] = {target, owner};
}

void memory_disk::erase(const std::string& path) {
  const std::string at = absolute(path);
  files.erase(at);
  folders.erase(at);
  links.erase(at);
}

void memory_disk::move(const std::string& from, const std::string& to) {
  const std::string source = absolute(from), target = absolute(to);
  const auto moved = [&](const std::string& path) {
    return path == source || path.rfind(source + "/", 0) == 0;
  };
  const auto moved_to = [&](const std::string& path) {
    return target + path.substr(source.size());
  };
  const auto move_all = [&](auto& map) {
    std::vector<std::string> paths;
    for (const auto& [path, it] : map)
      if (moved(path)) paths.push_back(path);
    for (const std::string& path : paths) {
      auto node = map.extract(path);
      node.key() = moved_to(path);
      map.insert(std::move(node));
    }
  };
  move_all(folders);
  move_all(files);
  move_all(links);
}

void memory_disk::at_call(const std::string& kind, int n,
                          std::function<void()> event) {
  events[{kind, n}] = std::move(event);
}

disk_status memory_disk::give_up_root(std::uint32_t user, std::uint32_t group) {
  if (uid != 0) return {disk_result::failed, not_permitted};
  uid = user;
  gid = group;
  groups.clear();
  return {};
}

disk_status memory_disk::as_user(std::uint32_t user, std::uint32_t group,
                                 const user_work& work, std::string* bytes) {
  if (uid != 0) return {disk_result::failed, not_permitted};
  const std::vector<std::uint32_t> had = groups;
  uid = user, gid = group, groups.clear();
  disk_status status;
  std::string out;
  try {
    status = work(*this, &out);
  } catch (const std::bad_alloc&) {
    status = {disk_result::failed, "ran out of memory"};
    out.clear();
  }
  uid = 0, gid = 0, groups = had;
  *bytes += out;
  return status;
}

disk_status memory_disk::working_folders(std::vector<disk_folder>* trail) {
  if (disk_status fault = fault_of("working_folders"); !fault.ok())
    return fault;
  // "/", then each folder down to the working one, named from it.
  std::vector<std::string> chain = {working};
  while (chain.back() != "/") chain.push_back(folder_of(chain.back()));
  for (std::size_t up = chain.size(); up-- > 0;) {
    if (!folders.count(chain[up])) return {disk_result::missing, no_such};
    disk_folder folder;
    folder.path = ".";
    for (std::size_t i = 0; i < up; ++i)
      folder.path = i == 0 ? ".." : folder.path + "/..";
    if (up + 1 == chain.size()) folder.path = "/";
    hold(chain[up], &folder);
    trail->push_back(folder);
  }
  return {};
}

disk_status memory_disk::open_folder(const disk_folder& at,
                                     const std::string& name,
                                     disk_folder* opened) {
  if (disk_status fault = fault_of("open_folder"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  if (disk_status searched = may_search(path); !searched.ok()) return searched;
  const auto found = folders.find(path);
  if (found == folders.end())
    return files.count(path) || links.count(path)
               ? disk_status(disk_result::failed, "Not a directory")
               : disk_status(disk_result::missing, no_such);
  opened->path = shown_path(at, name);
  hold(path, opened);
  return {};
}

disk_status memory_disk::entry_facts(const disk_folder& at,
                                     const std::string& name,
                                     file_facts* facts) {
  if (disk_status fault = fault_of("entry_facts"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  *facts = file_facts{};
  if (path != "/")
    if (disk_status searched = may_search(path); !searched.ok())
      return searched == disk_result::missing ? disk_status() : searched;
  *facts = facts_of(path);
  return {};
}

file_facts memory_disk::facts_of(const std::string& path) const {
  file_facts facts;
  if (const auto found = folders.find(path); found != folders.end()) {
    const folder& it = found->second;
    facts = {file_kind::folder,
             it.owner,
             it.group,
             it.mode,
             0,
             1,
             it.append_only,
             it.immutable,
             !it.immutable && may(it.owner, it.group, it.mode, 3)};
  } else if (const auto linked = links.find(path); linked != links.end()) {
    facts.kind = file_kind::link;
    facts.owner = linked->second.owner;
    facts.mode = 0777;
  } else if (const auto found_file = files.find(path);
             found_file != files.end()) {
    const file& it = *found_file->second;
    facts = {it.special ? file_kind::other : file_kind::regular,
             it.owner,
             it.group,
             it.mode,
             it.bytes.size(),
             static_cast<std::uint64_t>(found_file->second.use_count()),
             it.append_only,
             it.immutable,
             !it.immutable && may(it.owner, it.group, it.mode, 2)};
  }
  return facts;
}

disk_status memory_disk::read_link(const disk_folder& at,
                                   const std::string& name,
                                   std::string* target) {
  if (disk_status fault = fault_of("read_link"); !fault.ok()) return fault;
  const auto found = links.find(key(at, name));
  if (found == links.end()) return {disk_result::failed, "Invalid argument"};
  *target = found->second.target;
  return {};
}

namespace {

/// A file of the memory disk, open for reading: each read is a call of the
/// disk's.
struct memory_file : readable_file {
  memory_file(memory_disk& disk, std::shared_ptr<memory_disk::file> file)
      : disk(disk), file(std::move(file)) {}
  disk_status read(std::uint64_t offset, std::size_t count,
                   std::string* bytes) override {
    if (disk_status fault = disk.fault_of("read"); !fault.ok()) return fault;
    const std::string& all = file->bytes;
    *bytes = offset < all.size() ? all.substr(offset, count) : "";
    return {};
  }
  memory_disk& disk;
  std::shared_ptr<memory_disk::file> file;
};

}  // namespace

disk_status memory_disk::open_file(const disk_folder& at,
                                   const std::string& name,
                                   std::unique_ptr<readable_file>* opened) {
  if (disk_status fault = fault_of("open_file"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  if (disk_status searched = may_search(path); !searched.ok()) return searched;
  if (links.count(path)) return {disk_result::failed, "a symbolic link"};
  if (folders.count(path))
    return {disk_result::failed, "not a regular file (a folder, a pipe)"};
  const auto found = files.find(path);
  if (found == files.end()) return {disk_result::missing, no_such};
  const file& it = *found->second;
  if (!may(it.owner, it.group, it.mode, 4))
    return {disk_result::failed, denied};
  if (it.special)
    return {disk_result::failed, "not a regular file (a folder, a pipe)"};
  auto reading = std::make_unique<memory_file>(*this, found->second);
  reading->size = it.bytes.size();
  *opened = std::move(reading);
  return {};
}

disk_status memory_disk::lock(const disk_folder& at, const std::string& name,
                              unsigned, std::unique_ptr<disk_lock>* held) {
  if (disk_status fault = fault_of("lock"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  // Another run holds a lock on a file that is there, as flock does: one
  // that was removed holds no one up.
  if (locks_held.count(path) && files.count(path))
    return {disk_result::busy, "held by another run for the whole wait"};
  if (const auto there = files.find(path);
      there != files.end() && there->second.use_count() > 1)
    return {disk_result::failed,
            "a lock file with another name besides (a hard link)"};
  if (!held)
    return lock_error.empty() ? disk_status()
                              : disk_status(disk_result::failed, lock_error);
  if (!files.count(path)) {
    if (disk_status changes = may_change_in(path); !changes.ok())
      return {disk_result::missing, changes.reason};
    if (free_files == 0)
      return {disk_result::missing, "No space left on device"};
    --free_files;
    file& made = *(files[path] = std::make_shared<file>());
    made.owner = uid, made.group = folders.at(folder_of(path)).group,
    made.mode = 0660;
  }
  if (!lock_error.empty()) return {disk_result::failed, lock_error};
  locked = shown_path(at, name);
  *held = std::make_unique<memory_lock>();
  return {};
}

disk_status memory_disk::write_new(const disk_folder& at,
                                   const std::string& name,
                                   std::string_view bytes,
                                   const file_facts* like) {
  if (disk_status fault = fault_of("write_new"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  if (disk_status changes = may_change_in(path); !changes.ok()) return changes;
  if (files.count(path) || folders.count(path) || links.count(path))
    return {disk_result::exists, "File exists"};
  if (free_files == 0) return {disk_result::failed, "No space left on device"};
  --free_files;
  auto made = std::make_shared<file>();
  made->bytes = std::string(bytes);
  made->durable = false;
  // Only root gives a file away; others set only a group they are in.
  const std::uint32_t group =
      like ? like->group : folders.at(folder_of(path)).group;
  const bool member =
      uid == 0 || group == gid ||
      std::find(groups.begin(), groups.end(), group) != groups.end();
  made->owner = like && uid == 0 ? like->owner : uid;
  made->group = member ? group : gid;
  made->mode = like ? like->mode : 0640;
  files[path] = made;
  return {};
}

disk_status memory_disk::write_in_place(const disk_folder& at,
                                        const std::string& name,
                                        std::string_view bytes) {
  const auto found = files.find(key(at, name));
  if (disk_status fault = fault_of("write_in_place"); !fault.ok()) {
    // A disk that fills up part way keeps part of the new bytes.
    if (found != files.end())
      found->second->bytes.replace(0, bytes.size() / 2,
                                   bytes.substr(0, bytes.size() / 2));
    return fault;
  }
  if (found == files.end()) return {disk_result::missing, no_such};
  file& it = *found->second;
  // A file with another name besides, or another user's, is never written
  // through.
  if (found->second.use_count() > 1 || it.owner != uid)
    return {disk_result::failed, "a file with another name besides"};
  if (it.immutable || it.append_only || !may(it.owner, it.group, it.mode, 2))
    return {disk_result::failed, denied};
  it.bytes = std::string(bytes);
  return {};
}

disk_status memory_disk::hard_link(const disk_folder& at,
                                   const std::string& from,
                                   const std::string& link) {
  if (disk_status fault = fault_of("hard_link"); !fault.ok()) return fault;
  if (!has_hard_links) return {disk_result::failed, "Operation not supported"};
  const std::string source = key(at, from), name = key(at, link);
  const auto found = files.find(source);
  if (found == files.end()) return {disk_result::missing, no_such};
  if (disk_status changes = may_change_in(name); !changes.ok()) return changes;
  if (found->second->append_only || found->second->immutable)
    return {disk_result::failed, not_permitted};
  if (files.count(name) || folders.count(name))
    return {disk_result::exists, "File exists"};
  files[name] = found->second;
  return {};
}

disk_status memory_disk::sync(const disk_folder& at,
                              const std::vector<std::string>& names) {
  if (disk_status fault = fault_of("sync"); !fault.ok()) return fault;
  for (const std::string& name : names) {
    const std::string path = key(at, name);
    if (folders.count(path)) {
      renames_since_sync[path] = 0;
      continue;
    }
    const auto found = files.find(path);
    if (found == files.end()) return {disk_result::failed, no_such};
    found->second->durable = true;
  }
  return {};
}

disk_status memory_disk::rename(const disk_folder& at, const std::string& from,
                                const std::string& to) {
  if (disk_status fault = fault_of("rename"); !fault.ok()) return fault;
  const std::string source = key(at, from), target = key(at, to);
  const auto found = files.find(source);
  if (found == files.end()) return {disk_result::missing, no_such};
  if (disk_status changes = may_change_in(target); !changes.ok())
    return changes;
  if (folders.at(folder_of(target)).append_only)
    return {disk_result::failed, not_permitted};
  if (folders.count(target)) return {disk_result::failed, "Is a directory"};
  if (const auto replaced = files.find(target);
      replaced != files.end() &&
      (replaced->second->append_only || replaced->second->immutable))
    return {disk_result::failed, not_permitted};
  replaced_unsynced += !found->second->durable;
  ++renames_since_sync[folder_of(target)];
  const std::shared_ptr<file> moved = found->second;
  files.erase(found);
  files[target] = moved;
  return {};
}

disk_status memory_disk::exchange(const disk_folder& at, const std::string& a,
                                  const std::string& b) {
  if (disk_status fault = fault_of("exchange"); !fault.ok()) return fault;
  if (!swaps_names) return {disk_result::failed, "Invalid argument"};
  const std::string first = key(at, a), second = key(at, b);
  const auto one = files.find(first), other = files.find(second);
  if (one == files.end() || other == files.end())
    return {disk_result::missing, no_such};
  if (disk_status changes = may_change_in(second); !changes.ok())
    return changes;
  if (folders.at(folder_of(second)).append_only)
    return {disk_result::failed, not_permitted};
  for (const auto& file : {one->second, other->second})
    if (file->append_only || file->immutable)
      return {disk_result::failed, not_permitted};
  replaced_unsynced += !one->second->durable;
  ++renames_since_sync[folder_of(second)];
  std::swap(one->second, other->second);
  return {};
}

disk_status memory_disk::remove(const disk_folder& at,
                                const std::string& name) {
  if (disk_status fault = fault_of("remove"); !fault.ok()) return fault;
  const std::string path = key(at, name);
  const auto found = files.find(path);
  if (found == files.end()) return {disk_result::missing, no_such};
  if (disk_status changes = may_change_in(path); !changes.ok()) return changes;
  if (folders.at(folder_of(path)).append_only || found->second->append_only ||
      found->second->immutable)
    return {disk_result::failed, not_permitted};
  if (found->second.use_count() == 1) ++free_files;
  files.erase(found);
  return {};
}

disk_status memory_disk::list_folder(const disk_folder& at,
                                     std::vector<std::string>* names) {
  if (disk_status fault = fault_of("list_folder"); !fault.ok()) return fault;
  const std::string path = key(at, ".");
  const auto found = folders.find(path);
  if (found == folders.end()) return {disk_result::missing, no_such};
  if (!may(found->second.owner, found->second.group, found->second.mode, 5))
    return {disk_result::failed, denied};
  for (const auto& [name, bytes] : files_in(path)) names->push_back(name);
  for (const auto& [link, target] : links)
    if (folder_of(link) == path) names->push_back(name_of(link));
  for (const auto& [folder, facts] : folders)
    if (folder != "/" && folder_of(folder) == path)
      names->push_back(name_of(folder));
  return {};
}

disk_status memory_disk::free_space(const disk_folder&, disk_room* room) {
  room->files = free_files;
  room->blocks = free_blocks;
  room->block_size = 4096;
  return {};
}

std::map<std::string, std::string> memory_disk::files_in(
    const std::string& folder) const {
  const std::string path = absolute(folder);
  std::map<std::string, std::string> in;
  for (const auto& [file_path, content] : files)
    if (folder_of(file_path) == path) in[name_of(file_path)] = content->bytes;
  return in;
}

int memory_disk::unsynced_renames() const {
  int renames = 0;
  for (const auto& [folder, count] : renames_since_sync) renames += count;
  return renames;
}
