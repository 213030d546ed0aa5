#include "check/check_report.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <vector>

#include "run/rotation_plan.h"
#include "run/rotation_script.h"

namespace {

/// The report's text as it grows: text and numbers, appended.
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

std::string thousands(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

// --- The map list -----------------------------------------------------------

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

std::string note_text(const list_note& note) {
  switch (note.what) {
    case list_note::kind::no_number:
      return "is left out: it has no whole number after it";
    case list_note::kind::not_playable:
      return std::string("is left out: ") + note.why;
    case list_note::kind::negative:
      return "priority " + std::to_string(note.priority) +
             ": left out on purpose";
    case list_note::kind::wont_load:
      return std::string("won't load: ") + note.why;
    default:
      return "comes from a comment line: it is still read as a map";
  }
}

void render_list(report_text& out, const list_facts& facts) {
  out << "== The map list\n";
  const list_read& list = facts.list;
  if (list.status == disk_result::missing) {
    out << shown_bytes(list.file) << ": not found\n";
    std::string near;
    for (const std::string& name : facts.near_names)
      near += (near.empty() ? "" : ", ") + shown_bytes(name);
    if (!near.empty())
      out << "  beside it: " << near << "; a run reads " << map_list_file
          << " alone, by that name in lower case: rename the list you "
             "meant\n";
    out << "\n";
    return;
  }
  if (!list.status.ok()) {
    out << shown_bytes(list.file)
        << ": can't be read: " << shown_bytes(list.status.reason) << "\n\n";
    return;
  }
  out << shown_bytes(list.file) << ", read as " << encoding_name(list.encoding)
      << ": " << counted(facts.entries, "entry", "entries") << "\n";
  for (const list_note& note : facts.notes)
    out << "  line " << note.line << ": " << shown(note.token) << " "
        << note_text(note) << "\n";
  for (const listed_twice& twice : facts.twice)
    out << "  " << shown(twice.name) << " is listed " << twice.times
        << " times, and plays as often\n";
  out << "\n";
}

// --- The run ----------------------------------------------------------------

/// Where the tier of maps of `order[at]`'s priority ends: the run draws
/// their order afresh where it holds more than one.
std::size_t tier_end(const std::vector<map_entry>& order, std::size_t at) {
  std::size_t end = at;
  while (end < order.size() && order[end].priority == order[at].priority) ++end;
  return end;
}

void render_order(report_text& out, const run_record& record) {
  out << "== The order of play\n";
  if (!record.carried_out) out << "None: a run leaves the rotation first.\n";
  const std::vector<map_entry>& order = record.plan.order;
  if (record.carried_out && order.empty()) out << "No map.\n";
  // No variable here: a run draws maps of equal priority afresh, and with
  // them the variables and files of every map after them. What loads each
  // map is said of the rotation in place, which a file holds.
  for (std::size_t at = 0; record.carried_out && at < order.size();) {
    const std::size_t end = tier_end(order, at);
    out << "Priority " << order[at].priority
        << (end - at == 1 ? ":\n"
                          : ", in a fresh random order on every run:\n");
    for (; at < end; ++at) out << "  " << shown(order[at].name()) << "\n";
  }
  out << "\n";
}

// --- The rotation in place ---------------------------------------------------

/// How an admin jumps to `map` where the server ran its file last: its
/// variable, and the file whose text set it; an exec of the file whose own
/// text loads it.
std::string jump_to(const traced_map& map) {
  if (map.variable.empty()) return "exec " + map.file;
  return "vstr " + map.variable + " in " +
         (map.file.empty() ? "no file" : map.file);
}

/// How a trace ends, for a person: back to its first map, or where and why
/// it breaks.
std::string trace_end(const rotation_trace& trace) {
  if (trace.closes)
    return "Then it comes back to " + shown(trace.maps.front().name) + ".";
  return "The chain breaks " +
         (trace.maps.empty() ? std::string("at once")
                             : "after " + shown(trace.maps.back().name)) +
         ":\n  " + shown_bytes(trace.breaks) + ".";
}

void render_in_place(report_text& out, const in_place_facts& facts) {
  out << "== The rotation in place\n";
  for (const auto& [path, reason] : facts.unreadable)
    out << shown_bytes(path) << ": can't be read: " << shown_bytes(reason)
        << "\n";
  const rotation_trace& trace = facts.trace;
  if (!facts.looked || !trace.found) {
    out << (facts.looked ? "None: " + rotation_script_file(1) +
                               " isn't there yet; a run puts one in place.\n"
                         : std::string("Not looked at: its folder wasn't "
                                       "reached (see The files).\n"))
        << "\n";
    return;
  }
  out << "What the files in place make the server play, in order, once it "
         "runs them.\n"
      << "(At the server's console, the line after a map loads it and goes "
         "on from there, whatever\nthe server ran before: its exec loads "
         "the file's first map at once, its vstr then the map.\nWhere the "
         "server has run that file since it was written, the vstr alone "
         "does.)\n";
  const std::vector<std::string> lines = console_lines(trace.maps);
  for (std::size_t at = 0; at < trace.maps.size(); ++at)
    out << "  " << at + 1 << ". " << shown(trace.maps[at].name) << ": "
        << shown_bytes(lines[at]) << "\n";
  if (!trace.closes && !facts.read_whole)
    out << "The check reads no further: it reads at most 8 MiB of a "
           "rotation in place.\n";
  else if (trace.cut_short)
    out << "The check reads no further: it runs at most "
        << thousands(console_budget{}.commands)
        << " commands of a rotation in place.\n";
  else
    out << trace_end(trace) << "\n"
        << (trace.closes ? ""
                         : "A run that puts its rotation in place mends it.\n");
  if (facts.maintained_differs)
    out << "The maintained engine plays it otherwise: "
        << counted(facts.maintained.maps.size(), "map", "maps") << ". "
        << trace_end(facts.maintained) << "\n";
  if (facts.compared && facts.matches_list())
    out << "It plays just the maps of the map list, in the order of their "
           "priorities.\n";
  if (facts.compared && !facts.matches_list()) {
    out << "The map list has changed since it was written; the next run "
           "brings in:\n";
    for (const std::string& name : facts.added)
      out << "  " << shown(name) << ": in the list, not played\n";
    for (const std::string& name : facts.removed)
      out << "  " << shown(name) << ": no longer in the list\n";
    for (const auto& [name, played, listed] : facts.played_otherwise)
      out << "  " << shown(name) << ": played "
          << counted(played, "time", "times") << ", listed "
          << counted(listed, "time", "times") << "\n";
    if (!facts.out_of_order.first.empty())
      out << "  " << shown(facts.out_of_order.second) << ": now ranks above "
          << shown(facts.out_of_order.first) << ", played before it\n";
  }
  out << "\n";
}

void render_server(report_text& out, const server_facts& server,
                   const rotation_trace& trace) {
  if (!server.asked) return;
  out << "== The server at " << shown_bytes(server.address) << "\n";
  if (!server.answered) {
    out << "No answer: " << shown_bytes(server.why)
        << ". (This never changes the exit status.)\n\n";
    return;
  }
  const std::string& map = server.status.map;
  out << "It plays " << shown(map) << " now, with "
      << counted(server.status.players, "player", "players") << ".\n";
  for (const rotation_place& place : server.places)
    out << "That is map " << place.number << " of " << trace.maps.size()
        << " in the files in place (" << shown_bytes(place.console) << ")"
        << (place.next.empty() ? std::string("; the chain breaks after it")
                               : "; next " + shown(place.next))
        << ".\n";
  if (server.places.empty())
    out << "The files in place don't play it: a map loaded by hand, or an "
           "older rotation that the server holds until it next runs "
        << rotation_script_name
        << ". The line after a map under \"The rotation in place\" jumps "
           "into the rotation in place whatever the server ran before.\n";
  out << "\n";
}

/// That a run puts `files` files in place, of `parts` parts.
std::string puts_in_place(std::size_t parts, std::size_t files) {
  return std::string("a run puts ") +
         (files == 1 ? "this file" : "these files") + " in place (" +
         counted(parts, "part", "parts") + ")";
}

/// What a run with `record` does, as one sentence.
std::string outcome_of(const run_record& record) {
  switch (record.result) {
    case run_record::outcome::placed:
      return puts_in_place(record.plan.files.size(), record.files.size());
    case run_record::outcome::unchanged:
      return "what is in place is this rotation already: a run changes "
             "nothing";
    default:
      return "a run leaves every file of the rotation as it is: " + record.why;
  }
}

void render_files(report_text& out, const run_facts& facts) {
  const run_record& own = *facts.own;
  out << "== The files\n";
  if (own.owner.result == owner_switch::given_up)
    out << "A run as root gives up root for good and acts as user "
        << shown_bytes(facts.user) << " in group " << shown_bytes(facts.group)
        << ", the owner of " << shown_bytes(own.owner.folder) << ".\n";
  for (const std::string& path : own.removed)
    out << "Removes " << shown_bytes(path) << ", left by a killed run\n";
  for (const auto& [path, size] : own.files)
    out << shown_bytes(path) << ": " << counted(size, "byte", "bytes") << "\n";
  std::string said = shown_bytes(outcome_of(own));
  said[0] = static_cast<char>(said[0] - 'a' + 'A');
  out << said << ".\n";
  for (const auto& [path, as_named] : facts.case_twins)
    out << shown_bytes(path) << " differs from " << shown_bytes(as_named)
        << " only in case: a server may run it instead\n";
  if (!facts.others.empty())
    out << "In the order above the rotation takes "
        << counted(own.plan.files.size(), "file", "files") << ".\n";
  for (const other_order& other : facts.others)
    out << "In another order of the same list the rotation takes "
        << counted(other.parts, "file", "files") << ": then "
        << shown_bytes(outcome_of(*other.record)) << ".\n";
  out << "\n";
}

// --- The maps ---------------------------------------------------------------

/// Where `source` is.
std::string where(const map_source& source, const std::string& name) {
  if (source.where == map_source::kind::loose)
    return "loose, " + shown_bytes(source.file);
  std::string text = "in " + shown_bytes(source.file);
  if (source.entry != "maps/" + name + ".bsp")
    text += " as " + shown_bytes(source.entry) +
            " (another case: archives match any case)";
  return text;
}

/// What an engine does with the map of `source`, said after "the ...
/// engine".
std::string engine_does(const map_source& source, const std::string& name) {
  if (source.where == map_source::kind::none) return "doesn't find it";
  if (source.loads()) return "loads it " + where(source, name);
  return "finds it " + where(source, name) + ", but " + source.wont_load;
}

/// Whether two engines do the same with a map.
bool same(const map_source& a, const map_source& b) {
  return a.where == b.where && a.file == b.file && a.entry == b.entry &&
         std::string_view(a.wont_load ? a.wont_load : "") ==
             std::string_view(b.wont_load ? b.wont_load : "");
}

/// What both engines do with one map, and for one found nowhere, the
/// `close` names.
void render_map(report_text& out, const std::string& name,
                const map_sources& found,
                const std::vector<std::string>& close) {
  const map_source &original = found.original, &maintained = found.maintained;
  out << "  " << shown(name) << ": ";
  if (original.loads()) {
    out << where(original, name);
  } else if (original.where != map_source::kind::none) {
    out << (original.unsure ? "MAY NOT LOAD: " : "WON'T LOAD: ")
        << where(original, name) << ", but " << original.wont_load;
  } else if (maintained.where != map_source::kind::none) {
    out << "NOT FOUND by the original engine; the maintained engine "
        << engine_does(maintained, name);
  } else {
    out << "NOT FOUND";
    for (std::size_t i = 0; i < close.size(); ++i)
      out << (i == 0 ? "; did you mean " : " or ") << shown_bytes(close[i]);
    if (!close.empty()) out << "?";
  }
  if (original.where != map_source::kind::none && !same(original, maintained))
    out << " (the maintained engine " << engine_does(maintained, name) << ")";
  out << "\n";
  for (const std::string& note : found.notes)
    out << "    " << shown_bytes(note) << "\n";
}

void render_maps(report_text& out, const maps_facts& facts) {
  out << "== The maps in the game's folders\n";
  if (facts.out_of_memory) {
    out << "Ran out of memory while looking through the game's folders: no "
           "map was checked.\n\n";
    return;
  }
  for (const std::string& problem : facts.search.problems)
    out << shown_bytes(problem) << "\n";
  if (!facts.any_source()) {
    out << (facts.named
                ? "No archive (*.pk3) that can be read, and no loose map, "
                  "in the game's folders named: no map was checked.\n"
                : "No archive (*.pk3) found: give the game's folders to "
                  "check the maps against them.\n");
    out << "\n";
    return;
  }
  for (std::size_t i = 0; i < facts.search.maps.size(); ++i)
    render_map(out, facts.search.maps[i].first, facts.search.maps[i].second,
               facts.close[i]);
  if (facts.close_cut)
    out << "(Close names were looked for only for the first maps not "
           "found.)\n";
  out << "\n";
}

// --- The server's config ----------------------------------------------------

/// Where the size of the SW_rotate.cfg comes from, where it isn't the next
/// run's own.
std::string rotation_why(const config_request& request) {
  switch (request.source) {
    case rotation_source::largest_tried:
      return " (the largest SW_rotate.cfg of the orders tried; the next "
             "run's is " +
             std::to_string(request.next_run_size) + " bytes)";
    case rotation_source::in_place:
      return " (the SW_rotate.cfg in place, which a run keeps)";
    default:
      return "";
  }
}

std::string finding_text(const config_finding& finding,
                         const config_request& request) {
  const std::string via =
      finding.via.empty() ? "" : shown_bytes(finding.via) + " runs ";
  const std::string exec = via + "exec " + shown_bytes(finding.command);
  switch (finding.what) {
    case config_finding::kind::other_case:
      return exec + " names the rotation in another case than " +
             rotation_script_name +
             ": that works on Windows, and fails on Linux, where the engine "
             "looks files up in their own case";
    case config_finding::kind::runs_rotation:
      return exec + ", with " + thousands(finding.behind) +
             (finding.behind == 1 ? " byte" : " bytes") +
             " of config still waiting behind it: " +
             thousands(request.rotation_size) + rotation_why(request) + " + " +
             thousands(finding.behind) +
             (!finding.fits
                  ? " > 16,382, so the console refuses the whole rotation "
                    "(\"Cbuf_InsertText overflowed\"): put the exec last"
              : finding.room_for_any
                  ? " <= 16,382, so the console takes it whole"
                  : " <= 16,382, so the console takes it whole; but with "
                    "more than 8,190 bytes behind the exec, a longer list, "
                    "whose SW_rotate.cfg may take 8,192 bytes (about 35 "
                    "maps), would be refused: put the exec last");
    case config_finding::kind::too_large:
      if (finding.whole_config())
        return exec +
               ", as the server runs it: larger than the console's buffer "
               "takes even with nothing behind it, so none of it runs "
               "(\"Cbuf_InsertText overflowed\")";
      return exec + " doesn't fit into the console's buffer: none of it runs";
    case config_finding::kind::loop:
      return exec +
             " runs configs in a loop, which holds the console for ever: "
             "read no further";
    case config_finding::kind::budget:
      return "the check reads no further: its configs run more than the " +
             thousands(request.budget.commands) +
             " commands it follows of them";
    default:
      return via + shown_bytes(finding.command) +
             (finding.loads
                  ? " loads a map after the rotation's exec, which sets "
                    "nextmap to \"map_restart 0\""
                  : " changes nextmap after the rotation's exec") +
             ": the rotation stops after its first map";
  }
}

void render_configs(report_text& out, const config_facts& facts) {
  out << "== The server's config\n";
  const config_request& request = facts.request;
  for (const std::string& path : facts.missing)
    out << shown_bytes(path) << ": not found (named with --config)\n";
  for (const auto& [path, reason] : facts.unreadable)
    out << shown_bytes(path) << ": can't be read: " << shown_bytes(reason)
        << "\n";
  for (const config_reading& read : facts.readings) {
    out << shown_bytes(read.path)
        << (read.runs_rotation ? " runs the rotation:\n"
                               : " doesn't run the rotation:\n");
    for (const config_finding& finding : read.findings) {
      out << "  "
          << (finding.file.empty() ? "" : shown_bytes(finding.file) + ", ")
          << (finding.whole_config()
                  ? ""
                  : "line " + std::to_string(finding.line) + ": ")
          << finding_text(finding, request);
      if (finding.times > 1) out << " (" << finding.times << " times)";
      out << "\n";
    }
    if (read.maintained_differs)
      out << "  The maintained engine reads it otherwise: it "
          << (!read.maintained_runs ? "never starts the rotation"
              : read.maintained_stops
                  ? "starts the rotation, which then stops after its first "
                    "map"
                  : "starts the rotation, and nothing stops it")
          << ".\n";
  }
  if (facts.capped)
    out << "The check read the first " << thousands(request.most_configs)
        << " configs only: one past them may run the rotation or stop it.\n";
  if (!facts.any_read && request.named.empty()) {
    out << "No server config here (a .cfg other than the rotation's files and "
           "the map list): name it with --config FILE to check it.\n\n";
    return;
  }
  // A config too large as a whole has its exec where it belongs already.
  const bool too_large = std::any_of(
      facts.readings.begin(), facts.readings.end(), [](const auto& read) {
        return std::any_of(read.findings.begin(), read.findings.end(),
                           [](const config_finding& finding) {
                             return finding.what ==
                                        config_finding::kind::too_large &&
                                    finding.whole_config();
                           });
      });
  if (!facts.runs && facts.any_read)
    out << "No config " << (request.named.empty() ? "here " : "named ")
        << "runs exec " << rotation_script_name
        << ": the server never starts the rotation. "
        << (too_large ? "Keep each config under 16 KiB: move what you can "
                        "into configs that it execs.\n"
                      : "Put exec " + std::string(rotation_script_name) +
                            " at the end of the server's config.\n");
  out << "\n";
}

// --- The report as data ----------------------------------------------------

using json = nlohmann::ordered_json;

/// Paths, each with the reason it can't be read.
json unreadable_json(
    const std::vector<std::pair<std::string, std::string>>& unreadable) {
  json out = json::array();
  for (const auto& [path, reason] : unreadable)
    out.push_back({{"path", path}, {"reason", reason}});
  return out;
}

const char* note_kind(list_note::kind what) {
  switch (what) {
    case list_note::kind::no_number:
      return "no_number";
    case list_note::kind::not_playable:
      return "not_playable";
    case list_note::kind::negative:
      return "negative";
    case list_note::kind::wont_load:
      return "wont_load";
    default:
      return "from_comment";
  }
}

json list_json(const list_facts& facts) {
  const list_read& list = facts.list;
  json out = {{"file", list.file},
              {"read", list.status.ok()                      ? "read"
                       : list.status == disk_result::missing ? "missing"
                                                             : "unreadable"},
              {"reason", list.status.ok() ? "" : list.status.reason},
              {"encoding", list.encoding == list_encoding::utf8_with_mark
                               ? "utf8_with_mark"
                           : list.encoding == list_encoding::utf16le ? "utf16le"
                           : list.encoding == list_encoding::utf16be ? "utf16be"
                                                                     : "plain"},
              {"entries", facts.entries},
              {"mistakes", facts.mistakes},
              {"notes", json::array()},
              {"listed_twice", json::array()},
              {"near_names", facts.near_names}};
  for (const list_note& note : facts.notes)
    out["notes"].push_back({{"line", note.line},
                            {"token", note.token},
                            {"kind", note_kind(note.what)},
                            {"priority", note.priority},
                            {"says", note_text(note)}});
  for (const listed_twice& twice : facts.twice)
    out["listed_twice"].push_back(
        {{"name", twice.name}, {"times", twice.times}});
  return out;
}

const char* outcome_name(run_record::outcome result) {
  switch (result) {
    case run_record::outcome::placed:
      return "placed";
    case run_record::outcome::unchanged:
      return "unchanged";
    default:
      return "kept";
  }
}

json run_json(const run_facts& facts) {
  const run_record& own = *facts.own;
  json out = {{"carried_out", own.carried_out},
              {"outcome", outcome_name(own.result)},
              {"says", outcome_of(own)},
              {"reason", own.why},
              {"acts_as", nullptr},
              {"removes", own.removed},
              {"files", json::array()},
              {"order", json::array()},
              {"other_orders", json::array()},
              {"case_twins", json::array()}};
  if (own.owner.result == owner_switch::given_up)
    out["acts_as"] = {{"user", facts.user},
                      {"group", facts.group},
                      {"owner_of", own.owner.folder}};
  for (const auto& [path, size] : own.files)
    out["files"].push_back({{"path", path}, {"bytes", size}});
  const std::vector<map_entry>& order = own.plan.order;
  for (std::size_t at = 0; own.carried_out && at < order.size();) {
    const std::size_t end = tier_end(order, at);
    json tier = {{"priority", order[at].priority}, {"maps", json::array()}};
    for (std::size_t i = at; i < end; ++i)
      tier["maps"].push_back(order[i].name());
    tier["drawn_afresh"] = end - at > 1;
    out["order"].push_back(std::move(tier));
    at = end;
  }
  for (const other_order& other : facts.others)
    out["other_orders"].push_back(
        {{"files", other.parts},
         {"outcome", outcome_name(other.record->result)},
         {"says", outcome_of(*other.record)}});
  for (const auto& [path, as_named] : facts.case_twins)
    out["case_twins"].push_back({{"path", path}, {"differs_from", as_named}});
  return out;
}

json in_place_json(const in_place_facts& facts) {
  const rotation_trace& trace = facts.trace;
  json out = {{"looked", facts.looked},
              {"found", trace.found},
              {"read_whole", facts.read_whole},
              {"maps", json::array()},
              {"closes", trace.closes},
              {"breaks", trace.breaks},
              {"unreadable", unreadable_json(facts.unreadable)},
              {"compared", facts.compared},
              {"added", facts.added},
              {"removed", facts.removed},
              {"played_otherwise", json::array()},
              {"out_of_order", nullptr}};
  const std::vector<std::string> lines = console_lines(trace.maps);
  for (std::size_t at = 0; at < trace.maps.size(); ++at) {
    const traced_map& map = trace.maps[at];
    out["maps"].push_back({{"name", map.name},
                           {"variable", map.variable},
                           {"file", map.file},
                           {"jump", jump_to(map)},
                           {"console", lines[at]}});
  }
  out["maintained_differs"] = facts.maintained_differs;
  out["maintained"] = {{"maps", facts.maintained.maps.size()},
                       {"closes", facts.maintained.closes},
                       {"breaks", facts.maintained.breaks}};
  for (const auto& [name, played, listed] : facts.played_otherwise)
    out["played_otherwise"].push_back(
        {{"name", name}, {"played", played}, {"listed", listed}});
  if (!facts.out_of_order.first.empty())
    out["out_of_order"] = {{"played_first", facts.out_of_order.first},
                           {"now_ranks_above_it", facts.out_of_order.second}};
  return out;
}

json server_json(const server_facts& server, const rotation_trace& trace) {
  if (!server.asked) return nullptr;
  json out = {{"address", server.address},
              {"answered", server.answered},
              {"why", server.why},
              {"map", server.status.map},
              {"players", server.status.players},
              {"places", json::array()}};
  for (const rotation_place& place : server.places)
    out["places"].push_back({{"number", place.number},
                             {"of", trace.maps.size()},
                             {"console", place.console},
                             {"next", place.next}});
  return out;
}

json source_json(const map_source& source, const std::string& name) {
  return {{"found", source.where == map_source::kind::archive ? "archive"
                    : source.where == map_source::kind::loose ? "loose"
                                                              : "none"},
          {"file", source.file},
          {"entry", source.entry},
          {"loads", source.loads()},
          {"wont_load", source.wont_load ? json(source.wont_load) : json()},
          {"unsure", source.unsure},
          {"says", engine_does(source, name)}};
}

json maps_json(const maps_facts& facts) {
  json out = {
      {"named", facts.named},          {"out_of_memory", facts.out_of_memory},
      {"checked", facts.any_source()}, {"archives", facts.search.archives},
      {"loose", facts.search.loose},   {"problems", facts.search.problems},
      {"close_cut", facts.close_cut},  {"maps", json::array()}};
  if (!facts.any_source()) return out;
  for (std::size_t i = 0; i < facts.search.maps.size(); ++i) {
    const auto& [name, found] = facts.search.maps[i];
    report_text line;
    render_map(line, name, found, facts.close[i]);
    line.text.erase(0, 2);
    line.text.erase(line.text.find('\n'));
    out["maps"].push_back({{"name", name},
                           {"says", line.text},
                           {"original", source_json(found.original, name)},
                           {"maintained", source_json(found.maintained, name)},
                           {"notes", found.notes},
                           {"close", facts.close[i]}});
  }
  return out;
}

const char* finding_kind(config_finding::kind what) {
  switch (what) {
    case config_finding::kind::other_case:
      return "other_case";
    case config_finding::kind::runs_rotation:
      return "runs_rotation";
    case config_finding::kind::too_large:
      return "too_large";
    case config_finding::kind::loop:
      return "loop";
    case config_finding::kind::budget:
      return "budget";
    default:
      return "stops_after";
  }
}

json configs_json(const config_facts& facts) {
  json out = {{"any_read", facts.any_read},
              {"runs", facts.runs},
              {"stops", facts.stops},
              {"missing", facts.missing},
              {"capped", facts.capped},
              {"unreadable", unreadable_json(facts.unreadable)},
              {"readings", json::array()}};
  for (const config_reading& read : facts.readings) {
    json reading = {{"path", read.path},
                    {"runs_rotation", read.runs_rotation},
                    {"stops", read.stops},
                    {"maintained_differs", read.maintained_differs},
                    {"maintained",
                     {{"runs_rotation", read.maintained_runs},
                      {"stops", read.maintained_stops}}},
                    {"findings", json::array()}};
    for (const config_finding& finding : read.findings)
      reading["findings"].push_back(
          {{"kind", finding_kind(finding.what)},
           {"file", finding.file},
           {"line", finding.line},
           {"command", finding.command},
           {"via", finding.via},
           {"behind", finding.behind},
           {"fits", finding.fits},
           {"times", finding.times},
           {"says", finding_text(finding, facts.request)}});
    out["readings"].push_back(std::move(reading));
  }
  return out;
}

/// `text` with every line longer than `width` broken at blanks, where
/// there are any, each further piece indented four more than the line: a
/// report read on an 80-column terminal, or in a 100-column journal view.
std::string wrapped(const std::string& text, std::size_t width) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    const std::size_t indent = line.find_first_not_of(' ') == line.npos
                                   ? 0
                                   : line.find_first_not_of(' ') + 4;
    // The first piece has the whole width; each after it, what its indent
    // leaves.
    for (std::size_t room = width; line.size() > room; room = width - indent) {
      const std::size_t blank = line.rfind(' ', room);
      if (blank == line.npos || blank == 0 ||
          (room == width && blank <= indent))
        break;
      out.append(line.substr(0, blank)).append("\n").append(indent, ' ');
      line.remove_prefix(blank + 1);
    }
    out.append(line);
    if (end < text.size()) out += '\n';
    at = end + 1;
  }
  return out;
}

}  // namespace

