// Runs rotation scripts in a real dedicated server of the console language
// and reads the order of play from what it prints: without game data every
// `map NAME` prints "Can't find map maps/NAME.bsp" and every `map_restart`
// "Server is not running.". MAP_ROTATION_CONSOLE names the server, if not
// Debian's (the test
// is skipped where it names none that runs), MAP_ROTATION_PROGRAM the tool.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "check/engine_search.h"
#include "run/rotation_script.h"
#include "support/console_play.h"
#include "support/process.h"
#include "support/report_lines.h"
#include "support/scratch_dir.h"
#include "support/zip_maker.h"

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

const std::string marker = "rotation test reached its end";

/// The dedicated server: MAP_ROTATION_CONSOLE, else where Debian's
/// ioquake3-server installs it.
std::string console_path() {
  const std::string named = env_or_empty("MAP_ROTATION_CONSOLE");
  return named.empty() ? "/usr/lib/ioquake3/ioq3ded" : named;
}

/// Starts `command` in `dir`, reading from descriptor `input` (nothing where
/// it is -1), printing into `dir`/output.
pid_t start(const std::vector<std::string>& command, const fs::path& dir,
            int input = -1) {
  return start_process(command, dir, dir / "output", dir / "output", 0, input);
}

/// How long a process's output may stand still before it is taken to hang.
/// Every process here ends by itself; a slow machine only makes it slower.
constexpr auto hang_guard = std::chrono::minutes(1);

