#include "generator_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "rotation_script.h"
#include "scratch_dir.h"

namespace {

/// The file step a test breaks.
enum class step {
  none,
  create_beside,
  write,
  flush,
  close,
  keep_copy,
  replace
};

const char* const step_names[] = {"none",  "create_beside", "write",  "flush",
                                  "close", "keep_copy",     "replace"};

/// Thrown where a run is killed: it ends the run on the spot.
struct killed_run {};

/// The real disk with one step made to fail, as a full or failing disk, or
/// a program holding a file, would: calls `nth` to `nth` + `times` - 1 of
/// that step fail with `how`. A `killing` disk ends the run there instead,
/// as a kill would: the system closes its files and lets go of its lock.
struct failing_disk : system_disk {
  explicit failing_disk(step broken = step::none, int nth = 1, int times = 1,
                        file_result how = file_result::failed)
      : broken(broken), nth(nth), times(times), how(how) {}

  bool fails(step s) {
    const int call = ++calls[s];
    const bool failing = s == broken && call >= nth && call < nth + times;
    if (failing && killing) {
      for (std::FILE* file : open_files) std::fclose(file);
      unlock();
      throw killed_run{};
    }
    return failing;
  }

  bool can_write(const std::string& path) override {
    return std::filesystem::path(path).filename() != unwritable &&
           system_disk::can_write(path);
  }
  std::FILE* create_beside(const std::string& path,
                           std::string* created) override {
    if (fails(step::create_beside) || no_room) return nullptr;
    std::FILE* file = system_disk::create_beside(path, created);
    if (file) open_files.insert(file);
    return file;
  }
  bool keep_copy(const std::string& path, std::string* copy) override {
    return !fails(step::keep_copy) && system_disk::keep_copy(path, copy);
  }
  std::FILE* open_for_writing(const std::string& path) override {
    return no_room ? nullptr : system_disk::open_for_writing(path);
  }
  bool write(std::FILE* file, std::string_view bytes) override {
    if (fails(step::write)) {
      // A disk that fills up mid-write stores part of the file.
      system_disk::write(file, bytes.substr(0, bytes.size() / 2));
      return false;
    }
    return system_disk::write(file, bytes);
  }
  bool flush(std::FILE* file) override {
    return system_disk::flush(file) && !fails(step::flush);
  }
  bool close(std::FILE* file) override {
    open_files.erase(file);
    return system_disk::close(file) && !fails(step::close);
  }
  file_result replace(const std::string& from, const std::string& to) override {
    return fails(step::replace) ? how : system_disk::replace(from, to);
  }
  void pause(unsigned ms) override { paused_ms += ms; }

  step broken;
  int nth, times;
  file_result how;
  std::map<step, int> calls;
  std::string unwritable;
  bool no_room = false;
  bool killing = false;
  std::set<std::FILE*> open_files;
  unsigned paused_ms = 0;
};

/// Runs the generator in a scratch directory that is the working directory
/// for the test's duration.
class GeneratorRun : public ::testing::Test {
 protected:
  GeneratorRun() : previous_dir(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.path);
  }
  ~GeneratorRun() override { std::filesystem::current_path(previous_dir); }

  /// Runs with `disk`; expects exit status 0 and nothing printed.
  void run(disk_interface& disk) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, run_generator(disk));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
  }

  /// A map list of `maps` maps, and an earlier rotation of `parts` files.
  void prepare(int maps, int parts) {
    for (const std::string& name : file_names(".")) std::remove(name.c_str());
    std::string list;
    for (int i = 0; i < maps; ++i) list += "map" + std::to_string(i) + " 1\n";
    write_file("map_list.cfg", list);
    previous = {{"map_list.cfg", list}};
    for (int part = 1; part <= parts; ++part) {
      const std::string name = rotation_script_file(part);
      previous[name] = "earlier part " + std::to_string(part) + "\r\n";
      write_file(name, previous[name]);
    }
  }

  /// Whether the folder holds exactly what prepare() left.
  bool unchanged() {
    std::map<std::string, std::string> now;
    for (const std::string& name : file_names(".")) now[name] = read_file(name);
    return now == previous;
  }

  scratch_dir dir;
  std::filesystem::path previous_dir;
  std::map<std::string, std::string> previous;
};

TEST_F(GeneratorRun, WritesTheScriptThroughTheDisk) {
  write_file("map_list.cfg", "alpha 1\r\nbravo 0\r\ncharlie -1\r\n");
  failing_disk disk;
  run(disk);
  EXPECT_EQ(alpha_bravo_script, read_file("SW_rotate.cfg"));
  EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "map_list.cfg"}),
            file_names("."));
}

