// The floor the tool's runs are measured against: the least that replacing
// the same files durably costs, in a folder where they already stand.
//   replace_floor SOURCE_FOLDER TARGET_FOLDER
// In TARGET_FOLDER it reads map_list.cfg, then puts each file of
// SOURCE_FOLDER (absolute, or relative to TARGET_FOLDER) in the place of the
// file of that name through a new name.
// A few files are each synced before their rename; many are synced with one
// syncfs before the renames, as the tool does; the folder is synced last.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string read_all(const std::string& path) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  char chunk[1 << 16];
  for (ssize_t got; fd >= 0 && (got = read(fd, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<std::size_t>(got));
  if (fd >= 0) close(fd);
  return bytes;
}

bool sync_path(const char* path, bool whole_file_system) {
  const int fd = open(path, O_RDONLY);
  const bool synced =
      fd >= 0 && (whole_file_system ? syncfs(fd) : fsync(fd)) == 0;
  if (fd >= 0) close(fd);
  return synced;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE_FOLDER TARGET_FOLDER\n", argv[0]);
    return 2;
  }
  if (chdir(argv[2]) != 0) return 1;
  read_all("map_list.cfg");
  std::vector<std::string> names;
  DIR* source = opendir(argv[1]);
  if (!source) return 1;
  while (const dirent* entry = readdir(source))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(source);
  const bool many = names.size() > 8;
  for (const std::string& name : names) {
    const std::string bytes = read_all(std::string(argv[1]) + "/" + name);
    const std::string temp = name + ".new";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) !=
                      static_cast<ssize_t>(bytes.size()))
      return 1;
    if (!many && fsync(fd) != 0) return 1;
    close(fd);
  }
  if (many && !sync_path(".", true)) return 1;
  for (const std::string& name : names)
    if (rename((name + ".new").c_str(), name.c_str()) != 0) return 1;
  return sync_path(".", false) ? 0 : 1;
}