/// Waits until `done()`, as long as `output` keeps growing; false once it
/// has stood still for hang_guard.
bool wait_while_progressing(const fs::path& output,
                            const std::function<bool()>& done) {
  std::uintmax_t size = 0;
  auto changed = std::chrono::steady_clock::now();
  while (!done()) {
    std::error_code missing;
    const std::uintmax_t now = fs::file_size(output, missing);
    if (!missing && now != size) {
      size = now;
      changed = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - changed > hang_guard) {
      return false;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

/// Waits for `pid` to end by itself, writing into `output`; kills it where
/// its output stood still for hang_guard, and then fails first, with the
/// last lines it printed.
bool finish(pid_t pid, const fs::path& output, const std::string& what) {
  int status = 0;
  if (wait_while_progressing(output,
                             [&] { return waitpid(pid, &status, WNOHANG); }))
    return true;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  const std::string printed = read_file(output);
  ADD_FAILURE() << what << ": killed, as it printed nothing for a minute. "
                << "Its last lines:\n"
                << printed.substr(std::max<std::size_t>(printed.size(), 800) -
                                  800);
  return false;
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

/// Where the server runs a rotation: the open server as it is, or with as
/// little room in its command buffer as the original engine has.
enum class room { open, original };

/// The server's config that may follow `exec SW_rotate.cfg` in the original
/// engine: a file of F bytes with R bytes behind its `exec` line runs there
/// when F + R <= 16,382, so parts of 8,192 bytes leave 8,190.
constexpr std::size_t original_config = 8190;
/// What waits behind every `exec` of a rotation file in the original room:
/// the open server runs a file when F + R <= 131,070, so this leaves a file
/// the room it has in the original engine beside `original_config`.
constexpr std::size_t original_pending = 131070 - 16382 + original_config;
/// The last line of the calling files, with no line end: the console adds
/// one to every text it inserts, and a line end of the file's own would stay
/// behind in the buffer, one more for every step.
const std::string next_step = "exec step.cfg";

/// A comment line that, with `next_step`, makes `original_pending` bytes,
/// less `behind`: what already waits after it.
std::string padding(std::size_t behind) {
  return "//" +
         std::string(original_pending - next_step.size() - behind - 3, 'p') +
         "\n";
}

/// Starts the server on the script in `folder`, then `steps` times "vstr
/// nextmap", the marker and `quit`, each from a file (never standard input,
/// which the server reads in 256-byte pieces). In the original room the
/// script and each step are run from a file that pads the buffer behind
/// them, the steps counted by a chain of variables. No network, and a
/// frame, so a `wait`, of a millisecond.
/// `input` is the server's standard input, which it reads as commands
/// (nothing where it is -1); `end` replaces the marker and `quit`; `first`,
/// the config run first, replaces SW_rotate.cfg.
pid_t start_console(const console_folder& folder, int steps,
                    room where = room::open, int input = -1,
                    const std::string& end = "echo " + marker + " ; quit",
                    const std::string& first = "SW_rotate.cfg") {
  std::vector<std::string> command = {console_path()};
  const std::string home = folder.dir.path.string();
  const std::string settings[][2] = {
      {"fs_homepath", home}, {"fs_basepath", home}, {"com_basegame", "rot"},
      {"dedicated", "1"},    {"net_enabled", "0"},  {"sv_fps", "1000"}};
  for (const auto& [name, value] : settings)
    command.insert(command.end(), {"+set", name, value});
  if (where == room::open) {
    std::string lines;
    for (int step = 0; step < steps; ++step) lines += "vstr nextmap\n";
    write_file(folder.game() / "steps.cfg", lines + end + "\n");
    command.insert(command.end(), {"+exec", first, "+exec", "steps.cfg"});
  } else {
    // Each step first moves a counter on, through variables whose spare
    // line ends go before the step's own lines and so are used up.
    std::string chain = "set advance vstr n1\n";
    for (int step = 1; step <= steps; ++step)
      chain += "set n" + std::to_string(step) + " \"set advance vstr n" +
               std::to_string(step + 1) + "\"\n";
    chain += "set n" + std::to_string(steps + 1) + " \"" + end + "\"\n";
    write_file(folder.game() / "chain.cfg", chain);
    write_file(folder.game() / "start.cfg",
               "exec " + first + "\n" + padding(0) + next_step);
    // `vstr nextmap` leaves a line end of its own behind the `exec` it runs.
    write_file(folder.game() / "step.cfg",
               "vstr advance\nvstr nextmap\n" + padding(1) + next_step);
    command.insert(command.end(), {"+exec", "chain.cfg", "+exec", "start.cfg"});
  }
  return start(command, folder.dir.path, input);
}

/// The console that plays like the server in `where`: the open engine
/// itself, or with the original's buffer where `original_config` bytes wait
/// behind each exec; and those bytes.
std::pair<console_rules, std::size_t> console_of(room where) {
  if (where == room::open) return {maintained_rules, 0};
  return {{engine::maintained, original_rules.buffer, SIZE_MAX},
          original_config};
}

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
    if (line.find("overflowed") != std::string::npos) run.overflowed = true;
  }
  return run;
}

/// The model's run, from `first`, with loads as the server prints them.
console_run modelled(const script_files& files, int steps, room where,
                     const std::string& first = "SW_rotate.cfg") {
  const auto [rules, behind] = console_of(where);
  console_run run = play_in_console(files, steps, rules, behind, true, first);
  for (std::string& event : run.played)
    if (event.rfind("load ", 0) == 0) event = printed_load(event.substr(5));
  return run;
}

/// The first `events` of playing `names` round and round as written, from
/// the one at `from`.
console_run as_written(const std::vector<std::string>& names, int events,
                       std::size_t from = 0) {
  console_run run;
  for (int i = 0; i < events && !names.empty(); ++i)
    run.played.push_back(
        i % 2 ? "restart"
              : printed_load(names[(from + static_cast<std::size_t>(i) / 2) %
                                   names.size()]));
  return run;
}

bool same_run(const console_run& a, const console_run& b) {
  return a.played == b.played && a.finished == b.finished &&
         a.overflowed == b.overflowed;
}

void expect_same(const console_run& expected, const console_run& real,
                 const std::string& what) {
  EXPECT_EQ(expected.played, real.played) << what;
  EXPECT_EQ(expected.finished, real.finished) << what;
  EXPECT_EQ(expected.overflowed, real.overflowed) << what;
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
      "j/",     "e*/f",  std::string(100, 'w')};
  const std::vector<std::string> priorities = {
      "0", "1", "1", "2", "+2", "3", "99999999999", "4294967297"};
  std::vector<std::string> pairs;
  for (int i = 0; i < 12; ++i) {
    kept->push_back(pick(names));
    pairs.push_back(kept->back() + " " + pick(priorities));
  }
  for (const std::string& left_out :
       {std::string("say\"hi"), std::string("oasis;quit"), std::string("a//b"),
        std::string("c/*d"), std::string(101, 'v')})
    pairs.push_back(left_out + " " + pick(priorities));
  pairs.push_back("negative -1");
  pairs.push_back("far_negative -99999999999");
  std::shuffle(pairs.begin(), pairs.end(), random);
  std::string list;
  for (const std::string& pair : pairs) list += pair + "\r\n";
  return list;
}

/// Runs the built program in `folder` on the map list `list`.
void run_tool(const fs::path& folder, const std::string& list) {
  write_file(folder / "map_list.cfg", list);
  finish(start({env_or_empty("MAP_ROTATION_PROGRAM")}, folder),
         folder / "output", "the tool");
}

class RealConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(console_path().c_str(), X_OK) != 0)
      GTEST_SKIP() << "no dedicated server to run the scripts: install "
                      "Debian's ioquake3-server (scripts/test does, as root)";
  }
};

