#include "generator_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "console_model.h"
#include "dry_disk.h"
#include "memory_disk.h"
#include "rotation_files.h"
#include "rotation_script.h"
#include "scratch_dir.h"

namespace {

using fault = memory_disk::fault;

/// The users of the disks below that no table names.
const user_database no_users;

/// The lock file beside a rotation in the working folder.
const char lock_name[] = "SW_rotate.cfg.map_rotation-lock";

/// Runs the tool on `disk`; expects exit status 0 and nothing printed.
void run(memory_disk& disk, run_record* record = nullptr,
         std::uint32_t ticks = 1) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, run_generator(disk, no_users, ticks, record));
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
  disk.put("map_list.cfg", list_of(earlier, "old"));
  run(disk);
  disk.put("map_list.cfg", list_of(maps));
  disk.heal();
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

/// Whether the folder holds the map list, the rotation's files and its lock
/// file alone.
bool nothing_left_over(const memory_disk& disk) {
  for (const auto& [name, bytes] : disk.files_in("."))
    if (name != "map_list.cfg" && name != lock_name &&
        !is_rotation_script_file(name))
      return false;
  return true;
}

/// Runs again on `clean`, without failures: the folder must then hold
/// exactly the map list and the new rotation, `after`.
void expect_settles(memory_disk& clean, const script_files& after,
                    const std::string& what) {
  clean.heal();
  run(clean);
  std::map<std::string, std::string> expected(after.begin(), after.end());
  expected["map_list.cfg"] = clean.at("map_list.cfg").bytes;
  expected[lock_name] = "";
  EXPECT_EQ(expected, clean.files_in(".")) << what << ", run again";
  EXPECT_EQ(0, clean.unsynced_renames()) << what;
}

TEST(GeneratorRun, WritesTheScriptThroughTheDisk) {
  memory_disk disk;
  disk.put("map_list.cfg", "alpha 1\r\nbravo 0\r\ncharlie -1\r\n");
  run(disk);
  EXPECT_EQ(alpha_bravo_script, disk.at("SW_rotate.cfg").bytes);
  EXPECT_EQ(3u, disk.files.size());  // the list, the script, the lock file
  EXPECT_EQ(0, disk.replaced_unsynced);
  EXPECT_EQ(0, disk.unsynced_renames());
}

