#include "check/dry_disk.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "walk/folder_walk.h"

namespace fs = std::filesystem;

namespace {

/// One call a run makes that changes the disk, on names of one folder.
struct call {
  enum { write_new, write_in_place, hard_link, rename, exchange, remove } what;
  std::string name, other;
  std::size_t bytes = 0;
};

/// Makes `call` on `disk` in `at`, and says what it answered.
std::string answer(disk_interface& disk, const disk_folder& at,
                   const call& made) {
  const std::string bytes(made.bytes, 'x');
  disk_status status;
  switch (made.what) {
    case call::write_new:
      status = disk.write_new(at, made.name, bytes, nullptr);
      break;
    case call::write_in_place:
      status = disk.write_in_place(at, made.name, bytes);
      break;
    case call::hard_link:
      status = disk.hard_link(at, made.name, made.other);
      break;
    case call::rename:
      status = disk.rename(at, made.name, made.other);
      break;
    case call::exchange:
      status = disk.exchange(at, made.name, made.other);
      break;
    case call::remove:
      status = disk.remove(at, made.name);
      break;
  }
  return std::to_string(static_cast<int>(status.result)) + " " + status.reason;
}

/// What a run finds in a folder: a file of its own, one with two names, a
/// folder and a link, where the file system has them.
void furnish(const fs::path& dir) {
  std::error_code ignored;
  write_file(dir / "own", "own");
  write_file(dir / "twice", "twice");
  fs::create_hard_link(dir / "twice", dir / "twice2", ignored);
  fs::create_directory(dir / "folder");
  fs::create_symlink("own", dir / "link", ignored);
}

/// Mounts a small file system of `type` on `dir`: tmpfs, or a FAT image
/// by loop. False where this machine or user can't.
bool mount_small(const std::string& type, const fs::path& dir,
                 const fs::path& image) {
  if (geteuid() != 0) return false;
  if (type == "tmpfs")
    return mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,nr_inodes=24") ==
           0;
  const std::string made =
      "dd if=/dev/zero of='" + image.string() +
      "' bs=1k count=256 2>/dev/null && mkfs.vfat '" + image.string() +
      "' >/dev/null 2>&1 && mount -o loop '" + image.string() + "' '" +
      dir.string() + "' 2>/dev/null";
  return std::system(made.c_str()) == 0;
}

TEST(DryDisk, AnswersEveryCallAsTheRealDiskDoes) {
  // The calls of a run, on the file system of a scratch folder, a full
  // one and one without hard links or swaps (FAT). A swap the real disk
  // makes is the one answer a dry disk can't give without swapping: it is
  // asked only where it fails.
  std::vector<call> calls = {
      {call::write_new, "a", "", 3000},
      {call::write_new, "a", "", 10},
      {call::hard_link, "own", "own2", 0},
      {call::hard_link, "missing", "m2", 0},
      {call::hard_link, "a", "own", 0},
      {call::write_in_place, "own", "", 8},
      {call::write_in_place, "twice", "", 8},
      {call::write_in_place, "folder", "", 8},
      {call::write_in_place, "link", "", 8},
      {call::write_in_place, "missing", "", 8},
      {call::rename, "a", "b", 0},
      {call::exchange, "b", "missing", 0},
      {call::remove, "missing", "", 0},
      {call::remove, "b", "", 0},
  };
  for (int i = 0; i < 12; ++i)
    calls.push_back({call::write_new, "f" + std::to_string(i), "", 8192});
  int tried = 0;
  for (const std::string type : {"", "tmpfs", "vfat"}) {
    scratch_dir dir, images;
    const fs::path image = images / "fat.img";
    if (!type.empty() && !mount_small(type, dir.path, image))
      continue;  // the scratch folder's file system alone
    ++tried;
    fs::create_directory(dir / "real");
    fs::create_directory(dir / "dry");
    furnish(dir / "real");
    furnish(dir / "dry");
    system_disk disk;
    folder_trail here;
    ASSERT_TRUE(working_trail(disk, &here).ok());
    const disk_folder real =
        walk(disk, here, (dir / "real").string(), link_rule::any, true)
            .trail.back();
    const disk_folder pretended =
        walk(disk, here, (dir / "dry").string(), link_rule::any, true)
            .trail.back();
    // The dry disk first: it asks the room left before the real calls
    // take any.
    dry_disk dry(disk);
    std::vector<std::string> dry_answers;
    for (const call& made : calls)
      dry_answers.push_back(answer(dry, pretended, made));
    for (std::size_t i = 0; i < calls.size(); ++i)
      EXPECT_EQ(answer(disk, real, calls[i]), dry_answers[i])
          << (type.empty() ? "scratch" : type) << ", call " << i << " on "
          << calls[i].name;
    if (!type.empty()) umount(dir.path.c_str());
    fs::remove(image);
  }
  EXPECT_GE(tried, 1);
}

}  // namespace
