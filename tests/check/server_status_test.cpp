#include "check/server_status.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string head = "\xFF\xFF\xFF\xFFstatusResponse\n";

TEST(ServerStatus, ReadsAReplyFromTheNetworkTrustingNothingInIt) {
  // A reply, and the map, the count of players and of pairs it gives; or
  // that it is no status reply.
  const struct {
    std::string reply;
    bool read;
    const char* map;
    std::size_t players, pairs;
  } rows[] = {
      // As the game's server sends it, two players.
      {head + "\\sv_hostname\\Debian\\mapname\\oa_dm4\\g_gametype\\0\\sv_"
              "maxclients\\8\n3 48 \"bob\"\n0 999 \"^1eve\"\n",
       true, "oa_dm4", 2, 4},
      {head + "\\mapname\\oa_dm1\n", true, "oa_dm1", 0, 1},
      // Cut anywhere: what is there counts, nothing more.
      {head + "\\mapname\\oa_d", true, "oa_d", 0, 1},
      {head + "\\mapna", true, "", 0, 1},
      {head, true, "", 0, 0},
      {head.substr(0, 10), false, "", 0, 0},
      // The first mapname counts; a key without a value, a value with odd
      // bytes, a last player line without its line end.
      {head + "\\mapname\\a\x1B\xFF\\mapname\\b\\empty\n1 2 \"x\"", true,
       "a\x1B\xFF", 1, 3},
      {head + "\\\\\\\\\n\n\n", true, "", 0, 2},
      // Not a status reply: another answer, or none of this family.
      {"\xFF\xFF\xFF\xFFinfoResponse\n\\mapname\\x", false, "", 0, 0},
      {"statusResponse\n\\mapname\\x", false, "", 0, 0},
      {std::string(70000, '\xFF'), false, "", 0, 0},
  };
  for (const auto& row : rows) {
    const server_status status = read_status_reply(row.reply);
    EXPECT_EQ(row.read, status.read) << row.reply;
    EXPECT_EQ(row.map, status.map) << row.reply;
    EXPECT_EQ(row.players, status.players) << row.reply;
    EXPECT_EQ(row.pairs, status.info.size()) << row.reply;
  }
}

TEST(ServerStatus, PlacesTheMapItPlaysAndReadsTheAddressAsked) {
  rotation_trace trace;
  for (const char* name : {"a", "B", "c", "b"})
    trace.maps.push_back({name, "", ""});
  trace.closes = true;
  const auto places = places_of("b", trace);
  ASSERT_EQ(2u, places.size());
  EXPECT_EQ(2u, places[0].number);
  EXPECT_EQ("c", places[0].next);
  EXPECT_EQ("a", places[1].next);  // the last leads back to the first
  trace.closes = false;
  EXPECT_EQ("", places_of("b", trace)[1].next);
  // An address, its host and port; or none where it can't be read.
  const struct {
    const char* text;
    bool read;
    const char* host;
    std::uint16_t port;
  } addresses[] = {
      {"127.0.0.1", true, "127.0.0.1", 27960},
      {"game.example:27961", true, "game.example", 27961},
      {"[::1]:27962", true, "::1", 27962},
      {"::1", true, "::1", 27960},
      {"[::1]", true, "::1", 27960},
      {"host:", false, "", 0},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:99999999999999999999", false, "", 0},
      {"host:12a", false, "", 0},
      {"[::1", false, "", 0},
      {":27960", false, "", 0},
  };
  for (const auto& row : addresses) {
    server_facts facts;
    EXPECT_EQ(row.read, read_server_address(row.text, &facts)) << row.text;
    if (!row.read) continue;
    EXPECT_EQ(row.host, facts.host) << row.text;
    EXPECT_EQ(row.port, facts.port) << row.text;
  }
}

}  // namespace
