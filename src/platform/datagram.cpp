#include "platform/datagram.h"

#ifdef _WIN32
// getaddrinfo and its kin are ws2_32's own from XP on.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <memory>

namespace {

#ifdef _WIN32
using socket_handle = SOCKET;
constexpr socket_handle no_socket = INVALID_SOCKET;
void close_socket(socket_handle s) { closesocket(s); }
/// Whether the last call failed for a port that nothing listens on (an
/// ICMP "port unreachable" answered the question).
bool refused() {
  const int error = WSAGetLastError();
  return error == WSAECONNRESET || error == WSAECONNREFUSED;
}
#else
using socket_handle = int;
constexpr socket_handle no_socket = -1;
void close_socket(socket_handle s) { ::close(s); }
bool refused() { return errno == ECONNREFUSED; }
#endif

/// The most a datagram holds, and one byte more to tell one cut short.
constexpr std::size_t most_reply = 65536;

/// `host`:`port` as a person writes it.
std::string shown_address(const sockaddr* address, socklen_t size,
                          std::uint16_t port) {
  char host[NI_MAXHOST] = "";
  if (getnameinfo(address, size, host, sizeof host, nullptr, 0,
                  NI_NUMERICHOST) != 0)
    return "";
  const std::string name = host;
  return (name.find(':') != std::string::npos ? "[" + name + "]" : name) + ":" +
         std::to_string(port);
}

/// Waits up to `ms` for `s` to have a datagram; false where none came.
bool readable(socket_handle s, unsigned ms) {
#ifdef _WIN32
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  timeval wait{static_cast<long>(ms / 1000),
               static_cast<long>(ms % 1000) * 1000};
  return select(0, &ready, nullptr, nullptr, &wait) > 0;
#else
  pollfd ready{s, POLLIN, 0};
  int got;
  while ((got = poll(&ready, 1, static_cast<int>(ms))) < 0 && errno == EINTR) {
  }
  return got > 0;
#endif
}

}  // namespace

datagram_answer ask_over_udp(const std::string& host, std::uint16_t port,
                             std::string_view question, unsigned total_ms,
                             unsigned tries) {
  datagram_answer answer;
#ifdef _WIN32
  WSADATA started;
  if (WSAStartup(MAKEWORD(2, 2), &started) != 0) {
    answer.why = "Winsock can't be started";
    return answer;
  }
  const std::unique_ptr<void, void (*)(void*)> stop(
      &started, [](void*) { WSACleanup(); });
#endif
  addrinfo wanted{};
  wanted.ai_family = AF_UNSPEC;
  wanted.ai_socktype = SOCK_DGRAM;
  // A literal address first, which needs no resolver: the static Linux
  // program can look a name up only through the C library it was built
  // with.
  wanted.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int looked = getaddrinfo(host.c_str(), service.c_str(), &wanted, &found);
  if (looked != 0) {
    wanted.ai_flags = 0;
    looked = getaddrinfo(host.c_str(), service.c_str(), &wanted, &found);
  }
  if (looked != 0) {
    answer.why =
        std::string("the name can't be looked up: ") + gai_strerror(looked);
    return answer;
  }
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(
      found, [](addrinfo* list) { freeaddrinfo(list); });
  socket_handle s = no_socket;
  for (const addrinfo* at = found; at && s == no_socket; at = at->ai_next) {
    s = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
    // Connected, the socket takes datagrams from that address alone.
    if (s != no_socket &&
        connect(s, at->ai_addr, static_cast<socklen_t>(at->ai_addrlen)) != 0) {
      close_socket(s);
      s = no_socket;
    }
    if (s != no_socket)
      answer.address = shown_address(
          at->ai_addr, static_cast<socklen_t>(at->ai_addrlen), port);
  }
  if (s == no_socket) {
    answer.why = "no address of it takes a socket";
    return answer;
  }
  answer.why = "no reply within " + std::to_string(total_ms / 1000) + "." +
               std::to_string(total_ms / 100 % 10) + " s";
  std::string reply(most_reply + 1, '\0');
  for (unsigned tried = 0; tried < tries && !answer.answered; ++tried) {
    send(s, question.data(), static_cast<int>(question.size()), 0);
    if (!readable(s, total_ms / tries)) continue;
    const auto got = recv(s, &reply[0], static_cast<int>(reply.size()), 0);
    if (got < 0) {
      if (refused()) {
        answer.why = "refused: nothing listens on that port";
        break;
      }
      continue;
    }
    answer.answered = true;
    answer.why.clear();
    reply.resize(static_cast<std::size_t>(got));
    answer.reply = std::move(reply);
  }
  close_socket(s);
  return answer;
}
