// Feeds arbitrary bytes through reading, ordering and writing in memory and
// checks what every rotation script must be, whatever the map list held.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/archive_names.h"
#include "fuzz_check.h"
#include "run/map_list.h"
#include "run/rotation_order.h"
#include "run/rotation_script.h"

namespace {

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

/// The lines of `script`, cut at each CR LF.
std::vector<std::string_view> lines_of(std::string_view script) {
  std::vector<std::string_view> lines;
  for (std::size_t end;
       (end = script.find("\r\n")) != std::string_view::npos;) {
    lines.push_back(script.substr(0, end));
    script.remove_prefix(end + 2);
  }
  lines.push_back(script);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The same bytes as a game's archive, read through ranged reads as both
  // engines' readers read one: the check never crashes or hangs on one,
  // reads little more than the bytes there are, and every name it reads
  // stands in the bytes.
  const std::string_view archive(reinterpret_cast<const char*>(data), size);
  std::size_t got = 0;
  const archive_reader read = [&](std::uint64_t offset, std::size_t count) {
    const std::string bytes =
        offset < size ? std::string(archive.substr(offset, count)) : "";
    got += bytes.size();
    return bytes;
  };
  for (const zip_reader reader :
       {zip_reader::original, zip_reader::maintained}) {
    archive_directory found;
    if (!find_archive_directory(size, read, reader, &found)) continue;
    read_archive_directory(read, found, [&](const archive_entry& entry) {
      check(archive.find(entry.name) != std::string_view::npos);
    });
  }
  check(got <= 8 * size + 8 * 65557);
  // As the tool reads a file: a mark may turn it from UTF-16 into UTF-8.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  map_list list = read_map_list(map_list_text(&bytes));
  std::size_t playable = 0;
  for (const map_entry& entry : list.entries)
    playable += entry.priority >= 0 && is_playable_name(entry.name());

  random_order order = seed_random_order(static_cast<std::uint32_t>(size));
  const std::vector<map_entry> rotation =
      build_rotation(std::move(list.entries), order);
  check(rotation.size() == playable);
  std::vector<std::string> files;
  check(write_rotation_script(rotation, [&](std::string_view file) {
    files.emplace_back(file);
    return true;
  }));
  // Their sizes are those known without writing them.
  const std::vector<rotation_file> planned = rotation_files_of(rotation);
  check(planned.size() == files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    check(planned[i].size == files[i].size());

  // Each file is whole entries numbered from SW1, and the entries of all
  // files together are the rotation, in order.
  std::size_t entry = 0;
  for (std::size_t part = 0; part < files.size(); ++part) {
    const std::string& file = files[part];
    check(planned[part].first == entry);
    // It fits in the command buffer beside the server's config.
    check(file.size() <= 8192);
    // The console would read these as comments, wherever they stand.
    check(file.find("//") == std::string::npos);
    check(file.find("/*") == std::string::npos);
    const std::vector<std::string_view> lines = lines_of(file);
    check(lines.size() % 2 == 1);
    check(lines.back() == "vstr SW1");
    const std::string last_link =
        files.size() == 1          ? "vstr SW1"
        : part + 1 == files.size() ? "exec SW_rotate.cfg"
                                   : "exec " + rotation_script_file(part + 2);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      const std::string_view line = lines[i];
      check(line.find_first_of("\r\n") == std::string_view::npos);
      const std::string number = std::to_string(i + 1);
      check(line.substr(0, 8 + number.size()) == "set SW" + number + " \"");
      // The original console stores a longer text as an empty value.
      check(line.size() - (8 + number.size()) - 1 <= 254);
      const bool last = i + 2 == lines.size();
      check(ends_with(
          line, "set nextmap " +
                    (last ? last_link : "vstr SW" + std::to_string(i + 2)) +
                    "\""));
      if (i % 2 == 0) {  // a load line: its map name came from the list
        const std::size_t name_at = line.find(" ; map ") + 7;
        const std::size_t name_end = line.find(" ; timelimit", name_at);
        const std::string_view name = line.substr(name_at, name_end - name_at);
        check(is_playable_name(name) && name.size() <= 100);
        check(name.find_first_of("\";") == std::string_view::npos);
        check(bytes.find(name) != std::string::npos);
        check(entry < rotation.size() && name == rotation[entry++].name());
      }
    }
  }
  check(entry == rotation.size());
  // Priorities never rise along the rotation.
  for (std::size_t i = 1; i < rotation.size(); ++i)
    check(rotation[i - 1].priority >= rotation[i].priority);
  return 0;
}
