#include "check/engine_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "check/archive_names.h"
#include "check/server_config.h"
#include "support/memory_disk.h"
#include "support/zip_maker.h"

namespace {

/// The names each engine's reader reads from `bytes`, joined by " ", or
/// "refused"; and in `*read`, the bytes both asked for in all.
std::string names_read(const std::string& bytes, zip_reader reader,
                       std::size_t* read = nullptr) {
  std::size_t asked = 0;
  const archive_reader from = [&](std::uint64_t offset, std::size_t count) {
    const std::string part =
        offset < bytes.size() ? bytes.substr(offset, count) : "";
    asked += part.size();
    return part;
  };
  archive_directory found;
  if (!find_archive_directory(bytes.size(), from, reader, &found))
    return "refused";
  std::string names;
  read_archive_directory(from, found, [&](const archive_entry& entry) {
    names += (names.empty() ? "" : " ") + std::string(entry.name);
  });
  if (read) *read = asked;
  return found.cut ? names + " (cut " + std::to_string(found.cut) + ")" : names;
}

/// `bytes` without its last `cut` bytes.
std::string cut_short(const std::string& bytes, std::size_t cut) {
  return bytes.substr(0, bytes.size() - cut);
}

TEST(ArchiveNames, ReadsTheDirectoryAsEachEnginesUnzipDoes) {
  const std::vector<zipped> two = {{"maps/a.bsp", "a"}, {"maps/b.bsp", "b"}};
  // The archive, and what the original and the maintained reader read.
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {zip_of(two), "maps/a.bsp maps/b.bsp", "maps/a.bsp maps/b.bsp"},
      {zip_of(two, std::string(100, 'S')), "maps/a.bsp maps/b.bsp",
       "maps/a.bsp maps/b.bsp"},
      // An empty archive: its end record at byte 0 counts as none.
      {zip_of({}), "refused", "refused"},
      // zip64: the original reads its directory 76 bytes out of place.
      {zip_of(two, "", true), "", "maps/a.bsp maps/b.bsp"},
      // A broken entry ends the directory; those before it are kept.
      {zip_of(two, "", false, "", 1), "maps/a.bsp", "maps/a.bsp"},
      // The signature nearest the end is taken, even in a comment.
      {zip_of(two, "", false, "PK\x05\x06 and more"), "refused", "refused"},
      {zip_of(two, "", false, std::string(65000, 'c')), "maps/a.bsp maps/b.bsp",
       "maps/a.bsp maps/b.bsp"},
      {zip_of(two, "", false, std::string(65535, 'c')), "refused", "refused"},
      // An end record cut short. The original reader takes up to 4 bytes
      // from what lies past it (undefined, here zeros); the maintained one
      // reads a missing byte as the one before it in its number, 0 for a
      // number's first, as the maintained server does with these archives.
      {cut_short(zip_of(two), 2), "maps/a.bsp maps/b.bsp (cut 2)",
       "maps/a.bsp maps/b.bsp (cut 2)"},
      {cut_short(zip_of(two), 4), "maps/a.bsp maps/b.bsp (cut 4)",
       "maps/a.bsp maps/b.bsp (cut 4)"},
      // The directory's offset, 0x12C, read as 0x0101012C.
      {cut_short(zip_of({{"maps/a.bsp", std::string(260, 'a')}}), 4),
       "maps/a.bsp (cut 4)", "refused"},
      // The offset read as 0x52525252, past the end record; the original,
      // seen in its own server, lists an archive cut by 6.
      {cut_short(zip_of(two), 5), "maps/a.bsp maps/b.bsp (cut 5)", "refused"},
      {cut_short(zip_of(two), 6), "maps/a.bsp maps/b.bsp (cut 6)",
       "maps/a.bsp maps/b.bsp (cut 6)"},
      // The offset read as 0: the directory is found, from where it lies.
      {cut_short(zip_of(two), 7), "refused", "maps/a.bsp maps/b.bsp (cut 7)"},
      // The directory's size read as 0 too: no entry where it is looked for.
      {cut_short(zip_of(two), 10), "refused", " (cut 10)"},
      // The two entry counts read as 2 and 0.
      {cut_short(zip_of(two), 12), "refused", "refused"},
      {cut_short(zip_of(two), 18), "refused", " (cut 18)"},
  };
  for (const auto& [bytes, original, maintained] : rows) {
    EXPECT_EQ(original, names_read(bytes, zip_reader::original))
        << bytes.size();
    EXPECT_EQ(maintained, names_read(bytes, zip_reader::maintained))
        << bytes.size();
  }
  // A directory of several pieces is read whole, and little else.
  std::vector<zipped> many;
  for (int i = 0; i < 30000; ++i)
    many.push_back(
        {"maps/" + std::string(30, 'm') + std::to_string(i) + ".bsp", ""});
  const std::string big = zip_of(many, std::string(1 << 20, 'D'));
  std::size_t read = 0;
  const std::string names = names_read(big, zip_reader::original, &read);
  EXPECT_EQ(30000, std::count(names.begin(), names.end(), ' ') + 1);
  EXPECT_NE(std::string::npos, names.find("m29999.bsp"));
  const std::size_t directory = 30000 * (46 + 45);
  EXPECT_LT(read, 2 * directory + 3 * 65557);
}

