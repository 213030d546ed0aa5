#include "disk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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
}

TEST(SystemDisk, WritableMeansARegularFileWithAWriteBit) {
  scratch_dir dir;
  system_disk disk;
  EXPECT_EQ(missing, disk.writable(dir / "missing"));
  EXPECT_EQ(failed, disk.writable(dir.path));
  write_file(dir / "present", "kept");
  EXPECT_EQ(done, disk.writable(dir / "present"));
  EXPECT_EQ("kept", read_file(dir / "present"));  // asking changes nothing
  // Without any write permission a file is read-only, even to root.
  fs::permissions(dir / "present", fs::perms::owner_read);
  EXPECT_EQ(failed, disk.writable(dir / "present"));
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

  EXPECT_EQ(done, disk.copy_file(dir / "script", dir / "kept"));
  EXPECT_EQ(exists, disk.copy_file(dir / "script", dir / "kept"));
  EXPECT_EQ(missing, disk.copy_file(dir / "missing", dir / "other"));
  EXPECT_EQ(done, disk.make_durable({(dir / "new").string(), dir.path}));
  EXPECT_EQ(done, disk.replace(dir / "new", dir / "script"));
  EXPECT_EQ("fresh", read_file(dir / "script"));
  EXPECT_EQ("old", read_file(dir / "kept"));  // the copy outlives it
  EXPECT_EQ(missing, disk.replace(dir / "new", dir / "script"));
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
}

TEST(SystemDisk, FollowsOnlyLinksOfThisUserOrTheFoldersOwner) {
  scratch_dir dir;
  system_disk disk;
  fs::create_symlink("b", dir / "a");
  fs::create_symlink("sub/c", dir / "b");
  std::string target;
  EXPECT_EQ(disk_result::done, disk.follow_link(dir / "a", &target));
  EXPECT_EQ((dir / "sub/c").string(), target);
  EXPECT_EQ(disk_result::done, disk.follow_link(dir / "plain", &target));
  EXPECT_EQ((dir / "plain").string(), target);
  if (geteuid() != 0) GTEST_SKIP() << "only root may plant another's link";
  // A link of another user, in a folder of this one, leads nowhere.
  ASSERT_EQ(0, lchown((dir / "b").c_str(), 65534, 65534));
  EXPECT_EQ(disk_result::failed, disk.follow_link(dir / "a", &target));
  // In that user's own folder, it is followed.
  ASSERT_EQ(0, chown(dir.path.c_str(), 65534, 65534));
  EXPECT_EQ(disk_result::done, disk.follow_link(dir / "a", &target));
}

TEST(SystemDisk, AFolderIsHeldByOneRunAtATime) {
  scratch_dir dir;
  system_disk holder;
  EXPECT_EQ(disk_result::failed, holder.try_lock(dir / "missing" / "list"));
  ASSERT_EQ(disk_result::done, holder.try_lock(dir / "list"));
  // Another process finds the folder held, at once, until the holder lets go.
  const auto other_tries = [&] {
    const pid_t other = fork();
    if (other == 0) {
      // The copy of the holder's descriptor would keep its lock alive.
      close(static_cast<int>(holder.locked));
      system_disk disk;
      _exit(static_cast<int>(disk.try_lock((dir / "other").string())));
    }
    int status = 0;
    waitpid(other, &status, 0);
    return static_cast<disk_result>(WEXITSTATUS(status));
  };
  EXPECT_EQ(disk_result::busy, other_tries());
  holder.unlock();
  EXPECT_EQ(disk_result::done, other_tries());
}

}  // namespace
