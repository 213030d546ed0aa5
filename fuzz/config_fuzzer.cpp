// Feeds arbitrary bytes to the check as the server's configs, read as the
// original engine's console runs them, and to the console model as a
// rotation script, and checks that neither crashes nor hangs, whatever a
// config holds.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "check/check_report.h"
#include "check/console_model.h"
#include "check/server_config.h"
#include "support/memory_disk.h"
#include "walk/folder_walk.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The bytes up to the first NUL are server.cfg; the rest are a.cfg, which
  // server.cfg may run (exec a), and which may run server.cfg in turn.
  const std::size_t split = bytes.find('\0');
  memory_disk disk;
  disk.put("server.cfg", bytes.substr(0, split));
  if (split != std::string::npos) disk.put("a.cfg", bytes.substr(split + 1));
  folder_trail here;
  check(working_trail(disk, &here).ok());
  for (const std::size_t rotation : {std::size_t{0}, std::size_t{8192}}) {
    config_request request;
    request.rotation_size = rotation;
    check_facts facts;
    facts.configs = analyse_configs(disk, here, request);
    const std::string report = render_report(facts);
    // The same facts as data: a document a JSON parser reads, with the
    // text's exit status.
    const nlohmann::json as_data = nlohmann::json::parse(render_json(facts));
    check(as_data["exit_status"] == exit_status(facts));
    check(as_data["configs"]["readings"].size() ==
          facts.configs.readings.size());
    const std::size_t section = report.find("== The server's config\n");
    check(section != std::string::npos);
    check(report.find("Exit status ", section) != std::string::npos);
    // Every config read with something to say is told, once.
    for (const config_reading& read : facts.configs.readings)
      check(report.find(read.path, section) != std::string::npos);
  }
  // Every command the console cuts from the bytes lies within them, each
  // after the one before, under both engines' comment rules.
  for (const comment_rules rules :
       {comment_rules::original, comment_rules::open}) {
    for (std::size_t at = 0; at < bytes.size();) {
      const console_command command = next_command(bytes, at, rules);
      check(command.next > at && command.next <= bytes.size() + 1);
      check(command.text.size() <= longest_command);
      command_words(command.text);
      at = command.next;
    }
  }
  // As a rotation script: played a few steps, within the console's limits.
  play_in_console({{"SW_rotate.cfg", bytes}}, 4, original_console(0));
  return 0;
}