/// A map list of `maps` distinct names of 3 to 54 bytes, all kept.
std::string long_map_list(int maps, std::vector<std::string>* kept,
                          const std::string& prefix = "m") {
  std::string list;
  for (int i = 0; i < maps; ++i) {
    kept->push_back(prefix + std::to_string(i) + "_" +
                    std::string(static_cast<std::size_t>(i * 7 % 48), 'x'));
    list += kept->back() + " " + std::to_string(i % 3) + "\r\n";
  }
  return list;
}

/// The tool's scripts played: 0 for generated lists in both rooms, else a
/// long list of that many maps in the original room, and -1 for one whose
/// first part is exactly 8,192 bytes; where `second_half`, from the part
/// that starts the second half of its parts. Each is a test of its own, so
/// that each ends well within its time on a busy machine.
struct played_from {
  int maps;
  bool second_half;
};
class ToolsScripts : public RealConsole,
                     public ::testing::WithParamInterface<played_from> {};

INSTANTIATE_TEST_SUITE_P(
    RealConsole, ToolsScripts,
    ::testing::Values(played_from{0, false}, played_from{36, false},
                      played_from{100, false}, played_from{100, true},
                      played_from{250, false}, played_from{250, true},
                      played_from{-1, false}),
    [](const ::testing::TestParamInfo<played_from>& info) {
      const int maps = info.param.maps;
      return (maps < 0    ? std::string("first_part_full")
              : maps == 0 ? std::string("generated")
                          : std::to_string(maps) + "_maps") +
             (info.param.second_half ? "_second_half" : "");
    });

/// Where a long rotation is played from, and how far: every map twice
/// round, each map's load and its restart; past 60 maps (the server idles
/// 10 ms at each frame without a map to run) once round in two halves,
/// each its own test: from SW_rotate.cfg into the first map of
/// the second half's first part, and from that part on, back into the
/// first part's third map. Together they take the chain through every part
/// and back.
struct play_span {
  std::string first = "SW_rotate.cfg";
  std::size_t from = 0;
  int steps = 0;
};

play_span span_of(const script_files& files, std::size_t maps,
                  bool second_half) {
  play_span span;
  if (maps <= 60) {
    span.steps = 4 * static_cast<int>(maps) - 1;
    return span;
  }
  // The maps before the part that starts the second half.
  const std::size_t half = files.size() / 2 + 1;
  for (std::size_t part = 1; part < half; ++part) {
    const std::string& text = files.at(rotation_script_file(part));
    for (std::size_t at = 0; (at = text.find(" ; map ", at)) != text.npos; ++at)
      ++span.from;
  }
  if (!second_half) {
    span.steps = 2 * static_cast<int>(span.from);
    span.from = 0;
    return span;
  }
  span.first = rotation_script_file(half);
  span.steps = 2 * static_cast<int>(maps - span.from) + 5;
  return span;
}

TEST_P(ToolsScripts, PlaysTheToolsScriptsTwiceRoundInOrder) {
  struct trial {
    std::string list;
    std::vector<std::string> kept;
    room where;
  };
  std::vector<trial> trials;
  const auto [listed, second_half] = GetParam();
  for (std::uint32_t seed = 0; listed == 0 && seed < 4; ++seed)
    for (const room where : {room::open, room::original}) {
      trials.push_back({"", {}, where});
      trials.back().list = generate_map_list(seed, &trials.back().kept);
    }
  if (listed > 0) {
    trials.push_back({"", {}, room::original});
    trials.back().list = long_map_list(listed, &trials.back().kept);
  }
  // A first part of exactly 8,192 bytes; distinct priorities fix the order.
  if (listed < 0) {
    trials.push_back(
        {"", names_filling(8192, "exec SW_rotate2.cfg"), room::original});
    trials.back().kept.insert(trials.back().kept.end(), {"x", "y"});
    for (std::size_t k = 0; k < trials.back().kept.size(); ++k)
      trials.back().list +=
          trials.back().kept[k] + " " + std::to_string(1000 - k) + "\r\n";
  }
  std::vector<console_folder> folders(trials.size());
  std::vector<pid_t> consoles;
  std::vector<script_files> files;
  std::vector<play_span> spans;
  for (std::size_t i = 0; i < trials.size(); ++i) {
    run_tool(folders[i].game(), trials[i].list);
    files.push_back(read_rotation(folders[i].game().string()));
    spans.push_back(span_of(files[i], trials[i].kept.size(), second_half));
    // The first file's last line plays its first map; each step one more.
    consoles.push_back(
        start_console(folders[i], spans[i].steps, trials[i].where, -1,
                      "echo " + marker + " ; quit", spans[i].first));
  }
  for (std::size_t i = 0; i < trials.size(); ++i) {
    const int steps = spans[i].steps;
    const std::string what =
        "list " + std::to_string(i) + ", " +
        std::to_string(trials[i].kept.size()) + " maps in " +
        std::to_string(files[i].size()) + " files from " + spans[i].first +
        ", " + (trials[i].where == room::open ? "open" : "original") + " room";
    if (!finish(consoles[i], folders[i].dir / "output", what)) continue;
    // Every kept map is in the script, and no left-out one.
    const std::vector<std::string> order = maps_in_order(files[i]);
    std::vector<std::string> in_script = order, kept = trials[i].kept;
    std::sort(in_script.begin(), in_script.end());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, in_script) << what;
    if (trials[i].kept.size() >= 100) {
      EXPECT_GT(files[i].size(), 1u) << what;
    }

    const console_run real = played_by(read_file(folders[i].dir / "output"));
    expect_same(as_written(order, steps + 1, spans[i].from), real, what);
    expect_same(modelled(files[i], steps, trials[i].where, spans[i].first),
                real, what + ", the model");
  }
  if (listed < 0) {
    EXPECT_EQ(8192u, files.back()["SW_rotate.cfg"].size());
  }
}

