#include "disk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr disk_result done = disk_result::done, missing = disk_result::missing,
                      exists = disk_result::exists,
                      failed = disk_result::failed;

TEST(SystemDisk, ReadsRegularFilesByteForByteAndNothingElse) {
  scratch_dir dir;
  const std::string bytes =
      std::string("a 1\r\n\x1a\0\xff b 2", 12) + std::string(200000, 'x');
  write_file(dir / "list", bytes);
  system_disk disk;
  std::string contents;
  EXPECT_EQ(done, disk.read_file(dir / "list", &contents));
  EXPECT_EQ(bytes, contents);
  EXPECT_EQ(missing, disk.read_file(dir / "missing", &contents));
  EXPECT_EQ(failed, disk.read_file(dir.path, &contents));  // a folder
  ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
  EXPECT_EQ(failed, disk.read_file(dir / "pipe", &contents));  // no wait
  // A range of it, through a link as the game opens its archives, and
  // only that: none past the end, nothing from a folder or a pipe.
  fs::create_symlink("list", dir / "link");
  std::uint64_t size = 0;
  EXPECT_EQ(done, disk.read_range(dir / "link", 9, 5, &contents, &size));
  EXPECT_EQ(bytes.substr(9, 5), contents);
  EXPECT_EQ(bytes.size(), size);
  EXPECT_EQ(done, disk.read_range(dir / "list", size - 2, 5, &contents, &size));
  EXPECT_EQ("xx", contents);
  EXPECT_EQ(done, disk.read_range(dir / "list", size + 9, 5, &contents, &size));
  EXPECT_EQ("", contents);
  EXPECT_EQ(missing, disk.read_range(dir / "none", 0, 1, &contents, &size));
  EXPECT_EQ(failed, disk.read_range(dir.path, 0, 1, &contents, &size));
  EXPECT_EQ(failed, disk.read_range(dir / "pipe", 0, 1, &contents, &size));
  EXPECT_FALSE(disk.failure_reason().empty());
}

/// What look() finds at `path`, as "found regular write_flags may_write
/// alone".
std::string facts_of(const std::string& path) {
  system_disk disk;
  std::string target;
  file_facts facts;
  EXPECT_EQ(done, disk.look(path, &target, &facts));
  return std::to_string(static_cast<int>(facts.found)) + " " +
         std::to_string(facts.regular) + " " +
         std::to_string(facts.write_flags) + " " +
         std::to_string(facts.may_write) + " " + std::to_string(facts.alone);
}

TEST(SystemDisk, LooksAtAFileWithoutChangingIt) {
  scratch_dir dir;
  EXPECT_EQ("1 0 0 0 0", facts_of(dir / "missing"));
  EXPECT_EQ("0 0 1 1 0", facts_of(dir.path));  // a folder
  write_file(dir / "present", "kept");
  EXPECT_EQ("0 1 1 1 1", facts_of(dir / "present"));
  fs::create_hard_link(dir / "present", dir / "second name");
  EXPECT_EQ("0 1 1 1 0", facts_of(dir / "present"));
  fs::remove(dir / "second name");
  EXPECT_EQ("kept", read_file(dir / "present"));
  // Without any write permission: no write flags, whoever may write it.
  fs::permissions(dir / "present", fs::perms::owner_read);
  EXPECT_EQ("0 1 0", facts_of(dir / "present").substr(0, 5));
}

TEST(SystemDisk, WritesNewFilesLikeAnotherAndReplacesThem) {
  scratch_dir dir;
  system_disk disk;
  write_file(dir / "script", "old");
  const auto mode =
      fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  fs::permissions(dir / "script", mode);
  // Root gives the new file the owner and group of the one it replaces.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown((dir / "script").c_str(), 65534, 65534));
  }
  EXPECT_EQ(done, disk.write_new(dir / "new", "fresh", dir / "script"));
  EXPECT_EQ(exists, disk.write_new(dir / "new", "again", dir / "script"));
  EXPECT_EQ("fresh", read_file(dir / "new"));
  EXPECT_EQ(mode, fs::status(dir / "new").permissions());
  struct stat status;
  ASSERT_EQ(0, stat((dir / "new").c_str(), &status));
  if (root) {
    EXPECT_EQ(65534u, status.st_uid);
    EXPECT_EQ(65534u, status.st_gid);
  }
  EXPECT_EQ(missing, disk.write_new(dir / "no" / "such", "x", dir / "script"));

  EXPECT_EQ(done, disk.hard_link(dir / "script", dir / "kept"));
  EXPECT_EQ(exists, disk.hard_link(dir / "script", dir / "kept"));
  EXPECT_EQ(missing, disk.hard_link(dir / "missing", dir / "other"));
  EXPECT_EQ(done, disk.sync({(dir / "new").string(), dir.path}));
  EXPECT_EQ(done, disk.rename(dir / "new", dir / "script"));
  EXPECT_EQ("fresh", read_file(dir / "script"));
  EXPECT_EQ("old", read_file(dir / "kept"));  // the second name outlives it
  EXPECT_EQ(missing, disk.rename(dir / "new", dir / "script"));
  EXPECT_EQ(failed, disk.rename(dir / "kept", dir.path));  // onto a folder
  EXPECT_EQ(done, disk.remove(dir / "kept"));
  EXPECT_EQ(missing, disk.remove(dir / "kept"));
  std::vector<std::string> names;
  EXPECT_EQ(done, disk.list_folder(dir.path, &names));
  EXPECT_EQ(std::vector<std::string>({".", "..", "script"}),
            (std::sort(names.begin(), names.end()), names));
}

