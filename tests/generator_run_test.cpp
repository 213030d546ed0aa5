#include "generator_run.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "console_model.h"
#include "memory_disk.h"
#include "rotation_script.h"
#include "scratch_dir.h"

namespace {

using fault = memory_disk::fault;

/// Runs the tool on `disk`; expects exit status 0 and nothing printed.
void run(memory_disk& disk) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, run_generator(disk));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

/// A map list of `maps` maps of distinct priorities, so that every run
/// orders them alike.
std::string list_of(int maps, const std::string& prefix = "map") {
  std::string list;
  for (int i = 0; i < maps; ++i)
    list += prefix + std::to_string(i) + " " + std::to_string(maps - i) + "\n";
  return list;
}

/// A disk with the rotation that a run made of `earlier` maps in place,
/// and a map list of `maps` maps.
memory_disk prepared(int maps, int earlier) {
  memory_disk disk;
  disk.files["map_list.cfg"].bytes = list_of(earlier, "old");
  run(disk);
  disk.files["map_list.cfg"].bytes = list_of(maps);
  disk.calls = 0;
  disk.calls_of.clear();
  return disk;
}

/// The files of the rotation in the working folder.
script_files rotation_of(const memory_disk& disk) {
  script_files files;
  for (const auto& [name, bytes] : disk.files_in("."))
    if (is_rotation_script_file(name)) files[name] = bytes;
  return files;
}

/// Whether the chain from SW_rotate.cfg closes, and every file of the
/// rotation is whole: as it was `before` or as a run makes it, `after`.
bool chain_whole(const memory_disk& disk, const script_files& before,
                 const script_files& after) {
  const script_files now = rotation_of(disk);
  for (const auto& [name, bytes] : now) {
    const auto was = before.find(name), will = after.find(name);
    if ((was == before.end() || was->second != bytes) &&
        (will == after.end() || will->second != bytes))
      return false;
  }
  return disk.replaced_unsynced == 0 && !maps_in_order(now).empty();
}

/// Runs again without failures: the folder must then hold exactly the map
/// list and the new rotation, `after`.
void expect_settles(const memory_disk& disk, const script_files& after,
                    const std::string& what) {
  memory_disk clean;
  clean.files = disk.files;
  clean.links = disk.links;
  run(clean);
  std::map<std::string, std::string> expected(after.begin(), after.end());
  expected["map_list.cfg"] = clean.files["map_list.cfg"].bytes;
  EXPECT_EQ(expected, clean.files_in(".")) << what << ", run again";
  EXPECT_EQ(0, clean.replaced_since_folder_synced) << what;
}

TEST(GeneratorRun, WritesTheScriptThroughTheDisk) {
  memory_disk disk;
  disk.files["map_list.cfg"].bytes = "alpha 1\r\nbravo 0\r\ncharlie -1\r\n";
  run(disk);
  EXPECT_EQ(alpha_bravo_script, disk.files["SW_rotate.cfg"].bytes);
  EXPECT_EQ(2u, disk.files.size());
  EXPECT_EQ(0, disk.replaced_unsynced);
  EXPECT_EQ(0, disk.replaced_since_folder_synced);
}