TEST_F(GeneratorRun, PartsALongerRotationHadStepBackToTheStart) {
  prepare(100, 5);
  failing_disk disk;
  run(disk);
  EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "SW_rotate2.cfg",
                                      "SW_rotate3.cfg", "SW_rotate4.cfg",
                                      "SW_rotate5.cfg", "map_list.cfg"}),
            file_names("."));
  EXPECT_NE(
      std::string::npos,
      read_file("SW_rotate3.cfg").find("exec SW_rotate.cfg\"\r\nvstr SW1"));
  // A part that steps back already is left as it is.
  write_file("map_list.cfg", "alpha 1");
  failing_disk shorter;
  run(shorter);
  EXPECT_EQ(3, shorter.calls[step::create_beside]);
  for (const char* part :
       {"SW_rotate2.cfg", "SW_rotate3.cfg", "SW_rotate4.cfg", "SW_rotate5.cfg"})
    EXPECT_EQ("exec SW_rotate.cfg", read_file(part)) << part;
}

TEST_F(GeneratorRun, AnyFailingStepLeavesEveryPreviousFileAsItWas) {
  // A longer rotation than the earlier one (a new file to place) and a
  // shorter one (a part to remove); every call of every step fails in turn.
  // A run killed there instead leaves files that the next run removes.
  for (const auto& [maps, parts] : {std::pair{130, 3}, std::pair{60, 3}}) {
    prepare(maps, parts);
    failing_disk counting;
    run(counting);
    const std::vector<std::string> whole = file_names(".");
    for (const step broken : {step::create_beside, step::write, step::flush,
                              step::close, step::keep_copy, step::replace}) {
      ASSERT_GT(counting.calls[broken], 0) << step_names[int(broken)];
      for (int nth = 1; nth <= counting.calls[broken]; ++nth) {
        const std::string what = std::to_string(maps) + " maps, " +
                                 step_names[int(broken)] + " call " +
                                 std::to_string(nth);
        prepare(maps, parts);
        failing_disk disk(broken, nth);
        run(disk);
        EXPECT_TRUE(unchanged()) << what;
        failing_disk killer(broken, nth), next;
        killer.killing = true;
        EXPECT_THROW(run_generator(killer), killed_run) << what;
        run(next);
        EXPECT_EQ(whole, file_names(".")) << what << ", killed";
      }
    }
  }
}

TEST_F(GeneratorRun, AnUnwritablePartFreezesTheRotation) {
  for (const char* part :
       {"SW_rotate.cfg", "SW_rotate2.cfg", "SW_rotate3.cfg"}) {
    for (const int maps : {100, 40}) {  // a part to replace, or to remove
      prepare(maps, 3);
      failing_disk disk;
      disk.unwritable = part;
      run(disk);
      EXPECT_TRUE(unchanged()) << part << ", " << maps << " maps";
    }
  }
}

TEST_F(GeneratorRun, AFileHeldForAMomentIsTriedAgain) {
  prepare(100, 1);
  failing_disk held(step::replace, 1, 2, file_result::busy);
  run(held);
  EXPECT_EQ(3u, held.paused_ms);  // 1 ms, then 2 ms
  EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "SW_rotate2.cfg",
                                      "SW_rotate3.cfg", "map_list.cfg"}),
            file_names("."));

  // Held for good: after about two seconds the run gives up as on a failure.
  // The held file is the second to be placed; the first then goes back.
  prepare(100, 3);
  failing_disk stuck(step::replace, 2, 12, file_result::busy);
  run(stuck);
  EXPECT_TRUE(unchanged());
  EXPECT_GE(stuck.paused_ms, 2000u);
  EXPECT_LE(stuck.paused_ms, 2100u);
}

TEST_F(GeneratorRun, WritesInPlaceWhenNoFileCanBeCreatedBesideIt) {
  write_file("map_list.cfg", "alpha 1 bravo 0 charlie -1");
  write_file("SW_rotate.cfg", "previous");
  failing_disk disk(step::create_beside);
  run(disk);
  EXPECT_EQ(alpha_bravo_script, read_file("SW_rotate.cfg"));
  // Neither beside it nor in place: the script stays as it was.
  write_file("SW_rotate.cfg", "previous");
  failing_disk full;
  full.no_room = true;
  run(full);
  EXPECT_EQ("previous", read_file("SW_rotate.cfg"));
}

TEST_F(GeneratorRun, WithoutMapListTheScriptIsTheFinalLine) {
  prepare(0, 4);
  std::remove("map_list.cfg");
  failing_disk disk;
  run(disk);
  EXPECT_EQ("vstr SW1", read_file("SW_rotate.cfg"));
  EXPECT_EQ("exec SW_rotate.cfg", read_file("SW_rotate4.cfg"));
}

}  // namespace
