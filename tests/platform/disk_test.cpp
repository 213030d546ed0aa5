#include "platform/disk.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/user_database.h"
#ifdef __linux__
#include <linux/fs.h>
#endif

#include <filesystem>
#include <memory>
#include <string>

#include "support/scratch_dir.h"
#include "walk/folder_walk.h"

namespace fs = std::filesystem;

namespace {

constexpr disk_result done = disk_result::done, missing = disk_result::missing,
                      exists = disk_result::exists,
                      failed = disk_result::failed;

/// Folder `path`, held open by `disk` as a run holds its folders.
disk_folder folder_at(disk_interface& disk, const fs::path& path) {
  folder_trail here;
  EXPECT_TRUE(working_trail(disk, &here).ok());
  const walk_end end = walk(disk, here, path.string(), link_rule::any, true);
  EXPECT_EQ(walk_stop::reached, end.stop) << end.why;
  return end.trail.back();
}

/// The whole of `name` in `at`, or "(failed)".
std::string read_all(disk_interface& disk, const disk_folder& at,
                     const std::string& name) {
  std::string bytes;
  return read_whole(disk, at, name, &bytes).ok() ? bytes : "(failed)";
}

TEST(SystemDisk, ReadsRegularFilesThroughOneHandleAndNothingElse) {
  scratch_dir dir;
  const std::string bytes =
      std::string("a 1\r\n\x1a\0\xff b 2", 12) + std::string(200000, 'x');
  write_file(dir / "list", bytes);
  system_disk disk;
  const disk_folder at = folder_at(disk, dir.path);
  EXPECT_EQ(bytes, read_all(disk, at, "list"));
  std::unique_ptr<readable_file> file;
  EXPECT_EQ(missing, disk.open_file(at, "missing", &file));
  fs::create_directory(dir / "folder");
  EXPECT_EQ(failed, disk.open_file(at, "folder", &file));
  ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
  EXPECT_EQ(failed, disk.open_file(at, "pipe", &file));  // no wait
  // A link is walked, never opened.
  fs::create_symlink("list", dir / "link");
  EXPECT_EQ("a symbolic link", disk.open_file(at, "link", &file).reason);
  // A folder the disk didn't open is never looked up by its path.
  disk_folder by_path;
  by_path.path = dir.path.string();
  EXPECT_EQ(failed, disk.open_file(by_path, "list", &file));
  // Ranges of one file, and only those: none past the end. Every piece
  // comes from the file that was opened, whatever is put in its place.
  ASSERT_TRUE(disk.open_file(at, "list", &file).ok());
  EXPECT_EQ(bytes.size(), file->size);
  write_file(dir / "other", "replaced");
  fs::rename(dir / "other", dir / "list");
  std::string piece;
  EXPECT_EQ(done, file->read(9, 5, &piece));
  EXPECT_EQ(bytes.substr(9, 5), piece);
  EXPECT_EQ(done, file->read(file->size - 2, 5, &piece));
  EXPECT_EQ("xx", piece);
  EXPECT_EQ(done, file->read(file->size + 9, 5, &piece));
  EXPECT_EQ("", piece);
}

TEST(UserDatabase, ReadsARegularFileToItsBoundAndNothingElse) {
  scratch_dir dir;
  write_file(dir / "passwd", "gs:x:1000:1000::/home/gs:/bin/sh\n");
  EXPECT_EQ(read_file(dir / "passwd"),
            user_file_text((dir / "passwd").c_str()));
  // A named pipe no one writes, and a device that never ends: no wait, and
  // nothing read.
  ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0644));
  EXPECT_EQ("", user_file_text((dir / "pipe").c_str()));
  EXPECT_EQ("", user_file_text("/dev/zero"));
  EXPECT_EQ("", user_file_text((dir / "missing").c_str()));
}

/// What entry_facts() finds at `name` in `dir`, as "kind write_flags may_write
/// names".
std::string facts_of(const fs::path& dir, const std::string& name) {
  system_disk disk;
  file_facts facts;
  EXPECT_EQ(done, disk.entry_facts(folder_at(disk, dir), name, &facts));
  return std::to_string(static_cast<int>(facts.kind)) + " " +
         std::to_string(facts.write_flags()) + " " +
         std::to_string(facts.may_write) + " " +
         std::to_string(facts.link_count);
}

