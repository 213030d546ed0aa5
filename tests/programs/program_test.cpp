// Runs the built program as a process in scratch directories, as a server's
// start script would. MAP_ROTATION_PROGRAM names the program; where
// MAP_ROTATION_RUNNER is set (to "wine"), the program is a Windows build run
// through it, and the cases that have no Windows meaning are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "check/check_report.h"
#include "support/console_play.h"
#include "support/json_schema.h"
#include "support/process.h"
#include "support/report_lines.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

bool under_runner() { return !env_or_empty("MAP_ROTATION_RUNNER").empty(); }

#define SKIP_WITHOUT_POSIX_MEANING(what) \
  if (under_runner()) GTEST_SKIP() << what << " has no Windows meaning"

struct outcome {
  int status = -1;
  std::string out, err;
};

/// Starts `program` in `dir` with `args`, its output going to files in
/// `capture`; returns the child's pid. `user` drops privileges.
pid_t start(const fs::path& dir, const fs::path& capture,
            const std::vector<std::string>& args, uid_t user = 0,
            const std::string& program = env_or_empty("MAP_ROTATION_PROGRAM"),
            gid_t group = 0) {
  std::vector<std::string> command;
  if (under_runner()) command.push_back(env_or_empty("MAP_ROTATION_RUNNER"));
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  return start_process(command, dir, capture / "out", capture / "err", user, -1,
                       group);
}

outcome finish(pid_t pid, const fs::path& capture) {
  outcome result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(capture / "out");
  result.err = read_file(capture / "err");
  return result;
}

/// `program` as `user` may start it: another user runs a copy beside the
/// captured output, as the build tree may lie in a folder only its owner
/// may enter (root's home, any mktemp -d folder).
std::string startable(const std::string& program, uid_t user,
                      const scratch_dir& capture) {
  if (user == 0) return program;
  fs::permissions(capture.path, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec |
                                    fs::perms::others_read |
                                    fs::perms::others_exec);
  const fs::path copy = capture.path / fs::path(program).filename();
  fs::copy_file(program, copy);
  return copy.string();
}

/// Runs the program in `dir` and expects what every run does: status 0 and
/// nothing printed.
void run_in(const fs::path& dir, const std::vector<std::string>& args = {},
            uid_t user = 0, gid_t group = 0) {
  scratch_dir capture;
  const std::string program =
      startable(env_or_empty("MAP_ROTATION_PROGRAM"), user, capture);
  const outcome result = finish(
      start(dir, capture.path, args, user, program, group), capture.path);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("", result.err);
}

const char alpha_bravo_list[] = "alpha 1\r\nbravo 0\r\ncharlie -1\r\n";

/// The file beside the rotation on which runs take turns.
const char lock_name[] = "SW_rotate.cfg.map_rotation-lock";

TEST(Program, WithoutMapListWritesTheFinalLineAlone) {
  scratch_dir dir;
  run_in(dir.path);
  EXPECT_EQ("vstr SW1", read_file(dir / "SW_rotate.cfg"));
}

TEST(Program, ArgumentsAreIgnored) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--help"}, {"-x", "other.cfg", "/?"}}) {
    scratch_dir dir;
    write_file(dir / "map_list.cfg", alpha_bravo_list);
    run_in(dir.path, args);
    EXPECT_EQ(alpha_bravo_script, read_file(dir / "SW_rotate.cfg"));
    EXPECT_EQ(
        std::vector<std::string>({"SW_rotate.cfg", lock_name, "map_list.cfg"}),
        file_names(dir.path));
  }
}

TEST(Program, ReplacesAPreviousScriptCompletely) {
  scratch_dir dir;
  write_file(dir / "map_list.cfg", alpha_bravo_list);
  write_file(dir / "SW_rotate.cfg", std::string(100000, 'x'));
  run_in(dir.path);
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "SW_rotate.cfg"));
}

TEST(Program, RemovesWhatAKilledRunLeftAndNothingElse) {
  scratch_dir dir;
  write_file(dir / "map_list.cfg", alpha_bravo_list);
  const std::vector<std::string> left = {
      "SW_rotate.cfg.map_rotation-tmp.4242.0",
      "SW_rotate12.cfg.map_rotation-old.7.31"};
  // Near misses, and copies an operator made, some in the shape that
  // earlier versions gave their own files.
  const std::vector<std::string> kept = {
      "SW_rotate.cfg.bak",
      "SW_rotate.cfg.old",
      "SW_rotate.cfg.old.2024.05",
      "SW_rotate.cfg.tmp.1.2",
      "SW_rotate2.cfg.old.7.1",
      "SW_rotate.cfg.map_rotation-tmp.4242.0x",
      "SW_rotate01.cfg.map_rotation-tmp.1.0",
      "SW_rotate1.cfg.map_rotation-old.1.0",
      "SW_rotate0.cfg.map_rotation-tmp.1.0",
      "other.cfg.map_rotation-tmp.1.0",
      "SW_rotate.cfg.map_rotation-tmp..0"};
  for (const std::string& name : left) write_file(dir / name, "left");
  for (const std::string& name : kept) write_file(dir / name, "kept");
  run_in(dir.path);
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {"SW_rotate.cfg", lock_name, "map_list.cfg"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, file_names(dir.path));
}

TEST(Program, EachRunPlaysEqualPrioritiesInAFreshOrder) {
  scratch_dir dir;
  std::string list;
  for (int i = 0; i < 20; ++i) list += "map" + std::to_string(i) + " 4\r\n";
  write_file(dir / "map_list.cfg", list);
  run_in(dir.path);
  const std::string first = read_file(dir / "SW_rotate.cfg");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  run_in(dir.path);
  const std::string second = read_file(dir / "SW_rotate.cfg");
  EXPECT_EQ(first.size(), second.size());
  EXPECT_NE(first, second);
}

TEST(Program, GarbageAndGiantTokensNeverBreakTheScript) {
  std::string garbage;
  std::uint32_t state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245 + 12345;
    garbage += static_cast<char>(state >> 24);
  }
  scratch_dir dir;
  write_file(dir / "map_list.cfg", garbage);
  run_in(dir.path);
  const std::string script = read_file(dir / "SW_rotate.cfg");
  ASSERT_GE(script.size(), 8u);
  EXPECT_EQ("vstr SW1", script.substr(script.size() - 8));
  EXPECT_EQ(0, (std::count(script.begin(), script.end(), '\n')) % 2);

  write_file(dir / "map_list.cfg", std::string(100 << 20, 'g'));
  run_in(dir.path);
  EXPECT_EQ("vstr SW1", read_file(dir / "SW_rotate.cfg"));
}

// The sanitizers reserve more address space than any memory limit leaves.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_SANITIZERS 1
#endif
#endif
#ifdef __SANITIZE_ADDRESS__
#define UNDER_SANITIZERS 1
#endif

TEST(Program, AListLargerThanItsMemoryKeepsTheRotation) {
  SKIP_WITHOUT_POSIX_MEANING("A memory limit");
#ifdef UNDER_SANITIZERS
  GTEST_SKIP() << "the sanitizers reserve more than the limit";
#endif
  if (std::system("command -v prlimit >/dev/null") != 0)
    GTEST_SKIP() << "needs prlimit";
  // A list of 1 GiB (sparse: it takes no room) under a limit of 300 MB,
  // in this user's own folder: silent, status 0, the rotation kept.
  scratch_dir dir, capture;
  write_file(dir / "SW_rotate.cfg", "previous");
  write_file(dir / "map_list.cfg", "");
  ASSERT_EQ(0, truncate((dir / "map_list.cfg").c_str(), off_t{1} << 30));
  const outcome limited = finish(
      start_process(
          {"prlimit", "--as=300000000", env_or_empty("MAP_ROTATION_PROGRAM")},
          dir.path, capture / "out", capture / "err"),
      capture.path);
  EXPECT_EQ(0, limited.status) << limited.err;
  EXPECT_EQ("", limited.out);
  EXPECT_EQ("", limited.err);
  EXPECT_EQ("previous", read_file(dir / "SW_rotate.cfg"));
}