int exit_status(const check_facts& facts) {
  if (facts.run.keeps_rotation()) return 2;
  return facts.list.mistakes || !facts.maps.all_well() ||
                 !facts.configs.all_well()
             ? 1
             : 0;
}

std::string render_report(const check_facts& facts, std::size_t width) {
  report_text out;
  out << "What the next run of map_rotation here will do\n\n";
  render_list(out, facts.list);
  render_order(out, *facts.run.own);
  render_files(out, facts.run);
  render_in_place(out, facts.in_place);
  render_server(out, facts.server, facts.in_place.trace);
  render_maps(out, facts.maps);
  render_configs(out, facts.configs);
  out << "Exit status " << exit_status(facts) << "\n";
  return width == 0 ? std::move(out.text) : wrapped(out.text, width);
}

namespace {

/// Appends byte `c` as \xHH.
void append_hex(unsigned char c, std::string* out) {
  static const char hex[] = "0123456789ABCDEF";
  out->append("\\x").append(1, hex[c >> 4]).append(1, hex[c & 15]);
}

/// Whether `text[at]` is a backslash that an x follows: one that would
/// read as the start of an escape.
bool starts_escape(std::string_view text, std::size_t at) {
  return text[at] == '\\' && at + 1 < text.size() && text[at + 1] == 'x';
}

/// The length of the valid UTF-8 sequence at `text[at]`, or 0.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[at + i]);
  };
  const unsigned char lead = byte(0);
  const std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF5 ? 3 + (lead >= 0xF0)
                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  // Neither an overlong form, a surrogate, nor past U+10FFFF.
  if (length == 3 &&
      ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0)))
    return 0;
  if (length == 4 &&
      ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)))
    return 0;
  return length;
}