TEST_F(RealConsole, AgreesWithTheModelOnScriptsItCannotRun) {
  // One file, as the tool wrote before long rotations came in parts, and
  // past the rotation's rules: a comment to the end of the line, one that
  // swallows all input, a line past the console's limit, and scripts too
  // large for the buffer of either room.
  // And rotations written by hand, in the open room, as the maintained
  // engine's rules read them.
  struct trial {
    std::vector<std::string> names;
    room where;
    script_files by_hand = {};
  };
  const std::string two = "set SW1 \"map a ; set nextmap vstr SW2\"\n";
  const std::string back = "set SW2 \"map b ; set nextmap vstr SW1\"\n";
  std::vector<trial> trials = {
      {{}, room::open, {{"SW_rotate.cfg", two + "/*/ " + back + "vstr SW1"}}},
      {{},
       room::open,
       {{"SW_rotate.cfg",
         "set SW1 \"devmap a ; set nextmap exec "
         "rot/part2\"\nvstr SW1"},
        {"rot/part2.cfg",
         "set SW1 \"spmap b ; set nextmap exec "
         "/SW_rotate\"\nvstr SW1"}}},
      {{},
       room::open,
       {{"SW_rotate.cfg",
         "set loop \"vstr loop\"\nset SW1 \"exec gt_ctf ; "
         "map a ; vstr loop ; seta nextmap vstr SW2\"\n" +
             back + "vstr SW1\n" + two + "vstr SW1"}}},
      {{},
       room::open,
       {{"SW_rotate.cfg", "map a\nnextmap exec SW_rotate2\n"},
        {"SW_rotate2.cfg", "map b\nset nextmap exec SW_rotate\n"}}},
      {{"alpha", "a//b", "charlie"}, room::open},
      {{"alpha", "c/*d", "charlie"}, room::open},
      {{"alpha", std::string(900, 'n'), "charlie"}, room::open}};
  for (const auto& [maps, where] :
       {std::pair{700, room::open}, std::pair{100, room::original}}) {
    trials.push_back({{}, where});
    for (int i = 0; i < maps; ++i)
      trials.back().names.push_back("map" + std::to_string(i));
  }
  // One byte past the original room.
  trials.push_back({names_filling(8193, "vstr SW1"), room::original});
  constexpr int steps = 8;
  std::vector<console_folder> folders(trials.size());
  std::vector<script_files> scripts;
  std::vector<console_run> expected;
  std::vector<pid_t> consoles;
  for (std::size_t i = 0; i < trials.size(); ++i) {
    scripts.push_back(trials[i].by_hand);
    if (!trials[i].names.empty())
      scripts.back() = {
          {"SW_rotate.cfg", script_file_of(trials[i].names, "vstr SW1")}};
    for (const auto& [name, text] : scripts.back()) {
      fs::create_directories((folders[i].game() / name).parent_path());
      write_file(folders[i].game() / name, text);
    }
    expected.push_back(modelled(scripts[i], steps, trials[i].where));
    // Where a comment swallows the steps and their `quit`, standard input
    // ends the comment and quits: it comes after everything else.
    int input[2] = {-1, -1};
    if (!expected[i].finished) {
      ASSERT_EQ(0, pipe2(input, O_CLOEXEC));
      const std::string end = "*/\nquit\n";
      EXPECT_EQ(end.size(), write(input[1], end.data(), end.size()));
      close(input[1]);
    }
    consoles.push_back(
        start_console(folders[i], steps, trials[i].where, input[0]));
    if (input[0] >= 0) close(input[0]);
  }
  for (std::size_t i = 0; i < trials.size(); ++i) {
    const std::string what = "rotation " + std::to_string(i);
    if (!finish(consoles[i], folders[i].dir / "output", what)) continue;
    const console_run real = played_by(read_file(folders[i].dir / "output"));
    expect_same(expected[i], real, what);
    if (!trials[i].names.empty()) {
      EXPECT_FALSE(same_run(as_written(trials[i].names, steps + 1), real))
          << what;
    }
  }
}

