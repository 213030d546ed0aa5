#include "rotation_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_model.h"
#include "scratch_dir.h"

namespace {

std::string script_for(const std::vector<std::string>& names) {
  std::vector<map_entry> rotation;
  for (const std::string& name : names) rotation.push_back({name, 0});
  std::string script;
  EXPECT_TRUE(write_rotation_script(rotation, [&](std::string_view piece) {
    script += piece;
    return true;
  }));
  return script;
}

std::string load_line(int variable, const std::string& name, int next) {
  return "set SW" + std::to_string(variable) + " \"set g_gametype 5 ; map " +
         name +
         " ; timelimit .1 ; wait ; wait ; set g_gametype 6 ; seta g_warmup 25 "
         "; reset_match ; wait ; wait ; set nextmap vstr SW" +
         std::to_string(next) + "\"\r\n";
}

std::string restart_line(int variable, int next) {
  return "set SW" + std::to_string(variable) +
         " \"seta g_warmup 15 ; map_restart ; set nextmap vstr SW" +
         std::to_string(next) + "\"\r\n";
}

TEST(RotationScript, EmptyRotationIsTheFinalLineAlone) {
  EXPECT_EQ("vstr SW1", script_for({}));
}

TEST(RotationScript, ExactBytesOfShortRotations) {
  EXPECT_EQ(load_line(1, "alpha", 2) + restart_line(2, 1) + "vstr SW1",
            script_for({"alpha"}));
  EXPECT_EQ(alpha_bravo_script, script_for({"alpha", "bravo"}));
}

TEST(RotationScript, OnlyTheLastEntryClosesTheChain) {
  EXPECT_EQ(load_line(1, "alpha", 2) + restart_line(2, 3) +
                load_line(3, "bravo", 4) + restart_line(4, 5) +
                load_line(5, "alpha", 6) + restart_line(6, 1) + "vstr SW1",
            script_for({"alpha", "bravo", "alpha"}));
}

TEST(RotationScript, NumbersGoPastNineWithoutLeadingZeros) {
  const std::string script = script_for({"a", "b", "c", "d", "e", "f"});
  EXPECT_NE(std::string::npos,
            script.find(load_line(9, "e", 10) + restart_line(10, 11)));
  EXPECT_NE(std::string::npos, script.find(restart_line(12, 1) + "vstr SW1"));
}

TEST(RotationScript, LargeScriptGoesOutInPiecesAndStopsAtAFailure) {
  std::vector<map_entry> rotation(20000, map_entry{"some_map_name", 0});
  int pieces = 0;
  std::string script;
  EXPECT_TRUE(write_rotation_script(rotation, [&](std::string_view piece) {
    ++pieces;
    script += piece;
    return true;
  }));
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(40001, std::count(script.begin(), script.end(), '\n') + 1);
  int calls = 0;
  EXPECT_FALSE(write_rotation_script(
      rotation, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(2, calls);
}

TEST(RotationScript, ConsolePlaysEveryEntryOncePerCycleInOrder) {
  const std::vector<std::string> names = {"alpha", "bravo", "alpha", "ALPHA",
                                          "c",     "d",     "e",     "f",
                                          "g",     "h",     "i",     "alpha"};
  // The script's last line plays the first map; each step plays one more.
  const console_run run = play_in_console(
      script_for(names), 4 * static_cast<int>(names.size()) - 1);
  std::vector<std::string> expected;
  for (int cycle = 0; cycle < 2; ++cycle)
    for (const std::string& name : names) {
      expected.push_back("load " + name);
      expected.push_back("restart");
    }
  EXPECT_EQ(expected, run.played);
  EXPECT_TRUE(run.finished);
}

}  // namespace