TEST(Program, RunsStartedTogetherLeaveOneRunsWholeRotation) {
  scratch_dir dir;
  std::vector<std::string> maps;
  std::string list;
  for (int i = 0; i < 20000; ++i) {
    maps.push_back("m" + std::to_string(i));
    list += maps.back() + " 1\n";
  }
  write_file(dir / "map_list.cfg", list);
  // A few milliseconds apart, so that each run has an order of its own.
  scratch_dir captures[3];
  pid_t runs[3];
  for (int i = 0; i < 3; ++i) {
    runs[i] = start(dir.path, captures[i].path, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(0, finish(runs[i], captures[i].path).status);
  // Every file of the folder is in the chain, and the chain plays each map
  // once: a file of another run would bring maps twice and lose others.
  const script_files files = read_rotation(dir.path);
  std::vector<std::string> played = maps_in_order(files);
  std::sort(played.begin(), played.end());
  std::sort(maps.begin(), maps.end());
  EXPECT_EQ(maps, played);
  EXPECT_GT(files.size(), 100u);
  EXPECT_EQ(files.size() + 2, file_names(dir.path).size());
}

/// What a folder holds, to see that a run changed nothing in it: each
/// name with its owner, mode and bytes; the lock file that a run makes
/// beside the rotation where `with_lock`.
std::string snapshot(const fs::path& dir, bool with_lock = true) {
  std::string all;
  for (const std::string& name : file_names(dir)) {
    if (!with_lock && name == lock_name) continue;
    struct stat status;
    lstat((dir / name).c_str(), &status);
    all += name + " " + std::to_string(status.st_uid) + " " +
           std::to_string(status.st_mode) + " " +
           (S_ISLNK(status.st_mode)   ? fs::read_symlink(dir / name).string()
            : S_ISREG(status.st_mode) ? read_file(dir / name)
                                      : "") +
           "\n";
  }
  return all;
}

/// Sets the file system's flags of `path` (chattr): false where it has none
/// or this user may not set them.
bool set_file_flags(const fs::path& path, int flags) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  const bool set = fd >= 0 && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return set;
}

/// Runs map_rotation_check in `dir` with `args` once.
outcome check_once(const fs::path& dir, const std::vector<std::string>& args,
                   uid_t user) {
  scratch_dir capture;
  // Built beside the tool, with the same ending.
  std::string check = env_or_empty("MAP_ROTATION_PROGRAM");
  check.insert(check.rfind("map_rotation") + 12, "_check");
  return finish(
      start(dir, capture.path, args, user, startable(check, user, capture)),
      capture.path);
}

/// How many times `text` holds `part`.
std::size_t times_in(const std::string& text, const std::string& part) {
  std::size_t times = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos;
       at += part.size())
    ++times;
  return times;
}

/// Runs map_rotation_check in `dir` with `args`. Where it reports, and
/// `with_json`, it is run again with --format=json, whose document a JSON
/// parser must read, with the same exit status and counts as the text.
outcome check_in(const fs::path& dir, const std::vector<std::string>& args,
                 uid_t user = 0, bool with_json = true) {
  outcome text = check_once(dir, args, user);
  // A report's lines fit 100 columns where their words allow; the tests
  // read each line whole.
  EXPECT_EQ("", overlong_line(text.out)) << text.out;
  text.out = unwrapped(text.out);
  const bool reports =
      std::none_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--help" || arg == "-h" || arg == "/?" ||
               arg == "--version" || arg.rfind("--format", 0) == 0 ||
               arg == "--json";
      });
  if (!with_json || !reports || text.status < 0 || text.status > 2) return text;
  std::vector<std::string> as_json = {"--format=json"};
  as_json.insert(as_json.end(), args.begin(), args.end());
  const outcome data = check_once(dir, as_json, user);
  EXPECT_EQ(text.status, data.status);
  nlohmann::json doc;
  EXPECT_NO_THROW(doc = nlohmann::json::parse(data.out)) << data.out;
  if (!doc.is_object()) return text;
  // Every key as the schema in docs/ gives it: none renamed or dropped.
  static const nlohmann::json schema =
      nlohmann::json::parse(read_file(fs::path(MAP_ROTATION_SOURCE_DIR) /
                                      "docs/map_rotation_check.schema.json"));
  EXPECT_EQ("", schema_breach(schema, doc)) << data.out;
  EXPECT_EQ(1, doc["version"]);
  EXPECT_EQ(text.status, doc["exit_status"]);
  EXPECT_EQ(doc["map_list"]["read"] == "read",
            text.out.find(", read as ") != std::string::npos);
  // Each line of a section that says something of one thing is one item
  // (lines end in CR LF on Windows).
  std::string lines = text.out;
  lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
  const auto items = [&](const std::string& section) {
    const std::size_t from = lines.find("== " + section),
                      to = lines.find("\n\n", from);
    return from == std::string::npos
               ? 0
               : times_in(lines.substr(from, to - from), "\n  ");
  };
  std::size_t findings = 0;
  for (const auto& read : doc["configs"]["readings"])
    findings += read["findings"].size() + (read["maintained_differs"] ? 1 : 0);
  EXPECT_EQ(items("The map list"), doc["map_list"]["notes"].size() +
                                       doc["map_list"]["listed_twice"].size() +
                                       !doc["map_list"]["near_names"].empty());
  EXPECT_EQ(items("The server's config"), findings) << data.out;
  // Each map in place is a numbered line.
  const std::regex numbered("\n  [0-9]+\\. \"");
  EXPECT_EQ(
      static_cast<std::size_t>(std::distance(
          std::sregex_iterator(text.out.begin(), text.out.end(), numbered),
          std::sregex_iterator())),
      doc["rotation_in_place"]["maps"].size());
  return text;
}

/// 97 maps of one priority, 5 to 54 bytes long: 3 or 4 files, by order.
std::string order_dependent_list() {
  std::string list;
  for (int i = 0; i < 97; ++i)
    list += ("m" + std::to_string(i) + "_" + std::string(60, 'x'))
                .substr(0, 5 + i * 37 % 50) +
            " 1\n";
  return list;
}

