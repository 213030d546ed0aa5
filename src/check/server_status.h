#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/rotation_in_place.h"

/// The question every server of this console family answers without a
/// password, as server browsers ask it.
inline constexpr std::string_view status_question =
    "\xFF\xFF\xFF\xFFgetstatus\n";

/// What a server says of itself in its reply to status_question.
struct server_status {
  /// Whether the reply was a status reply at all; else why not.
  bool read = false;
  std::string why;
  /// Its `\key\value` pairs, in their order, and the map it plays (the
  /// `mapname` key; empty where none).
  std::vector<std::pair<std::string, std::string>> info;
  std::string map;
  /// The players: one line each after the pairs.
  std::size_t players = 0;
};

/// Reads `reply`, bytes from the network: "\xFF\xFF\xFF\xFFstatusResponse",
/// a line end, the pairs, then a line for each player. Trusts no length
/// and no order; a reply without that head is no status reply.
server_status read_status_reply(std::string_view reply);

/// Where a map the server plays stands in the rotation in place: its
/// number among `maps` (from 1), the console line that jumps to it
/// (console_lines), and the map after it (the first, after the last of a
/// chain that closes).
struct rotation_place {
  std::size_t number = 0;
  std::string console, next;
};

/// Each place of `map` among `maps`, in any case (archives match any).
std::vector<rotation_place> places_of(const std::string& map,
                                      const rotation_trace& trace);

/// The asking of a server and what it said, for the report.
struct server_facts {
  /// Whether the check was told to ask one (--server).
  bool asked = false;
  std::string host;
  std::uint16_t port = 27960;
  /// The address asked, whether it answered (else why not), and what.
  std::string address;
  bool answered = false;
  std::string why;
  server_status status;
  std::vector<rotation_place> places;
};

/// Reads HOST[:PORT], [IPV6]:PORT or a bare IPv6 literal into `*facts`;
/// false where the port isn't a number from 1 to 65535.
bool read_server_address(const std::string& text, server_facts* facts);

/// Asks the server `facts` names for its status, once (a few tries within
/// about two seconds), and places the map it plays in `trace`.
void ask_server(const rotation_trace& trace, server_facts* facts);