TEST(EngineSearch, LooksWhereEachEngineLooks) {
  memory_disk disk;
  disk.make_folder("mod");
  disk.put("base/pak0.pk3", zip_of({{"maps/held.bsp", "x"},
                                    {"MAPS\\Cased.BSP", "x"},
                                    {"maps/first.bsp", "x"},
                                    {"maps/under.bsp", "x"}}));
  disk.put("base/maps.pk3", zip_of({{"maps/held.bsp", "x"},
                                    {"maps/empty.bsp", ""},
                                    {"maps:sealed.bsp", "x", true}}));
  disk.put("base/mp_first.pk3",
           zip_of({{"maps/empty.bsp", "x"}, {"maps/first.bsp", "x"}}));
  disk.put("base/sp_never.pk3", zip_of({{"maps/never.bsp", "x"}}));
  disk.put("base/wide.pk3", zip_of({{"maps/wide.bsp", "x"}}, "", true));
  disk.put("base/maps/loose.bsp", "x");
  disk.put("base/maps/zero.bsp", "");
  disk.put("mod/over.pk3", zip_of({{"maps/loose.bsp", "x", true}}));
  // Sorted in upper case: _ after every letter, mp_ as zz_.
  disk.put("base/z_1.pk3", zip_of({{"maps/order.bsp", "x"}}));
  disk.put("base/zb.pk3", zip_of({{"maps/order.bsp", "x"}}));
  disk.put("base/_x.pk3", zip_of({{"maps/under.bsp", "x"}}));
  // Opened as mp_maps.pk3, which isn't there.
  disk.put("base/zz_maps.pk3", zip_of({{"maps/zed.bsp", "x"}}));
  disk.put("base/local64.pk3",
           zip_of({{"maps/local64.bsp", "x", false, true}}));
  disk.put("base/cut.pk3", cut_short(zip_of({{"maps/cut.bsp", "x"}}), 2));
  // Its directory's offset read as 0: the maintained engine lists the map
  // but looks for its local header at the directory, and fails.
  disk.put("base/cut7.pk3", cut_short(zip_of({{"maps/cut7.bsp", "x"}}), 7));
  // Cut by 6, searched before another that holds its map: both engines
  // find the map there, not in the next.
  disk.put("base/cut6.pk3", cut_short(zip_of({{"maps/cut6.bsp", "x"}}), 6));
  disk.put("base/cut0.pk3", zip_of({{"maps/cut6.bsp", "x"}}));
  disk.put("base/both.pk3", zip_of({{"maps/both.bsp", "x"}}));
  disk.put("base/maps/both.bsp", "x");
  disk.make_folder("mod/maps/folded.bsp");
  disk.put("base/maps/folded.bsp", "x");
  // Bytes from 0x80 up sort first, as the engines' signed chars: a.pk3
  // sorts last, so it is searched first.
  disk.put("base/\xE9t\xE9.pk3", zip_of({{"maps/accent.bsp", "x"}}));
  disk.put("base/a.pk3", zip_of({{"maps/accent.bsp", "x"}}));
  // Only the first 1,024 archives a folder lists are read.
  for (int i = 0; i <= 1024; ++i) {
    const std::string number = std::to_string(10000 + i).substr(1);
    disk.put("crowd/a" + number + ".pk3",
             zip_of({{i == 1024 ? "maps/past.bsp" : "maps/crowd.bsp", "x"}}));
  }
  std::vector<zipped> many(1100, {"filler", ""});
  many.push_back({"maps:colon.bsp", "x"});
  disk.put("base/colon.pk3", zip_of(many));
  folder_trail here;
  ASSERT_TRUE(working_trail(disk, &here).ok());
  const game_search found =
      search_game(disk, here, {"mod", "base", "gone", "crowd"},
                  {"held",   "cased",   "first", "empty",   "sealed", "never",
                   "wide",   "loose",   "zero",  "loosely", "order",  "under",
                   "zed",    "local64", "cut",   "both",    "folded", "colon",
                   "accent", "past",    "cut7",  "cut6"});
  // What each engine does with each map: "file" where it loads it, "file!"
  // where found there but it won't load ("file?" where it may), "-" where
  // not found; and a note of where else it lies.
  const auto says = [&](const map_source& source) {
    return source.where == map_source::kind::none
               ? std::string("-")
               : source.file + (source.unsure    ? "?"
                                : source.loads() ? ""
                                                 : "!");
  };
  const std::tuple<const char*, const char*, const char*, const char*> rows[] =
      {
          {"held", "base/pak0.pk3!", "base/maps.pk3", ""},
          {"cased", "base/pak0.pk3!", "-", ""},
          // mp_ sorts as zz: after pak0, so it is searched before it.
          {"first", "base/mp_first.pk3", "base/mp_first.pk3", ""},
          {"empty", "base/mp_first.pk3", "base/mp_first.pk3", ""},
          {"sealed", "base/maps.pk3!", "base/maps.pk3!", ""},
          {"never", "-", "-", "sp_never.pk3 holds it, but its name begins sp_"},
          {"wide", "-", "base/wide.pk3", ""},
          {"loose", "mod/over.pk3!", "mod/over.pk3!", ""},
          {"zero", "base/maps/zero.bsp!", "base/maps/zero.bsp!", ""},
          {"loosely", "-", "-", ""},
          {"order", "base/z_1.pk3", "base/z_1.pk3", ""},
          {"under", "base/_x.pk3", "base/_x.pk3", ""},
          {"zed", "-", "-", "opens base/mp_maps.pk3 in its place"},
          {"local64", "base/local64.pk3!", "base/local64.pk3", ""},
          {"cut", "base/cut.pk3?", "base/cut.pk3", ""},
          {"cut7", "-", "base/cut7.pk3!", ""},
          {"cut6", "base/cut6.pk3?", "base/cut6.pk3!", ""},
          // The maintained engine: a folder's loose files first, and a
          // folder in a map's name is no map.
          {"both", "base/both.pk3", "base/maps/both.bsp", ""},
          {"folded", "mod/maps/folded.bsp!", "base/maps/folded.bsp", ""},
          {"colon", "-", "-", "as maps:colon.bsp, a name the engines'"},
          {"accent", "base/a.pk3", "base/a.pk3", ""},
          {"past", "-", "-", "past the first 1,024 archives"},
      };
  for (const auto& [map, original, maintained, note] : rows) {
    const map_sources& sources = found.at(map);
    EXPECT_EQ(original, says(sources.original)) << map;
    EXPECT_EQ(maintained, says(sources.maintained)) << map;
    std::string notes;
    for (const std::string& line : sources.notes) notes += line + "\n";
    EXPECT_TRUE(*note ? notes.find(note) != std::string::npos : notes.empty())
        << map << ": " << notes;
  }
  // Where servers run, a folder taken for the map stops the server.
  EXPECT_NE(std::string::npos,
            std::string(found.at("folded").original.wont_load)
                .find("the 32-bit server exits at once"));
  const auto problems_with = [&](const std::string& start) {
    return std::count_if(
        found.problems.begin(), found.problems.end(),
        [&](const std::string& line) { return line.rfind(start, 0) == 0; });
  };
  EXPECT_EQ(1, problems_with("gone: can't be listed"));
  EXPECT_EQ(1, problems_with("base/cut.pk3: damaged: its end record is cut"));
  EXPECT_EQ(1, problems_with("base/cut7.pk3: damaged: its end record is cut "
                             "short by 7 bytes, which only the maintained"));
  // Close names only from where a map would load first.
  for (const char* name : {"empty", "held", "wide", "loose", "zero", "colon"})
    EXPECT_EQ(
        std::string(name) == "empty",
        std::count(found.loadable.begin(), found.loadable.end(), name) > 0)
        << name;
  // A disk's error is told with its reason, whichever read it meets.
  for (const int fails : {1, 3}) {
    memory_disk failing;
    failing.put("base/x.pk3", zip_of({{"maps/x.bsp", "x"}}));
    folder_trail there;
    ASSERT_TRUE(working_trail(failing, &there).ok());
    failing.break_calls("read", fails, 1);
    const game_search read = search_game(failing, there, {"base"}, {"x"});
    ASSERT_EQ(1u, read.problems.size()) << fails;
    EXPECT_NE(std::string::npos,
              read.problems[0].find("base/x.pk3: can't be read"))
        << fails;
    EXPECT_NE(std::string::npos, read.problems[0].find("Input/output error"))
        << fails;
  }
}

}  // namespace

