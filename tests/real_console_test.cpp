// Runs rotation scripts in a real dedicated server of the console language
// and reads the order of play from what it prints: without game data every
// `map NAME` prints "Can't find map maps/NAME.bsp" and every `map_restart`
// "Server is not running.". MAP_ROTATION_CONSOLE names the server (the test
// is skipped where it names none that runs), MAP_ROTATION_PROGRAM the tool.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "console_model.h"
#include "process.h"
#include "rotation_script.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

const std::string marker = "rotation test reached its end";

/// Starts `command` in `dir`, reading nothing, printing into `dir`/output.
pid_t start(const std::vector<std::string>& command, const fs::path& dir) {
  return start_process(command, dir, dir / "output", dir / "output");
}

/// Waits for `pid` for at most `limit`, then kills it: a console whose input
/// a comment swallowed never reaches its `quit`.
void finish(pid_t pid, milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
}

/// A server folder: a game folder of our own, `rot`, lets the server start
/// without the game's files, given a non-empty default.cfg.
struct console_folder {
  console_folder() {
    fs::create_directory(game());
    write_file(game() / "default.cfg", "// no defaults\n");
  }
  fs::path game() const { return dir / "rot"; }
  scratch_dir dir;
};

/// Starts the server on the script in `folder` followed by a file of `steps`
/// lines "vstr nextmap" (never standard input, which the server reads in
/// 256-byte pieces), the marker and `quit`. No network, and a frame, so a
/// `wait`, of a millisecond.
pid_t start_console(const console_folder& folder, int steps) {
  std::string lines;
  for (int step = 0; step < steps; ++step) lines += "vstr nextmap\n";
  write_file(folder.game() / "steps.cfg",
             lines + "echo " + marker + "\nquit\n");
  std::vector<std::string> command = {env_or_empty("MAP_ROTATION_CONSOLE")};
  const std::string home = folder.dir.path.string();
  const std::string settings[][2] = {
      {"fs_homepath", home}, {"fs_basepath", home}, {"com_basegame", "rot"},
      {"dedicated", "1"},    {"net_enabled", "0"},  {"sv_fps", "1000"}};
  for (const auto& [name, value] : settings)
    command.insert(command.end(), {"+set", name, value});
  command.insert(command.end(),
                 {"+exec", "SW_rotate.cfg", "+exec", "steps.cfg"});
  return start(command, folder.dir.path);
}

/// Generous for a loaded machine: a step takes about 10 ms.
milliseconds time_for(int steps) { return milliseconds(2000 + 100 * steps); }

/// How a load of `name` reads in the server's output: it builds the path
/// maps/NAME.bsp in 64 bytes, so a long name is cut there.
std::string printed_load(const std::string& name) {
  return "load " + ("maps/" + name + ".bsp").substr(0, 63);
}

/// What the server's output says it played, in the model's terms.
console_run played_by(const std::string& output) {
  console_run run;
  run.finished = false;
  const std::string load = "Can't find map ";
  std::size_t pos = 0;
  for (std::size_t end; (end = output.find('\n', pos)) != std::string::npos;
       pos = end + 1) {
    const std::string line = output.substr(pos, end - pos);
    if (line.rfind(load, 0) == 0)
      run.played.push_back("load " + line.substr(load.size()));
    if (line == "Server is not running.") run.played.push_back("restart");
    if (line == marker) run.finished = true;
  }
  return run;
}

/// The model's run, with loads as the server prints them.
console_run modelled(const std::string& script, int steps) {
  console_run run = play_in_console(script, steps);
  for (std::string& event : run.played)
    if (event.rfind("load ", 0) == 0) event = printed_load(event.substr(5));
  return run;
}

/// The names of the script's load lines, in order.
std::vector<std::string> loads_in(const std::string& script) {
  std::vector<std::string> names;
  const std::string head = " ; map ", tail = " ; timelimit";
  for (std::size_t at = 0; (at = script.find(head, at)) != std::string::npos;) {
    at += head.size();
    names.push_back(script.substr(at, script.find(tail, at) - at));
  }
  return names;
}

/// The first `events` of playing `names` round and round as written.
console_run as_written(const std::vector<std::string>& names, int events) {
  console_run run;
  for (int i = 0; i < events; ++i)
    run.played.push_back(i % 2 ? "restart"
                               : printed_load(names[i / 2 % names.size()]));
  return run;
}

bool same_run(const console_run& a, const console_run& b) {
  return a.played == b.played && a.finished == b.finished;
}

void expect_same(const console_run& expected, const console_run& real,
                 const std::string& what) {
  EXPECT_EQ(expected.played, real.played) << what;
  EXPECT_EQ(expected.finished, real.finished) << what;
}

