// A Windows program that holds a file as a virus scanner or an indexer does:
//   hold_file PATTERN MILLISECONDS LEFT
// It waits for a file matching PATTERN in the working directory, opens it
// with read sharing only (so it can't be moved, replaced or deleted) as soon
// as that succeeds, and holds it until the run has put its other parts in
// place (SW_rotate2.cfg is there, and at most LEFT other new files are
// left), then MILLISECONDS more, however busy the machine: a run that gave
// up on the held file removes its new parts, so the holder lets go only
// after a minute. It prints "held NAME" on opening and, on letting go, how
// many other new files are left ("left N"): none, or just the one that
// waits to replace a held SW_rotate.cfg, when the run waits for the held
// file. Built and run under Wine by held_file_test.sh.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

/// The names of the files matching `pattern`, other than `except`.
std::vector<std::string> find_files(const char* pattern,
                                    const std::string& except = "") {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.cFileName != except) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* pattern = argv[1];
  const DWORD hold_ms = static_cast<DWORD>(std::atol(argv[2]));
  const std::size_t left = static_cast<std::size_t>(std::atol(argv[3]));
  std::printf("watching\n");
  std::fflush(stdout);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 30000) {
    const std::vector<std::string> names = find_files(pattern);
    if (names.empty()) continue;
    const std::string& name = names.front();
    const HANDLE file =
        CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;  // still being written
    std::printf("held %s\n", name.c_str());
    std::fflush(stdout);
    for (const DWORD held = GetTickCount(); GetTickCount() - held < 60000;) {
      if (GetFileAttributesA("SW_rotate2.cfg") != INVALID_FILE_ATTRIBUTES &&
          find_files("SW_rotate*.cfg.map_rotation-tmp.*", name).size() <= left)
        break;
      Sleep(1);
    }
    Sleep(hold_ms);
    std::printf(
        "left %u\n",
        static_cast<unsigned>(
            find_files("SW_rotate*.cfg.map_rotation-tmp.*", name).size()));
    CloseHandle(file);
    return 0;
  }
  std::printf("found nothing to hold\n");
  return 1;
}