TEST(GeneratorRun, NoFailureNorKillLeavesLessThanWasInPlace) {
  // A rotation that gains parts, one that loses them (steps back) and one
  // of as many parts, on a disk without hard links too. Every call fails in
  // turn, runs out of memory, or ends the run; then every pair of calls
  // fails. A failure leaves nothing behind but the rotation's files, synced.
  for (const auto& [maps, earlier, hard_links] :
       {std::tuple{130, 60, true}, std::tuple{10, 100, true},
        std::tuple{60, 60, true}, std::tuple{130, 60, false}}) {
    const auto start = [maps = maps, earlier = earlier, links = hard_links] {
      memory_disk disk = prepared(maps, earlier);
      disk.has_hard_links = links;
      return disk;
    };
    memory_disk clean = start();
    const script_files before = rotation_of(clean);
    run(clean);
    const script_files after = rotation_of(clean);
    ASSERT_NE(before, after);
    const int calls = static_cast<int>(clean.calls.size());
    for (int n = 1; n <= calls; ++n) {
      const std::string what = std::to_string(maps) + " after " +
                               std::to_string(earlier) + " maps, call " +
                               std::to_string(n);
      for (const fault how : {fault::fail, fault::out_of_memory}) {
        memory_disk disk = start();
        disk.break_calls(n, 1, how);
        run(disk);
        const script_files now = rotation_of(disk);
        EXPECT_TRUE(now == before || now == after) << what;
        EXPECT_TRUE(chain_whole(disk, before, after)) << what;
        // Unless the failing call is the sync or the removal itself.
        EXPECT_TRUE(disk.unsynced_renames() == 0 ||
                    clean.calls[n - 1] == "sync")
            << what;
        EXPECT_TRUE(nothing_left_over(disk) || how != fault::fail ||
                    clean.calls[n - 1] == "remove")
            << what;
        expect_settles(disk, after, what);
      }
      memory_disk killed = start();
      killed.break_calls(n, 1, fault::kill);
      EXPECT_THROW(run_generator(killed, no_users, 1), killed_run) << what;
      EXPECT_TRUE(chain_whole(killed, before, after)) << what << ", killed";
      expect_settles(killed, after, what + ", killed");
      for (int m = n + 1; m <= calls + 20; ++m) {
        memory_disk disk = start();
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
  disk.put("map_list.cfg", "alpha 1");
  disk.heal();
  run(disk);
  EXPECT_EQ(1, std::count(disk.calls.begin(), disk.calls.end(), "write_new"));
}

TEST(GeneratorRun, AFrozenPartUnreadableListOrHeldFolderKeepsTheRotation) {
  // What is in the way, and what the run's record says of it.
  const std::pair<std::string, std::string> rows[] = {
      {"SW_rotate.cfg", "SW_rotate.cfg is read-only"},
      {"SW_rotate2.cfg", "SW_rotate2.cfg is read-only"},
      {"SW_rotate3.cfg", "SW_rotate3.cfg is read-only"},
      {"read fails", "map_list.cfg is there but can't be read"},
      {"pipe", "map_list.cfg is there but can't be read"},
      {"folder", "map_list.cfg is there but can't be read"},
      {"lock held", "another run has held the rotation"}};
  for (const auto& [what, why] : rows) {
    for (const int maps : {100, 40}) {  // a part to replace, or to step back
      memory_disk disk = prepared(maps, 100);
      const script_files before = rotation_of(disk);
      if (what == "read fails")
        disk.break_calls("read", 1);
      else if (what == "pipe")
        disk.at("map_list.cfg").special = true;
      else if (what == "folder")
        disk.erase("map_list.cfg"), disk.make_folder("map_list.cfg");
      else if (what == "lock held")
        disk.locks_held.insert(disk.absolute(lock_name));
      else
        disk.at(what).mode = 0444;
      run_record record;
      run(disk, &record);
      EXPECT_EQ(before, rotation_of(disk)) << what << ", " << maps << " maps";
      EXPECT_EQ(run_record::outcome::kept, record.result) << what;
      EXPECT_EQ(0u, record.why.find(why)) << what << ": " << record.why;
    }
  }
}

TEST(GeneratorRun, WritesInPlaceWhenNoFileCanBeMadeBesideIt) {
  memory_disk disk;
  disk.put("map_list.cfg", "alpha 1 bravo 0 charlie -1");
  disk.put("SW_rotate.cfg", std::string(10000, 'p'));
  disk.break_calls("write_new", 1, 1000);
  run(disk);
  EXPECT_EQ(alpha_bravo_script, disk.at("SW_rotate.cfg").bytes);
  // A disk that fills up part way: the previous bytes come back.
  disk.at("SW_rotate.cfg").bytes = "previous";
  disk.heal();
  disk.break_calls("write_new", 1, 1000);
  disk.break_calls("write_in_place", 1);
  run(disk);
  EXPECT_EQ("previous", disk.at("SW_rotate.cfg").bytes);
  // Not a rotation of several parts, nor where a part beside it would be
  // left from another rotation.
  disk.heal();
  disk.break_calls("write_new", 1, 1000);
  disk.put("map_list.cfg", list_of(100));
  run(disk);
  EXPECT_EQ("previous", disk.at("SW_rotate.cfg").bytes);
  disk.put("map_list.cfg", "alpha 1 bravo 0 charlie -1");
  disk.put("SW_rotate2.cfg", "exec SW_rotate.cfg");
  run(disk);
  EXPECT_EQ("previous", disk.at("SW_rotate.cfg").bytes);
}

TEST(GeneratorRun, ALinkedScriptTakesItsPartsAndCleanUpAlong) {
  memory_disk disk;
  disk.put("map_list.cfg", list_of(100));
  // The target's name holds a mark of a kept copy of its own.
  disk.make_link("SW_rotate.cfg", "server/rotation.map_rotation-old.cfg");
  disk.put("server/rotation.map_rotation-old.cfg.map_rotation-tmp.7.0");
  disk.put("server/SW_rotate2.cfg.map_rotation-old.7.0");
  // Runs take turns where the files change: while another run holds that
  // folder's lock, nothing there is touched, its staged files least of all.
  const std::string lock =
      "server/rotation.map_rotation-old.cfg.map_rotation-lock";
  disk.locks_held.insert(disk.absolute(lock));
  run(disk);
  EXPECT_EQ(2u, disk.files_in("server").size());
  disk.locks_held.clear();
  run(disk);
  EXPECT_EQ(lock, disk.locked);
  const auto there = disk.files_in("server");
  EXPECT_EQ(4u, there.size());  // the script, two parts, the lock file
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
                         "\x1a\x1a\x1a canyon 1",
                         "can;yon 3 \"harbor\" 2 a//b 1",
                         "no list"};
  for (const std::string list : lists) {
    for (const int earlier : {150, 0}) {  // a rotation in place, or none
      memory_disk disk = prepared(0, 150);
      if (earlier == 0) disk.files.clear();
      const script_files before = rotation_of(disk);
      if (list != "no list") disk.put("map_list.cfg", list);
      // Renamed, or behind a link into a share that isn't there.
      disk.put("Map_List.cfg", list_of(3));
      if (list == "no list")
        disk.make_link("map_list.cfg", "share/map_list.cfg");
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
    disk.put("etc/secret", list_of(5, "secret"));
    disk.erase(link);
    disk.make_link(link, "etc/secret", 1001);
    run(disk);
    EXPECT_EQ(list_of(5, "secret"), disk.at("etc/secret").bytes) << link;
    EXPECT_EQ(1u, disk.files_in("etc").size()) << link;
    script_files expected = before, now = rotation_of(disk);
    expected.erase(link);
    now.erase(link);
    EXPECT_EQ(expected, now) << link;
  }
}

TEST(GeneratorRun, ADryRunRecordsWhatTheRunThenDoesAndChangesNothing) {
  // Set-ups: a longer rotation, a shorter one (steps back), a leftover of
  // a killed run, a read-only part, a list that gives no map, a folder in
  // place of a part of an earlier rotation.
  const std::pair<int, std::string> rows[] = {
      {130, ""},           {10, ""},      {60, "leftover"}, {60, "read-only"},
      {0, "gives no map"}, {10, "folder"}};
  for (const auto& [maps, what] : rows) {
    memory_disk disk = prepared(maps, 60);
    if (what == "leftover") disk.put("SW_rotate2.cfg.map_rotation-tmp.3.0");
    if (what == "read-only") disk.at("SW_rotate2.cfg").mode = 0444;
    if (what == "folder")
      disk.erase("SW_rotate2.cfg"), disk.make_folder("SW_rotate2.cfg");
    const auto before = disk.files_in(".");
    run_record dry_record, real_record;
    dry_disk dry(disk);
    run_generator(dry, no_users, 7, &dry_record);
    EXPECT_EQ(before, disk.files_in(".")) << maps << " " << what;
    run_generator(disk, no_users, 7, &real_record);
    const std::string row = std::to_string(maps) + " " + what;
    EXPECT_EQ(real_record.result, dry_record.result) << row;
    EXPECT_EQ(real_record.why, dry_record.why) << row;
    EXPECT_EQ(real_record.files, dry_record.files) << row;
    EXPECT_EQ(real_record.removed, dry_record.removed) << row;
    EXPECT_EQ(what.empty() || what == "leftover",
              real_record.result == run_record::outcome::placed)
        << row << ": " << real_record.why;
  }
}

}  // namespace
