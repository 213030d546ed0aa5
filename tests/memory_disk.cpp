#include "memory_disk.h"

#include <algorithm>
#include <new>

#include "path.h"

namespace {

/// A lock that nothing can see: the memory disk is one run's alone.
struct memory_lock : disk_lock {};

}  // namespace

void memory_disk::heal() {
  calls.clear();
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

disk_result memory_disk::fault_of(const std::string& kind) {
  calls.push_back(kind);
  const int call = static_cast<int>(calls.size()),
            of_kind =
                static_cast<int>(std::count(calls.begin(), calls.end(), kind));
  const fault* how = nullptr;
  if (const auto found = broken.find(call); found != broken.end())
    how = &found->second;
  else if (const auto of = broken_of.find({kind, of_kind});
           of != broken_of.end())
    how = &of->second;
  if (!how) return disk_result::done;
  switch (*how) {
    case fault::kill:
      throw killed_run{};
    case fault::out_of_memory:
      throw std::bad_alloc();
    default:
      return disk_result::failed;
  }
}

bool memory_disk::folder_exists(const std::string& path) const {
  return folders.count(folder_of(path)) > 0;
}

memory_disk::file& memory_disk::put(const std::string& path,
                                    const std::string& bytes) {
  folders.insert(folder_of(path));
  files[path] = std::make_shared<file>();
  files[path]->bytes = bytes;
  return *files[path];
}

disk_result memory_disk::lock(const std::string& path, unsigned,
                              std::unique_ptr<disk_lock>* held) {
  if (const disk_result fault = fault_of("lock"); fault != disk_result::done)
    return fault;
  if (locks_held.count(path)) return disk_result::busy;
  locked = path;
  *held = std::make_unique<memory_lock>();
  return disk_result::done;
}

disk_result memory_disk::read_file(const std::string& path,
                                   std::string* bytes) {
  if (const disk_result fault = fault_of("read_file");
      fault != disk_result::done)
    return fault;
  if (links.count(path) || folders.count(path)) return disk_result::failed;
  const auto found = files.find(path);
  if (found == files.end()) return disk_result::missing;
  if (found->second->special) return disk_result::failed;
  *bytes += found->second->bytes;
  return disk_result::done;
}

disk_result memory_disk::read_range(const std::string& path,
                                    std::uint64_t offset, std::size_t size,
                                    std::string* bytes,
                                    std::uint64_t* file_size) {
  if (const disk_result fault = fault_of("read_range");
      fault != disk_result::done)
    return fault;
  std::string target = path;
  for (auto link = links.find(target); link != links.end();
       link = links.find(target))
    target = link->second;
  const auto found = files.find(target);
  if (found == files.end())
    return folders.count(target) ? disk_result::failed : disk_result::missing;
  if (found->second->special) return disk_result::failed;
  const std::string& all = found->second->bytes;
  *file_size = all.size();
  *bytes = offset < all.size() ? all.substr(offset, size) : "";
  return disk_result::done;
}

disk_result memory_disk::look(const std::string& path, std::string* target,
                              file_facts* facts) {
  if (const disk_result fault = fault_of("look"); fault != disk_result::done)
    return fault;
  *target = path;
  for (auto link = links.find(*target); link != links.end();
       link = links.find(*target)) {
    if (planted.count(*target)) return disk_result::failed;
    *target = link->second;
  }
  *facts = file_facts{};
  if (folders.count(*target)) {
    facts->found = disk_result::done;
    facts->write_flags = facts->may_write = true;
    return disk_result::done;
  }
  const auto found = files.find(*target);
  if (found == files.end()) return disk_result::done;  // missing
  facts->found = disk_result::done;
  facts->regular = !found->second->special;
  facts->write_flags = facts->may_write = !found->second->read_only;
  facts->alone = facts->regular && found->second.use_count() == 1;
  return disk_result::done;
}

disk_result memory_disk::write_new(const std::string& path,
                                   std::string_view bytes, const std::string&) {
  if (const disk_result fault = fault_of("write_new");
      fault != disk_result::done)
    return fault;
  if (!folder_exists(path)) return disk_result::missing;
  if (files.count(path) || folders.count(path) || links.count(path))
    return disk_result::exists;
  files[path] =
      std::make_shared<file>(file{std::string(bytes), false, false, false});
  return disk_result::done;
}

disk_result memory_disk::write_in_place(const std::string& path,
                                        std::string_view bytes) {
  const auto found = files.find(path);
  if (const disk_result fault = fault_of("write_in_place");
      fault != disk_result::done) {
    // A disk that fills up part way keeps part of the new bytes.
    if (found != files.end())
      found->second->bytes.replace(0, bytes.size() / 2,
                                   bytes.substr(0, bytes.size() / 2));
    return fault;
  }
  if (found == files.end()) return disk_result::missing;
  // A file with another name besides is never written through.
  if (found->second.use_count() > 1) return disk_result::failed;
  found->second->bytes = std::string(bytes);
  return disk_result::done;
}

disk_result memory_disk::hard_link(const std::string& from,
                                   const std::string& link) {
  if (const disk_result fault = fault_of("hard_link");
      fault != disk_result::done)
    return fault;
  if (!has_hard_links) return disk_result::failed;
  const auto found = files.find(from);
  if (found == files.end() || !folder_exists(link)) return disk_result::missing;
  if (files.count(link) || folders.count(link)) return disk_result::exists;
  files[link] = found->second;
  return disk_result::done;
}

disk_result memory_disk::sync(const std::vector<std::string>& paths) {
  if (const disk_result fault = fault_of("sync"); fault != disk_result::done)
    return fault;
  for (const std::string& path : paths) {
    if (folders.count(path)) {
      renames_since_sync[path] = 0;
      continue;
    }
    const auto found = files.find(path);
    if (found == files.end()) return disk_result::failed;
    found->second->durable = true;
  }
  return disk_result::done;
}

disk_result memory_disk::rename(const std::string& from,
                                const std::string& to) {
  if (const disk_result fault = fault_of("rename"); fault != disk_result::done)
    return fault;
  const auto found = files.find(from);
  if (found == files.end()) return disk_result::missing;
  if (folders.count(to) || !folder_exists(to)) return disk_result::failed;
  replaced_unsynced += !found->second->durable;
  ++renames_since_sync[folder_of(to)];
  const std::shared_ptr<file> moved = found->second;
  files.erase(found);
  files[to] = moved;
  return disk_result::done;
}

disk_result memory_disk::remove(const std::string& path) {
  if (const disk_result fault = fault_of("remove"); fault != disk_result::done)
    return fault;
  return files.erase(path) ? disk_result::done : disk_result::missing;
}

disk_result memory_disk::list_folder(const std::string& folder,
                                     std::vector<std::string>* names) {
  if (const disk_result fault = fault_of("list_folder");
      fault != disk_result::done)
    return fault;
  if (!folders.count(folder)) return disk_result::missing;
  for (const auto& [name, bytes] : files_in(folder)) names->push_back(name);
  return disk_result::done;
}

std::map<std::string, std::string> memory_disk::files_in(
    const std::string& folder) const {
  std::map<std::string, std::string> in;
  for (const auto& [path, content] : files)
    if (folder_of(path) == folder) in[name_of(path)] = content->bytes;
  return in;
}

int memory_disk::unsynced_renames() const {
  int renames = 0;
  for (const auto& [folder, count] : renames_since_sync) renames += count;
  return renames;
}