TEST_F(RealConsole, AServerInALongRotationGoesOnWhenTheToolRunsAgain) {
  // The server is in part 3 of a rotation of 300 maps when the tool writes
  // one of fewer parts; it ends that part, then plays the new rotation from
  // its first map, once round and on into its first map again.
  for (const int new_maps : {40, 12}) {
    console_folder folder;
    std::vector<std::string> old_maps, new_kept;
    run_tool(folder.game(), long_map_list(300, &old_maps));
    const script_files old_files = read_rotation(folder.game().string());
    const std::vector<std::string> old_order = maps_in_order(old_files);
    std::size_t through_part3 = 0;
    for (int part = 1; part <= 3; ++part) {
      const std::string& text = old_files.at(rotation_script_file(part));
      for (std::size_t at = 0;
           (at = text.find(" ; map ", at)) != std::string::npos; ++at)
        ++through_part3;
    }
    const std::size_t played_first = through_part3 - 10;
    int to_server[2];
    ASSERT_EQ(0, pipe2(to_server, O_CLOEXEC));
    const pid_t console =
        start_console(folder, 2 * static_cast<int>(played_first) - 1,
                      room::open, to_server[0], "echo in part 3");
    close(to_server[0]);
    const fs::path output = folder.dir / "output";
    const bool reached = wait_while_progressing(output, [&] {
      return read_file(output).find("\nin part 3\n") != std::string::npos;
    });
    run_tool(folder.game(), long_map_list(new_maps, &new_kept, "n"));
    const std::vector<std::string> new_order =
        maps_in_order(read_rotation(folder.game().string()));
    EXPECT_FALSE(new_order.empty());
    std::string steps;
    for (std::size_t step = 0; step < 22 + 2 * new_order.size(); ++step)
      steps += "vstr nextmap\n";
    write_file(folder.game() / "more.cfg",
               steps + "echo " + marker + "\nquit\n");
    const std::string more = "exec more.cfg\n";
    EXPECT_EQ(more.size(), write(to_server[1], more.data(), more.size()));
    close(to_server[1]);
    if (!finish(console, output, std::to_string(new_maps) + " maps")) continue;
    const std::string printed = read_file(output);
    EXPECT_TRUE(reached);
    EXPECT_EQ(std::string::npos, printed.find("couldn't exec SW_rotate"))
        << new_maps << " maps";
    console_run expected =
        as_written(old_order, 2 * static_cast<int>(through_part3));
    for (const std::string& event :
         as_written(new_order, 2 * static_cast<int>(new_order.size()) + 2)
             .played)
      expected.played.push_back(event);
    expect_same(expected, played_by(printed),
                std::to_string(new_maps) + " maps");
  }
}

