#include "check/rotation_in_place.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>

#include "check/check_report.h"
#include "check/rotation_check.h"
#include "run/generator_run.h"
#include "run/rotation_script.h"
#include "support/memory_disk.h"
#include "support/report_lines.h"
#include "support/zip_maker.h"

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
  // The rotation written by hand instead: `files` by name, each variable's
  // `set SWn "TEXT"` given as SWn=TEXT on a line of its own.
  const auto by_hand = [](std::map<std::string, std::string> files) {
    return [files](memory_disk& disk) {
      for (const auto& [name, bytes] : disk.files_in("."))
        if (name.rfind("SW_rotate", 0) == 0) disk.erase(name);
      for (auto [name, text] : files) {
        for (std::size_t at = 0;
             (at = text.find("SW", at)) != std::string::npos; at += 2) {
          const std::size_t is = text.find('=', at), end = text.find('\n', at);
          if ((at == 0 || text[at - 1] == '\n') && is < end &&
              text.find(' ', at) > is)
            text = text.substr(0, at) + "set " + text.substr(at, is - at) +
                   " \"" + text.substr(is + 1, end - is - 1) + "\"" +
                   text.substr(end);
        }
        disk.put(name, text);
      }
    };
  };
  const std::string two = "SW1=map a ; set nextmap vstr SW2\n";
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
          // Written by hand, as the original engine runs them.
          {"a comment /*/ that closes itself",
           by_hand({{"SW_rotate.cfg",
                     two + "/*/ set SW2 \"map b ; set nextmap vstr SW1\"\n"
                           "vstr SW1"}}),
           2, true, "Then it comes back to \"a\""},
          {"seta with more than two words",
           by_hand({{"SW_rotate.cfg",
                     "SW1=map a ; seta nextmap vstr SW2\n"
                     "SW2=map b ; seta nextmap vstr SW1\n"
                     "vstr SW1"}}),
           1, false,
           "then it restarts the same map for ever: nextmap runs \"map_restart "
           "0\".\nA run that puts its rotation in place mends it.\nThe "
           "maintained engine plays it otherwise: 2 maps. Then it comes back"},
          {"a variable's name as a command",
           by_hand(
               {{"SW_rotate.cfg", "SW1=map a ; nextmap vstr SW2\nvstr SW1"}}),
           1, false, "nextmap runs \"vstr\", which loads no map"},
          {"exec by the engine's path rules",
           by_hand({{"SW_rotate.cfg",
                     "SW1=devmap a ; set nextmap exec rot/part2\nvstr SW1"},
                    {"rot/part2.cfg",
                     "SW1=spmap b ; set nextmap exec /SW_rotate\nvstr SW1"}}),
           2, true, "2. \"b\": exec rot/part2.cfg"},
          {"a settings file that isn't there, a variable that runs itself",
           by_hand(
               {{"SW_rotate.cfg",
                 "exec gt_ctf\nset loop \"vstr loop\"\nSW1=exec gt_ctf.cfg ; "
                 "map a ; "
                 "vstr loop ; set nextmap vstr SW2\nSW2=map b ; set "
                 "nextmap vstr SW1\nvstr SW1"}}),
           2, true, "Then it comes back to \"a\""},
          {"SW_rotate.cfg that runs itself last",
           by_hand({{"SW_rotate.cfg", two + "vstr SW1\nexec SW_rotate.cfg"}}),
           0, false,
           "The chain breaks at once:\n  its texts run one another "
           "for ever within one map's end, so the server hangs"},
          {"a file pasted twice",
           by_hand(
               {{"SW_rotate.cfg",
                 two + "SW2=map b ; set nextmap vstr SW1\nvstr SW1\n" + two +
                     "SW2=map b ; set nextmap vstr SW1\nvstr SW1\n"}}),
           2, true, "Then it comes back to \"a\""},
          {"an exec with the rest of its file behind it",
           by_hand({{"SW_rotate.cfg",
                     "exec big\nvstr SW1\n//" + std::string(100, 'p')},
                    {"big.cfg", "SW1=map a ; set nextmap vstr SW1\n//" +
                                    std::string(16300, 'p')}}),
           0, false,
           "big.cfg is larger than the console's buffer takes, so it refuses "
           "all of it.\nA run that puts its rotation in place mends it.\nThe "
           "maintained engine plays it otherwise: 1 map. Then it comes back"},
          {"nextmap set before the map is loaded",
           by_hand({{"SW_rotate.cfg",
                     "SW1=set nextmap vstr SW1 ; map a\nvstr SW1"}}),
           1, false, "then it restarts the same map for ever"},
          {"maps loaded by the files themselves",
           by_hand({{"SW_rotate.cfg", "map a\nset nextmap exec SW_rotate2\n"},
                    {"SW_rotate2.cfg", "map b\nset nextmap exec SW_rotate\n"}}),
           2, true, "2. \"b\": exec SW_rotate2.cfg"},
          {"a step that loads nothing, and sets nextmap",
           by_hand(
               {{"SW_rotate.cfg", two + "SW2=set nextmap vstr SW1\nvstr SW1"}}),
           1, false, "nextmap runs \"vstr SW2\", which loads no map"},
          // What costs a reading without end is cut at its budget, or told
          // by what repeats.
          {"variables that each run the next twice",
           [](memory_disk& disk) {
             std::string text;
             for (int i = 1; i < 40; ++i)
               text += "set f" + std::to_string(i) + " \"vstr f" +
                       std::to_string(i + 1) + ";vstr f" +
                       std::to_string(i + 1) + "\"\n";
             disk.at("SW_rotate.cfg").bytes = text + "vstr f1";
           },
           0, false, "The check reads no further: it runs at most 1,048,576"},
          {"a nextmap that restarts beside many parts",
           [](memory_disk& disk) {
             disk.at("SW_rotate.cfg").bytes =
                 "set nextmap map_restart\nmap a\nset nextmap map_restart";
             for (int part = 4; part <= 2000; ++part)
               disk.put(rotation_script_file(part));
           },
           1, false, "then it restarts the same map for ever"},
      };
  for (const auto& [what, change, played, closes, says] : rows) {
    memory_disk disk;
    disk.put("map_list.cfg", list_of(80));
    ASSERT_EQ(0, run_generator(disk, no_users, 1)) << what;
    ASSERT_EQ(3u, disk.files_in(".").size() - 2) << what;  // list and lock
    change(disk);
    const auto [facts, report] = in_place(disk);
    if (played) {
      EXPECT_EQ(played, facts.trace.maps.size()) << what << "\n" << report;
    }
    EXPECT_EQ(closes, facts.trace.closes) << what << "\n" << report;
    EXPECT_NE(std::string::npos, report.find(says)) << what << "\n" << report;
  }
}

