#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "disk.h"

/// Thrown where a run on a memory_disk is killed: it ends the run on the
/// spot, with no clean-up, as a kill would.
struct killed_run {};

/// A disk in memory, for the tests, as strict as a real one: files by path
/// ("folder/name", or a bare name in "."), in folders that must exist;
/// hard links that share one file; symbolic links, which only look()
/// follows; and for each file and folder whether it has reached the disk.
/// Any call can be made to fail, to end the run there, or to run out of
/// memory.
struct memory_disk : disk_interface {
  struct file {
    std::string bytes;
    bool read_only = false;
    /// Not a regular file: a named pipe.
    bool special = false;
    /// Whether its bytes have reached the disk.
    bool durable = true;
  };

  /// What a call that is made to go wrong does.
  enum class fault { fail, kill, out_of_memory };

  memory_disk() = default;
  /// Not copied: a copy would share its files with the original.
  memory_disk(const memory_disk&) = delete;
  memory_disk(memory_disk&&) = default;

  disk_result lock(const std::string& path, unsigned wait_ms,
                   std::unique_ptr<disk_lock>* held) override;
  disk_result read_file(const std::string& path, std::string* bytes) override;
  disk_result read_range(const std::string& path, std::uint64_t offset,
                         std::size_t size, std::string* bytes,
                         std::uint64_t* file_size) override;
  disk_result look(const std::string& path, std::string* target,
                   file_facts* facts) override;
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override;
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override;
  disk_result hard_link(const std::string& from,
                        const std::string& link) override;
  disk_result sync(const std::vector<std::string>& paths) override;
  disk_result rename(const std::string& from, const std::string& to) override;
  disk_result remove(const std::string& path) override;
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override;

  /// Makes `path` a file of its own holding `bytes`, in a folder that
  /// exists from then on.
  file& put(const std::string& path, const std::string& bytes = "");
  /// Forgets the calls made and the calls made to go wrong.
  void heal();
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

  /// Files by path; the paths of one file's hard links share it.
  std::map<std::string, std::shared_ptr<file>> files;
  /// The folders that exist; "." always does.
  std::set<std::string> folders = {"."};
  /// Symbolic links: path to what they point to.
  std::map<std::string, std::string> links;
  /// Links that another user planted, which are never followed.
  std::set<std::string> planted;
  /// Whether the file system has hard links (FAT has none).
  bool has_hard_links = true;
  /// The lock files that another run holds; a lock is no file here.
  std::set<std::string> locks_held;
  /// The lock file of the last lock taken.
  std::string locked;
  /// The kind of every call made, in order.
  std::vector<std::string> calls;
  /// Files that went in place before their bytes reached the disk.
  int replaced_unsynced = 0;

 private:
  /// Counts a call of `kind`; failed where it must fail.
  disk_result fault_of(const std::string& kind);
  bool folder_exists(const std::string& path) const;
  std::map<int, fault> broken;
  std::map<std::pair<std::string, int>, fault> broken_of;
  /// By folder: renames since its entries last reached the disk.
  std::map<std::string, int> renames_since_sync;
};
