// The map list reader against the C library's own formatted input: for any
// well-formed map list, read_map_list must find exactly the pairs that a
// plain fscanf("%s %d") loop finds in the same bytes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "run/map_list.h"

namespace {

using pairs = std::vector<std::pair<std::string, int>>;

pairs read_with_fscanf(std::string& text) {
  pairs result;
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  char name[256];
  int priority = 0;
  while (std::fscanf(in, "%255s %d", name, &priority) == 2)
    result.emplace_back(name, priority);
  std::fclose(in);
  return result;
}

pairs read_with_reader(const std::string& text) {
  pairs result;
  for (const map_entry& entry : read_map_list(text).entries)
    result.emplace_back(std::string(entry.name()), entry.priority);
  return result;
}

/// A well-formed map list: names of any bytes but white space, NUL and
/// 0x1A; priorities across the whole 32-bit range, written with or without
/// a sign and leading zeros; any mix of white space, CR LF and LF.
std::string generate_map_list(std::mt19937& random) {
  static const std::string spaces = " \t\n\v\f\r";
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const auto separator = [&] {
    switch (pick(0, 3)) {
      case 0:
        return std::string("\r\n");
      case 1:
        return std::string("\n");
      default: {
        std::string run(static_cast<std::size_t>(pick(1, 3)), ' ');
        for (char& c : run) c = spaces[static_cast<std::size_t>(pick(0, 5))];
        return run;
      }
    }
  };
  std::string text = pick(0, 1) ? separator() : "";
  for (int pair = pick(0, 30); pair > 0; --pair) {
    for (int length = pick(1, 40); length > 0; --length) {
      char c;
      do c = static_cast<char>(pick(1, 255));
      while (spaces.find(c) != std::string::npos || c == '\x1a');
      text += c;
    }
    text += separator();
    const long long priority =
        pick(0, 3) ? pick(-5, 100) : pick(INT_MIN, INT_MAX);
    if (priority >= 0 && pick(0, 4) == 0) text += '+';
    if (priority < 0) text += '-';
    text += std::string(static_cast<std::size_t>(pick(0, 1) * pick(0, 3)), '0');
    text += std::to_string(priority < 0 ? -priority : priority);
    text += separator();
  }
  return text;
}

TEST(MapListDifferential, MatchesFscanfOnWellFormedLists) {
  std::mt19937 random(20261207);
  std::size_t pairs_read = 0;
  for (int list = 0; list < 5000; ++list) {
    std::string text = generate_map_list(random);
    const pairs expected = read_with_fscanf(text);
    ASSERT_EQ(expected, read_with_reader(text)) << "list " << list;
    pairs_read += expected.size();
  }
  EXPECT_GT(pairs_read, 50000u);  // the lists were not trivially empty
}

}  // namespace
