// Feeds arbitrary bytes to the check as a server's reply to its status
// question, and renders what it makes of them, in text and as JSON: a
// reply comes from the network, so nothing in it may crash the check, and
// every byte of it must come out shown.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "check/check_report.h"
#include "check/server_status.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  check_facts facts;
  facts.in_place.looked = facts.in_place.trace.found = true;
  for (const char* name : {"oa_dm1", "oa_dm4", "OA_DM1"})
    facts.in_place.trace.maps.push_back({name, "SW1", "SW_rotate.cfg"});
  facts.server.asked = facts.server.answered = true;
  facts.server.address = "127.0.0.1:27960";
  facts.server.status = read_status_reply(reply);
  facts.server.places =
      places_of(facts.server.status.map, facts.in_place.trace);
  for (const rotation_place& place : facts.server.places)
    check(place.number >= 1 && place.number <= 3);
  const std::string text = render_report(facts, 0);
  for (const char c : text)
    check(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 &&
                        static_cast<unsigned char>(c) < 0x7F));
  check(nlohmann::json::accept(render_json(facts)));
  return 0;
}