TEST_F(RealConsole, RunsTheServersConfigAsTheCheckSaysItWill) {
  // A server's config, and the events of the rotation it plays: all, its
  // first map alone where nextmap changes after the rotation's exec, none
  // where the exec never runs. Without game data no map ever loads, so a
  // `map` there never resets nextmap as it does on a real server: setting
  // nextmap stands in for it, which the check reads alike.
  constexpr int steps = 5, all = steps + 1;
  const std::pair<std::string, int> configs[] = {
      {"exec SW_rotate.cfg\nset nextmap \"echo the rotation stopped\"\n", 1},
      {"exec SW_rotate.cfg\nset sv_hostname \"rotation test\"\n", all},
      // Through variables: the exec, and a change of nextmap after it.
      {"set r \"exec SW_rotate.cfg\"\nvstr r\n", all},
      {"exec SW_rotate.cfg\nset d \"set nextmap echo stopped\"\nvstr d\n", 1},
      // The console reads a file up to its first NUL byte.
      {std::string(100, '\0') + "\nexec SW_rotate.cfg\n", 0},
      // Larger than even the open server's buffer takes.
      {"//" + std::string(131100, 'p') + "\nexec SW_rotate.cfg\n", 0},
  };
  for (const auto& [config, events] : configs) {
    console_folder folder;
    std::vector<std::string> kept;
    run_tool(folder.game(), long_map_list(8, &kept));
    write_file(folder.game() / "server.cfg", config);
    const std::vector<std::string> order =
        maps_in_order(read_rotation(folder.game().string()));
    // What the check says of it, run where the server's config lies.
    std::string check = env_or_empty("MAP_ROTATION_PROGRAM");
    check.insert(check.rfind("map_rotation") + 12, "_check");
    int status = 0;
    waitpid(start({check}, folder.game()), &status, 0);
    const std::string report = unwrapped(read_file(folder.game() / "output"));
    const int says =
        report.find("the server never starts the rotation") != std::string::npos
            ? 0
        : report.find("the rotation stops after its first map") !=
                std::string::npos
            ? 1
            : all;
    EXPECT_EQ(events, says) << report;
    EXPECT_EQ(says != all, WEXITSTATUS(status) == 1) << report;
    const pid_t console =
        start_console(folder, steps, room::open, -1,
                      "echo " + marker + " ; quit", "server.cfg");
    if (!finish(console, folder.dir / "output", config.substr(0, 60))) continue;
    const console_run real = played_by(read_file(folder.dir / "output"));
    EXPECT_EQ(as_written(order, says).played, real.played)
        << config.substr(0, 60) << report;
  }
}

TEST_F(RealConsole, FindsMapsInArchivesCutShortAsTheCheckSaysItWill) {
  // Archives whose end record is cut by 0 to 22 bytes, with the directory
  // below 256 bytes into the archive and past it, each holding its own map:
  // a header the server reads, so that one that loads gets past it.
  console_folder folder;
  std::string header = "IBSP";
  header += '\x2e';
  header.resize(144, '\0');
  std::vector<std::string> maps;
  for (const std::size_t data : {std::size_t{0}, std::size_t{300}})
    for (std::size_t cut = 0; cut <= 22; ++cut) {
      maps.push_back("c" + std::to_string(cut) + "_" + std::to_string(data));
      const std::string zip = zip_of(
          {{"maps/" + maps.back() + ".bsp", header + std::string(data, 'x')},
           {"other.txt", "other"}});
      write_file(folder.game() / (maps.back() + ".pk3"),
                 zip.substr(0, zip.size() - cut));
    }
  system_disk disk;
  folder_trail here;
  ASSERT_TRUE(working_trail(disk, &here).ok());
  const std::vector<std::string_view> names(maps.begin(), maps.end());
  const game_search found =
      search_game(disk, here, {folder.game().string()}, names);
  for (const std::string& map : maps) {
    // A server of its own for each: one whose read fails keeps what its
    // memory held, which in a server that loaded a map before is that map.
    write_file(folder.game() / "try.cfg", "map " + map + "\n");
    if (!finish(start_console(folder, 0, room::open, -1,
                              "echo " + marker + " ; quit", "try.cfg"),
                folder.dir / "output", map))
      return;
    const std::string said = read_file(folder.dir / "output");
    ASSERT_NE(std::string::npos, said.find(marker)) << said;
    const char* real = said.find("Can't find map") != std::string::npos ? "none"
                       : said.find("wrong version number") != std::string::npos
                           ? "found, won't load"
                           : "loads";
    const map_source& source = found.at(map).maintained;
    const char* model = source.where == map_source::kind::none ? "none"
                        : source.loads()                       ? "loads"
                                         : "found, won't load";
    EXPECT_STREQ(real, model) << map << ":\n" << said;
    EXPECT_FALSE(source.unsure) << map;
  }
}