/// `text` with each byte outside printable ASCII, a quote where `quoted`,
/// and a backslash that an x follows, as \xHH.
std::string escaped(std::string_view text, bool quoted) {
  std::string out;
  out.reserve(text.size() + 2);
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte >= 0x7F || (quoted && byte == '"') ||
        starts_escape(text, at))
      append_hex(byte, &out);
    else
      out += text[at];
  }
  return out;
}

}  // namespace

std::string shown_bytes(std::string_view text) { return escaped(text, false); }

std::string shown(std::string_view text) {
  return '"' + escaped(text, true) + '"';
}

std::string data_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_length(text, at);
    if (length == 0 || starts_escape(text, at)) {
      append_hex(static_cast<unsigned char>(text[at]), &out);
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

std::string counted(std::size_t count, std::string_view one,
                    std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

namespace {

/// `value` with every string in it as data_text() gives it: names are
/// bytes, which JSON can't hold unless they are UTF-8.
json as_data(json value) {
  if (value.is_string()) return data_text(value.get_ref<const std::string&>());
  // A number or a truth iterates as itself.
  if (value.is_structured())
    for (json& item : value) item = as_data(std::move(item));
  return value;
}

}  // namespace

std::string render_json(const check_facts& facts) {
  const json out = {{"format", "map_rotation_check"},
                    {"version", 1},
                    {"exit_status", exit_status(facts)},
                    {"map_list", list_json(facts.list)},
                    {"next_run", run_json(facts.run)},
                    {"rotation_in_place", in_place_json(facts.in_place)},
                    {"server", server_json(facts.server, facts.in_place.trace)},
                    {"maps", maps_json(facts.maps)},
                    {"configs", configs_json(facts.configs)}};
  return as_data(out).dump(2) + "\n";
}
