// system_disk on Windows, within what Windows XP SP3 has.
#include <windows.h>

#include "platform/disk.h"

namespace {

/// The byte of the lock file that the lock covers: past the end of any
/// file, so that a program that reads the lock file is never held up.
constexpr DWORD lock_offset = 0xFFFFFFFF;

constexpr DWORD share_all =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// Whether the last error on `path` means that another program holds it
/// for a moment (a virus scanner, an indexer): a sharing violation, or an
/// access denied on a regular file that isn't read-only (how Windows
/// refuses to replace a file another program has open). Never a folder in
/// the way or the read-only attribute.
bool held_by_another(const std::string& path) {
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  SetLastError(error);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}

/// Runs `call` on `path` until it succeeds or fails for another reason
/// than another program holding the file: tried again after 1 ms, then
/// twice as long each time up to a quarter of a second, for about 2 s in
/// all.
template <typename Call>
bool retrying(const std::string& path, const Call& call) {
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 256 ? wait * 2 : wait) {
    if (call()) return true;
    if (!held_by_another(path) || waited >= 2000) return false;
    Sleep(wait);
    waited += wait;
  }
}

/// The system's words for error `code`.
std::string words_of(DWORD code) {
  char text[256];
  const DWORD size =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, text, sizeof text, nullptr);
  std::string words(text, size);
  while (!words.empty() &&
         (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
    words.pop_back();
  return words.empty() ? "Windows error " + std::to_string(code) : words;
}

/// What the last error means, with the system's words as the reason.
disk_status failure() {
  const DWORD code = GetLastError();
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return {disk_result::missing, words_of(code)};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return {disk_result::exists, words_of(code)};
    default:
      return {disk_result::failed, words_of(code)};
  }
}

disk_status done_or_failure(bool done) {
  return done ? disk_status() : failure();
}

/// The path of `name` in `at`: Windows holds no folder open.
std::string at_path(const disk_folder& at, const std::string& name) {
  return shown_path(at, name);
}

/// What GetFileAttributes says of a file, as facts.
file_facts facts_of(DWORD attributes) {
  file_facts facts;
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.kind = folder ? file_kind::folder : file_kind::regular;
  // The read-only attribute is the operator's way to freeze a script; it
  // is asked for directly because an administrator may still open such a
  // file.
  facts.mode = folder                                 ? 0777
               : attributes & FILE_ATTRIBUTE_READONLY ? 0444
                                                      : 0666;
  facts.may_write = facts.write_flags();
  return facts;
}

/// A file open for reading at any offset.
struct windows_file : readable_file {
  explicit windows_file(HANDLE file) : file(file) {}
  ~windows_file() override { CloseHandle(file); }
  disk_status read(std::uint64_t offset, std::size_t size,
                   std::string* bytes) override {
    bytes->resize(within(offset, size));
    std::size_t got = 0;
    while (got < bytes->size()) {
      // A read at an offset through a handle opened for synchronous use.
      OVERLAPPED at{};
      const std::uint64_t from = offset + got;
      at.Offset = static_cast<DWORD>(from);
      at.OffsetHigh = static_cast<DWORD>(from >> 32);
      const std::size_t left = bytes->size() - got;
      DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left),
            read = 0;
      if (!ReadFile(file, &(*bytes)[got], chunk, &read, &at)) {
        const disk_status failed =
            GetLastError() == ERROR_HANDLE_EOF ? disk_status() : failure();
        bytes->resize(got);
        return failed;
      }
      if (read == 0) break;
      got += read;
    }
    bytes->resize(got);
    return {};
  }
  HANDLE file;
};