TEST(RotationInPlace, AsRootReadsNothingTheServersUserCouldNot) {
  // The server's user writes a part that runs a file only root may read;
  // the check as root must show no byte of it, however the part got there.
  const user_database users(
      "root:x:0:0::/root:/bin/sh\ngs:x:1000:1000::/:/bin/sh\n",
      "root:x:0:\ngs:x:1000:\n");
  const std::string chain =
      "set SW1 \"map a ; set nextmap exec SW_rotate2\"\nvstr SW1";
  const std::pair<const char*, std::function<void(memory_disk&)>> rows[] = {
      {"a part of the user's in root's sticky folder",
       [&](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.working = "/tmp";
         disk.put("/tmp/SW_rotate2.cfg", "exec private\nvstr SW1").owner = 1000;
         disk.put("/tmp/private.cfg", "set SW1 \"map SECRET\"").mode = 0600;
       }},
      {"a hard link the user made there to root's file",
       [&](memory_disk& disk) {
         disk.make_folder("/tmp", 0, 0, 01777);
         disk.working = "/tmp";
         disk.make_folder("/rootonly", 0, 0, 0700);
         disk.put("/rootonly/private.cfg", "set SW1 \"map SECRET\"\nvstr SW1")
             .mode = 0600;
         disk.files["/tmp/SW_rotate2.cfg"] =
             disk.files.at("/rootonly/private.cfg");
         disk.protects_hard_links = false;
       }},
      {"the user's folder, root's file in it",
       [&](memory_disk& disk) {
         disk.make_folder("/srv", 0, 0);
         disk.make_folder("/srv/game", 1000, 1000);
         disk.working = "/srv/game";
         disk.put("/srv/game/SW_rotate2.cfg", "exec private\nvstr SW1").owner =
             1000;
         disk.put("/srv/game/private.cfg", "set SW1 \"map SECRET\"").mode =
             0600;
       }},
  };
  for (const auto& [what, make] : rows) {
    memory_disk disk;
    disk.uid = disk.gid = 0;
    make(disk);
    disk.put(disk.working + "/map_list.cfg", "a 1").owner = disk.uid;
    disk.put(disk.working + "/SW_rotate.cfg", chain).mode = 0644;
    if (disk.working == "/srv/game") {
      disk.at("/srv/game/map_list.cfg").owner = 1000;
      disk.at("/srv/game/SW_rotate.cfg").owner = 1000;
    }
    disk.put(disk.working + "/server.cfg", "exec private\nexec SW_rotate.cfg")
        .owner = 1000;
    run_start start;
    const owner_decision owner = start_run(disk, users, &start);
    const check_facts facts =
        check_rotation(disk, users, owner, start, {"."}, false, {}, 1);
    const std::string report = render_report(facts) + render_json(facts);
    EXPECT_EQ(std::string::npos, report.find("SECRET")) << what << "\n"
                                                        << report;
    // Nothing was kept from the reader: the part was looked at.
    EXPECT_TRUE(facts.in_place.looked) << what << "\n" << report;
  }
}

