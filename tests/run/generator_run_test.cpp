#include "run/generator_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "check/check_report.h"
#include "check/dry_disk.h"
#include "check/rotation_check.h"
#include "check/rotation_in_place.h"
#include "platform/path.h"
#include "run/rotation_files.h"
#include "run/rotation_plan.h"
#include "run/rotation_script.h"
#include "support/console_play.h"
#include "support/memory_disk.h"
#include "support/scratch_dir.h"

namespace {

using fault = memory_disk::fault;

/// The users of the disks below that no table names.
const user_database no_users;

/// The lock file beside a rotation in the working folder.
const char lock_name[] = "SW_rotate.cfg.map_rotation-lock";

/// Every file of `disk`, with its bytes, owner and mode.
std::map<std::string, std::string> every_file(const memory_disk& disk) {
  std::map<std::string, std::string> files;
  for (const auto& [path, file] : disk.files)
    files[path] = file->bytes + "|" + std::to_string(file->owner) + "|" +
                  std::to_string(file->mode);
  return files;
}

/// What map_rotation_check tells of the next run on `disk` as it is now. It
/// changes nothing on the disk, and the user that a check as root gives up
/// root for comes back after it, as do the calls the disk counts, for the
/// run to start as it would.
check_facts checked(memory_disk& disk, const user_database& users,
                    std::uint32_t ticks) {
  const auto before = every_file(disk);
  const std::uint32_t uid = disk.uid, gid = disk.gid;
  const std::vector<std::uint32_t> groups = disk.groups;
  const std::vector<std::string> calls = disk.calls;
  const std::string locked = disk.locked;
  run_start start;
  const owner_decision owner = start_run(disk, users, &start);
  check_facts facts =
      check_rotation(disk, users, owner, start, {"."}, false, {}, ticks);
  disk.uid = uid, disk.gid = gid, disk.groups = groups;
  disk.calls = calls, disk.locked = locked;
  EXPECT_EQ(before, every_file(disk)) << "the check changed the disk";
  // The report as data reads as JSON, with the same status.
  EXPECT_EQ(exit_status(facts),
            nlohmann::json::parse(render_json(facts))["exit_status"]);
  return facts;
}

/// Runs the tool on `disk` as `users` tell, seeded with `ticks`; expects
/// exit status 0 and nothing printed. On a disk without faults to come, the
/// check first: what it tells of the run is what the run then does; and
/// where `read_back`, the check after it, which must read the rotation in
/// place as the run planned it.
void run(memory_disk& disk, run_record* record = nullptr,
         std::uint32_t ticks = 1, const user_database& users = no_users,
         bool read_back = true) {
  std::pair<int, std::unique_ptr<run_record>> told;
  if (disk.healthy()) {
    check_facts facts = checked(disk, users, ticks);
    told = {exit_status(facts), std::move(facts.run.own)};
  }
  run_record own;
  run_record& done = record ? *record : own;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, run_generator(disk, users, ticks, &done));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  // The record lists the parts in their order, then the steps back.
  for (std::size_t part = 1;
       done.result == run_record::outcome::placed &&
       part < std::min(done.files.size(), done.plan.files.size());
       ++part)
    EXPECT_EQ(rotation_script_file(part + 1), name_of(done.files[part].first));
  if (!told.second) return;
  const run_record& dry = *told.second;
  EXPECT_EQ(done.result, dry.result) << done.why;
  EXPECT_EQ(done.why, dry.why);
  EXPECT_EQ(done.files, dry.files);
  EXPECT_EQ(done.removed, dry.removed);
  EXPECT_EQ(done.plan.files.size(), dry.plan.files.size());
  // A run that keeps the rotation, or writes no map, is status 2.
  if (done.result == run_record::outcome::kept || done.plan.order.empty()) {
    EXPECT_EQ(2, told.first) << done.why;
    return;
  }
  // The rotation in place, as the check reads it back: the run's own order,
  // each map by the variable and in the file that the plan gives it.
  if (!read_back) return;
  const in_place_facts now = checked(disk, users, ticks).in_place;
  ASSERT_TRUE(now.trace.closes) << now.trace.breaks;
  ASSERT_EQ(done.plan.order.size(), now.trace.maps.size());
  for (std::size_t at = 0; at < now.trace.maps.size(); ++at) {
    const map_place place = place_of(done.plan, at);
    const traced_map& map = now.trace.maps[at];
    EXPECT_EQ(done.plan.order[at].name(), map.name) << at;
    EXPECT_EQ("SW" + std::to_string(place.variable), map.variable) << at;
    EXPECT_EQ(rotation_script_file(place.file), map.file) << at;
  }
  EXPECT_TRUE(now.matches_list());
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
  // Made afresh for every fault of the tables: read back once, elsewhere.
  run(disk, nullptr, 1, no_users, false);
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
/// The tables meet the same few mixes of the two again and again: each is
/// played in the console once.
bool chain_whole(const memory_disk& disk, const script_files& before,
                 const script_files& after) {
  static std::map<script_files, bool> closes;
  const script_files now = rotation_of(disk);
  for (const auto& [name, bytes] : now) {
    const auto was = before.find(name), will = after.find(name);
    if ((was == before.end() || was->second != bytes) &&
        (will == after.end() || will->second != bytes))
      return false;
  }
  auto known = closes.find(now);
  if (known == closes.end())
    known = closes.emplace(now, !maps_in_order(now).empty()).first;
  return disk.replaced_unsynced == 0 && known->second;
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
  // The files a clean run made, which were read back already.
  run(clean, nullptr, 1, no_users, false);
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

/// A rotation that gains parts, one that loses them (steps back) and one of
/// as many parts, on a disk without hard links too, and on one that swaps
/// names in one step: maps, maps before, hard links, swaps. Each is a test
/// of its own, so that each ends well within its time on a busy machine.
class FailingDisk
    : public ::testing::TestWithParam<std::tuple<int, int, bool, bool>> {};

INSTANTIATE_TEST_SUITE_P(GeneratorRun, FailingDisk,
                         ::testing::Values(std::tuple{130, 60, true, false},
                                           std::tuple{10, 100, true, false},
                                           std::tuple{60, 60, true, false},
                                           std::tuple{130, 60, false, false},
                                           std::tuple{60, 60, false, true}));

TEST_P(FailingDisk, NoFailureNorKillLeavesLessThanWasInPlace) {
  // Every call fails in turn, runs out of memory, or ends the run; then
  // every pair of calls fails. A failure leaves nothing behind but the
  // rotation's files, synced.
  {
    const auto [maps, earlier, hard_links, swaps] = GetParam();
    const auto start = [maps = maps, earlier = earlier, links = hard_links,
                        swaps = swaps] {
      memory_disk disk = prepared(maps, earlier);
      disk.has_hard_links = links;
      disk.swaps_names = swaps;
      return disk;
    };
    memory_disk clean = start();
    const script_files before = rotation_of(clean);
    run(clean);
    const script_files after = rotation_of(clean);
    ASSERT_NE(before, after);
    const int calls = static_cast<int>(clean.calls.size());
    // Where names swap, no replaced file is kept by a second name.
    EXPECT_EQ(swaps, std::count(clean.calls.begin(), clean.calls.end(),
                                "hard_link") == 0);
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
      // Pairs of failures on the disks that keep a second name: a swap is
      // one call, whose failure the single faults cover.
      for (int m = n + 1; !swaps && m <= calls + 20; ++m) {
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
  // An old part is read only where it has the step back's size.
  disk.at("SW_rotate5.cfg").bytes.append(std::size_t{1} << 24, '/');
  disk.calls.clear();
  ASSERT_EQ(0, run_generator(disk, no_users, 1));
  EXPECT_EQ(1, std::count(disk.calls.begin(), disk.calls.end(), "open_file"));
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
  // New parts take the script's mode, but never let others write them.
  disk.at("SW_rotate.cfg").mode = 0666;
  disk.put("map_list.cfg", list_of(200));
  run(disk);
  ASSERT_LT(5u, rotation_of(disk).size());
  EXPECT_EQ(0664u, disk.at("SW_rotate6.cfg").mode);
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
      {"lock held", "another run has held the rotation"},
      // Write bits for all, but another user's file: not this user's to
      // replace.
      {"another user's part",
       "SW_rotate2.cfg may not be written by this "
       "user"},
      // A file system that takes no lock: the check says so too.
      {"no locks",
       "SW_rotate.cfg.map_rotation-lock, on which runs take turns, can't be "
       "used: No locks available"}};
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
      else if (what == "another user's part")
        disk.at("SW_rotate2.cfg").owner = 1002;
      else if (what == "no locks")  // and no lock file yet
        disk.lock_error = "No locks available", disk.erase(lock_name);
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
  disk.put(lock);
  disk.locks_held.insert(disk.absolute(lock));
  run(disk);
  EXPECT_EQ(3u, disk.files_in("server").size());
  disk.locks_held.clear();
  run(disk, nullptr, 1, no_users, false);
  EXPECT_EQ(lock, disk.locked);
  // The server execs the parts by name in its own folder, where the link
  // is, not beside its target: the check says the chain breaks there.
  EXPECT_EQ("SW_rotate2.cfg isn't there, so the console can't exec it",
            checked(disk, no_users, 1).in_place.trace.breaks);
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
    // The link's owner is the folder's group, never its owner.
    disk.folders.at("/w").group = 1001;
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
  // place of a part of an earlier rotation, a disk with three files left
  // for a rotation of three parts without its lock file, an append-only
  // folder, a script linked to a file of the same folder by a path that
  // leaves it and comes back.
  const std::pair<int, std::string> rows[] = {{130, ""},
                                              {10, ""},
                                              {60, "leftover"},
                                              {60, "read-only"},
                                              {0, "gives no map"},
                                              {10, "folder"},
                                              {100, "three files"},
                                              {60, "append-only"},
                                              {60, "linked"}};
  for (const auto& [maps, what] : rows) {
    memory_disk disk = prepared(maps, 60);
    if (what == "leftover") disk.put("SW_rotate2.cfg.map_rotation-tmp.3.0");
    if (what == "read-only") disk.at("SW_rotate2.cfg").mode = 0444;
    if (what == "folder")
      disk.erase("SW_rotate2.cfg"), disk.make_folder("SW_rotate2.cfg");
    if (what == "three files") disk.erase(lock_name), disk.free_files = 3;
    if (what == "append-only") disk.folders.at("/w").append_only = true;
    if (what == "linked") {
      disk.put("real.cfg", disk.at("SW_rotate.cfg").bytes);
      disk.erase("SW_rotate.cfg");
      disk.make_link("SW_rotate.cfg", "../w/real.cfg");
    }
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
    EXPECT_EQ(what.empty() || what == "leftover" || what == "linked",
              real_record.result == run_record::outcome::placed)
        << row << ": " << real_record.why;
  }
}

}  // namespace

namespace {

/// The users of the layouts below: gs is the server's user, in its own
/// group 1001 (never its uid) and in admins; third is another user, and
/// so is numbered, whose number is gs's group's; lonely has no group but
/// root's.
const user_database layout_users(
    "root:x:0:0:root:/root:/bin/sh\n"
    "gs:x:1000:1001:game server:/srv:/bin/sh\n"
    "third:x:1002:1003::/home/third:/bin/sh\n"
    "numbered:x:1001:1005::/:/bin/sh\n"
    "lonely:x:1004:0::/:/bin/sh\n",
    "root:x:0:\ngs:x:1001:\nthird:x:1003:\nnumbered:x:1005:\nadmins:x:2000:"
    "third,gs\n"
    "others:x:2001:third\n");

/// One layout an operator (or a hostile server user) makes, and what a
/// run as root started in `working` must do there.
struct layout {
  const char* what;
  const char* working;
  std::function<void(memory_disk&)> make;
  /// Whom the run acts as, in what group; 0 for root kept.
  std::uint32_t acts_as, group;
  /// The script the run writes, and a text it then holds ("previous" where
  /// it stays); empty where the run writes nothing.
  const char* script;
  const char* holds;
  /// Folders whose files must stay as they are, and what the run's record
  /// says where it writes nothing.
  std::vector<const char*> untouched;
  const char* why;
  /// What the server's user does once the run holds its folders: just
  /// before call `at` of `when` ("lock": when it takes the lock).
  std::function<void(memory_disk&)> meanwhile = nullptr;
  const char* when = "lock";
  int at = 1;
};

/// The server user's game folder, /srv/game, of `owner` in `group`, with
/// `list` as its map list.
void game_folder(memory_disk& disk, std::uint32_t owner, std::uint32_t group,
                 const std::string& list = "alpha 1") {
  disk.make_folder("/srv", 0, 0);
  disk.make_folder("/srv/game", owner, group);
  disk.put("/srv/game/map_list.cfg", list);
}

/// root's tool folder, /root/tool, whose SW_rotate.cfg and map_list.cfg
/// link to `script` and `list`.
void tool_folder(memory_disk& disk, const std::string& script,
                 const std::string& list) {
  disk.make_folder("/root", 0, 0, 0700);
  disk.make_folder("/root/tool", 0, 0);
  disk.make_link("/root/tool/SW_rotate.cfg", script, 0);
  if (!list.empty()) disk.make_link("/root/tool/map_list.cfg", list, 0);
}

/// A folder only root may enter, holding a secret.
void root_only(memory_disk& disk) {
  disk.make_folder("/rootonly", 0, 0, 0700);
  disk.put("/rootonly/secret", "secret_map 1").mode = 0600;
}

/// root's rotation in root's folder /tmp/x, inside root's sticky /tmp,
/// where `linked` is another name of root's file `target`, holding `bytes`:
/// the map list links to /tmp/list.cfg, which anyone may have made there
/// where the system lets anyone give another's file a name (`protects`
/// false), and only root where not.
void sticky_linked(memory_disk& disk, const std::string& linked,
                   const std::string& target, const std::string& bytes,
                   bool protects) {
  disk.make_folder("/tmp", 0, 0, 01777);
  disk.make_folder("/tmp/x", 0, 0);
  root_only(disk);
  disk.put(target, bytes).mode = 0600;
  disk.put("/tmp/x/SW_rotate.cfg", "previous").mode = 0640;
  disk.put("/tmp/list.cfg", "alpha 1");
  disk.make_link("/tmp/x/map_list.cfg", "/tmp/list.cfg", 0);
  disk.files[linked] = disk.files.at(target);
  disk.protects_hard_links = protects;
}

}  // namespace

TEST(GeneratorRun, ARunAsRootActsOnlyAsFarAsTheUserOfEachFolderOnTheWay) {
  const layout layouts[] = {
      {"the server user's folder",
       "/srv/game",
       [](memory_disk& disk) { game_folder(disk, 1000, 1001); },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
      {"its folder in a group the user is in",
       "/srv/game",
       [](memory_disk& disk) { game_folder(disk, 1000, 2000); },
       1000,
       2000,
       "/srv/game/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
      {"its folder in a group the user isn't in",
       "/srv/game",
       [](memory_disk& disk) { game_folder(disk, 1000, 2001); },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
      {"a user with no group but root's",
       "/srv/game",
       [](memory_disk& disk) { game_folder(disk, 1004, 0); },
       0,
       0,
       "",
       "",
       {"/srv/game"},
       "no group of their own"},
      {"root's tool folder linked into the server's",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         tool_folder(disk, "../../srv/game/SW_rotate.cfg",
                     "../../srv/game/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map alpha",
       {"/root/tool"},
       ""},
      {"a folder on the way swapped for a link to root's",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_link("/srv/game/config", "/rootonly", 1000);
         root_only(disk);
         tool_folder(disk, "/srv/game/config/SW_rotate.cfg",
                     "/srv/game/config/secret");
       },
       1000,
       1001,
       "",
       "",
       {"/rootonly", "/root/tool"},
       "Permission denied"},
      {"a folder on the way swapped for a link to a third user's",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/home/third", 1002, 1003);
         disk.make_link("/srv/game/config", "/home/third", 1000);
         tool_folder(disk, "/srv/game/config/SW_rotate.cfg",
                     "/srv/game/map_list.cfg");
       },
       1000,
       1001,
       "",
       "",
       {"/home/third"},
       "Permission denied"},
      {"the server user swaps the folder the run holds for a link",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/srv/game/config", 1000, 1001);
         root_only(disk);
         tool_folder(disk, "/srv/game/config/SW_rotate.cfg",
                     "/srv/game/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/old/SW_rotate.cfg",
       "map alpha",
       {"/rootonly"},
       "",
       [](memory_disk& disk) {
         disk.move("/srv/game/config", "/srv/game/old");
         disk.make_link("/srv/game/config", "/rootonly", 1000);
       }},
      {"the server user swaps a folder above the one the run holds",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/srv/game/a/config", 1000, 1001);
         root_only(disk);
         tool_folder(disk, "/srv/game/a/config/SW_rotate.cfg",
                     "/srv/game/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/b/config/SW_rotate.cfg",
       "map alpha",
       {"/rootonly"},
       "",
       [](memory_disk& disk) {
         disk.move("/srv/game/a", "/srv/game/b");
         disk.make_link("/srv/game/a", "/rootonly", 1000);
       }},
      {"root's folder inside the user's",
       "/srv/parent/game",
       [](memory_disk& disk) {
         disk.make_folder("/srv", 0, 0);
         disk.make_folder("/srv/parent", 1000, 1001);
         disk.make_folder("/srv/parent/game", 0, 0);
         disk.put("/srv/parent/game/map_list.cfg", "alpha 1");
       },
       1000,
       1001,
       "",
       "",
       {"/srv/parent/game"},
       "Permission denied"},
      {"the list linked through the user's folder to a secret",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.erase("/srv/game/map_list.cfg");
         disk.make_link("/srv/game/map_list.cfg", "/rootonly/secret", 1000);
         root_only(disk);
         disk.make_folder("/root", 0, 0, 0700);
         disk.make_folder("/root/tool", 0, 0);
         disk.put("/root/tool/SW_rotate.cfg", "previous");
         disk.make_link("/root/tool/map_list.cfg", "/srv/game/map_list.cfg", 0);
       },
       0,
       0,
       "/root/tool/SW_rotate.cfg",
       "previous",
       {"/rootonly"},
       "Permission denied"},
      {"the list in the user's folder, the rotation root's",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/root", 0, 0, 0700);
         disk.make_folder("/root/tool", 0, 0);
         disk.make_link("/root/tool/map_list.cfg", "/srv/game/map_list.cfg", 0);
       },
       0,
       0,
       "/root/tool/SW_rotate.cfg",
       "map alpha",
       {"/srv/game"},
       ""},
      {"two links of root's, the second relative",
       "/root/a",
       [](memory_disk& disk) {
         disk.make_folder("/root", 0, 0, 0700);
         disk.make_folder("/root/a", 0, 0);
         disk.make_folder("/root/b/real", 0, 0);
         disk.put("/root/a/map_list.cfg", "alpha 1");
         disk.make_link("/root/a/SW_rotate.cfg", "/root/b/rot", 0);
         disk.make_link("/root/b/rot", "real/SW_rotate.cfg", 0);
       },
       0,
       0,
       "/root/b/real/SW_rotate.cfg",
       "map alpha",
       {"/root/a"},
       ""},
      {"a folder of root's that its group may write",
       "/srv/shared",
       [](memory_disk& disk) {
         disk.make_folder("/srv", 0, 0);
         disk.make_folder("/srv/shared", 0, 2000, 02775);
         disk.put("/srv/shared/map_list.cfg", "alpha 1");
       },
       0,
       0,
       "",
       "",
       {"/srv/shared"},
       "chmod go-w"},
      {"root's folder in a sticky folder",
       "/tmp/x",
       [](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.make_folder("/tmp/x", 0, 0, 0700);
         disk.put("/tmp/x/map_list.cfg", "alpha 1");
       },
       0,
       0,
       "/tmp/x/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
      {"root's sticky folder without the rotation: others may add it",
       "/tmp",
       [](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.put("/tmp/map_list.cfg", "alpha 1");
       },
       0,
       0,
       "",
       "",
       {"/tmp"},
       "belongs to root, and its group or others may write it"},
      {"the server user's rotation in root's sticky folder",
       "/tmp",
       [](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.put("/tmp/map_list.cfg", "alpha 1");
         memory_disk::file& script = disk.put("/tmp/SW_rotate.cfg", "x");
         script.owner = 1000, script.group = 1001, script.mode = 0640;
       },
       1000,
       1001,
       "/tmp/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
      {"a folder of root's swapped for the server user's between look and "
       "open",
       "/root/tool",
       [](memory_disk& disk) {
         disk.make_folder("/srv/game", 0, 0);
         disk.put("/srv/game/map_list.cfg", "alpha 1");
         tool_folder(disk, "/srv/game/SW_rotate.cfg", "/srv/game/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map alpha",
       {},
       "",
       [](memory_disk& disk) {
         disk.move("/srv/game", "/srv/old");
         disk.make_folder("/srv/game", 1000, 1001);
         disk.put("/srv/game/map_list.cfg", "alpha 1").owner = 1000;
       },
       "open_folder",
       2},
      {"root's rotation, the map list in the folder of a user with no group "
       "but root's",
       "/root/tool",
       [](memory_disk& disk) {
         disk.make_folder("/root", 0, 0, 0700);
         disk.make_folder("/root/tool", 0, 0);
         disk.put("/root/tool/SW_rotate.cfg", "previous").mode = 0640;
         disk.make_folder("/srv", 0, 0);
         disk.make_folder("/srv/lonely", 1004, 0);
         disk.put("/srv/lonely/map_list.cfg", "alpha 1");
         disk.make_link("/root/tool/map_list.cfg", "/srv/lonely/map_list.cfg",
                        0);
       },
       0,
       0,
       "/root/tool/SW_rotate.cfg",
       "previous",
       {},
       "no group of their own but root's to read it in"},
      {"the server user's folder, the rotation a third user's link in it",
       "/srv/game",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/home/third", 1002, 1003, 0777);
         disk.make_link("/srv/game/SW_rotate.cfg", "/home/third/SW_rotate.cfg",
                        1002);
       },
       1000,
       1001,
       "",
       "",
       {"/home/third"},
       "neither to this user nor to the folder's owner"},
      {"the server user's folder, the list a third user's link in it",
       "/srv/game",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/home/third", 1002, 1003, 0755);
         disk.put("/home/third/list", "bravo 1").owner = 1002;
         disk.erase("/srv/game/map_list.cfg");
         disk.make_link("/srv/game/map_list.cfg", "/home/third/list", 1002);
       },
       1000,
       1001,
       "",
       "",
       {"/home/third"},
       "neither to this user nor to the folder's owner"},
      {"root's rotation, the list a third user's link in the server user's "
       "folder",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/root", 0, 0, 0700);
         disk.make_folder("/root/tool", 0, 0);
         disk.put("/root/tool/SW_rotate.cfg", "previous").mode = 0640;
         disk.make_folder("/home/third", 1002, 1003, 0755);
         disk.put("/home/third/list", "bravo 1").owner = 1002;
         disk.erase("/srv/game/map_list.cfg");
         disk.make_link("/srv/game/map_list.cfg", "/home/third/list", 1002);
         disk.make_link("/root/tool/map_list.cfg", "/srv/game/map_list.cfg", 0);
       },
       0,
       0,
       "/root/tool/SW_rotate.cfg",
       "previous",
       {"/home/third"},
       "neither to this user nor to the folder's owner"},
      {"root's tool linked to the server user's rotation and to a list in a "
       "third user's folder whose group has the server user's number",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/home/third", 1002, 1000, 0750);
         disk.put("/home/third/map_list.cfg", "bravo 1").owner = 1002;
         tool_folder(disk, "/srv/game/SW_rotate.cfg",
                     "/home/third/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map bravo",
       {"/home/third"},
       ""},
      {"the same, the list's owner's number the server user's group's",
       "/root/tool",
       [](memory_disk& disk) {
         game_folder(disk, 1000, 1001);
         disk.make_folder("/home/third", 1001, 1003, 0750);
         disk.put("/home/third/map_list.cfg", "bravo 1").owner = 1001;
         tool_folder(disk, "/srv/game/SW_rotate.cfg",
                     "/home/third/map_list.cfg");
       },
       1000,
       1001,
       "/srv/game/SW_rotate.cfg",
       "map bravo",
       {"/home/third"},
       ""},
      {"root's links that lead round in a loop",
       "/root/tool",
       [](memory_disk& disk) {
         tool_folder(disk, "loop1", "");
         disk.make_link("/root/tool/loop1", "loop2", 0);
         disk.make_link("/root/tool/loop2", "/root/tool/loop1", 0);
         disk.put("/root/tool/map_list.cfg", "alpha 1");
       },
       0,
       0,
       "",
       "",
       {"/root/tool"},
       "too many links"},
      {"root's link that climbs past / and back down",
       "/root/tool",
       [](memory_disk& disk) {
         tool_folder(disk, "../../../../../root/tool/real.cfg", "");
         disk.put("/root/tool/map_list.cfg", "alpha 1");
       },
       0,
       0,
       "/root/tool/real.cfg",
       "map alpha",
       {},
       ""},
      {"a hard link another user made as the map list, in root's sticky "
       "folder",
       "/tmp/x",
       [](memory_disk& disk) {
         sticky_linked(disk, "/tmp/list.cfg", "/rootonly/secret",
                       "secret_map 1", false);
       },
       0,
       0,
       "/tmp/x/SW_rotate.cfg",
       "previous",
       {"/rootonly"},
       "/tmp/list.cfg has 2 names, in a folder of root's that others may "
       "add to"},
      {"the same link where no user may link another's file: root's own",
       "/tmp/x",
       [](memory_disk& disk) {
         sticky_linked(disk, "/tmp/list.cfg", "/rootonly/list", "bravo 1",
                       true);
       },
       0,
       0,
       "/tmp/x/SW_rotate.cfg",
       "map bravo",
       {"/rootonly"},
       ""},
      {"a hard link as the lock file, whoever made it",
       "/tmp/x",
       [](memory_disk& disk) {
         sticky_linked(disk, "/tmp/x/SW_rotate.cfg.map_rotation-lock",
                       "/rootonly/secret", "secret_map 1", true);
       },
       0,
       0,
       "/tmp/x/SW_rotate.cfg",
       "previous",
       {"/rootonly"},
       "can't be used: a lock file with another name besides"},
      {"the user's folder in a sticky folder",
       "/tmp/y",
       [](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.make_folder("/tmp/y", 1000, 1001);
         disk.put("/tmp/y/map_list.cfg", "alpha 1");
       },
       1000,
       1001,
       "/tmp/y/SW_rotate.cfg",
       "map alpha",
       {},
       ""},
  };
  for (const layout& row : layouts) {
    memory_disk disk;
    disk.uid = disk.gid = 0;
    disk.working = row.working;
    row.make(disk);
    if (row.meanwhile)
      disk.at_call(row.when, row.at, [&disk, &row] { row.meanwhile(disk); });
    std::map<std::string, std::map<std::string, std::string>> before;
    for (const char* folder : row.untouched)
      before[folder] = disk.files_in(folder);
    run_record record;
    run(disk, &record, 1, layout_users);
    EXPECT_EQ(row.acts_as, disk.uid) << row.what;
    EXPECT_EQ(row.group, disk.gid) << row.what;
    for (const char* folder : row.untouched)
      EXPECT_EQ(before[folder], disk.files_in(folder))
          << row.what << ": " << folder;
    if (*row.script) {
      ASSERT_TRUE(disk.files.count(row.script)) << row.what << record.why;
      const memory_disk::file& script = disk.at(row.script);
      EXPECT_NE(std::string::npos, script.bytes.find(row.holds))
          << row.what << ": " << record.why;
      if (std::string(row.holds) != "previous") {
        EXPECT_EQ(row.acts_as, script.owner) << row.what;
        EXPECT_EQ(row.group, script.group) << row.what;
        EXPECT_EQ(0640u, script.mode) << row.what;
      }
    }
    for (const auto& [path, file] : disk.files)
      EXPECT_EQ(std::string::npos, file->bytes.find("map secret_map"))
          << row.what << ": " << path;
    if (*row.why) {
      EXPECT_NE(std::string::npos, record.why.find(row.why))
          << row.what << ": " << record.why;
    }
  }
}
