// map_rotation_check [GAME_FOLDER...]: what the next run will do, and why.
#include <cstdio>
#include <string>
#include <vector>

#include "rotation_check.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
  // As a run would: a check as root sees only what the folder's owner may.
  const owner_switch owner = act_as_folder_owner();
  std::vector<std::string> game_folders(argv + 1, argv + argc);
  if (game_folders.empty()) game_folders.push_back(".");
  system_disk disk;
  const check_result result = check_rotation(disk, owner, game_folders);
  std::fwrite(result.report.data(), 1, result.report.size(), stdout);
  std::fflush(stdout);
#ifdef _WIN32
  // Started from Explorer, the program owns its console, which closes with
  // it: keep the report on screen until it has been read.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) {
    std::fputs("\nPress Enter to close this window.", stdout);
    std::fflush(stdout);
    std::fgetc(stdin);
  }
#endif
  return result.status;
}
