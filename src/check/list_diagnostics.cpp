#include "check/list_diagnostics.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/path.h"
#include "run/map_list.h"
#include "run/rotation_order.h"

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

bool report_list(report_text& out, const run_record& record,
                 const std::vector<std::string>& beside) {
  out << "== The map list\n";
  if (record.list_read == disk_result::missing) {
    out << record.list_file << ": not found\n";
    // A list saved under a near name: another case, a .txt that Notepad
    // added, a copy.
    std::string near;
    for (const std::string& name : beside)
      if (name != map_list_file && lower(name).rfind("map_list", 0) == 0)
        near += (near.empty() ? "" : ", ") + name;
    if (!near.empty())
      out << "  beside it: " << near << "; a run reads " << map_list_file
          << " alone, in that case: rename the list you meant\n";
    out << "\n";
    return false;
  }
  if (record.list_read != disk_result::done) {
    out << record.list_file << ": can't be read: " << record.list_read.reason
        << "\n\n";
    return false;
  }
  std::vector<std::string_view> left_out;
  const map_list list = read_map_list(record.list_text, &left_out);
  out << record.list_file << ", read as " << encoding_name(record.encoding)
      << ": " << counted(list.entries.size(), "entry", "entries") << "\n";
  const line_index lines(record.list_text);
  bool mistakes = !left_out.empty();
  // Each note with the token it is about, told in the order of the list.
  std::vector<std::pair<std::string_view, std::string>> notes;
  for (const std::string_view token : left_out)
    notes.emplace_back(token, "is left out: it has no whole number after it");
  // The names that play, by their hash, to tell those listed more than
  // once: numbers sort faster than names.
  std::vector<std::pair<std::size_t, std::string_view>> playing;
  playing.reserve(list.entries.size());
  for (const map_entry& entry : list.entries) {
    if (const char* why = why_not_playable(entry.name)) {
      mistakes = true;
      notes.emplace_back(entry.name, std::string("is left out: ") + why);
    } else if (entry.priority < 0) {
      notes.emplace_back(entry.name, "priority " +
                                         std::to_string(entry.priority) +
                                         ": left out on purpose");
    } else {
      if (const char* why = why_wont_load(entry.name)) {
        mistakes = true;
        notes.emplace_back(entry.name, std::string("won't load: ") + why);
      }
      playing.emplace_back(std::hash<std::string_view>()(entry.name),
                           entry.name);
    }
    if (is_comment_word(lines.first_word_of(entry.name))) {
      mistakes = true;
      notes.emplace_back(
          entry.name, "comes from a comment line: it is still read as a map");
    }
  }
  std::stable_sort(notes.begin(), notes.end(),
                   [](const auto& a, const auto& b) {
                     return a.first.data() < b.first.data();
                   });
  for (const auto& [at, what] : notes)
    out << "  line " << lines.line_of(at) << ": " << shown(at) << " " << what
        << "\n";
  // Names listed twice: sorted together, then told where each first stands.
  std::sort(playing.begin(), playing.end(), [](const auto& a, const auto& b) {
    return a.first != b.first     ? a.first < b.first
           : a.second != b.second ? a.second < b.second
                                  : a.second.data() < b.second.data();
  });
  std::vector<std::pair<std::string_view, std::size_t>> twice;
  for (std::size_t at = 0; at < playing.size();) {
    std::size_t end = at + 1;
    while (end < playing.size() && playing[end].second == playing[at].second)
      ++end;
    if (end - at > 1) twice.emplace_back(playing[at].second, end - at);
    at = end;
  }
  std::sort(twice.begin(), twice.end(), [](const auto& a, const auto& b) {
    return a.first.data() < b.first.data();
  });
  for (const auto& [name, times] : twice)
    out << "  " << shown(name) << " is listed " << times
        << " times, and plays as often\n";
  out << "\n";
  return mistakes;
}
