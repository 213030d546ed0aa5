#include "run/rotation_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "support/console_play.h"
#include "support/scratch_dir.h"

namespace {

/// The files the writer makes for `names`, in order; their sizes must be
/// those it gives without writing them.
std::vector<std::string> files_for(const std::vector<std::string>& names) {
  std::vector<map_entry> rotation;
  for (const std::string& name : names) rotation.push_back({name, 0});
  std::vector<std::string> files;
  std::vector<std::size_t> sizes;
  EXPECT_TRUE(write_rotation_script(rotation, [&](std::string_view file) {
    files.emplace_back(file);
    sizes.push_back(file.size());
    return true;
  }));
  std::vector<std::size_t> planned;
  for (const rotation_file& file : rotation_files_of(rotation))
    planned.push_back(file.size);
  EXPECT_EQ(sizes, planned);
  return files;
}

/// The one file the writer makes for `names`.
std::string script_for(const std::vector<std::string>& names) {
  const std::vector<std::string> files = files_for(names);
  EXPECT_EQ(1u, files.size());
  return files.empty() ? "" : files[0];
}

std::string vstr(int variable) { return "vstr SW" + std::to_string(variable); }

TEST(RotationScript, EmptyRotationIsTheFinalLineAlone) {
  EXPECT_EQ("vstr SW1", script_for({}));
}

TEST(RotationScript, ExactBytesOfShortRotations) {
  EXPECT_EQ(load_line(1, "alpha", 2) + restart_line(2, "vstr SW1") + "vstr SW1",
            script_for({"alpha"}));
  EXPECT_EQ(alpha_bravo_script, script_for({"alpha", "bravo"}));
}

TEST(RotationScript, OnlyTheLastEntryClosesTheChain) {
  EXPECT_EQ(load_line(1, "alpha", 2) + restart_line(2, vstr(3)) +
                load_line(3, "bravo", 4) + restart_line(4, vstr(5)) +
                load_line(5, "alpha", 6) + restart_line(6, vstr(1)) +
                "vstr SW1",
            script_for({"alpha", "bravo", "alpha"}));
}

TEST(RotationScript, NumbersGoPastNineWithoutLeadingZeros) {
  const std::string script = script_for({"a", "b", "c", "d", "e", "f"});
  EXPECT_NE(std::string::npos,
            script.find(load_line(9, "e", 10) + restart_line(10, vstr(11))));
  EXPECT_NE(std::string::npos,
            script.find(restart_line(12, vstr(1)) + "vstr SW1"));
}

TEST(RotationScript, OneFileUpTo8192BytesThenParts) {
  std::vector<std::string> names = names_filling(8192, "vstr SW1");
  EXPECT_EQ(std::vector<std::string>({script_file_of(names, "vstr SW1")}),
            files_for(names));
  names.back() += "x";
  const std::vector<std::string> files = files_for(names);
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ(script_file_of({names.back()}, "exec SW_rotate.cfg"), files[1]);
}

TEST(RotationScript, AnEntryJoinsAPartWhileThePartFits) {
  const std::vector<std::string> tail = {"x", "y"};
  std::vector<std::string> first = names_filling(8192, "exec SW_rotate2.cfg");
  std::vector<std::string> names = first;
  names.insert(names.end(), tail.begin(), tail.end());
  EXPECT_EQ(
      std::vector<std::string>({script_file_of(first, "exec SW_rotate2.cfg"),
                                script_file_of(tail, "exec SW_rotate.cfg")}),
      files_for(names));
  // One byte more, and the entry begins the next part.
  names[first.size() - 1] += "x";
  const std::string moved = names[first.size() - 1];
  first.pop_back();
  EXPECT_EQ(std::vector<std::string>(
                {script_file_of(first, "exec SW_rotate2.cfg"),
                 script_file_of({moved, "x", "y"}, "exec SW_rotate.cfg")}),
            files_for(names));
}

TEST(RotationScript, StopsAtTheFirstFileThatCanNotBeStored) {
  std::vector<map_entry> rotation(1000, map_entry{"some_map_name", 0});
  int calls = 0;
  EXPECT_FALSE(write_rotation_script(
      rotation, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(2, calls);
}

/// What playing `names` round and round for two cycles looks like.
std::vector<std::string> two_cycles(const std::vector<std::string>& names) {
  std::vector<std::string> expected;
  for (int cycle = 0; cycle < 2; ++cycle)
    for (const std::string& name : names) {
      expected.push_back("load " + name);
      expected.push_back("restart");
    }
  return expected;
}

/// The writer's files under their names.
script_files named(const std::vector<std::string>& files) {
  script_files by_name;
  for (std::size_t i = 0; i < files.size(); ++i)
    by_name[rotation_script_file(i + 1)] = files[i];
  return by_name;
}

TEST(RotationScript, OriginalConsolePlaysEveryEntryOncePerCycleInOrder) {
  std::vector<std::vector<std::string>> rotations = {
      {"alpha", "bravo", "alpha", "ALPHA", "c", "d", "e", "f", "g", "h", "i",
       "alpha"},
      names_filling(8192, "exec SW_rotate2.cfg")};
  rotations.back().insert(rotations.back().end(), {"x", "y"});
  for (const int maps : {36, 100, 250}) {
    rotations.emplace_back();
    for (int i = 0; i < maps; ++i)
      rotations.back().push_back(
          std::string(99 - i % 90, static_cast<char>('a' + i % 26)) +
          std::to_string(i % 7));
  }
  for (const std::vector<std::string>& names : rotations) {
    // The script's last line plays the first map; each step plays one more.
    // Every file must fit beside 8,190 bytes of the server's config.
    const console_run run = play_in_console(
        named(files_for(names)), 4 * static_cast<int>(names.size()) - 1,
        original_rules, 8190);
    EXPECT_EQ(two_cycles(names), run.played) << names.size() << " maps";
    EXPECT_FALSE(run.overflowed);
    EXPECT_TRUE(run.finished);
  }
}

}  // namespace