TEST(CheckReport, ShowsEveryByteThatAnotherUserPlantedVisibly) {
  // Bytes that would retitle a terminal (ESC ] ... BEL), a byte that
  // isn't UTF-8, and the four characters of an escape, planted wherever the
  // game's folder gives the report a name, a path or a value.
  const std::string planted = "\x1B]0;t\x07\xFF\\x1B";
  const std::string seen = "\\x1B]0;t\\x07\\xFF\\x5Cx1B";
  const std::string p = planted;
  // Each row plants them, and says how they show where that isn't `seen`.
  const std::vector<
      std::tuple<const char*, std::function<void(memory_disk&)>, std::string>>
      rows = {
          {"a variable's name",
           [&](memory_disk& disk) {
             // Set in two.cfg, whose own text loads its first map: the
             // jump to c runs two.cfg, then the variable.
             disk.put("SW_rotate.cfg", "map a\nset nextmap \"exec two\"");
             disk.put("two.cfg",
                      "set \"SW" + p +
                          "\" \"map c\"\nmap b\nset nextmap \"exec three\"");
             disk.put("three.cfg", "vstr \"SW" + p + "\"");
           },
           ""},
          {"nextmap's value",
           [&](memory_disk& disk) {
             disk.put("SW_rotate.cfg", "map a\nset nextmap \"echo " + p + "\"");
           },
           ""},
          {"an exec's name",
           [&](memory_disk& disk) {
             disk.put("SW_rotate.cfg",
                      "map a\nset nextmap \"exec x" + p + "\"");
           },
           ""},
          {"a config's path",
           [&](memory_disk& disk) {
             disk.put("c" + p + ".cfg", "exec SW_rotate.cfg");
           },
           ""},
          {"a config's command",
           [&](memory_disk& disk) {
             disk.put("server.cfg", "exec SW_rotate.cfg\nmap \"a" + p + "\"");
           },
           ""},
          {"a near name of the list",
           [&](memory_disk& disk) {
             disk.put("maplist" + p + ".cfg", disk.at("map_list.cfg").bytes);
             disk.erase("map_list.cfg");
           },
           ""},
          {"a close name, in an archive's entry",
           [&](memory_disk& disk) {
             disk.put("z.pk3", zip_of({{"maps/alpha" + p + ".bsp", "x"}}));
             std::string near = "alpha" + p;
             near[near.find(';')] = 'x';
             disk.put("map_list.cfg", near + " 1\n");
           },
           // Archives match names in any case, and take \ for /.
           "did you mean alpha\\x1B]0;t\\x07\\xFF/x1b?"},
          {"an archive's name",
           [&](memory_disk& disk) {
             disk.put("z" + p + ".pk3", zip_of({{"maps/alpha.bsp", "x"}}));
           },
           ""},
      };
  for (const auto& [what, plant, shows] : rows) {
    memory_disk disk;
    disk.put("map_list.cfg", "alpha 1\n");
    ASSERT_EQ(0, run_generator(disk, no_users, 1)) << what;
    plant(disk);
    run_start start;
    const owner_decision owner = start_run(disk, no_users, &start);
    const check_facts facts =
        check_rotation(disk, no_users, owner, start, {"."}, false, {}, 1);
    const std::string report = unwrapped(render_report(facts));
    EXPECT_NE(std::string::npos, report.find(shows.empty() ? seen : shows))
        << what << "\n"
        << report;
    EXPECT_EQ(report.end(),
              std::find_if(report.begin(), report.end(),
                           [](char c) {
                             const auto byte = static_cast<unsigned char>(c);
                             return (byte < 0x20 && byte != '\n') ||
                                    byte >= 0x7F;
                           }))
        << what << "\n"
        << report;
    // The JSON form parses, and holds the bytes in a form they come back
    // from.
    const std::string data = render_json(facts);
    ASSERT_TRUE(nlohmann::json::accept(data)) << what;
    if (!shows.empty()) continue;
    EXPECT_NE(std::string::npos, nlohmann::json::parse(data).dump().find(
                                     "]0;t\\u0007\\\\xFF\\\\x5Cx1B"))
        << what << "\n"
        << data;
  }
  // Valid UTF-8 stays; an overlong form, a surrogate and a cut sequence
  // don't.
  EXPECT_EQ(
      "\x1B]0;t\x07\\xFF\\x5Cx1B \xC3\xA9 \\xC0\\x80 \\xED\\xA0\\x80 \\xE2",
      data_text(planted + " \xC3\xA9 \xC0\x80 \xED\xA0\x80 \xE2"));
}

}  // namespace
