// map_rotation_check [GAME_FOLDER...]: what the next run will do, and why.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "check/check_report.h"
#include "check/rotation_check.h"
#include "platform/tick_count.h"
#include "run/run_start.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

/// The exit status of a command line the check doesn't understand, apart
/// from its reports' 0, 1 and 2: EX_USAGE of sysexits.h.
constexpr int usage_status = 64;

constexpr const char* usage_head =
    "Usage: map_rotation_check [--config FILE]... [--format=json]\n"
    "                          [--server HOST[:PORT]] [GAME_FOLDER...]\n"
    "\n"
    "Tells what the next run of map_rotation in the current folder will do\n"
    "and why, and changes nothing. Then it looks for each map of the\n"
    "rotation as the original engine does, and says where the maintained\n"
    "open engine differs. Name the GAME_FOLDERs in the order the server\n"
    "searches them: a mod's folder before the base game's (the current\n"
    "folder where none is named). In each folder the archives (*.pk3, not\n"
    "sp_*.pk3) come first, the one whose name sorts last first (mp_* sorts\n"
    "last of all), then the loose files under maps/. The first archive that\n"
    "holds a map decides: no map loads from pak0.pk3 in the original engine.\n"
    "\n"
    "Exit status:\n";
constexpr const char* usage_tail =
    "\n"
    "Then it reads the server's configs as the original engine's console\n"
    "runs them: every .cfg in the current folder but the rotation's files\n"
    "and the map list (those no other config runs), or each FILE named\n"
    "with --config, following their exec of the configs beside them. It\n"
    "says which runs exec SW_rotate.cfg and on what line; whether the\n"
    "rotation of F bytes fits beside the R bytes of config still waiting\n"
    "behind it (F + R <= 16,382, or the console refuses all of it); every\n"
    "command after it that loads a map or changes nextmap, which stops the\n"
    "rotation after its first map; and an exec in another case, which works\n"
    "on Windows and fails on Linux.\n"
    "\n"
    "Options:\n"
    "  --config FILE, --config=FILE\n"
    "                 read FILE as the server's config (more than once)\n"
    "  --format=json, --json\n"
    "                 the report as one JSON document (the source's\n"
    "                 docs/reference.md lists its keys); --format=text, the\n"
    "                 default, for a person\n"
    "  --server HOST[:PORT], --server=HOST[:PORT]\n"
    "                 ask the server playing there (port 27960 unless given)\n"
    "                 which map it plays, and place it in the rotation\n"
    "  --             ends the options: every word after it is a folder\n"
    "  --help         this text\n"
    "  --version      the version\n";

/// Keeps the report on screen until it has been read, where the program
/// was started from Explorer and owns its console, which closes with it.
void wait_for_enter() {
#ifdef _WIN32
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) {
    std::fputs("\nPress Enter to close this window.", stdout);
    std::fflush(stdout);
    std::fgetc(stdin);
  }
#endif
}

/// Says on standard error what the command line got wrong, in one line,
/// and where the usage is told; the status of a command line not
/// understood.
int usage_error(const std::string& what) {
  const std::string said = "map_rotation_check: " + what +
                           " (map_rotation_check --help tells the usage)\n";
  std::fputs(said.c_str(), stderr);
  return usage_status;
}

/// Reads the command line into `*game_folders` and `*configs`; the exit
/// status where the program ends there (--help, --version, a mistake), or
/// -1 where it goes on. "--" ends the options: every word after it is a
/// game folder, even one that begins with "-".
int read_command_line(int argc, char** argv,
                      std::vector<std::string>* game_folders,
                      config_request* configs, bool* as_json,
                      server_facts* server) {
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (options && word == "--") {
      options = false;
    } else if (options && word == "--config") {
      if (i + 1 == argc) return usage_error("--config needs a FILE after it");
      configs->named.push_back(argv[++i]);
    } else if (options && word.rfind("--config=", 0) == 0) {
      configs->named.push_back(word.substr(9));
    } else if (options &&
               (word == "--server" || word.rfind("--server=", 0) == 0)) {
      if (word == "--server" && i + 1 == argc)
        return usage_error("--server needs a HOST[:PORT] after it");
      const std::string address =
          word == "--server" ? argv[++i] : word.substr(9);
      if (!read_server_address(address, server))
        return usage_error("--server takes HOST[:PORT], not " + address);
      server->asked = true;
    } else if (options && (word == "--json" || word == "--format=json")) {
      *as_json = true;
    } else if (options && word == "--format=text") {
      *as_json = false;
    } else if (options && word.rfind("--format", 0) == 0) {
      return usage_error("--format takes =text or =json, not " + word);
    } else if (options && (word == "--help" || word == "-h" || word == "/?")) {
      std::fputs(usage_head, stdout);
      std::fputs(exit_statuses, stdout);
      std::fputs(usage_tail, stdout);
      return 0;
    } else if (options && word == "--version") {
      std::fputs("map_rotation_check " MAP_ROTATION_VERSION "\n", stdout);
      return 0;
    } else if (options && word.size() > 1 && word[0] == '-') {
      return usage_error("unknown option " + word);
    } else {
      game_folders->push_back(word);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> game_folders;
  config_request configs;
  bool as_json = false;
  server_facts server;
  if (const int status = read_command_line(argc, argv, &game_folders, &configs,
                                           &as_json, &server);
      status >= 0)
    return status;
  const bool named = !game_folders.empty();
  if (!named) game_folders.push_back(".");
  // As a run would: a check as root sees only what the rotation's owner
  // may.
  const std::uint32_t ticks = tick_count_ms();
  system_disk disk;
  std::string report;
  int status = 1;
  try {
    const user_database users = system_user_database();
    run_start start;
    const owner_decision owner = start_run(disk, users, &start);
    check_facts facts = check_rotation(disk, users, owner, start, game_folders,
                                       named, configs, ticks);
    if (server.asked) {
      facts.server = std::move(server);
      ask_server(facts.in_place.trace, &facts.server);
    }
    report = as_json ? render_json(facts) : render_report(facts);
    status = exit_status(facts);
  } catch (const std::bad_alloc&) {
    report = as_json
                 ? "{\"format\": \"map_rotation_check\", \"version\": 1, "
                   "\"exit_status\": 1, \"error\": \"ran out of memory: "
                   "nothing checked\"}\n"
                 : "map_rotation_check ran out of memory: nothing checked.\n";
  }
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  wait_for_enter();
  return status;
}