TEST(GeneratorRun, NoFailureNorKillLeavesLessThanWasInPlace) {
  // A rotation that gains parts, one that loses them (steps back) and one
  // of as many parts. Every call fails in turn, runs out of memory, or ends
  // the run; then every pair of calls fails.
  for (const auto& [maps, earlier] :
       {std::pair{130, 60}, std::pair{10, 100}, std::pair{60, 60}}) {
    const memory_disk start = prepared(maps, earlier);
    const script_files before = rotation_of(start);
    memory_disk clean = start;
    run(clean);
    const script_files after = rotation_of(clean);
    ASSERT_NE(before, after);
    for (int n = 1; n <= clean.calls; ++n) {
      const std::string what = std::to_string(maps) + " after " +
                               std::to_string(earlier) + " maps, call " +
                               std::to_string(n);
      for (const fault how : {fault::fail, fault::out_of_memory}) {
        memory_disk disk = start;
        disk.break_calls(n, 1, how);
        run(disk);
        const script_files now = rotation_of(disk);
        EXPECT_TRUE(now == before || now == after) << what;
        EXPECT_TRUE(chain_whole(disk, before, after)) << what;
        expect_settles(disk, after, what);
      }
      memory_disk killed = start;
      killed.break_calls(n, 1, fault::kill);
      EXPECT_THROW(run_generator(killed), killed_run) << what;
      EXPECT_TRUE(chain_whole(killed, before, after)) << what << ", killed";
      expect_settles(killed, after, what + ", killed");
      for (int m = n + 1; m <= clean.calls + 20; ++m) {
        memory_disk disk = start;
        disk.break_calls(n);
        disk.break_calls(m);
        run(disk);
        EXPECT_TRUE(chain_whole(disk, before, after)) << what << " and " << m;
      }
    }
  }
}

TEST(GeneratorRun, PartsALongerRotationHadStepBackToTheStart) {
  memory_disk disk = prepared(1, 150);
  ASSERT_EQ(5u, rotation_of(disk).size());
  run(disk);
  const script_files now = rotation_of(disk);
  EXPECT_EQ(5u, now.size());
  for (const char* part :
       {"SW_rotate2.cfg", "SW_rotate3.cfg", "SW_rotate4.cfg", "SW_rotate5.cfg"})
    EXPECT_EQ("exec SW_rotate.cfg", now.at(part)) << part;
  // A part that steps back already is left as it is.
  disk.files["map_list.cfg"].bytes = "alpha 1";
  disk.calls_of.clear();
  run(disk);
  EXPECT_EQ(1, disk.calls_of["write_new"]);
}

TEST(GeneratorRun, AnUnreplaceablePartOrUnreadableListFreezesTheRotation) {
  for (const char* part :
       {"SW_rotate.cfg", "SW_rotate2.cfg", "SW_rotate3.cfg", "map_list.cfg"}) {
    for (const int maps : {100, 40}) {  // a part to replace, or to step back
      memory_disk disk = prepared(maps, 100);
      const script_files before = rotation_of(disk);
      if (std::string(part) == "map_list.cfg")
        disk.break_calls("read_file", 1);  // a read that fails
      else
        disk.files[part].read_only = true;
      run(disk);
      EXPECT_EQ(before, rotation_of(disk)) << part << ", " << maps << " maps";
      // A folder or a pipe in the map list's place.
      disk.files["map_list.cfg"].special = true;
      run(disk);
      EXPECT_EQ(before, rotation_of(disk)) << part << ", " << maps << " maps";
    }
  }
}

TEST(GeneratorRun, AFileHeldForAMomentIsTriedAgain) {
  memory_disk held = prepared(100, 30);
  held.break_calls("replace", 1, 2, fault::busy);
  run(held);
  EXPECT_EQ(3u, held.paused_ms);  // 1 ms, then 2 ms
  EXPECT_EQ(3u, rotation_of(held).size());

  // Held for good: a file after about 2 s, the folder after about 20 s. The
  // run then gives up as on a failure; a held file is the second to be
  // placed, and the first then goes back.
  const std::tuple<const char*, int, unsigned> holds[] = {
      {"replace", 16, 2000}, {"try_lock", 100, lock_wait_ms}};
  for (const auto& [call, busy_calls, most_ms] : holds) {
    memory_disk stuck = prepared(100, 100);
    const script_files before = rotation_of(stuck);
    stuck.break_calls(call, call == std::string("replace") ? 2 : 1, busy_calls,
                      fault::busy);
    run(stuck);
    EXPECT_EQ(before, rotation_of(stuck)) << call;
    EXPECT_GE(stuck.paused_ms, most_ms) << call;
    EXPECT_LE(stuck.paused_ms, most_ms + 256) << call;
  }
}