/// Opens `path`, trying again while another program holds it. `flags`
/// FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction itself.
HANDLE open_handle(const std::string& path, DWORD access, DWORD share,
                   DWORD how, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = INVALID_HANDLE_VALUE;
  retrying(path, [&] {
    file =
        CreateFileA(path.c_str(), access, share, nullptr, how, flags, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

/// Whether `file`, opened with FILE_FLAG_OPEN_REPARSE_POINT, is a file on
/// disk under this one name: no folder, no link or junction (opened
/// itself), no other name (a hard link) that another file might stand for.
bool alone(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION about;
  return GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(file, &about) &&
         about.nNumberOfLinks == 1 &&
         !(about.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30)
                            ? (1u << 30)
                            : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) ||
        written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

/// The lock file's byte, locked through its open handle.
struct file_lock : disk_lock {
  explicit file_lock(HANDLE file) : file(file) {}
  ~file_lock() override {
    OVERLAPPED at{};
    at.Offset = lock_offset;
    UnlockFileEx(file, 0, 1, 0, &at);
    CloseHandle(file);
  }
  HANDLE file;
};

}  // namespace

std::uint32_t system_disk::user() { return 1; }

bool system_disk::hard_links_protected() { return true; }

disk_status system_disk::give_up_root(std::uint32_t, std::uint32_t) {
  return {disk_result::failed, "Windows has no root to give up"};
}

disk_status system_disk::as_user(std::uint32_t, std::uint32_t, const user_work&,
                                 std::string*) {
  return {disk_result::failed, "Windows has no root to give up"};
}

disk_status system_disk::working_folders(std::vector<disk_folder>* folders) {
  disk_folder here;
  here.path = ".";
  here.facts.kind = file_kind::folder;
  here.facts.mode = 0777;
  folders->assign(1, here);
  return {};
}

disk_status system_disk::open_folder(const disk_folder& at,
                                     const std::string& name,
                                     disk_folder* folder) {
  folder->path = at_path(at, name);
  const DWORD attributes = GetFileAttributesA(folder->path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failure();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return {disk_result::failed, "not a folder"};
  folder->facts = facts_of(attributes);
  return {};
}

disk_status system_disk::entry_facts(const disk_folder& at,
                                     const std::string& name,
                                     file_facts* facts) {
  *facts = file_facts{};
  const DWORD attributes = GetFileAttributesA(at_path(at, name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const disk_status why = failure();
    return why == disk_result::missing ? disk_status() : why;
  }
  *facts = facts_of(attributes);
  return {};
}

disk_status system_disk::read_link(const disk_folder&, const std::string&,
                                   std::string*) {
  // No walk reads a link here: the system follows them on the way.
  return {disk_result::failed,
          "a link isn't read on Windows, which follows "
          "links itself"};
}

disk_status system_disk::open_file(const disk_folder& at,
                                   const std::string& name,
                                   std::unique_ptr<readable_file>* file) {
  // A folder doesn't open without FILE_FLAG_BACKUP_SEMANTICS: failed.
  const std::string path = at_path(at, name);
  const HANDLE handle =
      open_handle(path, GENERIC_READ, share_all, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return failure();
  auto opened = std::make_unique<windows_file>(handle);
  // Only a file on disk: a pipe or a device could hold the run up.
  DWORD high = 0;
  const DWORD low = GetFileSize(handle, &high);
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR))
    return {disk_result::failed, "not a regular file (a pipe, a device)"};
  opened->size = static_cast<std::uint64_t>(high) << 32 | low;
  *file = std::move(opened);
  return {};
}

disk_status system_disk::lock(const disk_folder& at, const std::string& name,
                              unsigned wait_ms,
                              std::unique_ptr<disk_lock>* held) {
  // A file of the tool's own beside the rotation, made where it is missing
  // (only asked, where `held` is null).
  // A link or junction is opened itself, never what it leads to: a link to
  // a file that isn't there would make that file.
  const std::string path = at_path(at, name);
  const HANDLE file = open_handle(
      path, GENERIC_READ, share_all, held ? OPEN_ALWAYS : OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) {
    const disk_status why = failure();
    if (why != disk_result::missing &&
        GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
      return why;
    return held ? disk_status(disk_result::missing, why.reason) : disk_status();
  }
  if (!alone(file)) {
    CloseHandle(file);
    return {disk_result::failed,
            "a link, a folder or a file with another name besides (a hard "
            "link): it may be another file"};
  }
  unsigned waited = 0;
  for (unsigned wait = 1;; wait = wait < 64 ? wait * 2 : wait) {
    OVERLAPPED at{};
    at.Offset = lock_offset;
    if (LockFileEx(
            file,
            (held ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0,
            1, 0, &at)) {
      if (held) {
        *held = std::make_unique<file_lock>(file);
        return {};
      }
      UnlockFileEx(file, 0, 1, 0, &at);
      CloseHandle(file);
      return {};
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION || waited >= wait_ms) break;
    Sleep(wait);
    waited += wait;
  }
  const bool held_by_another = GetLastError() == ERROR_LOCK_VIOLATION;
  const disk_status why = failure();
  CloseHandle(file);
  if (!held_by_another)
    return why.ok() ? disk_status(disk_result::failed, why.reason) : why;
  return {disk_result::busy, "held by another run for the whole wait"};
}

disk_status system_disk::write_new(const disk_folder& at,
                                   const std::string& name,
                                   std::string_view bytes,
                                   const file_facts* /*like*/) {
  const std::string path = at_path(at, name);
  const HANDLE file =
      open_handle(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return failure();
  // Flushed while this handle is open: a scanner may hold the file from the
  // moment it is closed, and then it can't be opened for writing again.
  const bool written = write_all(file, bytes) && FlushFileBuffers(file);
  disk_status why = written ? disk_status() : failure();
  const bool closed = CloseHandle(file) != 0;
  if (closed && written) return {};
  if (why.ok()) why = failure();  // the close failed: its reason
  // What was written goes; where even that fails, the reason says so.
  const bool removed =
      retrying(path, [&] { return DeleteFileA(path.c_str()) != 0; });
  return {
      disk_result::failed,
      removed ? why.reason : why.reason + "; the part written is left behind"};
}

disk_status system_disk::write_in_place(const disk_folder& at,
                                        const std::string& name,
                                        std::string_view bytes) {
  const std::string path = at_path(at, name);
  // The link or junction itself, where it is one: never what it leads to.
  const HANDLE file =
      open_handle(path, GENERIC_WRITE, share_all, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
  if (file == INVALID_HANDLE_VALUE) return failure();
  // Every other name of the file would change with it.
  const bool single = alone(file);
  const bool written = single && write_all(file, bytes) && SetEndOfFile(file) &&
                       FlushFileBuffers(file);
  disk_status why;
  if (!single)
    why = {disk_result::failed,
           "a link, a file with another name besides (a hard link), or no "
           "file"};
  else if (!written)
    why = {disk_result::failed, failure().reason};
  return CloseHandle(file) && written ? disk_status() : why;
}

disk_status system_disk::hard_link(const disk_folder& at,
                                   const std::string& from,
                                   const std::string& link) {
  const std::string source = at_path(at, from), name = at_path(at, link);
  return done_or_failure(retrying(source, [&] {
    return CreateHardLinkA(name.c_str(), source.c_str(), nullptr) != 0;
  }));
}

disk_status system_disk::sync(const disk_folder&,
                              const std::vector<std::string>&) {
  return {};
}

disk_status system_disk::rename(const disk_folder& at, const std::string& from,
                                const std::string& to) {
  const std::string source = at_path(at, from), target = at_path(at, to);
  return done_or_failure(retrying(target, [&] {
    return MoveFileExA(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING);
  }));
}

disk_status system_disk::exchange(const disk_folder&, const std::string&,
                                  const std::string&) {
  return {disk_result::failed, "Windows swaps no names"};
}

disk_status system_disk::remove(const disk_folder& at,
                                const std::string& name) {
  const std::string path = at_path(at, name);
  return done_or_failure(
      retrying(path, [&] { return DeleteFileA(path.c_str()) != 0; }));
}

disk_status system_disk::list_folder(const disk_folder& at,
                                     std::vector<std::string>* names) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((at.path + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return failure();
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return {};
}

disk_status system_disk::free_space(const disk_folder&, disk_room*) {
  return {disk_result::failed, "asked by trying, on Windows"};
}
