#include "check/server_status.h"

#include <algorithm>

#include "platform/datagram.h"
#include "platform/path.h"

server_status read_status_reply(std::string_view reply) {
  server_status status;
  constexpr std::string_view head = "\xFF\xFF\xFF\xFFstatusResponse";
  if (reply.substr(0, head.size()) != head) {
    status.why = "a reply that isn't a status reply";
    return status;
  }
  reply.remove_prefix(head.size());
  // The head's line end, then the pairs on one line.
  if (!reply.empty() && reply[0] == '\n') reply.remove_prefix(1);
  const std::size_t end = std::min(reply.find('\n'), reply.size());
  std::string_view pairs = reply.substr(0, end);
  while (!pairs.empty()) {
    if (pairs[0] == '\\') pairs.remove_prefix(1);
    const std::size_t key_end = std::min(pairs.find('\\'), pairs.size());
    const std::string_view key = pairs.substr(0, key_end);
    pairs.remove_prefix(key_end);
    if (!pairs.empty()) pairs.remove_prefix(1);
    const std::size_t value_end = std::min(pairs.find('\\'), pairs.size());
    status.info.emplace_back(key, pairs.substr(0, value_end));
    pairs.remove_prefix(value_end);
    if (key == "mapname" && status.map.empty())
      status.map = status.info.back().second;
  }
  // A line for each player; the last may lack its line end.
  for (std::string_view rest = reply.substr(end); !rest.empty();) {
    rest.remove_prefix(1);
    const std::size_t line = std::min(rest.find('\n'), rest.size());
    if (line > 0) ++status.players;
    rest.remove_prefix(line);
  }
  status.read = true;
  return status;
}

std::vector<rotation_place> places_of(const std::string& map,
                                      const rotation_trace& trace) {
  std::vector<rotation_place> places;
  const std::vector<traced_map>& maps = trace.maps;
  const std::vector<std::string> lines = console_lines(maps);
  for (std::size_t at = 0; at < maps.size(); ++at) {
    if (lower(maps[at].name) != lower(map)) continue;
    rotation_place place;
    place.number = at + 1;
    place.console = lines[at];
    if (at + 1 < maps.size())
      place.next = maps[at + 1].name;
    else if (trace.closes)
      place.next = maps.front().name;
    places.push_back(std::move(place));
  }
  return places;
}

bool read_server_address(const std::string& text, server_facts* facts) {
  std::string host = text, port;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port = text.substr(close + 2);
    }
  } else if (text.find(':') == text.rfind(':') &&
             text.find(':') != std::string::npos) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
  }
  if (host.empty()) return false;
  facts->host = host;
  if (port.empty()) return text.back() != ':';
  unsigned long number = 0;
  for (const char c : port) {
    if (c < '0' || c > '9' || number > 65535) return false;
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number == 0 || number > 65535) return false;
  facts->port = static_cast<std::uint16_t>(number);
  return true;
}

void ask_server(const rotation_trace& trace, server_facts* facts) {
  // One question, tried three times within about two seconds: a datagram
  // may be lost, and a server busy loading a map answers late.
  const datagram_answer answer =
      ask_over_udp(facts->host, facts->port, status_question, 2000, 3);
  facts->address = answer.address.empty()
                       ? facts->host + ":" + std::to_string(facts->port)
                       : answer.address;
  facts->why = answer.why;
  if (!answer.answered) return;
  facts->status = read_status_reply(answer.reply);
  facts->answered = facts->status.read;
  if (!facts->answered) {
    facts->why = facts->status.why;
    return;
  }
  facts->places = places_of(facts->status.map, trace);
}
