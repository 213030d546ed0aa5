#include "generator_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

/// The file step a test breaks.
enum class step { none, create_beside, write, flush, close, replace, in_place };

/// The real disk with one step made to fail, as a full or failing disk would.
struct failing_disk : system_disk {
  explicit failing_disk(step broken, int failing_write = 1)
      : broken(broken), failing_write(failing_write) {}

  std::FILE* create_beside(const std::string& path,
                           std::string* created) override {
    if (broken == step::create_beside || broken == step::in_place)
      return nullptr;
    return output = system_disk::create_beside(path, created);
  }
  std::FILE* open_for_writing(const std::string& path) override {
    if (broken == step::in_place) return nullptr;
    return output = system_disk::open_for_writing(path);
  }
  bool write(std::FILE* file, std::string_view bytes) override {
    ++writes;
    if (broken == step::write && writes == failing_write) {
      // A disk that fills up mid-write stores part of the piece.
      system_disk::write(file, bytes.substr(0, bytes.size() / 2));
      return false;
    }
    return system_disk::write(file, bytes);
  }
  bool flush(std::FILE* file) override {
    return system_disk::flush(file) && broken != step::flush;
  }
  bool close(std::FILE* file) override {
    return system_disk::close(file) &&
           !(broken == step::close && file == output);
  }
  bool replace(const std::string& from, const std::string& to) override {
    return broken != step::replace && system_disk::replace(from, to);
  }

  step broken;
  int failing_write;
  int writes = 0;
  std::FILE* output = nullptr;
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

  scratch_dir dir;
  std::filesystem::path previous_dir;
};

TEST_F(GeneratorRun, WritesTheScriptThroughTheDisk) {
  write_file("map_list.cfg", "alpha 1\r\nbravo 0\r\ncharlie -1\r\n");
  failing_disk disk(step::none);
  run(disk);
  EXPECT_EQ(alpha_bravo_script, read_file("SW_rotate.cfg"));
  EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "map_list.cfg"}),
            file_names("."));
}

TEST_F(GeneratorRun, AnyFailingStepLeavesThePreviousScriptAsItWas) {
  // Enough maps that the script goes out in several pieces.
  std::string list;
  for (int i = 0; i < 10000; ++i) list += "map" + std::to_string(i) + " 1\n";
  const std::string previous = "previous script, byte for byte\r\n";
  struct failure {
    step broken;
    int failing_write;
  };
  for (const failure& f :
       {failure{step::write, 1}, failure{step::write, 2},
        failure{step::flush, 0}, failure{step::close, 0},
        failure{step::replace, 0}, failure{step::in_place, 0}}) {
    write_file("map_list.cfg", list);
    write_file("SW_rotate.cfg", previous);
    failing_disk disk(f.broken, f.failing_write);
    run(disk);
    EXPECT_EQ(previous, read_file("SW_rotate.cfg"))
        << "step " << static_cast<int>(f.broken) << " write "
        << f.failing_write;
    EXPECT_EQ(std::vector<std::string>({"SW_rotate.cfg", "map_list.cfg"}),
              file_names("."))
        << "step " << static_cast<int>(f.broken);
  }
}

TEST_F(GeneratorRun, WritesInPlaceWhenNoFileCanBeCreatedBesideIt) {
  write_file("map_list.cfg", "alpha 1 bravo 0 charlie -1");
  write_file("SW_rotate.cfg", "previous");
  failing_disk disk(step::create_beside);
  run(disk);
  EXPECT_EQ(alpha_bravo_script, read_file("SW_rotate.cfg"));
}

TEST_F(GeneratorRun, WithoutMapListTheScriptIsTheFinalLine) {
  write_file("SW_rotate.cfg", "a longer previous script");
  failing_disk disk(step::none);
  run(disk);
  EXPECT_EQ("vstr SW1", read_file("SW_rotate.cfg"));
}

}  // namespace
