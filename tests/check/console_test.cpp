#include "check/console.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(Console, CutsCommandsAndWordsAsEachEngineDoes) {
  // A text, the engine, and the words of each command it holds, joined by
  // "|", the commands by " / ".
  const std::string long_word(1030, 'w');
  const std::tuple<std::string, engine, std::string> rows[] = {
      {"a b ; c \"d;e\" f\ng", engine::original, "a|b / c|d;e|f / g"},
      {"a // b ; c\nd", engine::original, "a / c / d"},
      {"a // b ; c\nd", engine::maintained, "a / d"},
      {"a /* b ; c */ e\nf", engine::original, "a / c|*/|e / f"},
      {"a /* b ; c */ e\nf", engine::maintained, "a / e / f"},
      // The scan for `*/` starts at the `/*`.
      {"a /*/ b\nc", engine::original, "a|b / c"},
      {"map c/*d ; x", engine::original, "map|c / x"},
      {"say \"a // b\" c", engine::original, "say|a // b|c"},
      {"say \"unclosed ; x", engine::original, "say|unclosed ; x"},
      {"a\xC3\xA9z b\x01"
       "c",
       engine::original, "a|z|b|c"},
      {"set x " + long_word, engine::original,
       "set|x|" + long_word.substr(0, 1017) + " / " + long_word.substr(1018)},
  };
  for (const auto& [text, kind, expected] : rows) {
    std::string got;
    for (std::size_t at = 0; at < text.size();) {
      const console_command command = next_command(text, at, kind);
      at = command.next;
      if (!got.empty()) got += " / ";
      const std::vector<std::string> words = command_words(command.text);
      for (std::size_t i = 0; i < words.size(); ++i)
        got += (i ? "|" : "") + words[i];
    }
    EXPECT_EQ(expected, got) << text;
  }
}

TEST(Console, OpensWhatExecNamesAsTheEngineDoes) {
  const std::pair<std::string, std::string> rows[] = {
      {"part2", "part2.cfg"},
      {"/part2.cfg", "part2.cfg"},
      {"rot/part2", "rot/part2.cfg"},
      {"sub.d/more", "sub.d/more.cfg"},
      {"rot\\p.cfg", "rot/p.cfg"},
      {"x.txt", "x.txt"},
      {".x", ".x.cfg"},
      {"../x.cfg", ""},
      {"a::b", ""},
      {std::string(70, 'n'), std::string(63, 'n')},
  };
  for (const auto& [name, path] : rows)
    EXPECT_EQ(path, exec_path(name)) << name;
}

/// What a console of `rules` does with `typed`, its files `files`: each
/// load ("a"), restart ("restart"), and file it refused ("refused NAME")
/// or didn't find ("missing NAME"), joined by " / ", then nextmap's text.
std::pair<std::string, std::string> events_of(
    const std::map<std::string, std::string>& files, const std::string& typed,
    const console_rules& rules, console_stop* stop,
    const console_budget& budget = {}) {
  std::string said;
  const auto add = [&](const std::string& event) {
    said += (said.empty() ? "" : " / ") + event;
  };
  console_events events;
  events.load = [&](const command_place&, const std::string& name,
                    const std::vector<std::string>&) {
    add(name.empty() ? "restart" : name);
  };
  events.exec = [&](const command_place&, const std::string& path,
                    const console_file& file, std::size_t, bool fits) {
    if (!fits) add((file.there ? "refused " : "missing ") + path);
  };
  console server(
      rules,
      [&](const std::string& path) {
        const auto found = files.find(path);
        return found == files.end()
                   ? console_file{}
                   : console_file{
                         true, path,
                         std::make_shared<const std::string>(found->second)};
      },
      events, budget);
  *stop = server.run(typed);
  return {said, server.value("nextmap")};
}