TEST(GeneratorRun, WritesInPlaceWhenNoFileCanBeMadeBesideIt) {
  memory_disk disk;
  disk.files["map_list.cfg"].bytes = "alpha 1 bravo 0 charlie -1";
  disk.files["SW_rotate.cfg"].bytes = std::string(10000, 'p');
  disk.break_calls("write_new", 1, 1000);
  run(disk);
  EXPECT_EQ(alpha_bravo_script, disk.files["SW_rotate.cfg"].bytes);
  // A disk that fills up part way: the previous bytes come back.
  disk.files["SW_rotate.cfg"].bytes = "previous";
  disk.break_calls("write_in_place", disk.calls_of["write_in_place"] + 1);
  run(disk);
  EXPECT_EQ("previous", disk.files["SW_rotate.cfg"].bytes);
  // Not where a part beside it would be left from another rotation.
  disk.files["SW_rotate2.cfg"].bytes = "exec SW_rotate.cfg";
  run(disk);
  EXPECT_EQ("previous", disk.files["SW_rotate.cfg"].bytes);
}

TEST(GeneratorRun, ALinkedScriptTakesItsPartsAndCleanUpAlong) {
  memory_disk disk;
  disk.files["map_list.cfg"].bytes = list_of(100);
  // The target's name holds a mark of a kept copy of its own.
  disk.links["SW_rotate.cfg"] = "server/rotation.map_rotation-old.cfg";
  disk.files["server/rotation.map_rotation-old.cfg.map_rotation-tmp.7.0"]
      .bytes = "left by a killed run";
  disk.files["server/SW_rotate2.cfg.map_rotation-old.7.0"].bytes =
      "left by a killed run";
  run(disk);
  const auto there = disk.files_in("server");
  EXPECT_EQ(3u, there.size());
  EXPECT_EQ(1u, there.count("rotation.map_rotation-old.cfg"));
  EXPECT_EQ(1u, there.count("SW_rotate3.cfg"));
  EXPECT_EQ(1u, disk.files_in(".").size());  // the map list alone
}

TEST(GeneratorRun, AListThatGivesNoMapNeverTakesTheRotationAway) {
  const char* lists[] = {"",
                         " \r\n\t\r\n",
                         "canyon 3.0 harbor 2.0",
                         "map,priority\r\ncanyon,3\r\nharbor,2\r\n",
                         "canyon -1 harbor -1",
                         "can;yon 3 \"harbor\" 2 a//b 1",
                         "no list"};
  for (const std::string list : lists) {
    for (const int earlier : {150, 0}) {  // a rotation in place, or none
      memory_disk disk = prepared(0, 150);
      if (earlier == 0) disk.files.clear();
      const script_files before = rotation_of(disk);
      if (list != "no list") disk.files["map_list.cfg"].bytes = list;
      // Renamed, or behind a link into a share that isn't there.
      disk.files["Map_List.cfg"].bytes = list_of(3);
      disk.links["map_list.cfg"] = "share/map_list.cfg";
      if (list != "no list") disk.links.erase("map_list.cfg");
      run(disk);
      EXPECT_EQ(
          earlier ? before : script_files({{"SW_rotate.cfg", "vstr SW1"}}),
          rotation_of(disk))
          << list;
    }
  }
}

TEST(GeneratorRun, ALinkAnotherUserPlantedLeadsNowhere) {
  // The script, a part, or the map list behind such a link: the rotation
  // stays as it is, and nothing is made where the link points.
  for (const char* link : {"SW_rotate.cfg", "SW_rotate2.cfg", "map_list.cfg"}) {
    memory_disk disk = prepared(100, 100);
    const script_files before = rotation_of(disk);
    disk.files["etc/secret"].bytes = list_of(5, "secret");
    disk.files.erase(link);
    disk.links[link] = "etc/secret";
    disk.planted.insert(link);
    run(disk);
    EXPECT_EQ(list_of(5, "secret"), disk.files["etc/secret"].bytes) << link;
    EXPECT_EQ(1u, disk.files_in("etc").size()) << link;
    script_files expected = before, now = rotation_of(disk);
    expected.erase(link);
    now.erase(link);
    EXPECT_EQ(expected, now) << link;
  }
}

}  // namespace
