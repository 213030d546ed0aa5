#include "support/report_lines.h"

#include <vector>

namespace {

/// The lines of `text`, without their line ends.
std::vector<std::string> lines_of(const std::string& text, bool* crlf) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos;
       at = end + 1) {
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      *crlf = true;
    }
    lines.push_back(std::move(line));
  }
  lines.push_back(text.substr(at));
  return lines;
}

std::size_t indent_of(const std::string& line) {
  const std::size_t indent = line.find_first_not_of(' ');
  return indent == std::string::npos ? 0 : indent;
}

}  // namespace

std::string unwrapped(const std::string& report, std::size_t width) {
  bool crlf = false;
  const std::vector<std::string> lines = lines_of(report, &crlf);
  std::string out;
  std::size_t began = 0, piece = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t indent = indent_of(line);
    const std::string word =
        line.substr(indent, line.find(' ', indent) - indent);
    const bool goes_on = i > 0 && !line.empty() && indent == began + 4 &&
                         piece + 1 + word.size() > width;
    if (goes_on) {
      out += ' ';
      out += line.substr(indent);
      piece = line.size();
      continue;
    }
    if (i > 0) out += crlf ? "\r\n" : "\n";
    out += line;
    began = indent;
    piece = line.size();
  }
  return out;
}

std::string overlong_line(const std::string& report, std::size_t width) {
  bool crlf = false;
  for (const std::string& line : lines_of(report, &crlf))
    if (line.size() > width) {
      const std::size_t blank = line.rfind(' ', width);
      if (blank != std::string::npos && blank > indent_of(line) + 4)
        return line;
    }
  return "";
}
