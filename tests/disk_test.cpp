#include "disk.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(SystemDisk, ReadsFilesByteForByte) {
  scratch_dir dir;
  const std::string bytes("a 1\r\n\x1a\0\xff b 2", 12);
  write_file(dir / "list", bytes + std::string(200000, 'x'));
  system_disk disk;
  std::string contents;
  EXPECT_TRUE(disk.read_file(dir / "list", &contents));
  EXPECT_EQ(bytes + std::string(200000, 'x'), contents);
  EXPECT_FALSE(disk.read_file(dir / "missing", &contents));
  EXPECT_FALSE(disk.read_file(dir.path, &contents));  // a directory
}

TEST(SystemDisk, CanWriteMissingOrWritableFilesOnly) {
  scratch_dir dir;
  system_disk disk;
  EXPECT_TRUE(disk.can_write(dir / "missing"));
  EXPECT_FALSE(disk.exists(dir / "missing"));
  EXPECT_FALSE(disk.can_write(dir.path));
  write_file(dir / "present", "kept");
  EXPECT_TRUE(disk.can_write(dir / "present"));
  EXPECT_TRUE(disk.exists(dir / "present"));
  EXPECT_EQ("kept", read_file(dir / "present"));  // checking changes nothing
  // Without any write permission a file is read-only, even to root.
  fs::permissions(dir / "present", fs::perms::owner_read);
  EXPECT_FALSE(disk.can_write(dir / "present"));
}

TEST(SystemDisk, CreatesUniqueFilesBesideKeepingPermissions) {
  scratch_dir dir;
  system_disk disk;
  write_file(dir / "script", "old");
  fs::permissions(dir / "script", fs::perms::owner_read |
                                      fs::perms::owner_write |
                                      fs::perms::others_read);
  std::string first, second, copy;
  std::FILE* a = disk.create_beside(dir / "script", &first);
  std::FILE* b = disk.create_beside(dir / "script", &second);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(first, second);
  EXPECT_EQ(dir.path, fs::path(first).parent_path());
  EXPECT_EQ(fs::status(dir / "script").permissions(),
            fs::status(first).permissions());
  EXPECT_TRUE(disk.write(a, "new") && disk.flush(a) && disk.close(a));
  EXPECT_TRUE(disk.close(b));
  ASSERT_TRUE(disk.keep_copy(dir / "script", &copy));
  EXPECT_EQ(file_result::done, disk.replace(first, dir / "script"));
  EXPECT_EQ("new", read_file(dir / "script"));
  EXPECT_EQ("old", read_file(copy));  // the copy outlives the replacement
  EXPECT_EQ(file_result::done, disk.remove(second));
  EXPECT_EQ(file_result::done, disk.remove(copy));
  EXPECT_EQ(file_result::failed, disk.remove(second));
  EXPECT_EQ(std::vector<std::string>({"script"}), file_names(dir.path));
}

TEST(SystemDisk, AFolderIsHeldByOneRunAtATime) {
  scratch_dir dir;
  system_disk holder;
  EXPECT_FALSE(holder.lock(dir / "missing" / "list"));
  ASSERT_TRUE(holder.lock(dir / "list"));
  // Another process waits for the lock: it is still waiting after a while,
  // and gets the lock once the holder lets go.
  const pid_t waiter = fork();
  if (waiter == 0) {
    // The copy of the holder's descriptor would keep its lock alive.
    close(static_cast<int>(holder.locked));
    system_disk other;
    _exit(other.lock((dir / "other").string()) ? 0 : 1);
  }
  usleep(200000);
  int status = 0;
  EXPECT_EQ(0, waitpid(waiter, &status, WNOHANG));
  holder.unlock();
  EXPECT_EQ(waiter, waitpid(waiter, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