TEST_F(RealConsole, JumpsToEveryMapAsTheCheckSaysOfTheRotationInPlace) {
  // Rotations of one file and of several, put in place after the server
  // ran another (the tool run again while it plays): the check's rotation
  // in place, as data, gives for each map the line that jumps to it. At the
  // server's console that line must load that map, whatever ran before.
  for (const int maps : {6, 150}) {
    console_folder folder;
    std::vector<std::string> kept, before;
    run_tool(folder.game(), long_map_list(maps + 4, &before, "old"));
    fs::create_directory(folder.game() / "old");
    for (const auto& [name, text] : read_rotation(folder.game().string()))
      fs::rename(folder.game() / name, folder.game() / "old" / name);
    run_tool(folder.game(), long_map_list(maps, &kept));
    std::string check = env_or_empty("MAP_ROTATION_PROGRAM");
    check.insert(check.rfind("map_rotation") + 12, "_check");
    int status = 0;
    waitpid(start({check, "--format=json"}, folder.game()), &status, 0);
    const nlohmann::json doc =
        nlohmann::json::parse(read_file(folder.game() / "output"));
    const nlohmann::json& played = doc["rotation_in_place"]["maps"];
    ASSERT_EQ(static_cast<std::size_t>(maps), played.size());
    // An exec loads its file's first map.
    std::map<std::string, std::string> first_of;
    for (const auto& map : played) first_of.emplace(map["file"], map["name"]);
    // The server ran the rotation before this one, and holds its variables.
    std::string jumps = "exec old/SW_rotate.cfg\n";
    console_run expected;
    for (const auto& map : played) {
      const std::string line = map["console"];
      jumps += line + "\n";
      if (line.find("; vstr ") != std::string::npos)
        expected.played.push_back(printed_load(first_of.at(map["file"])));
      expected.played.push_back(printed_load(map["name"]));
    }
    write_file(folder.game() / "jumps.cfg", jumps);
    if (!finish(start_console(folder, 0, room::open, -1,
                              "echo " + marker + " ; quit", "jumps.cfg"),
                folder.dir / "output", "the jumps"))
      return;
    console_run real = played_by(read_file(folder.dir / "output"));
    // The restarts aside: a jump loads, and nothing else does.
    real.played.erase(std::remove(real.played.begin(), real.played.end(),
                                  std::string("restart")),
                      real.played.end());
    ASSERT_FALSE(real.played.empty());
    EXPECT_EQ(0u, real.played.front().rfind("load maps/old", 0));
    real.played.erase(real.played.begin());
    EXPECT_EQ(expected.played, real.played) << jumps;
  }
}
}  // namespace

namespace {

/// Debian's openarena-server: a server of this console family with a real
/// game's data, in archives from the internet.
const fs::path game_base = "/usr/lib/openarena-server";

/// The names of the maps the game's archives in `folder` hold: every
/// maps/NAME.bsp entry, in any case.
std::vector<std::string> maps_in_archives(const fs::path& folder,
                                          const fs::path& scratch) {
  const fs::path out = scratch / "names";
  const std::string lister =
      "python3 -c 'import sys, zipfile, glob\n"
      "for a in glob.glob(sys.argv[1] + \"/*.pk3\"):\n"
      "  for n in zipfile.ZipFile(a).namelist():\n"
      "    p = n.split(\"/\")\n"
      "    if len(p) == 2 and p[0].lower() == \"maps\" and "
      "p[1].lower().endswith(\".bsp\"): print(p[1][:-4])' '" +
      folder.string() + "' | sort -u > '" + out.string() + "'";
  std::vector<std::string> names;
  if (std::system(lister.c_str()) != 0) return names;
  const std::string text = read_file(out);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    names.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

class RealGame : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(console_path().c_str(), X_OK) != 0 ||
        !fs::exists(game_base / "baseoa"))
      GTEST_SKIP() << "no server with a real game's data: install Debian's "
                      "openarena-server (scripts/test does, as root)";
  }
};

TEST_F(RealGame, TheCheckFindsEachMapInTheArchiveTheServerLoadsItFrom) {
  // Every map of the game's archives, asked of the server (`which`) and of
  // the check, whose maintained engine is that server's.
  scratch_dir dir;
  const fs::path game = game_base / "baseoa";
  const std::vector<std::string> names = maps_in_archives(game, dir.path);
  ASSERT_LT(20u, names.size());
  std::string list, asked;
  for (const std::string& name : names) {
    list += name + " 1\n";
    asked += "which maps/" + name + ".bsp\n";
  }
  fs::create_directories(dir / "home" / "baseoa");
  write_file(dir / "home" / "baseoa" / "which.cfg",
             asked + "echo " + marker + "\nquit\n");
  if (!finish(
          start({console_path(), "+set", "dedicated", "1", "+set",
                 "net_enabled", "0", "+set", "com_basegame", "baseoa", "+set",
                 "fs_basepath", game_base.string(), "+set", "fs_homepath",
                 (dir / "home").string(), "+exec", "which.cfg"},
                dir.path),
          dir / "output", "the server's which"))
    return;
  const std::string said = read_file(dir / "output");
  write_file(dir / "map_list.cfg", list);
  std::string check = env_or_empty("MAP_ROTATION_PROGRAM");
  check.insert(check.rfind("map_rotation") + 12, "_check");
  int status = 0;
  waitpid(start({check, "--format=json", game.string()}, dir.path), &status, 0);
  const nlohmann::json doc = nlohmann::json::parse(read_file(dir / "output"));
  ASSERT_EQ(names.size(), doc["maps"]["maps"].size());
  for (const auto& map : doc["maps"]["maps"]) {
    const std::string name = map["name"];
    const nlohmann::json& found = map["maintained"];
    const std::string server =
        found["found"] == "archive"
            ? "File \"maps/" + name + ".bsp\" found in \"" +
                  std::string(found["file"]) + "\""
            : "File not found: \"maps/" + name + ".bsp\"";
    EXPECT_NE(std::string::npos, said.find(server)) << name;
  }
}

