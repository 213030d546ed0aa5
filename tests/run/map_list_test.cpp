#include "run/map_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
using pairs = std::vector<std::pair<std::string, int>>;

pairs read(std::string_view text) {
  pairs result;
  for (const map_entry& entry : read_map_list(text).entries)
    result.emplace_back(std::string(entry.name()), entry.priority);
  return result;
}

TEST(MapList, ReadsPairsInFileOrder) {
  EXPECT_EQ(pairs({{"alpha", 3}, {"bravo", 1}, {"charlie", 3}}),
            read("alpha 3\nbravo 1\ncharlie 3\n"));
}

TEST(MapList, EmptyOrBlankListHasNoEntries) {
  for (const char* text : {"", " ", "\r\n\r\n", " \t\n\v\f\r"}) {
    EXPECT_TRUE(read_map_list(text).entries.empty()) << text;
  }
}

TEST(MapList, AnyWhiteSpaceSeparatesAndLinesCarryNoMeaning) {
  const pairs expected = {{"alpha", 2}, {"bravo", 1}};
  EXPECT_EQ(expected, read("alpha 2 bravo 1"));
  EXPECT_EQ(expected, read("alpha 2\r\nbravo 1\r\n"));
  EXPECT_EQ(expected, read("alpha\n2\nbravo\r\n1"));
  EXPECT_EQ(expected, read("\v\falpha\t\t2 \r\n\n bravo\f1\v\n\n\n"));
}

TEST(MapList, ByteOneAEndsTheList) {
  EXPECT_EQ(pairs({{"alpha", 1}}), read("alpha 1\x1a"
                                        "bravo 2"));
  EXPECT_EQ(pairs({{"alpha", 1}}), read("alpha 1\n\x1a\x1a"));
  EXPECT_EQ(pairs(), read("alpha \x1a"
                          "1"));
  EXPECT_EQ(pairs(), read("\x1a"));
}

TEST(MapList, NamesAreBytesKeptExactly) {
  EXPECT_EQ(pairs({{"\xEF\xBB\xBF"
                    "alpha",
                    1},
                   {"\x80\xFF", 2}}),
            read("\xEF\xBB\xBF"
                 "alpha 1\n\x80\xFF 2"));
  EXPECT_EQ(pairs({{"al", 1}, {"bravo", 2}}),
            read(std::string_view("al\0pha 1 bravo 2", 16)));
  EXPECT_EQ(pairs({{"alpha", 2}, {"ALPHA", 2}, {"alpha", 2}}),
            read("alpha 2 ALPHA 2 alpha 2"));
}

/// `text` (ASCII) as UTF-16 in the given byte order, with its mark.
std::string utf16(std::string_view text, bool big_endian) {
  std::string units = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : text)
    units += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return units;
}

pairs read_file_bytes(std::string bytes, list_encoding* how = nullptr) {
  return read(map_list_text(&bytes, how));
}

TEST(MapList, ListsThatWindowsEditorsWriteReadAsThePlainList) {
  const pairs expected = {{"canyon", 3}, {"harbor", 2}, {"foundry", 1}};
  for (const std::string plain : {"canyon 3\r\nharbor 2\r\nfoundry 1",
                                  "canyon 3\r\nharbor 2\r\nfoundry 1\r\n"}) {
    const std::pair<std::string, list_encoding> files[] = {
        {plain, list_encoding::plain},
        {"\xEF\xBB\xBF" + plain, list_encoding::utf8_with_mark},
        {utf16(plain, false), list_encoding::utf16le},
        {utf16(plain, true), list_encoding::utf16be}};
    for (const auto& [bytes, encoding] : files) {
      list_encoding how = list_encoding::plain;
      EXPECT_EQ(expected, read_file_bytes(bytes, &how)) << bytes;
      EXPECT_EQ(encoding, how) << bytes;
    }
  }
  // Beyond ASCII, and what is no character costs only its own token: a
  // lone surrogate, a cut last unit.
  EXPECT_EQ(pairs({{"\xC3\xA9t\xC3\xA9", 1}, {"\xF0\x9F\x98\x80", 2}}),
            read_file_bytes("\xFF\xFE\xE9\0t\0\xE9\0 \0"
                            "1\0 \0\x3D\xD8\x00\xDE \0"
                            "2\0"s));
  EXPECT_EQ(pairs({{"\xEF\xBF\xBD"
                    "b",
                    1},
                   {"c", 2}}),
            read_file_bytes(utf16("a 1 c 2", false)
                                .replace(2, 2, "\x00\xDC"s)
                                .insert(4, "b\0"s)));
  EXPECT_EQ(pairs({{"a", 1}}), read_file_bytes(utf16("a 1 b 2", true) + "x"));
  EXPECT_EQ(pairs({{"a", 1}}),
            read_file_bytes(utf16("a 1 b 2", true).substr(0, 15)));
}

TEST(MapList, LongNamesAreKeptWhole) {
  const std::string name(100000, 'n');
  EXPECT_EQ(pairs({{name, 1}}), read(name + " 1"));
}

TEST(MapList, MalformedPriorityDropsItsPairOnly) {
  for (const char* bad : {"x", "12abc", "+", "-", "--5", "+-5", "1.5", "0x10"})
    EXPECT_EQ(pairs({{"bravo", 2}}),
              read(std::string("alpha ") + bad + " bravo 2"))
        << bad;
  EXPECT_EQ(pairs({{"alpha", 1}}), read("alpha 1 bravo"));
  EXPECT_EQ(pairs(), read("alpha"));
  EXPECT_EQ(pairs({{"alpha", 7}, {"b", 0}}), read("alpha +7 b -0"));
}

TEST(MapList, AMistakeCostsOnlyTheEntriesItTouches) {
  const std::pair<const char*, pairs> table[] = {
      {"a 3 b c 2 d 1", {{"a", 3}, {"c", 2}, {"d", 1}}},
      {"// updated 2024-05-01 a 3 b 2", {{"a", 3}, {"b", 2}}},
      {"a = 3 b 2", {{"=", 3}, {"b", 2}}},
      {"a x b 1", {{"b", 1}}},
      {"a 12abc b 1 c", {{"b", 1}}},
      {"[maps] canyon 3 ctf harbor 2", {{"canyon", 3}, {"harbor", 2}}},
      {"canyon,3 harbor\xC2\xA0"
       "2 foundry 1",
       {{"foundry", 1}}},
      {"# top 5 rooftops 1", {{"top", 5}, {"rooftops", 1}}},
  };
  for (const auto& [list, expected] : table)
    EXPECT_EQ(expected, read(list)) << list;
}

TEST(MapList, OutOfRangePrioritiesSaturate) {
  EXPECT_EQ(pairs({{"a", INT_MAX},
                   {"b", INT_MAX},
                   {"c", INT_MAX},
                   {"d", INT_MIN},
                   {"e", INT_MIN},
                   {"f", INT_MAX}}),
            read("a 99999999999 b 4294967297 c 2147483648 d -2147483648 "
                 "e -99999999999999999999999 f 000000000002147483647"));
}

}  // namespace
