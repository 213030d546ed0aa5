#include "disk.h"

#include <gtest/gtest.h>

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
  EXPECT_FALSE(disk.can_write(dir.path));
  write_file(dir / "present", "kept");
  EXPECT_TRUE(disk.can_write(dir / "present"));
  EXPECT_EQ("kept", read_file(dir / "present"));  // checking changes nothing
}

TEST(SystemDisk, CreatesUniqueFilesBesideKeepingPermissions) {
  scratch_dir dir;
  system_disk disk;
  write_file(dir / "script", "old");
  fs::permissions(dir / "script", fs::perms::owner_read |
                                      fs::perms::owner_write |
                                      fs::perms::others_read);
  std::string first, second;
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
  EXPECT_TRUE(disk.replace(first, dir / "script"));
  EXPECT_EQ("new", read_file(dir / "script"));
  disk.remove(second);
  EXPECT_EQ(std::vector<std::string>({"script"}), file_names(dir.path));
}

}  // namespace