TEST(Program, TheCheckChangesNothingAndSaysWhatTheRunThenDoes) {
  const std::string utf16 = std::string("\xFF\xFE") + std::string(
                                                          "a\0 \0"
                                                          "1\0\r\0\n\0",
                                                          10);
  const std::string by_order = order_dependent_list();
  // The map list (none where null), with a rotation in place and a file
  // of it, or the list, made something else; the check's status, and what
  // its report must say.
  const std::tuple<const char*, const char*, int, const char*> rows[] = {
      {alpha_bravo_list, nullptr, 0, "(1 part)"},
      {alpha_bravo_list, nullptr, 0, "None: SW_rotate.cfg isn't there yet"},
      // A rotation in place that loads no map.
      {alpha_bravo_list, "file SW_rotate.cfg", 0, "The chain breaks at once:"},
      {"canyon 3 harbor x foundry 1 a;b 2 # top 5", nullptr, 1, "line 1"},
      {utf16.c_str(), nullptr, 0, "UTF-16"},
      {nullptr, nullptr, 2, "No map."},
      {nullptr, "file SW_rotate.cfg", 2, "gives no map"},
      {nullptr, "file Map_List.cfg", 2, "beside it: Map_List.cfg; a run"},
      {nullptr, "file maplist.cfg", 2, "beside it: maplist.cfg; a run"},
      {"alpha -1", "file SW_rotate.cfg", 2, "gives no map"},
      {alpha_bravo_list, "folder map_list.cfg", 2,
       "is there but can't be read: "},
      {alpha_bravo_list, "pipe map_list.cfg", 2,
       "is there but can't be read: "},
      {alpha_bravo_list, "folder SW_rotate.cfg", 2, "is not a regular file"},
      {alpha_bravo_list, "read-only SW_rotate.cfg", 2, "is read-only"},
      {alpha_bravo_list, "read-only SW_rotate2.cfg", 2, "is read-only"},
      {alpha_bravo_list, "leftover SW_rotate.cfg.map_rotation-old.1.2", 0,
       "Removes "},
      {alpha_bravo_list, "held SW_rotate.cfg.map_rotation-lock", 2,
       "another run has held the rotation"},
      // The lock file's other name may be anyone's file: never used.
      {alpha_bravo_list, "hard-linked SW_rotate.cfg.map_rotation-lock", 2,
       "map_rotation-lock, on which runs take turns, can't be used: a "},
      // The part count, and so the verdict, depends on the order.
      {by_order.c_str(), "folder SW_rotate5.cfg", 2, "In another order"},
      // chattr +a, where the file system has it: a run could add files to
      // the folder but never replace or remove one.
      {alpha_bravo_list, "append-only SW_rotate.cfg", 2, "chattr -a"},
      {alpha_bravo_list, "append-only .", 2, "chattr -a"},
      // Where no lock can be taken, runs can't take turns.
      {alpha_bravo_list, "no-locks .", 2, "can't be used: No locks available"},
  };
  for (const auto& [list, in_the_way, status, says] : rows) {
    scratch_dir dir;
    const std::string way = in_the_way ? in_the_way : "";
    const std::string what = std::string(list ? list : "no list") + ", " + way;
    if (list)
      write_file(dir / "map_list.cfg", list == utf16.c_str() ? utf16 : list);
    const std::string kind = way.substr(0, way.find(' ')),
                      file = way.substr(way.find(' ') + 1);
    // Windows has no pipes of this kind, no flock, no chattr, and finds a
    // file in any case.
    if ((kind == "pipe" || kind == "held" || kind == "append-only" ||
         kind == "no-locks" || file == "Map_List.cfg") &&
        under_runner())
      continue;
    if (!way.empty()) {
      write_file(dir / "SW_rotate.cfg", "previous");
      if (file != ".") fs::remove(dir / file);
    }
    if (kind == "folder") fs::create_directory(dir / file);
    if (kind == "hard-linked") {
      write_file(dir / "secret.txt", "secret");
      fs::permissions(dir / "secret.txt", fs::perms::owner_read);
      fs::create_hard_link(dir / "secret.txt", dir / file);
    }
    if (kind == "pipe") mkfifo((dir / file).c_str(), 0644);
    if (kind == "file" || kind == "read-only" || kind == "leftover" ||
        kind == "held" || (kind == "append-only" && file != "."))
      write_file(dir / file, "previous");
    if (kind == "append-only" && !set_file_flags(dir / file, FS_APPEND_FL))
      continue;  // not on this file system, or not for this user
    if (kind == "read-only")
      fs::permissions(dir / file,
                      fs::perms::owner_write | fs::perms::group_write |
                          fs::perms::others_write,
                      fs::perm_options::remove);
    if (kind == "no-locks") {
      setenv("LD_PRELOAD", MAP_ROTATION_NO_LOCKS, 1);
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    const int held = kind == "held" ? open((dir / file).c_str(), O_RDONLY) : -1;
    if (held >= 0) flock(held, LOCK_EX);
    const std::string before = snapshot(dir.path);
    // Another order may end otherwise; the same tree always gives the same
    // status all the same.
    for (int again = 0; again < (list == by_order.c_str() ? 20 : 1); ++again) {
      const outcome checked = check_in(dir.path, {}, 0, again == 0);
      EXPECT_EQ(status, checked.status) << what << "\n"
                                        << checked.out << checked.err;
      EXPECT_NE(std::string::npos, checked.out.find(says)) << what << "\n"
                                                           << checked.out;
      // The next run's order shows no variable: no file holds it yet.
      EXPECT_EQ(std::string::npos, checked.out.find("(vstr")) << checked.out;
    }
    const outcome checked = check_in(dir.path, {});
    EXPECT_EQ(before, snapshot(dir.path)) << what;
    // What a killed run left, never a file the run itself would make.
    EXPECT_EQ(kind == "leftover",
              checked.out.find("Removes ") != std::string::npos)
        << checked.out;
    const bool puts = checked.out.find("A run puts") != std::string::npos;
    EXPECT_NE(puts, checked.out.find("A run leaves") != std::string::npos);
    if (held >= 0) close(held);  // a run would wait for it: not asked here
    if (held >= 0 || list == by_order.c_str()) continue;
    run_in(dir.path);
    // The lock file a run makes aside, unless one was there before.
    EXPECT_EQ(puts, before != snapshot(dir.path, kind == "hard-linked"))
        << what << checked.out;
    unsetenv("LD_PRELOAD");
    unsetenv("ASAN_OPTIONS");
    // Nothing left behind, not even a lock file.
    if (kind == "append-only") {
      EXPECT_EQ(before, snapshot(dir.path)) << what;
      set_file_flags(dir / file, 0);
    }
  }
  // A map drawn afresh on every run has no variable the next run keeps: the
  // report shows none for it.
  scratch_dir tied;
  write_file(tied / "map_list.cfg", "ta 1 tb 1 c 0");
  const std::string report = check_in(tied.path, {}).out;
  for (const char* name : {"\"ta\" (", "\"tb\" ("})
    EXPECT_EQ(std::string::npos, report.find(name)) << report;
}

TEST(Program, TheCheckUnderstandsItsCommandLine) {
  scratch_dir dir;
  write_file(dir / "map_list.cfg", "canyon 1");
  write_file(dir / "good.cfg", "exec SW_rotate.cfg\n");
  fs::create_directory(dir / "game");
  write_file(dir / "game" / "broken.pk3", "no archive");
  // The arguments, the status, and what it prints there and on stderr.
  const std::tuple<std::vector<std::string>, int, const char*, const char*>
      rows[] = {
          {{"--help"}, 0, "Usage: map_rotation_check", ""},
          {{"--version"}, 0, "map_rotation_check 1.", ""},
          // A mistake in one line, and where the usage is.
          {{"--bogus"},
           64,
           "",
           "unknown option --bogus (map_rotation_check --help tells"},
          {{"game", "--config"}, 64, "", "--config needs a FILE after it"},
          // "--" ends the options.
          {{"--", "-mod"}, 1, "-mod: can't be listed: ", ""},
          {{"gmae"}, 1, "gmae: can't be listed: ", ""},
          {{"game"}, 1, "that can be read, and no loose map", ""},
          {{}, 0, "No archive (*.pk3) found", ""},
          // Every config named is read, or said to be missing.
          {{"--config", "good.cfg"}, 0, "good.cfg runs the rotation", ""},
          {{"--config", "good.cfg", "--config", "typo.cfg"},
           1,
           "typo.cfg: not found (named with --config)",
           ""},
          {{"--config=typo.cfg"}, 1, "typo.cfg: not found", ""},
          // The report as data; text stays the default.
          {{"--json", "--config=typo.cfg"}, 1, "\"exit_status\": 1", ""},
          {{"--format=text"}, 0, "== The map list", ""},
          {{"--format=xml"}, 64, "", "--format takes =text or =json"},
      };
  for (const auto& [args, status, out, err] : rows) {
    const outcome checked = check_in(dir.path, args);
    const std::string what = args.empty() ? "none" : args.back();
    EXPECT_EQ(status, checked.status) << what << "\n" << checked.out;
    EXPECT_NE(std::string::npos, checked.out.find(out)) << what << checked.out;
    EXPECT_NE(std::string::npos, checked.err.find(err)) << what << checked.err;
    if (status == 64) {
      EXPECT_EQ(1, std::count(checked.err.begin(), checked.err.end(), '\n'))
          << checked.err;
    }
  }
  EXPECT_EQ(std::string::npos,
            check_in(dir.path, {"--config", "typo.cfg"}).out.find("No config"));
  // The statuses are written once: --help prints them, and the README
  // quotes them as it does.
  // (Windows writes its lines with CR LF.)
  std::string help = check_in(dir.path, {"--help"}).out;
  help.erase(std::remove(help.begin(), help.end(), '\r'), help.end());
  EXPECT_NE(std::string::npos, help.find(exit_statuses)) << help;
  EXPECT_NE(std::string::npos,
            read_file(fs::path(MAP_ROTATION_SOURCE_DIR) / "README.md")
                .find(exit_statuses));
}

/// A server of the console family as the check meets it on 127.0.0.1:
/// it answers one datagram `how`: with `reply`, from another port than the
/// one asked, or not at all.
struct udp_responder {
  enum { answers, from_elsewhere, silent } how;
  std::string reply;
  int asked = socket(AF_INET, SOCK_DGRAM, 0),
      elsewhere = socket(AF_INET, SOCK_DGRAM, 0);
  std::uint16_t port = 0;
  std::thread thread;

  udp_responder(decltype(how) how, std::string reply)
      : how(how), reply(std::move(reply)) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    bind(asked, reinterpret_cast<sockaddr*>(&at), size);
    bind(elsewhere, reinterpret_cast<sockaddr*>(&at), size);
    getsockname(asked, reinterpret_cast<sockaddr*>(&at), &size);
    port = ntohs(at.sin_port);
    // Every question, until it is stopped.
    thread = std::thread([this] {
      while (!stopped) {
        pollfd ready{this->asked, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        char question[100];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        if (recvfrom(this->asked, question, sizeof question, 0,
                     reinterpret_cast<sockaddr*>(&from), &size) <= 0 ||
            this->how == silent)
          continue;
        sendto(this->how == answers ? this->asked : this->elsewhere,
               this->reply.data(), this->reply.size(), 0,
               reinterpret_cast<sockaddr*>(&from), size);
      }
    });
  }
  ~udp_responder() {
    stopped = true;
    thread.join();
    close(asked);
    close(elsewhere);
  }
  std::atomic<bool> stopped{false};
};

TEST(Program, TheCheckAsksAPlayingServerWhichMapItPlays) {
  scratch_dir dir;
  write_file(dir / "map_list.cfg", "oa_dm1 3 oa_dm2 2 oa_dm4 1");
  run_in(dir.path);
  const int alone = check_in(dir.path, {}).status;
  const std::string status = "\xFF\xFF\xFF\xFFstatusResponse\n";
  // How the server answers, and what the report then says of it.
  const std::tuple<int, std::string, const char*> rows[] = {
      {udp_responder::answers,
       status + "\\sv_hostname\\x\\mapname\\oa_dm2\n0 5 \"bob\"\n",
       "That is map 2 of 3 in the files in place (exec SW_rotate.cfg; vstr "
       "SW3); next \"oa_dm4\"."},
      {udp_responder::answers, status + "\\mapname\\oa_dm9\n",
       "The files in place don't play it"},
      {udp_responder::answers, "\xFF\xFF\xFF\xFFprint\nNo rcon password.\n",
       "No answer: a reply that isn't a status reply."},
      {udp_responder::from_elsewhere, status + "\\mapname\\oa_dm2\n",
       "No answer: no reply within 2.0 s."},
      {udp_responder::silent, "", "No answer: no reply within 2.0 s."},
  };
  for (const auto& [how, reply, says] : rows) {
    udp_responder server(static_cast<decltype(udp_responder::how)>(how), reply);
    const outcome checked = check_in(
        dir.path, {"--server", "127.0.0.1:" + std::to_string(server.port)});
    EXPECT_NE(std::string::npos, checked.out.find(says)) << checked.out;
    // About the next run, whatever a server says.
    EXPECT_EQ(alone, checked.status);
  }
  EXPECT_EQ(64, check_in(dir.path, {"--server", "host:0"}).status);
}

TEST(Program, TheCheckFindsMapsWhereTheOriginalEngineWould) {
  if (std::system("command -v zip >/dev/null && command -v python3 >/dev/null"))
    GTEST_SKIP() << "needs zip and python3";
  scratch_dir dir, files;
  const fs::path base = dir / "base", mod = dir / "mod";
  fs::create_directories(files / "maps" / "sub");
  fs::create_directories(base / "maps" / "sub");
  fs::create_directories(mod);
  fs::create_directories(dir / "store");
  for (const char* map :
       {"plain", "Cased", "described", "zip64", "python", "stubbed", "adjusted",
        "commented", "signed", "oversized", "miscounted", "secret", "shadowed",
        "ahead", "single", "multi", "loosely", "layered", "linked"})
    write_file(files / "maps" / (std::string(map) + ".bsp"), map);
  write_file(files / "maps" / "empty.bsp", "");
  write_file(base / "maps" / "loosely.bsp", "loose");
  write_file(base / "maps" / "sub" / "deep.bsp", "deep");
  fs::create_symlink("nowhere.bsp", base / "maps" / "dangling.bsp");
  const std::string in = "cd '" + files.path.string() + "' && ",
                    to = "'" + base.string() + "/";
  const auto zip = [&](const std::string& options, const std::string& archive,
                       const std::string& maps) {
    return in + "zip -q " + options + " " + to + archive + "' " + maps;
  };
  const auto python = [&](const std::string& archive, const std::string& map,
                          const std::string& comment) {
    return in + "python3 -c 'import zipfile, sys; z = zipfile.ZipFile(" +
           "sys.argv[1], \"w\", zipfile.ZIP_DEFLATED); z.comment = " + comment +
           "; z.write(\"maps/" + map + ".bsp\"); z.close()' " + to + archive +
           "'";
  };
  const std::string stub = "printf 'MZ stub of 17 bytes' > stub && ";
  // Overwrites bytes of an archive's end record, `at` bytes into it.
  const auto patch_end = [&](const std::string& archive, int at,
                             const std::string& bytes) {
    return "printf '" + bytes + "' | dd of=" + to + archive +
           "' bs=1 conv=notrunc status=none seek=$(( $(stat -c %s " + to +
           archive + "') - 22 + " + std::to_string(at) + " ))";
  };
  const std::string made[] = {
      // Archives as real tools make them.
      zip("", "plain.pk3", "maps/plain.bsp"),
      zip("", "cased.pk3", "maps/Cased.bsp"),
      zip("-fd", "described.pk3", "maps/described.bsp"),
      zip("-fz", "zip64.pk3", "maps/zip64.bsp"),
      python("python.pk3", "python", "b\"\""),
      in + "zip -q s.zip maps/stubbed.bsp && " + stub + "cat stub s.zip > " +
          to + "stubbed.pk3'",
      in + "zip -q a.zip maps/adjusted.bsp && " + stub +
          "cat stub a.zip > a2.zip && zip -q -A a2.zip && mv a2.zip " + to +
          "adjusted.pk3'",
      python("commented.pk3", "commented", "b\"c\" * 65535"),
      python("signed.pk3", "signed", "b\"PK\\x05\\x06\" + b\"x\" * 30"),
      // End records that say more than the archive holds: a directory
      // larger than the file allows, and entry counts that differ.
      zip("", "oversized.pk3", "maps/oversized.bsp") + " && " +
          patch_end("oversized.pk3", 12, "\\377\\377\\000\\000"),
      zip("", "miscounted.pk3", "maps/miscounted.bsp") + " && " +
          patch_end("miscounted.pk3", 8, "\\002\\000"),
      zip("-P secret", "secret.pk3", "maps/secret.bsp"),
      zip("", "empty.pk3", "maps/empty.bsp"),
      // The order the engine searches them in.
      zip("", "maps.pk3", "maps/shadowed.bsp"),
      zip("", "pak0.pk3", "maps/shadowed.bsp maps/ahead.bsp maps/loosely.bsp"),
      zip("", "zzz.pk3", "maps/ahead.bsp"),
      zip("", "sp_maps.pk3", "maps/single.bsp"),
      zip("-P secret", "zz.pk3", "maps/multi.bsp"),
      zip("", "mp_extra.pk3", "maps/multi.bsp"),
      zip("", "layer.pk3", "maps/layered.bsp"),
      in + "zip -q -P secret '" + mod.string() + "/layer.pk3' maps/layered.bsp",
      in + "zip -q '" + (dir / "store").string() +
          "/linked.pk3' maps/linked.bsp"};
  for (const std::string& command : made)
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  fs::create_symlink("../store/linked.pk3", base / "linked.pk3");
  write_file(dir / "map_list.cfg",
             "plain 1 cased 1 described 1 zip64 1 python 1 stubbed 1 "
             "adjusted 1 commented 1 signed 1 oversized 1 miscounted 1 "
             "secret 1 empty 1 shadowed 1 "
             "ahead 1 single 1 multi 1 loosely 1 layered 1 sub/deep 1 "
             "dangling 1 linked 1 plian 1");
  const outcome checked = check_in(dir.path, {mod.string(), base.string()});
  std::string report = checked.out;  // CR LF on Windows
  report.erase(std::remove(report.begin(), report.end(), '\r'), report.end());
  EXPECT_EQ(1, checked.status) << report;
  const std::string at = base.string() + "/";
  for (const std::string& line : std::vector<std::string>{
           // What the original engine does with each archive.
           "\"plain\": in " + at + "plain.pk3\n",
           "\"cased\": in " + at + "cased.pk3 as maps/Cased.bsp (another case",
           "\"described\": in " + at + "described.pk3\n",
           "\"zip64\": NOT FOUND by the original engine; the maintained "
           "engine loads it in " +
               at + "zip64.pk3\n",
           "\"python\": in " + at + "python.pk3\n",
           "\"stubbed\": in " + at + "stubbed.pk3\n",
           "\"adjusted\": in " + at + "adjusted.pk3\n",
           "\"commented\": NOT FOUND", at + "commented.pk3: no engine reads it",
           "\"signed\": NOT FOUND", at + "signed.pk3: no engine reads it",
           "\"oversized\": NOT FOUND", at + "oversized.pk3: no engine reads it",
           "\"miscounted\": NOT FOUND",
           at + "miscounted.pk3: no engine reads it",
           "\"secret\": WON'T LOAD: in " + at +
               "secret.pk3, but it is encrypted",
           "\"empty\": WON'T LOAD: in " + at + "empty.pk3, but it is 0 bytes",
           // Where the engine looks first.
           "\"shadowed\": WON'T LOAD: in " + at +
               "pak0.pk3, but the first "
               "archive that holds it is pak0.pk3, from which the original "
               "engine "
               "loads no map (the maintained engine loads it in " +
               at + "maps.pk3)",
           "\"ahead\": in " + at + "zzz.pk3\n", "\"single\": NOT FOUND",
           "\"multi\": in " + at + "mp_extra.pk3\n",
           "\"loosely\": WON'T LOAD: in " + at +
               "pak0.pk3, but the first "
               "archive that holds it is pak0.pk3, from which the original "
               "engine "
               "loads no map (the maintained engine loads it loose, " +
               at + "maps/loosely.bsp)",
           "\"layered\": WON'T LOAD: in " + mod.string() +
               "/layer.pk3, but "
               "it is encrypted",
           "\"sub/deep\": loose, " + at + "maps/sub/deep.bsp\n",
           under_runner()  // Windows has no such links
               ? "\"dangling\": NOT FOUND"
               : "\"dangling\": NOT FOUND\n    " + at +
                     "maps/dangling.bsp doesn't open as a file: ",
           "\"linked\": in " + at + "linked.pk3\n",
           // Close names, only from where a map would load.
           std::string("\"plian\": NOT FOUND; did you mean plain?\n")})
    EXPECT_NE(std::string::npos, report.find(line)) << line << "\n" << report;
  EXPECT_EQ(std::string::npos, report.find("single?")) << report;
}

TEST(Program, TheCheckReadsTheServersConfigAsTheConsoleRunsIt) {
  // 50 maps of distinct priorities: SW_rotate.cfg is the same, near 8 KiB,
  // on every run.
  std::string list;
  for (int i = 0; i < 50; ++i)
    list += "map_of_twenty_bytes" + std::to_string(i % 10) + " " +
            std::to_string(100 - i) + "\n";
  scratch_dir sizing;
  write_file(sizing / "map_list.cfg", list);
  run_in(sizing.path);
  const std::size_t rotation = read_file(sizing / "SW_rotate.cfg").size();
  ASSERT_GT(rotation, 7000u);
  // The config behind its exec: R bytes, the rest of the file.
  const auto behind = [](std::size_t bytes) {
    return "//" + std::string(bytes - 3, 'p') + "\n";
  };
  const std::string room = behind(16382 - rotation);
  // The server's configs, what the report says of them, and the status.
  const std::tuple<std::vector<std::pair<std::string, std::string>>,
                   const char*, int>
      rows[] = {
          {{{"server.cfg", "exec SW_rotate.cfg\n" + behind(9000)}},
           "> 16,382, so the console refuses the whole rotation "
           "(\"Cbuf_InsertText overflowed\"): put the exec last\n  The "
           "maintained engine reads it otherwise: it starts the rotation, "
           "and nothing stops it.",
           1},
          // It fits, but a longer list would not.
          {{{"server.cfg", "exec SW_rotate.cfg\n" + room}},
           "<= 16,382, so the console takes it whole; but with more than "
           "8,190 bytes behind the exec",
           0},
          {{{"server.cfg", "exec SW_rotate.cfg\n" + room + "x"}},
           "> 16,382, so the console refuses",
           1},
          {{{"server.cfg", "exec SW_rotate.cfg\nset a 1\nmap q3dm17\n"}},
           "line 3: map q3dm17 loads a map after the rotation's exec",
           1},
          {{{"server.cfg", "exec SW_rotate.cfg ; map q3dm17\n"}},
           "line 1: map q3dm17 loads a map",
           1},
          {{{"server.cfg",
             "exec SW_rotate.cfg\n// map x\nset a \"a;map b\"\n"}},
           "<= 16,382, so the console takes it whole",
           0},
          // The console reads a config up to its first NUL byte: NUL bytes
          // as truncate makes them, before the exec, hide it; after it,
          // they cost nothing, as the check reads them (once quadratic,
          // they took longer than any test may).
          {{{"server.cfg",
             std::string((16 << 20) - 100, '\0') + "\nexec SW_rotate.cfg\n"}},
           "No config here runs exec SW_rotate.cfg",
           1},
          {{{"server.cfg",
             "exec SW_rotate.cfg\n" + std::string((16 << 20) - 100, '\0')}},
           "exec SW_rotate.cfg, with 0 bytes of config still waiting",
           0},
          // The server's own exec of its config: one larger than the buffer
          // runs none of its lines.
          {{{"server.cfg", behind(16383) + "exec SW_rotate.cfg\n"}},
           "  exec server.cfg, as the server runs it: larger than the "
           "console's buffer takes even with nothing behind it, so none of it "
           "runs (\"Cbuf_InsertText overflowed\")\n  The maintained engine "
           "reads it otherwise: it starts the rotation, and nothing stops "
           "it.\nNo config here runs exec "
           "SW_rotate.cfg: the server never starts the rotation. Keep each "
           "config under 16 KiB",
           1},
          {{{"server.cfg", behind(16300) + "exec SW_rotate.cfg\n"}},
           "server.cfg runs the rotation",
           0},
          {{{"server.cfg", "exec SW_rotate.cfg\nseta nextmap \"vstr x\"\n"}},
           "line 2: seta nextmap \"vstr x\" changes nextmap",
           1},
          {{{"server.cfg", "exec SW_rotate.cfg\nexec more\n"},
            {"more.cfg", "sv_hostname x\ndevmap q3dm1\n"}},
           "more.cfg, line 2: devmap q3dm1 loads a map",
           1},
          // Windows finds the file in any case; Linux doesn't.
          // What waits behind an exec in a config that another runs.
          {{{"server.cfg", "exec inner\nabc\n"},
            {"inner.cfg", "exec SW_rotate.cfg\nxy\n"}},
           "inner.cfg, line 1: exec SW_rotate.cfg, with 8 bytes",
           0},
          // Configs that run each other: each line end left behind fills
          // the buffer, and the console goes on; with none, it never does.
          {{{"server.cfg", "exec SW_rotate.cfg\nexec a\n"},
            {"a.cfg", "exec b\n"},
            {"b.cfg", "exec a\n"}},
           "b.cfg, line 1: exec a doesn't fit into the console's buffer",
           0},
          {{{"server.cfg", "exec SW_rotate.cfg\nexec a\n"},
            {"a.cfg", "exec b"},
            {"b.cfg", "exec a"}},
           "runs configs in a loop",
           1},
          // A config that runs itself: each line said once, and how often.
          {{{"server.cfg", "exec a\nexec SW_rotate.cfg\n"},
            {"a.cfg", "exec a\nexec a\n" + behind(6000)}},
           "a.cfg, line 2: exec a doesn't fit into the console's buffer: none "
           "of it runs (2 times)",
           0},
          // Through variables, as the console runs them.
          {{{"server.cfg", "set r \"exec SW_rotate.cfg\"\nvstr r\n"}},
           "line 2: vstr r runs exec SW_rotate.cfg, with 1 byte of config",
           0},
          {{{"server.cfg", "exec SW_rotate.cfg\nset d \"map x\"\nvstr d\n"}},
           "line 3: vstr d runs map x loads a map",
           1},
          {{{"server.cfg",
             "exec SW_rotate.cfg\nset d \"set nextmap vstr "
             "other\"\nvstr d\n"}},
           "line 3: vstr d runs set nextmap vstr other changes nextmap",
           1},
          // The original's seta takes two words; the maintained one's all.
          {{{"server.cfg", "exec SW_rotate.cfg\nseta nextmap vstr x\n"}},
           "The maintained engine reads it otherwise: it starts the rotation, "
           "which then stops after its first map.",
           0},
          {{{"server.cfg", "exec SW_rotate.cfg\nnextmap vstr other\n"}},
           "line 2: nextmap vstr other changes nextmap",
           1},
          {{{"server.cfg", "exec sw_rotate.cfg\n"}},
           "another case than SW_rotate.cfg: that works on Windows",
           under_runner() ? 0 : 1},
          {{{"server.cfg", "// exec SW_rotate.cfg\nmap q3dm17\n"}},
           "No config here runs exec SW_rotate.cfg",
           1},
          {{{"server.cfg", "sv_hostname x\n"}, {"maps.cfg", "map q3dm1\n"}},
           "No config here runs exec SW_rotate.cfg",
           1},
          {{}, "No server config here", 0},
          // Only what runs after the exec stops the rotation.
          {{{"server.cfg", "map q3dm1\nset nextmap x\nexec SW_rotate.cfg\n"}},
           "<= 16,382, so the console takes it whole",
           0},
          // A dot in a folder's name is no extension: .cfg is added.
          {{{"server.cfg", "exec sub.d/more\n"},
            {"sub.d/more.cfg", "exec SW_rotate.cfg\n"}},
           "sub.d/more.cfg, line 1: exec SW_rotate.cfg",
           0},
      };
  for (const auto& [configs, says, status] : rows) {
    scratch_dir dir;
    write_file(dir / "map_list.cfg", list);
    for (const auto& [name, text] : configs) {
      fs::create_directories((dir / name).parent_path());
      write_file(dir / name, text);
    }
    outcome checked = check_in(dir.path, {});
    const std::string what =
        configs.empty() ? "none" : configs[0].second.substr(0, 60);
    std::string& out = checked.out;  // its lines end in CR LF on Windows
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(status, checked.status) << what << "\n" << out;
    EXPECT_NE(std::string::npos, out.find(says)) << what << "\n" << out;
  }
  // A chain of configs, each run once, with the line end each leaves.
  scratch_dir chain;
  write_file(chain / "map_list.cfg", list);
  for (int i = 0; i < 1000; ++i)
    write_file(chain / ("c" + std::to_string(i) + ".cfg"),
               "exec c" + std::to_string(i + 1) + "\n");
  write_file(chain / "c1000.cfg", "exec SW_rotate.cfg\n");
  const outcome chained = check_in(chain.path, {});
  EXPECT_EQ(0, chained.status) << chained.out;
  EXPECT_NE(
      std::string::npos,
      unwrapped(chained.out)
          .find("c1000.cfg, line 1: exec SW_rotate.cfg, with 1,000 bytes"))
      << chained.out;
  // Named, from elsewhere: the same reading.
  scratch_dir dir, elsewhere;
  write_file(dir / "map_list.cfg", list);
  write_file(elsewhere / "server.cfg", "exec SW_rotate.cfg\nmap q3dm17\n");
  const outcome checked =
      check_in(dir.path, {"--config", (elsewhere / "server.cfg").string()});
  EXPECT_EQ(1, checked.status) << checked.out;
  EXPECT_NE(std::string::npos, checked.out.find("line 2: map q3dm17"))
      << checked.out;
}

TEST(Program, RunsOnOneSharedRotationTakeTurnsBesideIt) {
  SKIP_WITHOUT_POSIX_MEANING("A lock taken by a Linux process");
  // Two server folders whose SW_rotate.cfg links to one rotation: a run in
  // either waits while another holds the rotation, and leaves alone what
  // that one staged there; a lock on a folder holds no run up.
  scratch_dir dir, capture;
  fs::create_directory(dir / "shared");
  write_file(dir / "shared" / "real.cfg", "previous");
  const std::string staged = "real.cfg.map_rotation-tmp.1.0";
  write_file(dir / "shared" / staged, "another run's");
  for (const char* server : {"a", "b"}) {
    fs::create_directory(dir / server);
    write_file(dir / server / "map_list.cfg", alpha_bravo_list);
    fs::create_symlink("../shared/real.cfg", dir / server / "SW_rotate.cfg");
  }
  const int lock = open((dir / "shared" / "real.cfg.map_rotation-lock").c_str(),
                        O_RDONLY | O_CREAT | O_CLOEXEC, 0660);
  const int folder =
      open((dir / "a").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(0, flock(lock, LOCK_EX));
  ASSERT_EQ(0, flock(folder, LOCK_EX));
  const pid_t run = start(dir / "a", capture.path, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ("previous", read_file(dir / "shared" / "real.cfg"));
  EXPECT_EQ("another run's", read_file(dir / "shared" / staged));
  close(lock);
  EXPECT_EQ(0, finish(run, capture.path).status);
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "shared" / "real.cfg"));
  EXPECT_FALSE(fs::exists(dir / "shared" / staged));
  run_in(dir / "b");  // the folder's lock holds nothing up
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "shared" / "real.cfg"));
  close(folder);
}

