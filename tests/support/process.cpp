#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <cstdlib>

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

pid_t start_process(const std::vector<std::string>& command,
                    const std::filesystem::path& dir,
                    const std::filesystem::path& out,
                    const std::filesystem::path& err, uid_t user, int input,
                    gid_t group) {
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 1);
    if (err == out)
      dup2(1, 2);
    else
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
    if (user != 0 && (setgid(user) != 0 || setuid(user) != 0)) _exit(126);
    if (user == 0 && group != 0 && setgroups(1, &group) != 0) _exit(126);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}