TEST(EngineSearch, AsRootReadsNothingAnotherUserMayChange) {
  // The server user's game folder, with an archive linked to one only root
  // may read, and a config beside it.
  memory_disk disk;
  disk.uid = disk.gid = 0;
  disk.make_folder("/srv", 0, 0);
  disk.make_folder("/srv/base", 1000, 1000);
  disk.make_folder("/rootonly", 0, 0, 0700);
  disk.put("/rootonly/secret.pk3", zip_of({{"maps/secret.bsp", "x"}})).mode =
      0600;
  disk.make_link("/srv/base/maps.pk3", "/rootonly/secret.pk3", 1000);
  disk.put("/srv/base/server.cfg", "exec SW_rotate.cfg\n");
  folder_trail here;
  ASSERT_TRUE(working_trail(disk, &here).ok());
  // As root: not a name of it is read, and the folder isn't even opened.
  int folders_opened = 0;
  for (int n = 1; n <= 4; ++n)
    disk.at_call("open_folder", n, [&, n] { folders_opened = n; });
  game_search as_root = search_game(disk, here, {"/srv/base"}, {"secret"});
  EXPECT_EQ(1, folders_opened) << "/srv alone";
  disk.heal();
  ASSERT_EQ(1u, as_root.problems.size());
  EXPECT_NE(std::string::npos, as_root.problems[0].find("run it as the user"))
      << as_root.problems[0];
  config_request named;
  named.named = {"/srv/base/server.cfg"};
  const config_facts configs = analyse_configs(disk, here, named);
  EXPECT_FALSE(configs.all_well());
  ASSERT_EQ(1u, configs.unreadable.size());
  EXPECT_NE(std::string::npos,
            configs.unreadable[0].second.find("belongs to another user"))
      << configs.unreadable[0].second;
  // As that user: the link leads where they may not read.
  ASSERT_TRUE(disk.give_up_root(1000, 1000).ok());
  const game_search as_user =
      search_game(disk, here, {"/srv/base"}, {"secret"});
  EXPECT_EQ(map_source::kind::none, as_user.at("secret").original.where);
  ASSERT_EQ(1u, as_user.problems.size());
  EXPECT_NE(std::string::npos, as_user.problems[0].find("Permission denied"))
      << as_user.problems[0];
}

