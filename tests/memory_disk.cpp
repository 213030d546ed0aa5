#include "memory_disk.h"

#include <new>

namespace {

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

void memory_disk::break_calls(int first, int times, fault how) {
  for (int call = first; call < first + times; ++call) broken[call] = how;
}

void memory_disk::break_calls(const std::string& kind, int first, int times,
                              fault how) {
  for (int call = first; call < first + times; ++call)
    broken_of[{kind, call}] = how;
}

disk_result memory_disk::fault_of(const std::string& kind) {
  const int call = ++calls, of_kind = ++calls_of[kind];
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
    case fault::busy:
      return disk_result::busy;
    default:
      return disk_result::failed;
  }
}

disk_result memory_disk::try_lock(const std::string&) {
  return fault_of("try_lock");
}

disk_result memory_disk::read_file(const std::string& path,
                                   std::string* bytes) {
  if (const disk_result fault = fault_of("read_file");
      fault != disk_result::done)
    return fault;
  const auto found = files.find(path);
  if (links.count(path)) return disk_result::failed;
  if (found == files.end()) return disk_result::missing;
  if (found->second.special) return disk_result::failed;
  *bytes += found->second.bytes;
  return disk_result::done;
}

disk_result memory_disk::writable(const std::string& path) {
  if (const disk_result fault = fault_of("writable");
      fault != disk_result::done)
    return fault;
  const auto found = files.find(path);
  if (links.count(path)) return disk_result::failed;
  if (found == files.end()) return disk_result::missing;
  return found->second.read_only || found->second.special ? disk_result::failed
                                                          : disk_result::done;
}

disk_result memory_disk::write_new(const std::string& path,
                                   std::string_view bytes, const std::string&) {
  if (const disk_result fault = fault_of("write_new");
      fault != disk_result::done)
    return fault;
  if (files.count(path)) return disk_result::exists;
  files[path] = {std::string(bytes), false, false, false};
  return disk_result::done;
}

disk_result memory_disk::write_in_place(const std::string& path,
                                        std::string_view bytes) {
  const auto found = files.find(path);
  if (const disk_result fault = fault_of("write_in_place");
      fault != disk_result::done) {
    // A disk that fills up part way keeps part of the new bytes.
    if (found != files.end())
      found->second.bytes.replace(0, bytes.size() / 2,
                                  bytes.substr(0, bytes.size() / 2));
    return fault;
  }
  if (found == files.end()) return disk_result::missing;
  found->second.bytes = std::string(bytes);
  return disk_result::done;
}

disk_result memory_disk::copy_file(const std::string& from,
                                   const std::string& copy) {
  if (const disk_result fault = fault_of("copy_file");
      fault != disk_result::done)
    return fault;
  const auto found = files.find(from);
  if (found == files.end()) return disk_result::missing;
  if (files.count(copy)) return disk_result::exists;
  files[copy] = found->second;
  return disk_result::done;
}

disk_result memory_disk::make_durable(const std::vector<std::string>& paths) {
  if (const disk_result fault = fault_of("make_durable");
      fault != disk_result::done)
    return fault;
  for (const std::string& path : paths) {
    const auto found = files.find(path);
    if (found != files.end())
      found->second.durable = true;
    else
      replaced_since_folder_synced = 0;  // a folder
  }
  return disk_result::done;
}

disk_result memory_disk::replace(const std::string& from,
                                 const std::string& to) {
  if (const disk_result fault = fault_of("replace"); fault != disk_result::done)
    return fault;
  const auto found = files.find(from);
  if (found == files.end()) return disk_result::missing;
  replaced_unsynced += !found->second.durable;
  ++replaced_since_folder_synced;
  files[to] = found->second;
  files.erase(from);
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
  for (const auto& [name, bytes] : files_in(folder)) names->push_back(name);
  return disk_result::done;
}

disk_result memory_disk::follow_link(const std::string& path,
                                     std::string* target) {
  if (const disk_result fault = fault_of("follow_link");
      fault != disk_result::done)
    return fault;
  *target = path;
  for (auto link = links.find(*target); link != links.end();
       link = links.find(*target)) {
    if (planted.count(*target)) return disk_result::failed;
    *target = link->second;
  }
  return disk_result::done;
}

std::map<std::string, std::string> memory_disk::files_in(
    const std::string& folder) const {
  std::map<std::string, std::string> in;
  for (const auto& [path, content] : files)
    if (folder_of(path) == folder)
      in[folder == "." ? path : path.substr(folder.size() + 1)] = content.bytes;
  return in;
}
