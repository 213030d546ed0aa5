#include "check/rotation_in_place.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "check/check_report.h"
#include "check/rotation_check.h"
#include "run/generator_run.h"
#include "support/memory_disk.h"
#include "support/report_lines.h"

namespace {

const user_database no_users;

/// A map list of `maps` maps of distinct priorities, each named `prefix`
/// and its number, with the length that gives the rotation three files.
std::string list_of(int maps, const std::string& prefix = "map") {
  std::string list;
  for (int i = 0; i < maps; ++i)
    list += prefix + std::to_string(i) + std::string(40, 'x') + " " +
            std::to_string(maps - i) + "\n";
  return list;
}

/// What the check reads of the rotation in place on `disk`, and its report.
std::pair<in_place_facts, std::string> in_place(memory_disk& disk) {
  run_start start;
  const owner_decision owner = start_run(disk, no_users, &start);
  check_facts facts =
      check_rotation(disk, no_users, owner, start, {"."}, false, {}, 1);
  std::string report = unwrapped(render_report(facts));
  return {std::move(facts.in_place), std::move(report)};
}

TEST(RotationInPlace, ReadsWhatTheFilesInPlaceMakeTheServerPlay) {
  // A change made to a rotation of three files that a run wrote; the maps
  // the chain plays, whether it closes, and what the report says.
  const std::function<void(memory_disk&)> none = [](memory_disk&) {};
  // SW_rotate2.cfg's `set nextmap vstr FROM` edited by hand to name TO.
  const auto next_of_part2 = [](std::string from, std::string to) {
    return [from, to](memory_disk& disk) {
      std::string& text = disk.at("SW_rotate2.cfg").bytes;
      const std::string was = "set nextmap vstr " + from + "\"";
      text.replace(text.find(was), was.size() - 1, "set nextmap vstr " + to);
    };
  };
  const std::tuple<const char*, std::function<void(memory_disk&)>, std::size_t,
                   bool, const char*>
      rows[] = {
          {"whole", none, 80, true, "It plays just the maps of the map list"},
          {"no rotation",
           [](memory_disk& disk) { disk.erase("SW_rotate.cfg"); }, 0, false,
           "None: SW_rotate.cfg isn't there yet"},
          {"a part missing",
           [](memory_disk& disk) { disk.erase("SW_rotate3.cfg"); }, 0, false,
           "SW_rotate3.cfg isn't there, so the console can't exec it"},
          {"a part too large",
           [](memory_disk& disk) {
             disk.at("SW_rotate2.cfg").bytes += std::string(16384, '/');
           },
           0, false, "SW_rotate2.cfg is larger than the console's buffer"},
          // The console reads a file up to its first NUL byte.
          {"a part with a NUL byte first",
           [](memory_disk& disk) {
             disk.at("SW_rotate2.cfg").bytes.insert(0, 1, '\0');
           },
           0, false,
           "nextmap runs \"exec SW_rotate2.cfg\", which loads no map"},
          {"a nextmap edited by hand", next_of_part2("SW4", "SW99"), 0, false,
           "nextmap runs \"vstr SW99\", which loads no map"},
          {"a nextmap that goes round a part", next_of_part2("SW6", "SW1"), 0,
           false, "and never comes back to its first map"},
          {"a part of another run",
           [](memory_disk& disk) {
             const std::string mine = disk.at("SW_rotate2.cfg").bytes;
             disk.put("map_list.cfg", list_of(80, "other"));
             ASSERT_EQ(0, run_generator(disk, no_users, 1));
             const std::string theirs = disk.at("SW_rotate2.cfg").bytes;
             disk.put("map_list.cfg", list_of(80));
             ASSERT_EQ(0, run_generator(disk, no_users, 1));
             disk.at("SW_rotate2.cfg").bytes = theirs;
             ASSERT_NE(mine, theirs);
           },
           80, true, "x\": no longer in the list"},
          {"parts of two runs of one list",
           [](memory_disk& disk) {
             std::string tied;
             for (int i = 0; i < 80; ++i)
               tied +=
                   "map" + std::to_string(i) + std::string(40, 'x') + " 1\n";
             disk.put("map_list.cfg", tied);
             ASSERT_EQ(0, run_generator(disk, no_users, 1));
             const std::string first = disk.at("SW_rotate2.cfg").bytes;
             ASSERT_EQ(0, run_generator(disk, no_users, 2));
             disk.at("SW_rotate2.cfg").bytes = first;
           },
           0, true, ": played 2 times, listed 1 time"},
          {"a list changed since",
           [](memory_disk& disk) {
             std::string list = list_of(79).substr(list_of(1).size());
             disk.put("map_list.cfg", list + "newcomer 9999\n");
           },
           80, true, "\"newcomer\": in the list, not played"},
      };
  for (const auto& [what, change, played, closes, says] : rows) {
    memory_disk disk;
    disk.put("map_list.cfg", list_of(80));
    ASSERT_EQ(0, run_generator(disk, no_users, 1)) << what;
    ASSERT_EQ(3u, disk.files_in(".").size() - 2) << what;  // list and lock
    change(disk);
    const auto [facts, report] = in_place(disk);
    if (played) {
      EXPECT_EQ(played, facts.trace.maps.size()) << what;
    }
    EXPECT_EQ(closes, facts.trace.closes) << what << "\n" << report;
    EXPECT_NE(std::string::npos, report.find(says)) << what << "\n" << report;
  }
}

}  // namespace
