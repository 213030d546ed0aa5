#include "list_diagnostics.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "map_list.h"
#include "rotation_order.h"

namespace {

/// The line a view into `text` starts on, counting from 1.
struct line_index {
  explicit line_index(std::string_view text) : text(text) {
    starts.push_back(0);
    for (std::size_t at = 0; at < text.size(); ++at)
      if (text[at] == '\n') starts.push_back(at + 1);
  }
  std::size_t line_of(std::string_view part) const {
    const std::size_t at = static_cast<std::size_t>(part.data() - text.data());
    return static_cast<std::size_t>(
        std::upper_bound(starts.begin(), starts.end(), at) - starts.begin());
  }
  /// The first token of the line `part` stands on.
  std::string_view first_word_of(std::string_view part) const {
    std::size_t at = starts[line_of(part) - 1];
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ')
      ++end;
    return text.substr(at, end - at);
  }
  std::string_view text;
  std::vector<std::size_t> starts;
};

const char* encoding_name(list_encoding how) {
  switch (how) {
    case list_encoding::utf8_with_mark:
      return "UTF-8 with a byte-order mark";
    case list_encoding::utf16le:
      return "UTF-16 (little-endian), turned into UTF-8";
    case list_encoding::utf16be:
      return "UTF-16 (big-endian), turned into UTF-8";
    default:
      return "plain text";
  }
}

bool is_comment_word(std::string_view word) {
  return word.substr(0, 1) == "#" || word.substr(0, 2) == "//" ||
         word.substr(0, 1) == ";";
}

}  // namespace

bool report_list(report_text& out, const run_record& record) {
  out << "== The map list\n";
  if (record.list_read != disk_result::done) {
    out << record.list_file
        << (record.list_read == disk_result::missing ? ": not found\n\n"
                                                     : ": can't be read\n\n");
    return false;
  }
  std::vector<std::string_view> left_out;
  const map_list list = read_map_list(record.list_text, &left_out);
  out << record.list_file << ", read as " << encoding_name(record.encoding)
      << ": " << counted(list.entries.size(), "entry", "entries") << "\n";
  const line_index lines(record.list_text);
  bool mistakes = !left_out.empty();
  const auto say = [&](std::string_view at, const std::string& what) {
    out << "  line " << lines.line_of(at) << ": " << shown(at) << " " << what
        << "\n";
  };
  for (const std::string_view token : left_out)
    say(token, "is left out: it has no whole number after it");
  std::unordered_map<std::string_view, std::size_t> seen;
  for (const map_entry& entry : list.entries) {
    if (const char* why = why_not_playable(entry.name)) {
      mistakes = true;
      say(entry.name, std::string("is left out: ") + why);
    } else if (entry.priority < 0) {
      say(entry.name, "priority " + std::to_string(entry.priority) +
                          ": left out on purpose");
    } else {
      if (const char* why = why_wont_load(entry.name)) {
        mistakes = true;
        say(entry.name, std::string("won't load: ") + why);
      }
      ++seen[entry.name];
    }
    if (is_comment_word(lines.first_word_of(entry.name))) {
      mistakes = true;
      say(entry.name, "comes from a comment line: it is still read as a map");
    }
  }
  for (const auto& [name, times] : seen)
    if (times > 1)
      out << "  " << shown(name) << " is listed " << times
          << " times, and plays as often\n";
  out << "\n";
  return mistakes;
}