TEST(ServerConfig, ReadsAtMost32MiBAnd10000ConfigsInAll) {
  // Five configs of 16 MiB beside the list, as sparse files cost nothing:
  // four are read, the fifth is said to be unread, and nothing is cut.
  memory_disk disk;
  for (const char* name : {"a.cfg", "b.cfg", "c.cfg", "d.cfg", "e.cfg"})
    disk.put(name, "exec SW_rotate.cfg\n" + std::string((16 << 20) - 20, '\0'));
  folder_trail here;
  ASSERT_TRUE(working_trail(disk, &here).ok());
  const config_facts configs = analyse_configs(disk, here, {});
  ASSERT_EQ(3u, configs.unreadable.size());
  EXPECT_EQ("c.cfg", configs.unreadable[0].first.substr(
                         configs.unreadable[0].first.size() - 5));
  EXPECT_NE(std::string::npos, configs.unreadable[0].second.find("32 MiB"));
  EXPECT_EQ(2u, configs.readings.size());
  EXPECT_TRUE(configs.runs);
  // A larger config counts only what is read of it, 16 MiB.
  memory_disk large;
  large.put("big.cfg", "exec SW_rotate.cfg\n" + std::string(70 << 20, '\0'));
  ASSERT_TRUE(working_trail(large, &here).ok());
  const config_facts big = analyse_configs(large, here, {});
  EXPECT_TRUE(big.unreadable.empty());
  EXPECT_TRUE(big.runs);
  // A chain of more configs than the check reads, the last running the
  // rotation: read as far as the check reads, and said so.
  memory_disk chained;
  for (int i = 1; i <= 101; ++i)
    chained.put("c" + std::to_string(i) + ".cfg",
                "exec c" + std::to_string(i + 1));
  chained.put("c102.cfg", "exec SW_rotate.cfg");
  ASSERT_TRUE(working_trail(chained, &here).ok());
  config_request few;
  few.most_configs = 100;
  const config_facts many = analyse_configs(chained, here, few);
  EXPECT_TRUE(many.capped);
  few.most_configs = 110;
  EXPECT_FALSE(analyse_configs(chained, here, few).capped);
}