/// A user without privileges, so that file permissions bind even when the
/// tests run as root.
uid_t unprivileged_user() {
  if (geteuid() != 0) return 0;
  const passwd* nobody = getpwnam("nobody");
  return nobody ? nobody->pw_uid : 65534;
}

/// Whether `user` may enter `dir`, asked of the system as that user.
bool user_can_enter(uid_t user, const fs::path& dir) {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(setgid(user) == 0 && setuid(user) == 0 &&
                  access(dir.c_str(), X_OK) == 0
              ? 0
              : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// The scratch folders lie in the temporary folder, so the user must reach it.
#define SKIP_UNLESS_REACHABLE(user)                                      \
  if ((user) != 0 && !user_can_enter((user), fs::temp_directory_path())) \
  GTEST_SKIP() << "user " << (user) << " may not enter "                 \
               << fs::temp_directory_path()                              \
               << "; point TMPDIR at a folder every user may enter"

TEST(Program, ReadOnlyScriptIsLeftUnchanged) {
  // Under Wine a file without write permission has the read-only attribute,
  // which binds even for root, so there is no need to drop privileges.
  const uid_t user = under_runner() ? 0 : unprivileged_user();
  SKIP_UNLESS_REACHABLE(user);
  scratch_dir dir;
  fs::permissions(dir.path, fs::perms::all);
  write_file(dir / "map_list.cfg", alpha_bravo_list);
  write_file(dir / "SW_rotate.cfg", "read-only script");
  fs::permissions(dir / "map_list.cfg", fs::perms::all);
  fs::permissions(dir / "SW_rotate.cfg", fs::perms::owner_read |
                                             fs::perms::group_read |
                                             fs::perms::others_read);
  run_in(dir.path, {}, user);
  EXPECT_EQ("read-only script", read_file(dir / "SW_rotate.cfg"));
  EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "map_list.cfg"}),
            file_names(dir.path));
}

