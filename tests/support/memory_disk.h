#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/disk.h"

/// Thrown where a run on a memory_disk is killed: it ends the run on the
/// spot, with no clean-up, as a kill would.
struct killed_run {};

/// A disk in memory, for the tests, as strict as a real one: files, folders
/// and symbolic links by absolute path (a relative path is in `working`),
/// each with an owner, a group and a mode that bind every user but root;
/// hard links that share one file; the append-only and immutable flags;
/// and for each file and folder whether it has reached the disk. It acts
/// as `user`, who may give root up for good. A folder is held by its
/// identity, as a descriptor holds it: wherever it is moved, calls on it
/// act on it there, and once it is gone they find nothing in it. Any call
/// can be made to fail, to end the run there, or to run out of memory, and
/// anything can be made to happen just before a call (another user's
/// swap).
struct memory_disk : disk_interface {
  struct file {
    std::string bytes;
    std::uint32_t owner = 1000, group = 1000, mode = 0644;
    /// Not a regular file: a named pipe.
    bool special = false;
    /// Whether its bytes have reached the disk.
    bool durable = true;
    bool append_only = false, immutable = false;
  };
  struct folder {
    std::uint32_t owner = 1000, group = 1000, mode = 0755;
    bool append_only = false, immutable = false;
    /// Which folder it is, wherever it is moved: set where it is made.
    std::uint64_t id = 0;
  };
  struct link {
    std::string target;
    std::uint32_t owner = 1000;
  };

  /// What a call that is made to go wrong does.
  enum class fault { fail, kill, out_of_memory };

  /// "/" (root's) and the working folder "/w" (the user's).
  memory_disk();
  /// Not copied: a copy would share its files with the original.
  memory_disk(const memory_disk&) = delete;
  memory_disk(memory_disk&&) = default;

  std::uint32_t user() override { return uid; }
  bool hard_links_protected() override { return protects_hard_links; }
  disk_status give_up_root(std::uint32_t user, std::uint32_t group) override;
  disk_status as_user(std::uint32_t user, std::uint32_t group,
                      const user_work& work, std::string* bytes) override;
  disk_status working_folders(std::vector<disk_folder>* folders) override;
  disk_status open_folder(const disk_folder& at, const std::string& name,
                          disk_folder* folder) override;
  disk_status entry_facts(const disk_folder& at, const std::string& name,
                          file_facts* facts) override;
  disk_status read_link(const disk_folder& at, const std::string& name,
                        std::string* target) override;
  disk_status open_file(const disk_folder& at, const std::string& name,
                        std::unique_ptr<readable_file>* file) override;
  disk_status lock(const disk_folder& at, const std::string& name,
                   unsigned wait_ms, std::unique_ptr<disk_lock>* held) override;
  disk_status write_new(const disk_folder& at, const std::string& name,
                        std::string_view bytes,
                        const file_facts* like) override;
  disk_status write_in_place(const disk_folder& at, const std::string& name,
                             std::string_view bytes) override;
  disk_status hard_link(const disk_folder& at, const std::string& from,
                        const std::string& link) override;
  disk_status sync(const disk_folder& at,
                   const std::vector<std::string>& names) override;
  disk_status rename(const disk_folder& at, const std::string& from,
                     const std::string& to) override;
  disk_status exchange(const disk_folder& at, const std::string& a,
                       const std::string& b) override;
  disk_status remove(const disk_folder& at, const std::string& name) override;
  disk_status list_folder(const disk_folder& at,
                          std::vector<std::string>* names) override;
  disk_status free_space(const disk_folder& at, disk_room* room) override;

