#include "support/scratch_dir.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

scratch_dir::scratch_dir() {
  std::string pattern = (fs::temp_directory_path() / "map_rotation.XXXXXX");
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("can't write " + path.string());
}

std::map<std::string, std::string> read_rotation(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.rfind("SW_rotate", 0) == 0 && name.size() >= 13 &&
        name.compare(name.size() - 4, 4, ".cfg") == 0)
      files[name] = read_file(item.path());
  }
  return files;
}

std::vector<std::string> file_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string load_line(int variable, const std::string& name, int next) {
  return "set SW" + std::to_string(variable) + " \"set g_gametype 5 ; map " +
         name +
         " ; timelimit .1 ; wait ; wait ; set g_gametype 6 ; seta g_warmup 25 "
         "; reset_match ; wait ; wait ; set nextmap vstr SW" +
         std::to_string(next) + "\"\r\n";
}

std::string restart_line(int variable, const std::string& runs) {
  return "set SW" + std::to_string(variable) +
         " \"seta g_warmup 15 ; map_restart ; set nextmap " + runs + "\"\r\n";
}

std::string script_file_of(const std::vector<std::string>& names,
                           const std::string& last_link) {
  std::string text;
  for (int k = 0; k < static_cast<int>(names.size()); ++k)
    text +=
        load_line(2 * k + 1, names[k], 2 * k + 2) +
        restart_line(2 * k + 2, k + 1 == static_cast<int>(names.size())
                                    ? last_link
                                    : "vstr SW" + std::to_string(2 * k + 3));
  return text + "vstr SW1";
}

std::vector<std::string> names_filling(std::size_t size,
                                       const std::string& last_link) {
  std::vector<std::string> names;
  for (std::vector<std::string> more = {"a"};
       script_file_of(more, last_link).size() <= size; more.push_back("a"))
    names = more;
  std::size_t missing = size - script_file_of(names, last_link).size();
  for (std::string& name : names) {
    const std::size_t added = std::min<std::size_t>(missing, 99);
    name.append(added, 'z');
    missing -= added;
  }
  return names;
}

// Written out byte for byte, apart from the helpers above.
const std::string alpha_bravo_script =
    "set SW1 \"set g_gametype 5 ; map alpha ; timelimit .1 ; wait ; wait ; "
    "set g_gametype 6 ; seta g_warmup 25 ; reset_match ; wait ; wait ; set "
    "nextmap vstr SW2\"\r\n"
    "set SW2 \"seta g_warmup 15 ; map_restart ; set nextmap vstr SW3\"\r\n"
    "set SW3 \"set g_gametype 5 ; map bravo ; timelimit .1 ; wait ; wait ; "
    "set g_gametype 6 ; seta g_warmup 25 ; reset_match ; wait ; wait ; set "
    "nextmap vstr SW4\"\r\n"
    "set SW4 \"seta g_warmup 15 ; map_restart ; set nextmap vstr SW1\"\r\n"
    "vstr SW1";