TEST(Program, WritesInPlaceWhereTheDirectoryIsReadOnly) {
  SKIP_WITHOUT_POSIX_MEANING("Dropping privileges");
  const uid_t user = unprivileged_user();
  SKIP_UNLESS_REACHABLE(user);
  scratch_dir dir;
  write_file(dir / "map_list.cfg", alpha_bravo_list);
  write_file(dir / "SW_rotate.cfg", "previous");
  fs::permissions(dir / "map_list.cfg", fs::perms::all);
  // The script is the server user's own: another user's is never written.
  if (user != 0) {
    ASSERT_EQ(0, chown((dir / "SW_rotate.cfg").c_str(), user, user));
  }
  if (user == 0)  // not root: the owner's own write bit must go
    fs::permissions(dir.path, fs::perms::owner_write, fs::perm_options::remove);
  else
    fs::permissions(dir.path, fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec |
                                  fs::perms::others_read |
                                  fs::perms::others_exec);
  run_in(dir.path, {}, user);
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "SW_rotate.cfg"));
  // The script in place is the new one: nothing to change, as the check,
  // from what the run decided, says.
  const outcome checked = check_in(dir.path, {}, user);
  EXPECT_EQ(0, checked.status) << checked.out;
  EXPECT_NE(std::string::npos, checked.out.find("changes nothing"))
      << checked.out;
}

