// Feeds arbitrary bytes through reading, ordering and writing in memory and
// checks what every rotation script must be, whatever the map list held.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "map_list.h"
#include "rotation_order.h"
#include "rotation_script.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

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
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  map_list list = read_map_list(input);
  std::size_t playable = 0;
  for (const map_entry& entry : list.entries)
    playable += entry.priority >= 0 && is_playable_name(entry.name);
  check(list.highest_priority >= 0);

  seed_random_order(static_cast<std::uint32_t>(size));
  const std::vector<map_entry> rotation =
      build_rotation(std::move(list.entries));
  check(rotation.size() == playable);
  std::string script;
  check(write_rotation_script(rotation, [&](std::string_view piece) {
    script += piece;
    return true;
  }));

  // The console would read these as comments, wherever they stand.
  check(script.find("//") == std::string::npos);
  check(script.find("/*") == std::string::npos);
  const std::vector<std::string_view> lines = lines_of(script);
  check(lines.size() == 2 * playable + 1);
  check(lines.back() == "vstr SW1");
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string_view line = lines[i];
    check(line.find_first_of("\r\n") == std::string_view::npos);
    check(line.size() <= 1023);  // the console cuts longer lines
    const std::string number = std::to_string(i + 1);
    check(line.substr(0, 8 + number.size()) == "set SW" + number + " \"");
    const bool closes_chain = i + 2 == lines.size();
    const std::string next = closes_chain ? "1" : std::to_string(i + 2);
    check(ends_with(line, "set nextmap vstr SW" + next + "\""));
    if (i % 2 == 0) {  // a load line: its map name came from the input
      const std::size_t name_at = line.find(" ; map ") + 7;
      const std::size_t name_end = line.find(" ; timelimit", name_at);
      const std::string_view name = line.substr(name_at, name_end - name_at);
      check(is_playable_name(name) && name.size() <= 255);
      check(name.find_first_of("\";") == std::string_view::npos);
      check(input.find(name) != std::string_view::npos);
      check(name == rotation[i / 2].name);
    }
  }
  // Priorities never rise along the rotation.
  for (std::size_t i = 1; i < rotation.size(); ++i)
    check(rotation[i - 1].priority >= rotation[i].priority);
  return 0;
}
