// map_rotation_check [GAME_FOLDER...]: what the next run will do, and why.
#include <cstdio>
#include <string>
#include <vector>

#include "rotation_check.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

int main(int argc, char** argv) {
  std::vector<std::string> game_folders(argv + 1, argv + argc);
  if (game_folders.empty()) game_folders.push_back(".");
#ifndef _WIN32
  // A check as root moves into the rotation's folder: the game's folders
  // must still lead where they were meant to.
  char here[PATH_MAX];
  if (getcwd(here, sizeof here))
    for (std::string& folder : game_folders)
      if (folder[0] != '/') folder = std::string(here) + "/" + folder;
#endif
  // As a run would: a check as root sees only what the rotation's owner
  // may, from the rotation's folder.
  run_start start;
  const owner_decision owner = act_as_rotation_owner(&start);
  system_disk disk;
  const check_result result = check_rotation(disk, owner, start, game_folders);
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