TEST(Program, KeepsPermissionsAndSymbolicLinks) {
  SKIP_WITHOUT_POSIX_MEANING("Unix permission bits and symbolic links");
  scratch_dir dir;
  write_file(dir / "map_list.cfg", alpha_bravo_list);
  write_file(dir / "real.cfg", "previous");
  fs::permissions(dir / "real.cfg", fs::perms::owner_read |
                                        fs::perms::owner_write |
                                        fs::perms::group_read);
  fs::create_symlink("real.cfg", dir / "SW_rotate.cfg");
  run_in(dir.path);
  EXPECT_TRUE(fs::is_symlink(dir / "SW_rotate.cfg"));
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "real.cfg"));
  EXPECT_EQ(
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
      fs::status(dir / "real.cfg").permissions());

  // A long rotation takes its parts, and its clean-up, where the link points.
  fs::create_directory(dir / "server");
  fs::remove(dir / "SW_rotate.cfg");
  fs::create_symlink("server/real.cfg", dir / "SW_rotate.cfg");
  write_file(dir / "server" / "SW_rotate2.cfg.map_rotation-tmp.1.0", "left");
  std::string list;
  for (int i = 0; i < 100; ++i) list += "m" + std::to_string(i) + " 1\n";
  write_file(dir / "map_list.cfg", list);
  run_in(dir.path);
  EXPECT_EQ(
      std::vector<std::string>({"SW_rotate2.cfg", "SW_rotate3.cfg", "real.cfg",
                                "real.cfg.map_rotation-lock"}),
      file_names(dir / "server"));
  EXPECT_EQ(
      100u,
      maps_in_order(
          {{"SW_rotate.cfg", read_file(dir / "server" / "real.cfg")},
           {"SW_rotate2.cfg", read_file(dir / "server" / "SW_rotate2.cfg")},
           {"SW_rotate3.cfg", read_file(dir / "server" / "SW_rotate3.cfg")}})
          .size());
  write_file(dir / "map_list.cfg", alpha_bravo_list);

  // A link to a file not yet made: the file appears where the link points.
  fs::remove(dir / "SW_rotate.cfg");
  fs::create_directory(dir / "scripts");
  fs::create_symlink("scripts/new.cfg", dir / "SW_rotate.cfg");
  run_in(dir.path);
  EXPECT_TRUE(fs::is_symlink(dir / "SW_rotate.cfg"));
  EXPECT_EQ(alpha_bravo_script, read_file(dir / "scripts" / "new.cfg"));
}

