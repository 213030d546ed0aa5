#include "check/check_report.h"

std::string shown(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    }
  }
  return out + "\"";
}

std::string counted(std::size_t count, std::string_view one,
                    std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}