/// A map list of duplicates, ties, priorities beyond 32 bits and negatives,
/// with every kind of name the rotation leaves out; `kept` gets the names
/// that must be played.
std::string generate_map_list(std::uint32_t seed,
                              std::vector<std::string>* kept) {
  std::mt19937 random(seed);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(
        0, from.size() - 1)(random)];
  };
  const std::vector<std::string> names = {
      "alpha",  "ALPHA", "bravo",
      "maps/x", "a/b",   "/i",
      "j/",     "e*/f",  std::string(255, 'w')};
  const std::vector<std::string> priorities = {
      "0", "1", "1", "2", "+2", "3", "99999999999", "4294967297"};
  std::vector<std::string> pairs;
  for (int i = 0; i < 12; ++i) {
    kept->push_back(pick(names));
    pairs.push_back(kept->back() + " " + pick(priorities));
  }
  for (const std::string& left_out :
       {std::string("say\"hi"), std::string("oasis;quit"), std::string("a//b"),
        std::string("c/*d"), std::string(256, 'v')})
    pairs.push_back(left_out + " " + pick(priorities));
  pairs.push_back("negative -1");
  pairs.push_back("far_negative -99999999999");
  std::shuffle(pairs.begin(), pairs.end(), random);
  std::string list;
  for (const std::string& pair : pairs) list += pair + "\r\n";
  return list;
}

class RealConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unset, or CMake's "-NOTFOUND" where there was none to find.
    if (access(env_or_empty("MAP_ROTATION_CONSOLE").c_str(), X_OK) != 0)
      GTEST_SKIP() << "no dedicated server to run the scripts: install "
                      "Debian's ioquake3-server (scripts/test does, as root)";
  }
};

TEST_F(RealConsole, PlaysTheToolsScriptsTwiceRoundInOrder) {
  constexpr int lists = 4;
  console_folder folders[lists];
  std::vector<std::string> kept[lists], script_order[lists];
  pid_t consoles[lists];
  for (int i = 0; i < lists; ++i) {
    write_file(folders[i].game() / "map_list.cfg",
               generate_map_list(static_cast<std::uint32_t>(i), &kept[i]));
    finish(start({env_or_empty("MAP_ROTATION_PROGRAM")}, folders[i].game()),
           milliseconds(10000));
    script_order[i] = loads_in(read_file(folders[i].game() / "SW_rotate.cfg"));
    // The script's last line plays the first map; each step one more.
    consoles[i] = start_console(
        folders[i], 4 * static_cast<int>(script_order[i].size()) - 1);
  }
  for (int i = 0; i < lists; ++i) {
    const int steps = 4 * static_cast<int>(script_order[i].size()) - 1;
    finish(consoles[i], time_for(steps));
    // Every kept map is in the script, and no left-out one.
    std::vector<std::string> in_script = script_order[i];
    std::sort(in_script.begin(), in_script.end());
    std::sort(kept[i].begin(), kept[i].end());
    EXPECT_EQ(kept[i], in_script) << "list " << i;

    const std::string script = read_file(folders[i].game() / "SW_rotate.cfg");
    const console_run real = played_by(read_file(folders[i].dir / "output"));
    const std::string what = "list " + std::to_string(i);
    expect_same(as_written(script_order[i], steps + 1), real, what);
    expect_same(modelled(script, steps), real, what + ", the model");
  }
}

TEST_F(RealConsole, AgreesWithTheModelOnScriptsItCannotRun) {
  // Written straight from these names, past the rotation's rules: a comment
  // to the end of the line, one that swallows all input, a line past the
  // console's limit, and a script too large for its buffer.
  std::vector<std::vector<std::string>> rotations = {
      {"alpha", "a//b", "charlie"},
      {"alpha", "c/*d", "charlie"},
      {"alpha", std::string(900, 'n'), "charlie"}};
  rotations.emplace_back();
  for (int i = 0; i < 700; ++i)
    rotations.back().push_back("map" + std::to_string(i));
  constexpr int steps = 8;
  std::vector<console_folder> folders(rotations.size());
  std::vector<std::string> scripts;
  std::vector<pid_t> consoles;
  for (std::size_t i = 0; i < rotations.size(); ++i) {
    std::vector<map_entry> rotation;
    for (const std::string& name : rotations[i]) rotation.push_back({name, 0});
    std::string script;
    write_rotation_script(rotation, [&](std::string_view piece) {
      script += piece;
      return true;
    });
    scripts.push_back(script);
    write_file(folders[i].game() / "SW_rotate.cfg", script);
    consoles.push_back(start_console(folders[i], steps));
  }
  for (std::size_t i = 0; i < rotations.size(); ++i) {
    finish(consoles[i], time_for(steps));
    const console_run real = played_by(read_file(folders[i].dir / "output"));
    expect_same(modelled(scripts[i], steps), real,
                "rotation " + std::to_string(i));
    EXPECT_FALSE(same_run(as_written(rotations[i], steps + 1), real))
        << "rotation " << i;
  }
}

}  // namespace
