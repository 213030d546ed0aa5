#include "platform/disk.h"

#include <new>

#include "platform/path.h"

std::string shown_path(const disk_folder& folder, const std::string& name) {
  return path_in(folder.path, name);
}

disk_status read_whole(disk_interface& disk, const disk_folder& at,
                       const std::string& name, std::string* bytes) {
  std::unique_ptr<readable_file> file;
  if (disk_status opened = disk.open_file(at, name, &file); !opened.ok())
    return opened;
  // A file larger than memory can hold is no list: the run keeps what is in
  // place, as on running out of memory.
  if (file->size > bytes->max_size() - bytes->size()) throw std::bad_alloc();
  std::string all;
  const disk_status read =
      file->read(0, static_cast<std::size_t>(file->size), &all);
  if (bytes->empty())
    *bytes = std::move(all);
  else
    bytes->append(all);
  return read;
}