TEST(SystemDisk, LooksAtANameWithoutChangingOrFollowingIt) {
  scratch_dir dir;
  EXPECT_EQ("0 0 0 1", facts_of(dir.path, "missing"));
  fs::create_directory(dir / "folder");
  EXPECT_EQ("2 1 1", facts_of(dir.path, "folder").substr(0, 5));
  write_file(dir / "present", "kept");
  EXPECT_EQ("1 1 1 1", facts_of(dir.path, "present"));
  fs::create_hard_link(dir / "present", dir / "second name");
  EXPECT_EQ("1 1 1 2", facts_of(dir.path, "present"));
  fs::create_symlink("present", dir / "link");
  EXPECT_EQ("3", facts_of(dir.path, "link").substr(0, 1));
  // A link to a folder is never opened as one.
  fs::create_directory_symlink("folder", dir / "folder link");
  {
    system_disk disk;
    disk_folder opened;
    EXPECT_EQ(failed, disk.open_folder(folder_at(disk, dir.path), "folder link",
                                       &opened));
  }
  EXPECT_EQ("kept", read_file(dir / "present"));
  // Without any write permission: no write flags, whoever may write it.
  fs::permissions(dir / "present", fs::perms::owner_read);
  EXPECT_EQ("1 0", facts_of(dir.path, "present").substr(0, 3));
#ifdef __linux__
  // The append-only flag, where the file system has it and this user may
  // set it.
  const int fd = open((dir / "present").c_str(), O_RDONLY);
  int flags = FS_APPEND_FL;
  if (ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) {
    system_disk disk;
    file_facts facts;
    ASSERT_EQ(done,
              disk.entry_facts(folder_at(disk, dir.path), "present", &facts));
    EXPECT_TRUE(facts.append_only);
    flags = 0;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  close(fd);
#endif
}

TEST(SystemDisk, WritesNewFilesLikeAnotherAndReplacesThem) {
  scratch_dir dir;
  system_disk disk;
  const disk_folder at = folder_at(disk, dir.path);
  file_facts like;
  like.mode = 0604;
  // Root gives the new file the owner and group of the one it replaces.
  const bool root = geteuid() == 0;
  like.owner = root ? 65534 : geteuid();
  like.group = root ? 65533 : getegid();
  EXPECT_EQ(done, disk.write_new(at, "new", "fresh", &like));
  EXPECT_EQ(exists, disk.write_new(at, "new", "again", &like));
  EXPECT_EQ("fresh", read_file(dir / "new"));
  struct stat status;
  ASSERT_EQ(0, stat((dir / "new").c_str(), &status));
  EXPECT_EQ(0604u, status.st_mode & 07777);
  EXPECT_EQ(like.owner, status.st_uid);
  EXPECT_EQ(like.group, status.st_gid);
  // A file of its own: its owner reads and writes it, its group reads it,
  // and no one else, whatever the umask.
  for (const mode_t mask : {0000, 0077}) {
    const mode_t was = umask(mask);
    system_disk fresh;
    ASSERT_EQ(done,
              fresh.write_new(at, "own" + std::to_string(mask), "x", nullptr));
    umask(was);
    ASSERT_EQ(0, stat((dir / ("own" + std::to_string(mask))).c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 07777) << mask;
  }
  EXPECT_EQ(missing, disk.write_new(at, "no/such", "x", nullptr));

  write_file(dir / "script", "old");
  EXPECT_EQ(done, disk.hard_link(at, "script", "kept"));
  EXPECT_EQ(exists, disk.hard_link(at, "script", "kept"));
  EXPECT_EQ(missing, disk.hard_link(at, "missing", "other"));
  EXPECT_EQ(done, disk.sync(at, {"new", "."}));
  EXPECT_EQ(done, disk.rename(at, "new", "script"));
  EXPECT_EQ("fresh", read_file(dir / "script"));
  EXPECT_EQ("old", read_file(dir / "kept"));  // the second name outlives it
  EXPECT_EQ(missing, disk.rename(at, "new", "script"));
  fs::create_directory(dir / "folder");
  EXPECT_EQ(failed, disk.rename(at, "kept", "folder"));  // onto a folder
  // Two names swapped in one step, where the system can (Linux); the
  // names stay as they were where it can't, or one isn't there.
  const disk_status swapped = disk.exchange(at, "kept", "script");
#ifdef __linux__
  EXPECT_EQ(done, swapped);
#endif
  EXPECT_EQ(swapped.ok() ? "fresh" : "old", read_file(dir / "kept"));
  EXPECT_EQ(swapped.ok() ? "old" : "fresh", read_file(dir / "script"));
  EXPECT_FALSE(disk.exchange(at, "kept", "gone").ok());
  EXPECT_EQ(swapped.ok() ? "fresh" : "old", read_file(dir / "kept"));
  EXPECT_EQ(done, disk.remove(at, "kept"));
  EXPECT_EQ(missing, disk.remove(at, "kept"));
  std::vector<std::string> names;
  EXPECT_EQ(done, disk.list_folder(at, &names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::vector<std::string>({"folder", "own0", "own63", "script"}),
            names);
  disk_room room;
  EXPECT_EQ(done, disk.free_space(at, &room));
  EXPECT_GT(room.files, 0u);
}

TEST(SystemDisk, WritesInPlaceWithoutEmptyingFirst) {
  scratch_dir dir;
  system_disk disk;
  const disk_folder at = folder_at(disk, dir.path);
  write_file(dir / "script", "a longer previous script");
  EXPECT_EQ(done, disk.write_in_place(at, "script", "short"));
  EXPECT_EQ("short", read_file(dir / "script"));
  EXPECT_EQ(missing, disk.write_in_place(at, "missing", "x"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  // Never through a second name, nor into another user's file.
  fs::create_hard_link(dir / "script", dir / "backup");
  EXPECT_EQ(failed, disk.write_in_place(at, "script", "through"));
  EXPECT_EQ("short", read_file(dir / "backup"));
  fs::remove(dir / "backup");
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown((dir / "script").c_str(), 65534, 65534));
    EXPECT_EQ(failed, disk.write_in_place(at, "script", "given away"));
    EXPECT_EQ("short", read_file(dir / "script"));
  }
}

TEST(SystemDisk, AWalkFollowsOnlyLinksOfThisUserOrTheFoldersOwner) {
  scratch_dir dir;
  system_disk disk;
  fs::create_symlink("b", dir / "a");
  fs::create_symlink("sub/../sub/c", dir / "b");
  fs::create_directory(dir / "sub");
  folder_trail here;
  ASSERT_TRUE(working_trail(disk, &here).ok());
  const auto reached = [&](const std::string& name) {
    const walk_end end =
        walk(disk, here, (dir / name).string(), link_rule::own_or_folder_owner);
    return end.stop == walk_stop::reached
               ? shown_path(end.trail.back(), end.name)
               : "(" + end.why + ")";
  };
  EXPECT_EQ((dir / "sub/c").string(), reached("a"));
  EXPECT_EQ((dir / "plain").string(), reached("plain"));
  if (geteuid() != 0) GTEST_SKIP() << "only root may plant another's link";
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
  // As root, a folder of another user's stops the walk: the rest is theirs.
  ASSERT_EQ(0, chown((dir / "sub").c_str(), 65534, 65534));
  const walk_end theirs =
      walk(disk, here, (dir / "a").string(), link_rule::own_or_folder_owner);
  EXPECT_EQ(walk_stop::other_user, theirs.stop);
  EXPECT_EQ(65534u, theirs.owner);
  // As that user the walk goes on from where it stopped, by the handles
  // already held.
  const pid_t child = fork();
  if (child == 0) {
    if (!disk.give_up_root(65534, 65534).ok()) _exit(2);
    const walk_end own = walk_on(disk, theirs, link_rule::own_or_folder_owner);
    _exit(own.stop == walk_stop::reached && own.name == "c" ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status));
  ASSERT_EQ(0, lchown((dir / "a").c_str(), 65534, 65534));
  ASSERT_EQ(0, lchown((dir / "b").c_str(), 4242, 4242));
  ASSERT_EQ(0, chown((dir / "sub").c_str(), 0, 0));
  ASSERT_EQ(0, chown(dir.path.c_str(), 65534, 65534));
  const pid_t other = fork();
  if (other == 0) {
    if (!disk.give_up_root(65534, 65534).ok()) _exit(2);
    const walk_end planted =
        walk(disk, here, (dir / "a").string(), link_rule::own_or_folder_owner);
    _exit(planted.stop == walk_stop::failed &&
                  planted.why.find("which is not followed") != std::string::npos
              ? 0
              : 3);
  }
  waitpid(other, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(SystemDisk, HoldsTheWorkingFolderAndEveryFolderAboveIt) {
  system_disk disk;
  std::vector<disk_folder> trail;
  ASSERT_EQ(done, disk.working_folders(&trail));
  const fs::path here = fs::current_path();
  EXPECT_EQ(static_cast<std::size_t>(std::distance(here.begin(), here.end())),
            trail.size());
  EXPECT_EQ("/", trail.front().path);
  EXPECT_EQ(".", trail.back().path);
  struct stat root;
  ASSERT_EQ(0, stat("/", &root));
  EXPECT_EQ(root.st_uid, trail.front().facts.owner);
  EXPECT_EQ(file_kind::folder, trail.back().facts.kind);
}

TEST(SystemDisk, ALockFileIsHeldByOneRunAtATimeForABoundedWait) {
  scratch_dir dir;
  system_disk disk;
  const disk_folder at = folder_at(disk, dir.path);
  std::unique_ptr<disk_lock> held;
  fs::create_directory(dir / "folder");
  EXPECT_EQ(failed, disk.lock(at, "folder", 0, &held));
  fs::create_symlink("elsewhere", dir / "link");
  EXPECT_EQ(failed, disk.lock(at, "link", 0, &held));
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  // Another user's that others may open would let them hold runs up.
  if (geteuid() == 0) {
    write_file(dir / "theirs", "");
    ASSERT_EQ(0, chown((dir / "theirs").c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod((dir / "theirs").c_str(), 0644));
    EXPECT_EQ(failed, disk.lock(at, "theirs", 0, &held));
  }
  // Asked only: nothing is made, and no run holds it.
  EXPECT_EQ(done, disk.lock(at, "lock", 0, nullptr));
  EXPECT_FALSE(fs::exists(dir / "lock"));
  // Made for its owner and group alone, whatever the umask; a default ACL
  // of the folder (here: read for user 4242) gives it no entry beyond them.
  std::string acl("\x02\0\0\0", 4);
  for (const auto& [tag, perm, id] : {std::tuple{1, 7, -1},
                                      {2, 4, 4242},
                                      {4, 7, -1},
                                      {0x10, 7, -1},
                                      {0x20, 4, -1}}) {
    acl += std::string({static_cast<char>(tag), 0, static_cast<char>(perm), 0});
    for (int i = 0; i < 4; ++i) acl += static_cast<char>(id >> (8 * i));
  }
  const bool with_acl = setxattr(dir.path.c_str(), "system.posix_acl_default",
                                 acl.data(), acl.size(), 0) == 0;
  for (const mode_t mask : {0000, 0077}) {
    const mode_t was = umask(mask);
    const std::string name = "lock" + std::to_string(mask);
    ASSERT_EQ(done, disk.lock(at, name, 0, &held));
    umask(was);
    EXPECT_EQ(fs::perms(0660), fs::status(dir / name).permissions()) << mask;
    if (with_acl) {
      EXPECT_GT(0, getxattr((dir / name).c_str(), "system.posix_acl_access",
                            nullptr, 0))
          << mask;
    }
    held.reset();
  }
  ASSERT_EQ(done, disk.lock(at, "lock", 0, &held));
  // Another open of it finds it held, for as long as it waits, until the
  // holder lets go; asking holds nothing; a lock on the folder holds no run
  // up.
  std::unique_ptr<disk_lock> other;
  EXPECT_EQ(disk_result::busy, disk.lock(at, "lock", 0, &other));
  EXPECT_EQ(disk_result::busy, disk.lock(at, "lock", 0, nullptr));
  const disk_status waited = disk.lock(at, "lock", 200, &other);
  EXPECT_EQ(disk_result::busy, waited);
  EXPECT_EQ("held by another run for the whole wait", waited.reason);
  held.reset();
  EXPECT_EQ(done, disk.lock(at, "lock", 0, nullptr));
  const int folder = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(0, flock(folder, LOCK_EX));
  EXPECT_EQ(done, disk.lock(at, "lock", 0, &other));
  // Asked where no lock file is yet: the folder's lock only tells that the
  // file system takes locks; one held on it is no run's.
  EXPECT_EQ(done, disk.lock(at, "unmade", 0, nullptr));
  close(folder);
}

TEST(SystemDisk, GivesUpRootForGoodAndReadsAsAnotherUserApart) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give root up";
  scratch_dir dir;
  ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
  write_file(dir / "theirs", "readable");
  write_file(dir / "root's", "secret");
  ASSERT_EQ(0, chmod((dir / "root's").c_str(), 0600));
  system_disk disk;
  const disk_folder at = folder_at(disk, dir.path);
  // In a child that gives up root: the bytes it read come back, and this
  // process keeps root.
  std::string bytes;
  const auto read = [&](const std::string& name) {
    bytes.clear();
    return disk.as_user(
        65534, 65534,
        [&](disk_interface& as, std::string* out) {
          return read_whole(as, at, name, out);
        },
        &bytes);
  };
  EXPECT_EQ(done, read("theirs"));
  EXPECT_EQ("readable", bytes);
  const disk_status refused = read("root's");
  EXPECT_EQ(failed, refused);
  EXPECT_EQ("Permission denied", refused.reason);
  EXPECT_EQ("", bytes);
  EXPECT_EQ(0u, disk.user());
  // Given up in a child of this test: every id and no supplementary group,
  // and no way back.
  const pid_t child = fork();
  if (child == 0) {
    const gid_t extra = 4242;
    setgroups(1, &extra);
    uid_t user[3];
    gid_t group[3];
    _exit(disk.give_up_root(65534, 65533).ok() &&
                  getresuid(&user[0], &user[1], &user[2]) == 0 &&
                  getresgid(&group[0], &group[1], &group[2]) == 0 &&
                  user[0] == 65534 && user[1] == 65534 && user[2] == 65534 &&
                  group[0] == 65533 && group[1] == 65533 && group[2] == 65533 &&
                  getgroups(0, nullptr) == 0 && seteuid(0) != 0 &&
                  disk.user() == 65534
              ? 0
              : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
