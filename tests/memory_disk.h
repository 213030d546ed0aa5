#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "disk.h"

/// Thrown where a run on a memory_disk is killed: it ends the run on the
/// spot, with no clean-up, as a kill would.
struct killed_run {};

/// A disk in memory, for the tests: files by path, "folder/name" or a bare
/// name in ".", and symbolic links, which only follow_link follows. Any call
/// can be made to fail, to end the run there, or to run out of memory; it also
/// checks that every file reaches the disk before it goes in place.
struct memory_disk : disk_interface {
  struct file {
    std::string bytes;
    bool read_only = false;
    /// Not a regular file: a folder or a named pipe.
    bool special = false;
    /// Whether its bytes have reached the disk.
    bool durable = true;
  };

  /// What a call that is made to go wrong does.
  enum class fault { fail, busy, kill, out_of_memory };

  disk_result try_lock(const std::string& path) override;
  disk_result read_file(const std::string& path, std::string* bytes) override;
  disk_result writable(const std::string& path) override;
  disk_result write_new(const std::string& path, std::string_view bytes,
                        const std::string& like) override;
  disk_result write_in_place(const std::string& path,
                             std::string_view bytes) override;
  disk_result copy_file(const std::string& from,
                        const std::string& copy) override;
  disk_result make_durable(const std::vector<std::string>& paths) override;
  disk_result replace(const std::string& from, const std::string& to) override;
  disk_result remove(const std::string& path) override;
  disk_result list_folder(const std::string& folder,
                          std::vector<std::string>* names) override;
  disk_result follow_link(const std::string& path,
                          std::string* target) override;
  void pause(unsigned ms) override { paused_ms += ms; }

  /// Makes calls `first` to `first` + `times` - 1, counting every call from
  /// 1, go wrong as `how`.
  void break_calls(int first, int times = 1, fault how = fault::fail);
  /// The same for the calls of one kind ("replace", "write_new", ...),
  /// counted among those alone.
  void break_calls(const std::string& kind, int first, int times = 1,
                   fault how = fault::fail);
  /// The rotation's files and anything else in `folder`, by name.
  std::map<std::string, std::string> files_in(const std::string& folder) const;

  std::map<std::string, file> files;
  /// Symbolic links: path to what they point to.
  std::map<std::string, std::string> links;
  /// Links that another user planted, which are never followed.
  std::set<std::string> planted;
  /// Calls made, in all and by kind.
  int calls = 0;
  std::map<std::string, int> calls_of;
  unsigned paused_ms = 0;
  /// Files that went in place before their bytes reached the disk.
  int replaced_unsynced = 0;
  /// Replacements whose folder entries have not reached the disk yet.
  int replaced_since_folder_synced = 0;

 private:
  /// Counts a call of `kind`; true where it must fail, busy where it is busy.
  disk_result fault_of(const std::string& kind);
  std::map<int, fault> broken;
  std::map<std::pair<std::string, int>, fault> broken_of;
};
