// Feeds arbitrary bytes to the check as a game's archive, read from a disk
// in memory through one open handle as both engines' zip readers read it,
// and checks that whatever the archive holds, the search and its report
// neither crash nor hang, and say only what the bytes hold.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_report.h"
#include "check/engine_search.h"
#include "check/map_lookup.h"
#include "fuzz_check.h"
#include "run/map_list.h"
#include "support/memory_disk.h"
#include "walk/folder_walk.h"

namespace {

/// The map names that `bytes` holds as maps/NAME.bsp in any case, up to a
/// few, so that the search looks for names the archive may hold; and one it
/// surely doesn't.
std::vector<std::string> names_in(std::string_view bytes) {
  std::vector<std::string> names = {"nowhere"};
  for (std::size_t at = 0; names.size() < 6 && at < bytes.size(); ++at) {
    at = bytes.find("aps", at);
    if (at == std::string_view::npos || at + 4 >= bytes.size()) break;
    const std::size_t end = bytes.find(".bsp", at + 4);
    if (end == std::string_view::npos || end - at > 60) continue;
    names.emplace_back(bytes.substr(at + 4, end - at - 4));
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  memory_disk disk;
  // The archive in a mod's folder, where it is searched first, and the
  // same bytes cut short in the base folder, beside a loose map.
  disk.put("mod/maps.pk3", bytes);
  disk.put("base/zz_" + std::to_string(size % 7) + ".pk3",
           bytes.substr(0, size / 2));
  disk.put("base/maps/nowhere.bsp", "x");
  folder_trail here;
  check(working_trail(disk, &here).ok());
  const std::vector<std::string> names = names_in(bytes);
  std::vector<map_entry> rotation;
  for (const std::string& name : names) rotation.push_back({name, 1});
  check_facts facts;
  facts.maps = analyse_maps(disk, here, rotation, {"mod", "base"}, true);
  // Unwrapped: a name may hold blanks, where a long line would break.
  const std::string report = render_report(facts, 0);
  // The same facts as data: a document a JSON parser reads, whatever bytes
  // the names hold, with a map for each line.
  const nlohmann::json as_data = nlohmann::json::parse(render_json(facts));
  check(!facts.maps.any_source() ||
        as_data["maps"]["maps"].size() == facts.maps.search.maps.size());
  // Every map has its line; a map found in an archive was found in one
  // that is there, under a name the bytes hold.
  const game_search found =
      search_game(disk, here, {"mod", "base"},
                  std::vector<std::string_view>(names.begin(), names.end()));
  for (const auto& [name, sources] : found.maps) {
    check(report.find(shown(name) + ": ") != std::string::npos);
    for (const map_source* source : {&sources.original, &sources.maintained})
      if (source->where == map_source::kind::archive) {
        check(source->file == "mod/maps.pk3" ||
              source->file.rfind("base/", 0) == 0);
        check(bytes.find(source->entry) != std::string::npos);
      }
  }
  // Found loose only where it is.
  check(found.at("nowhere").maintained.where != map_source::kind::none);
  return 0;
}
