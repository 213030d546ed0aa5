#include "check/list_analysis.h"

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

/// Whether `name` looks like the map list's under another name: another
/// case, a .txt that Notepad added, a copy, the underscore left out or
/// another put in its place ("maplist.cfg", "Map-List.cfg").
bool is_near_list_name(const std::string& name) {
  std::string letters;
  for (const char c : lower(name))
    if (c != '_' && c != '-' && c != ' ') letters += c;
  return letters.rfind("maplist", 0) == 0;
}

bool is_comment_word(std::string_view word) {
  return word.substr(0, 1) == "#" || word.substr(0, 2) == "//" ||
         word.substr(0, 1) == ";";
}

}  // namespace

list_facts analyse_list(const list_read& list,
                        const std::vector<std::string>& beside) {
  list_facts facts;
  facts.list = list;
  if (list.status == disk_result::missing) {
    // A list saved under a near name: another case, a .txt that Notepad
    // added, a copy.
    for (const std::string& name : beside)
      if (name != map_list_file && is_near_list_name(name))
        facts.near_names.push_back(name);
    return facts;
  }
  if (!list.status.ok()) return facts;
  std::vector<std::string_view> left_out;
  const map_list entries = read_map_list(list.text, &left_out);
  facts.entries = entries.entries.size();
  const line_index lines(list.text);
  facts.mistakes = !left_out.empty();
  const auto note = [&](list_note::kind what, std::string_view token,
                        const char* why = nullptr, std::int32_t priority = 0) {
    facts.notes.push_back({what, lines.line_of(token), token, why, priority});
  };
  for (const std::string_view token : left_out)
    note(list_note::kind::no_number, token);
  // The names that play, by their hash, to tell those listed more than
  // once: numbers sort faster than names.
  std::vector<std::pair<std::size_t, std::string_view>> playing;
  playing.reserve(entries.entries.size());
  for (const map_entry& entry : entries.entries) {
    if (const char* why = why_not_playable(entry.name())) {
      facts.mistakes = true;
      note(list_note::kind::not_playable, entry.name(), why);
    } else if (entry.priority < 0) {
      note(list_note::kind::negative, entry.name(), nullptr, entry.priority);
    } else {
      if (const char* why = why_wont_load(entry.name())) {
        facts.mistakes = true;
        note(list_note::kind::wont_load, entry.name(), why);
      }
      playing.emplace_back(std::hash<std::string_view>()(entry.name()),
                           entry.name());
    }
    if (is_comment_word(lines.first_word_of(entry.name()))) {
      facts.mistakes = true;
      note(list_note::kind::from_comment, entry.name());
    }
  }
  // Each note in the order of the list.
  std::stable_sort(facts.notes.begin(), facts.notes.end(),
                   [](const list_note& a, const list_note& b) {
                     return a.token.data() < b.token.data();
                   });
  // Names listed twice: sorted together, then told where each first stands.
  std::sort(playing.begin(), playing.end(), [](const auto& a, const auto& b) {
    return a.first != b.first     ? a.first < b.first
           : a.second != b.second ? a.second < b.second
                                  : a.second.data() < b.second.data();
  });
  for (std::size_t at = 0; at < playing.size();) {
    std::size_t end = at + 1;
    while (end < playing.size() && playing[end].second == playing[at].second)
      ++end;
    if (end - at > 1) facts.twice.push_back({playing[at].second, end - at});
    at = end;
  }
  std::sort(facts.twice.begin(), facts.twice.end(),
            [](const listed_twice& a, const listed_twice& b) {
              return a.name.data() < b.name.data();
            });
  return facts;
}