TEST(Console, RunsTheCommandsOfARotationAsTheOriginalEngine) {
  const std::string room(16300, '/');
  // Files, what is typed, the engine, the events and nextmap after, and
  // how the run ends.
  const std::tuple<std::map<std::string, std::string>, std::string, engine,
                   std::string, std::string, console_stop>
      rows[] = {
          // seta takes two words exactly in the original (cvar.c:601).
          {{},
           "set d1 \"map a; seta nextmap vstr d2\" ; vstr d1",
           engine::original,
           "a",
           "map_restart 0",
           console_stop::none},
          {{},
           "set d1 \"map a; seta nextmap vstr d2\" ; vstr d1",
           engine::maintained,
           "a",
           "vstr d2",
           console_stop::none},
          // A variable's name sets it to one word (cvar.c:531).
          {{},
           "nextmap vstr d2",
           engine::original,
           "",
           "vstr",
           console_stop::none},
          {{},
           "nextmap vstr d2",
           engine::maintained,
           "",
           "vstr d2",
           console_stop::none},
          {{},
           "devmap a ; spmap b ; SPDEVMAP c ; map_restart",
           engine::original,
           "a / b / c / restart",
           "map_restart 0",
           console_stop::none},
          // A load sets nextmap: one set before it is lost.
          {{},
           "set nextmap \"vstr x\" ; map a",
           engine::original,
           "a",
           "map_restart 0",
           console_stop::none},
          {{},
           "map a ; set nextmap \"vstr x\" ; reset nextmap",
           engine::original,
           "a",
           "",
           console_stop::none},
          // A file that isn't there, or a usage error, and the rest runs.
          {{},
           "exec gt_ctf ; exec a b ; map a",
           engine::original,
           "missing gt_ctf.cfg / a",
           "map_restart 0",
           console_stop::none},
          // A variable that runs itself fills the buffer, and play goes on.
          {{},
           "set loop \"vstr loop\" ; vstr loop ; map a",
           engine::original,
           "a",
           "map_restart 0",
           console_stop::none},
          // A file that runs itself as its last command never lets go.
          {{{"self.cfg", "map a\nexec self"}},
           "exec self",
           engine::original,
           "a",
           "",
           console_stop::hangs},
          // A nested exec has the room left behind what still waits.
          {{{"big.cfg", room}, {"top.cfg", "exec big\n" + room.substr(0, 90)}},
           "exec top",
           engine::original,
           "refused big.cfg",
           "",
           console_stop::none},
          {{{"big.cfg", room}, {"top.cfg", "exec big\n" + room.substr(0, 90)}},
           "exec top",
           engine::maintained,
           "",
           "",
           console_stop::none},
          // The maintained engine's `/*` swallows what waits behind it.
          {{{"c.cfg", "map a /* x\nmap b"}},
           "exec c",
           engine::maintained,
           "a",
           "map_restart 0",
           console_stop::open_comment},
          {{{"c.cfg", "map a /* x\nmap b"}},
           "exec c",
           engine::original,
           "a / b",
           "map_restart 0",
           console_stop::none},
      };
  for (const auto& [files, typed, kind, said, nextmap, ends] : rows) {
    console_stop stop = console_stop::none;
    const auto [events, left] = events_of(
        files, typed,
        kind == engine::original ? original_rules : maintained_rules, &stop);
    // A hang loads its map again and again until it is found.
    if (ends == console_stop::hangs) {
      EXPECT_EQ(0u, events.rfind(said, 0)) << typed;
    } else {
      EXPECT_EQ(said, events) << typed;
      EXPECT_EQ(nextmap, left) << typed;
    }
    EXPECT_EQ(ends, stop) << typed;
  }
}

TEST(Console, EndsWithinItsBudgetWhateverItRuns) {
  // Forty variables each running the next twice: 2^40 commands, cut at the
  // budget's.
  std::string text;
  for (int i = 1; i < 40; ++i)
    text += "set f" + std::to_string(i) + " \"vstr f" + std::to_string(i + 1) +
            ";vstr f" + std::to_string(i + 1) + "\"\n";
  std::map<std::string, std::string> files = {{"f.cfg", text + "vstr f1\n"}};
  console_stop stop = console_stop::none;
  events_of(files, "exec f", original_rules, &stop, {100000, 1 << 20});
  EXPECT_EQ(console_stop::budget, stop);
}

}  // namespace