TEST_F(RealGame, JumpsLandWhereTheCheckSaysAndItsQueryNamesTheMapAndTheNext) {
  // A rotation of real maps, the server started on it with its network on
  // 127.0.0.1; jumps typed at its console, each line as the check gives
  // it; after each, the check asks the server which map it plays.
  scratch_dir dir;
  const fs::path game = dir / "home" / "baseoa";
  fs::create_directories(game);
  run_tool(game, "oa_dm1 4 oa_dm2 3 oa_dm3 2 oa_dm4 1");
  std::string check = env_or_empty("MAP_ROTATION_PROGRAM");
  check.insert(check.rfind("map_rotation") + 12, "_check");
  int status = 0;
  waitpid(start({check, "--format=json"}, game), &status, 0);
  const nlohmann::json maps = nlohmann::json::parse(
      read_file(game / "output"))["rotation_in_place"]["maps"];
  ASSERT_EQ(4u, maps.size());
  // A free port, as the system gives one.
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  bind(probe, reinterpret_cast<sockaddr*>(&at), size);
  getsockname(probe, reinterpret_cast<sockaddr*>(&at), &size);
  const std::string port = std::to_string(ntohs(at.sin_port));
  close(probe);
  int input[2];
  ASSERT_EQ(0, pipe(input));
  const pid_t server = start({console_path(),
                              "+set",
                              "dedicated",
                              "1",
                              "+set",
                              "net_ip",
                              "127.0.0.1",
                              "+set",
                              "net_port",
                              port,
                              "+set",
                              "net_enabled",
                              "1",
                              "+set",
                              "com_basegame",
                              "baseoa",
                              "+set",
                              "fs_basepath",
                              game_base.string(),
                              "+set",
                              "fs_homepath",
                              (dir / "home").string(),
                              "+set",
                              "com_protocol",
                              "71",
                              "+set",
                              "com_legacyprotocol",
                              "71",
                              "+exec",
                              "SW_rotate.cfg"},
                             dir.path, input[0]);
  close(input[0]);
  const fs::path output = dir / "output";
  // Waits for the server to print that it loaded `name`, after `from`.
  const auto loaded = [&](const std::string& name, std::size_t from) {
    return wait_while_progressing(output, [&] {
      const std::string said = read_file(output);
      return said.size() > from &&
             said.find("Server: " + name + "\n", from) != std::string::npos;
    });
  };
  EXPECT_TRUE(loaded(maps[0]["name"], 0));
  for (const std::size_t to : {2u, 0u, 3u, 1u}) {
    const std::string line = std::string(maps[to]["console"]) + "\n";
    const std::size_t from = read_file(output).size();
    ASSERT_EQ(static_cast<ssize_t>(line.size()),
              write(input[1], line.data(), line.size()));
    ASSERT_TRUE(loaded(maps[to]["name"], from)) << line;
    // A server still loading answers nothing for a while: on a busy
    // machine, more than the check waits. Asked again until it answers.
    nlohmann::json asked = nlohmann::json::object();
    for (int again = 0; again < 20 && !asked.value("answered", false);
         ++again) {
      waitpid(start({check, "--format=json", "--server", "127.0.0.1:" + port},
                    game),
              &status, 0);
      asked = nlohmann::json::parse(read_file(game / "output"))["server"];
    }
    EXPECT_TRUE(asked["answered"]) << asked.dump();
    EXPECT_EQ(maps[to]["name"], asked["map"]) << line;
    ASSERT_EQ(1u, asked["places"].size()) << asked.dump();
    EXPECT_EQ(to + 1, asked["places"][0]["number"]);
    EXPECT_EQ(maps[(to + 1) % 4]["name"], asked["places"][0]["next"]);
  }
  const std::string quit = "quit\n";
  EXPECT_EQ(static_cast<ssize_t>(quit.size()),
            write(input[1], quit.data(), quit.size()));
  close(input[1]);
  finish(server, output, "the game's server");
}

}  // namespace
