#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

/// Every file operation a run makes, so that tests can make any one of them
/// fail. The real disk is system_disk; a test derives from it and overrides
/// the step it wants to break.
struct disk_interface {
  virtual ~disk_interface() = default;

  /// Appends the whole content of `path`, byte for byte, to `*contents`;
  /// false when it can't be opened or a read fails.
  virtual bool read_file(const std::string& path, std::string* contents) = 0;
  /// The file that writing to `path` really changes: where `path` is a
  /// symbolic link, the file it points to; otherwise `path` itself.
  virtual std::string final_path(const std::string& path) = 0;
  /// Whether `path` can be given new contents: it is missing, so it can be
  /// created, or it opens for writing. Changes nothing.
  virtual bool can_write(const std::string& path) = 0;
  /// Creates a new file of a unique name beside `path`, with the permissions
  /// that `path` has (those of a new file if `path` is missing), and stores
  /// its name in `*created`; null when no file can be created there.
  virtual std::FILE* create_beside(const std::string& path,
                                   std::string* created) = 0;
  /// Opens `path` for writing and empties it; null when it can't be opened.
  virtual std::FILE* open_for_writing(const std::string& path) = 0;
  /// Writes all of `bytes`; false on any failure.
  virtual bool write(std::FILE* file, std::string_view bytes) = 0;
  /// Hands what is buffered to the system; false on failure.
  virtual bool flush(std::FILE* file) = 0;
  /// Closes `file` in any case; false when closing reported a failure.
  virtual bool close(std::FILE* file) = 0;
  /// Puts file `from` in the place of `to` in one step; on failure `to` is
  /// left as it was.
  virtual bool replace(const std::string& from, const std::string& to) = 0;
  /// Deletes `path`; a failure is ignored.
  virtual void remove(const std::string& path) = 0;
};

/// The disk of the machine the tool runs on.
struct system_disk : disk_interface {
  bool read_file(const std::string& path, std::string* contents) override;
  std::string final_path(const std::string& path) override;
  bool can_write(const std::string& path) override;
  std::FILE* create_beside(const std::string& path,
                           std::string* created) override;
  std::FILE* open_for_writing(const std::string& path) override;
  bool write(std::FILE* file, std::string_view bytes) override;
  bool flush(std::FILE* file) override;
  bool close(std::FILE* file) override;
  bool replace(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
};

/// The size in bytes of `file` where it is a regular file, else -1. Each
/// platform's system_disk defines it.
std::int64_t regular_file_size(std::FILE* file);
