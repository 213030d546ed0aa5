#pragma once

#include <string>
#include <string_view>
#include <type_traits>

/// The text of map_rotation_check's report as it grows: text and numbers,
/// appended.
struct report_text {
  std::string text;
  report_text& operator<<(std::string_view part) {
    text += part;
    return *this;
  }
  report_text& operator<<(char c) {
    text += c;
    return *this;
  }
  template <typename Number,
            typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
  report_text& operator<<(Number number) {
    text += std::to_string(number);
    return *this;
  }
};

/// `text` quoted, in printable ASCII: any other byte as \xHH.
std::string shown(std::string_view text);

/// `count` and `one` or `many` after it: "1 entry", "3 entries".
std::string counted(std::size_t count, std::string_view one,
                    std::string_view many);
