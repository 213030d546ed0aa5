// Feeds arbitrary bytes to the check as the server's configs, read as the
// original engine's console runs them, and to the console as a rotation in
// place, and checks that neither crashes nor hangs, whatever a file holds.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "check/check_report.h"
#include "check/console.h"
#include "check/rotation_in_place.h"
#include "check/server_config.h"
#include "fuzz_check.h"
#include "support/memory_disk.h"
#include "walk/folder_walk.h"

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
    // A smaller budget than the check's, so that an input ends within the
    // fuzzer's time under the sanitizers: what it bounds is the same.
    request.budget = {20000, 1 << 20};
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
  for (const engine kind : {engine::original, engine::maintained}) {
    for (std::size_t at = 0; at < bytes.size();) {
      const console_command command = next_command(bytes, at, kind);
      check(command.next > at && command.next <= bytes.size() + 1);
      check(command.text.size() <= longest_command);
      command_words(command.text);
      at = command.next;
    }
  }
  // As a rotation in place, SW_rotate.cfg and a.cfg, in both engines: the
  // trace ends, and lists no map twice but where it says why.
  const auto files = [&](const std::string& path) {
    const std::string* text = path == "SW_rotate.cfg"
                                  ? &disk.at("server.cfg").bytes
                              : split != std::string::npos && path == "a.cfg"
                                  ? &disk.at("a.cfg").bytes
                                  : nullptr;
    return text ? console_file{true, path,
                               std::make_shared<const std::string>(*text)}
                : console_file{};
  };
  for (const console_rules& rules : {original_rules, maintained_rules}) {
    const rotation_trace trace = trace_rotation(files, rules, {20000, 1 << 20});
    check(trace.closes || !trace.found || !trace.breaks.empty());
  }
  return 0;
}