TEST(SystemDisk, WritesInPlaceWithoutEmptyingFirst) {
  scratch_dir dir;
  system_disk disk;
  write_file(dir / "script", "a longer previous script");
  EXPECT_EQ(done, disk.write_in_place(dir / "script", "short"));
  EXPECT_EQ("short", read_file(dir / "script"));
  EXPECT_EQ(missing, disk.write_in_place(dir / "missing", "x"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  // Never through a second name, nor into another user's file.
  fs::create_hard_link(dir / "script", dir / "backup");
  EXPECT_EQ(failed, disk.write_in_place(dir / "script", "through"));
  EXPECT_EQ("short", read_file(dir / "backup"));
  fs::remove(dir / "backup");
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown((dir / "script").c_str(), 65534, 65534));
    EXPECT_EQ(failed, disk.write_in_place(dir / "script", "given away"));
    EXPECT_EQ("short", read_file(dir / "script"));
  }
}

TEST(SystemDisk, FollowsOnlyLinksOfThisUserOrTheFoldersOwner) {
  scratch_dir dir;
  system_disk disk;
  fs::create_symlink("b", dir / "a");
  fs::create_symlink("sub/c", dir / "b");
  std::string target;
  file_facts facts;
  EXPECT_EQ(done, disk.look(dir / "a", &target, &facts));
  EXPECT_EQ((dir / "sub/c").string(), target);
  EXPECT_EQ(done, disk.look(dir / "plain", &target, &facts));
  EXPECT_EQ((dir / "plain").string(), target);
  if (geteuid() != 0) GTEST_SKIP() << "only root may plant another's link";
  // A link of another user, in a folder of this one, leads nowhere.
  ASSERT_EQ(0, lchown((dir / "b").c_str(), 65534, 65534));
  EXPECT_EQ(failed, disk.look(dir / "a", &target, &facts));
  // In that user's own folder, it is followed.
  ASSERT_EQ(0, chown(dir.path.c_str(), 65534, 65534));
  EXPECT_EQ(done, disk.look(dir / "a", &target, &facts));
}

TEST(SystemDisk, ALockFileIsHeldByOneRunAtATimeForABoundedWait) {
  scratch_dir dir;
  system_disk disk;
  std::unique_ptr<disk_lock> held;
  EXPECT_EQ(missing, disk.lock(dir / "missing" / "lock", 0, &held));
  fs::create_directory(dir / "folder");
  EXPECT_EQ(failed, disk.lock(dir / "folder", 0, &held));
  fs::create_symlink("elsewhere", dir / "link");
  EXPECT_EQ(failed, disk.lock(dir / "link", 0, &held));
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  // Made for its owner and group alone, whatever the umask.
  const mode_t was = umask(0);
  ASSERT_EQ(done, disk.lock(dir / "lock", 0, &held));
  umask(was);
  EXPECT_EQ(fs::perms(0660), fs::status(dir / "lock").permissions());
  // Another open of it finds it held, for as long as it waits, until the
  // holder lets go; a lock on the folder holds no run up.
  std::unique_ptr<disk_lock> other;
  EXPECT_EQ(disk_result::busy, disk.lock(dir / "lock", 0, &other));
  EXPECT_EQ(disk_result::busy, disk.lock(dir / "lock", 200, &other));
  EXPECT_EQ("held by another run for the whole wait", disk.failure_reason());
  held.reset();
  const int folder = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(0, flock(folder, LOCK_EX));
  EXPECT_EQ(done, disk.lock(dir / "lock", 0, &other));
  close(folder);
}

}  // namespace