TEST(Program, ARunAsRootLeavesTheRotationToItsOwner) {
  SKIP_WITHOUT_POSIX_MEANING("Unix owners");
  if (geteuid() != 0) GTEST_SKIP() << "only root may give files away";
  scratch_dir dir;
  std::string list;
  for (int i = 0; i < 100; ++i) list += "m" + std::to_string(i) + " 1\n";
  write_file(dir / "map_list.cfg", list);
  write_file(dir / "SW_rotate.cfg", "previous");
  ASSERT_EQ(0, chown((dir / "SW_rotate.cfg").c_str(), 65534, 65534));
  fs::permissions(dir / "SW_rotate.cfg", fs::perms::owner_read |
                                             fs::perms::owner_write |
                                             fs::perms::group_read);
  run_in(dir.path);
  for (const char* part :
       {"SW_rotate.cfg", "SW_rotate2.cfg", "SW_rotate3.cfg"}) {
    struct stat status;
    ASSERT_EQ(0, stat((dir / part).c_str(), &status)) << part;
    EXPECT_EQ(65534u, status.st_uid) << part;
    EXPECT_EQ(65534u, status.st_gid) << part;
    EXPECT_EQ(0640u, status.st_mode & 07777) << part;
  }
}

#define SKIP_UNLESS_ROOT_WITH(user)                                \
  SKIP_WITHOUT_POSIX_MEANING("Unix owners and links");             \
  if (geteuid() != 0) GTEST_SKIP() << "the case is a run as root"; \
  SKIP_UNLESS_REACHABLE(user)

/// A group that only root's own files below are in: a run as root that
/// kept it as a supplementary group would reach them.
constexpr gid_t root_files_group = 4242;

TEST(Program, ARunAsRootGainsNothingFromLinksAnotherUserPlanted) {
  const uid_t user = unprivileged_user();
  SKIP_UNLESS_ROOT_WITH(user);
  // Where the run starts: the server's user's folder itself; a tool folder
  // of root's whose SW_rotate.cfg and map_list.cfg link into it; or a
  // folder of root's that the server's group may write (refused whole).
  for (const std::string layout : {"server", "tool", "shared root"}) {
    // What is planted in the server's folder, the file only root may
    // change that it points to, and the map list.
    const std::tuple<const char*, const char*, const char*> plants[] = {
        {"SW_rotate.cfg", "secret", "alpha 1"},
        {"SW_rotate.cfg", "new.cfg", "$(id>/tmp/x) 1"},
        {"SW_rotate2.cfg", "passwd", "alpha 1"},
        {"map_list.cfg", "secret", ""}};
    for (const auto& [link, target, list] : plants) {
      scratch_dir dir, root_only;
      const std::string what = layout + ": " + link + " -> " + target;
      write_file(root_only / "passwd", "root:x:0:0:root:/root:/bin/sh\n");
      write_file(root_only / "secret", "secret_map 1");
      for (const char* name : {"", "passwd", "secret"})
        ASSERT_EQ(0, chown((root_only / name).c_str(), 0, root_files_group));
      ASSERT_EQ(0, chmod((root_only / "secret").c_str(), 0640));
      ASSERT_EQ(0, chmod(root_only.path.c_str(), 0770));
      const fs::path server = layout == "tool" ? dir / "game" : dir.path;
      fs::create_directories(server);
      write_file(server / "SW_rotate.cfg", "previous");
      write_file(server / "map_list.cfg", list);
      fs::remove(server / link);
      fs::create_symlink(root_only / target, server / link);
      for (const char* name : {"SW_rotate.cfg", "map_list.cfg", link})
        ASSERT_EQ(0, lchown((server / name).c_str(), user, user));
      ASSERT_EQ(
          0, chown(server.c_str(), layout == "shared root" ? 0 : user, user));
      ASSERT_EQ(0,
                chmod(server.c_str(), layout == "shared root" ? 02775 : 0755));
      if (layout == "tool") {
        ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
        fs::create_directory(dir / "tool");
        fs::create_symlink("../game/SW_rotate.cfg", dir / "tool/SW_rotate.cfg");
        fs::create_symlink("../game/map_list.cfg", dir / "tool/map_list.cfg");
      }
      const std::string before = snapshot(root_only.path),
                        server_before = snapshot(server);
      run_in(layout == "tool" ? dir / "tool" : dir.path, {}, 0,
             root_files_group);
      EXPECT_EQ(before, snapshot(root_only.path)) << what;
      EXPECT_EQ(std::string::npos, snapshot(server).find("secret_map")) << what;
      if (layout == "shared root") {
        EXPECT_EQ(server_before, snapshot(server)) << what;
      } else if (std::string(link) == "map_list.cfg") {
        EXPECT_EQ("previous", read_file(server / "SW_rotate.cfg")) << what;
      }
    }
  }
}

/// Gives `folder` a default ACL that lets user `reader` read every new file
/// (setfacl -d -m u:reader:r), as an operator lets a server read what root
/// writes; false where the file system has no ACLs.
bool let_read_new_files(const fs::path& folder, uid_t reader) {
  std::string acl("\x02\0\0\0", 4);  // version 2, then tag, perm, id
  for (const auto& [tag, perm, id] : {std::tuple<int, int, uid_t>{1, 7, -1},
                                      {2, 4, reader},
                                      {4, 5, -1},
                                      {0x10, 7, -1},
                                      {0x20, 5, -1}}) {
    acl += std::string({static_cast<char>(tag), 0, static_cast<char>(perm), 0});
    for (int i = 0; i < 4; ++i) acl += static_cast<char>(id >> (8 * i));
  }
  return setxattr(folder.c_str(), "system.posix_acl_default", acl.data(),
                  acl.size(), 0) == 0;
}