  /// `path` as the disk keeps it: absolute, without "." or "..".
  std::string absolute(const std::string& path) const;
  /// Makes `path` a file of its own holding `bytes`, in folders that exist
  /// from then on, all the acting user's.
  file& put(const std::string& path, const std::string& bytes = "");
  /// The file at `path`, which must be there.
  file& at(const std::string& path);
  /// Makes `path` a folder (and the folders above it) of `owner`.
  folder& make_folder(const std::string& path, std::uint32_t owner = 1000,
                      std::uint32_t group = 1000, std::uint32_t mode = 0755);
  /// Makes `path` a symbolic link to `target`, of `owner`.
  void make_link(const std::string& path, const std::string& target,
                 std::uint32_t owner = 1000);
  /// Takes whatever is at `path` away.
  void erase(const std::string& path);
  /// Moves folder `from`, and all it holds, to `to`, as a rename does:
  /// what holds it open still holds it.
  void move(const std::string& from, const std::string& to);
  /// Runs `event` just before call `n` of `kind` ("lock", ...), counted
  /// among those alone, as calls made to go wrong are.
  void at_call(const std::string& kind, int n, std::function<void()> event);
  /// Forgets the calls made, the calls made to go wrong and the events.
  void heal();
  /// Whether no call is made to go wrong, and nothing happens at one.
  bool healthy() const {
    return broken.empty() && broken_of.empty() && events.empty();
  }
  /// Makes calls `first` to `first` + `times` - 1, counting every call from
  /// 1, go wrong as `how`.
  void break_calls(int first, int times = 1, fault how = fault::fail);
  /// The same for the calls of one kind ("rename", "write_new", ...),
  /// counted among those alone.
  void break_calls(const std::string& kind, int first, int times = 1,
                   fault how = fault::fail);
  /// The files in `folder`, by name, with their bytes.
  std::map<std::string, std::string> files_in(const std::string& folder) const;
  /// Renames whose folder entries have not reached the disk yet, in all.
  int unsynced_renames() const;

  /// Files by absolute path; the paths of one file's hard links share it.
  std::map<std::string, std::shared_ptr<file>> files;
  std::map<std::string, folder> folders;
  std::map<std::string, link> links;
  /// The working folder.
  std::string working = "/w";
  /// Who acts: user, group and further groups.
  std::uint32_t uid = 1000, gid = 1000;
  std::vector<std::uint32_t> groups;
  /// Whether the file system has hard links (FAT has none), and whether no
  /// user may give another's file a name (fs.protected_hardlinks).
  bool has_hard_links = true, protects_hard_links = true;
  /// Whether two names can be swapped in one step (renameat2's
  /// RENAME_EXCHANGE): off, the run keeps a replaced file by a hard link.
  bool swaps_names = false;
  /// The files and blocks of 4 KiB left on the disk.
  std::uint64_t free_files = 1000000, free_blocks = 1000000;
  /// The lock files that another run holds, by absolute path: each holds
  /// runs up only while it is there.
  std::set<std::string> locks_held;
  /// Where not empty, why no lock is taken at all, asked or not, once the
  /// lock file is there: a file system that takes none ("No locks
  /// available", as some network file systems answer).
  std::string lock_error;
  /// The lock file of the last lock taken, as the run named it.
  std::string locked;
  /// The kind of every call made, in order.
  std::vector<std::string> calls;
  /// Files that went in place before their bytes reached the disk.
  int replaced_unsynced = 0;

  /// Counts a call of `kind`; failed where it must fail.
  disk_status fault_of(const std::string& kind);

 private:
  /// Whether the acting user may `want` (4 read, 2 write, 1 search) what
  /// `owner`, `group` and `mode` guard.
  bool may(std::uint32_t owner, std::uint32_t group, std::uint32_t mode,
           std::uint32_t want) const;
  /// Whether the acting user may search the folder of `path`, and where it
  /// may, add or remove names in it; else why not.
  disk_status may_search(const std::string& path) const;
  disk_status may_change_in(const std::string& path) const;
  std::string key(const disk_folder& at, const std::string& name) const;
  /// What is at absolute `path`, as the acting user sees it.
  file_facts facts_of(const std::string& path) const;
  std::map<int, fault> broken;
  std::map<std::pair<std::string, int>, fault> broken_of;
  std::map<std::pair<std::string, int>, std::function<void()>> events;
  /// The identity the next folder made takes.
  std::uint64_t next_id = 1;
  /// Makes `*folder` hold folder `path` by its identity, with its facts.
  void hold(const std::string& path, disk_folder* folder) const;
  /// The absolute path of folder `at`, held by its identity; empty where
  /// it is gone, or the disk didn't open it.
  std::string path_of(const disk_folder& at) const;
  /// By folder: renames since its entries last reached the disk.
  std::map<std::string, int> renames_since_sync;
};
