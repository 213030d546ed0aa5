#pragma once

#include <cstdint>
#include <string>
#include <string_view>

/// What asking a host one question over UDP gave.
struct datagram_answer {
  /// The address asked, as "host:port" with an IPv6 literal in brackets;
  /// empty where the name gave none.
  std::string address;
  /// Whether a reply came from that address; else why not, for a person to
  /// read: the name can't be looked up, the port is closed (refused), or
  /// nothing came in time.
  bool answered = false;
  std::string why;
  /// The first reply, whole: at most 65,536 bytes (the most a datagram
  /// holds), so one cut short can't be taken for another.
  std::string reply;
};

/// Sends `question` to `host` at `port` over UDP (the host's first address
/// that takes a socket, IPv4 or IPv6, names and literals alike), `tries`
/// times at most, and waits about `total_ms` in all for one reply from that
/// address alone: a datagram from anywhere else never reaches it. Sends
/// nothing else, ever. Windows: Winsock, from XP on.
datagram_answer ask_over_udp(const std::string& host, std::uint16_t port,
                             std::string_view question, unsigned total_ms,
                             unsigned tries);