TEST(Program, ARunAsRootTrustsNoHardLinkAnotherUserMade) {
  const uid_t user = unprivileged_user();
  SKIP_UNLESS_ROOT_WITH(user);
  // root's rotation in root's sticky folder, which runs SW_rotate2.cfg;
  // root's files the server's user may reach but not read, which the user
  // links into it as the lock file, the map list and a config that its own
  // SW_rotate2.cfg runs.
  scratch_dir sticky, secrets;
  ASSERT_EQ(0, chmod(sticky.path.c_str(), 01777));
  ASSERT_EQ(0, chmod(secrets.path.c_str(), 0755));
  const std::string chain =
      "set SW1 \"map a ; set nextmap exec SW_rotate2\"\nvstr SW1";
  write_file(sticky / "SW_rotate.cfg", chain);
  for (const char* name : {"secret", "secret_list", "secret_part"}) {
    write_file(secrets / name, "secret_map 1\nset SW1 \"map secret_map\"");
    ASSERT_EQ(0, chmod((secrets / name).c_str(), 0600));
  }
  // Where the kernel lets anyone give another's file a name, as some
  // containers and older systems do: set for as short a time as it can be.
  struct unprotected {
    const char* setting = "/proc/sys/fs/protected_hardlinks";
    std::string was = read_file(setting);
    bool set() {
      std::ofstream(setting) << "0";
      return !was.empty() && read_file(setting).substr(0, 1) == "0";
    }
    /// Puts the setting back as it was, once, whatever ends the test.
    void restore() {
      if (!was.empty()) std::ofstream(setting) << was;
      was.clear();
    }
    ~unprotected() { restore(); }
  } links;
  if (!links.set())
    GTEST_SKIP() << "fs.protected_hardlinks can't be changed here";
  const pid_t child = fork();
  if (child == 0) {
    const bool linked =
        setgid(user) == 0 && setuid(user) == 0 &&
        link((secrets / "secret").c_str(),
             (sticky / "SW_rotate.cfg.map_rotation-lock").c_str()) == 0 &&
        link((secrets / "secret_list").c_str(),
             (sticky / "map_list.cfg").c_str()) == 0 &&
        link((secrets / "secret_part").c_str(),
             (sticky / "part.cfg").c_str()) == 0 &&
        std::ofstream(sticky / "SW_rotate2.cfg") << "exec part\nvstr SW1";
    _exit(linked ? 0 : 1);
  }
  int linked = -1;
  waitpid(child, &linked, 0);
  const bool made = WIFEXITED(linked) && WEXITSTATUS(linked) == 0;
  const outcome checked = made ? check_in(sticky.path, {}) : outcome();
  if (made) run_in(sticky.path);
  links.restore();
  ASSERT_TRUE(made) << "the server's user could not make the links";
  // The run took the lock file for no file of its own, read nothing of the
  // list, and kept the rotation; the check as root read none of it either.
  EXPECT_EQ(fs::perms(0600), fs::status(secrets / "secret").permissions());
  EXPECT_EQ(chain, read_file(sticky / "SW_rotate.cfg"));
  EXPECT_EQ(2, checked.status) << checked.out;
  EXPECT_EQ(std::string::npos, checked.out.find("secret_map")) << checked.out;
  EXPECT_NE(std::string::npos, checked.out.find("has 2 names")) << checked.out;
}

TEST(Program, ARunAsRootNeverFollowsAFolderSwappedOnTheWay) {
  const uid_t user = unprivileged_user();
  SKIP_UNLESS_ROOT_WITH(user);
  // root's tool folder links into game/config/ in the server user's game/;
  // that user swaps config/ for a link to a folder only root may change,
  // or to a third user's folder: the run acts as the server's user from
  // game/ on, and neither folder gains a file or gives up a name.
  for (const uid_t owner : {uid_t{0}, uid_t{4243}}) {
    scratch_dir dir, elsewhere;
    ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
    write_file(elsewhere / "map_list.cfg", "secret_map 1");
    ASSERT_EQ(0, chown(elsewhere.path.c_str(), owner, owner));
    ASSERT_EQ(0, chmod(elsewhere.path.c_str(), owner == 0 ? 0770 : 0755));
    fs::create_directories(dir / "game");
    fs::create_directories(dir / "tool");
    ASSERT_EQ(0, chown((dir / "game").c_str(), user, user));
    fs::create_symlink(elsewhere.path, dir / "game" / "config");
    ASSERT_EQ(0, lchown((dir / "game" / "config").c_str(), user, user));
    fs::create_symlink("../game/config/SW_rotate.cfg",
                       dir / "tool" / "SW_rotate.cfg");
    fs::create_symlink("../game/config/map_list.cfg",
                       dir / "tool" / "map_list.cfg");
    const std::string before = snapshot(elsewhere.path);
    run_in(dir / "tool", {}, 0, root_files_group);
    EXPECT_EQ(before, snapshot(elsewhere.path)) << owner;
    const outcome checked = check_in(dir / "tool", {});
    EXPECT_EQ(std::string::npos, checked.out.find("A run puts")) << checked.out;
    // What the server's user may read anyway is no secret.
    EXPECT_EQ(owner == 0, checked.out.find("secret_map") == std::string::npos)
        << checked.out;
    EXPECT_NE(std::string::npos, checked.out.find("acts as user"))
        << checked.out;
  }
}

TEST(Program, AFirstRunAsRootLeavesARotationItsOwnerReplaces) {
  const uid_t user = unprivileged_user();
  SKIP_UNLESS_ROOT_WITH(user);
  // The folder in the user's own group, or given to the user with its
  // group left as root's: the user's own group from /etc/passwd then. Any
  // umask; a default ACL that lets another user read new files.
  for (const auto& [mask, group] : {std::pair<mode_t, gid_t>{022, user},
                                    {077, user},
                                    {000, user},
                                    {022, 0}}) {
    scratch_dir dir;
    write_file(dir / "map_list.cfg", alpha_bravo_list);
    ASSERT_EQ(0, chown(dir.path.c_str(), user, group));
    ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
    const bool acl = mask == 000 && let_read_new_files(dir.path, 4242);
    const mode_t was = umask(mask);
    run_in(dir.path, {}, 0, root_files_group);
    umask(was);
    struct stat status;
    ASSERT_EQ(0, stat((dir / "SW_rotate.cfg").c_str(), &status));
    EXPECT_EQ(user, status.st_uid) << mask;
    EXPECT_EQ(user, status.st_gid) << mask;  // nobody's own group
    EXPECT_EQ(0640u, status.st_mode & 0777) << mask;
    // The lock file: its owner and group alone may open it.
    ASSERT_EQ(0, stat((dir / lock_name).c_str(), &status));
    EXPECT_EQ(0660u, status.st_mode & 0777) << mask;
    if (acl) {
      EXPECT_GT(0, getxattr((dir / lock_name).c_str(),
                            "system.posix_acl_access", nullptr, 0));
    }
    ASSERT_EQ(0, chmod(dir.path.c_str(), 0777));  // for the list, as root
    write_file(dir / "map_list.cfg", "charlie 1");
    run_in(dir.path, {}, user);
    EXPECT_NE(std::string::npos,
              read_file(dir / "SW_rotate.cfg").find("map charlie"))
        << mask;
  }
}

TEST(Program, AFullDiskLeavesTheOldScriptOrTheWholeNewOne) {
  SKIP_WITHOUT_POSIX_MEANING("Mounting a small disk");
  scratch_dir dir;
  if (geteuid() != 0 ||
      mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=16k,mode=0755") != 0)
    GTEST_SKIP() << "needs root, to mount a small disk";
  const std::string old_script = script_file_of({"a", "b", "c"}, "vstr SW1");
  std::string long_list;
  for (int i = 0; i < 30; ++i) long_list += "map" + std::to_string(i) + " 1 ";
  // A script that needs more room than is left, then one that fits.
  for (const std::string& list : {long_list, std::string(alpha_bravo_list)}) {
    write_file(dir / "map_list.cfg", list);
    write_file(dir / "SW_rotate.cfg", old_script);
    {
      std::ofstream filler(dir / "filler", std::ios::binary);
      filler << std::string(64 << 10, 'f');  // as much as fits
    }
    run_in(dir.path);
    const std::string now = read_file(dir / "SW_rotate.cfg");
    EXPECT_EQ(list == long_list ? old_script : alpha_bravo_script, now);
    // Now the script in place is the new one: nothing to change, and the
    // check says so, as what the run decided.
    if (list != long_list) {
      const outcome checked = check_in(dir.path, {});
      EXPECT_EQ(0, checked.status) << checked.out;
      EXPECT_NE(std::string::npos, checked.out.find("changes nothing"))
          << checked.out;
    }
    fs::remove(dir / "filler");
  }
  // The server's user's folder: a script with a second name (an operator's
  // cp -al backup) is never written through, so both stay as they were.
  const uid_t user = unprivileged_user();
  write_file(dir / "SW_rotate.cfg", old_script);
  fs::create_hard_link(dir / "SW_rotate.cfg", dir / "backup.cfg");
  for (const char* name : {"", "SW_rotate.cfg", "map_list.cfg"})
    ASSERT_EQ(0, chown((dir / name).c_str(), user, user));
  {
    std::ofstream filler(dir / "filler", std::ios::binary);
    filler << std::string(64 << 10, 'f');
  }
  run_in(dir.path, {}, 0, root_files_group);
  EXPECT_EQ(old_script, read_file(dir / "SW_rotate.cfg"));
  EXPECT_EQ(old_script, read_file(dir / "backup.cfg"));
  umount(dir.path.c_str());
}

}  // namespace
