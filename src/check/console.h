#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/engine.h"

/// The server's console: its command buffer, its variables and the
/// commands that bear on a rotation, as the original engine runs them
/// (read in its published source; file:line there in the comments), with
/// the maintained engine's differences where a rule says so. The one model
/// of the console: the check reads the server's configs and the rotation in
/// place through it, and the tests hold it against a real dedicated server.
/// What it runs it tells to an observer (console_events); it keeps no
/// verdict of its own.

// Where the engines' consoles differ: the original's `//` ends one command
// and `/* */` is skipped inside it; its `seta`, `sets` and `setu` take
// exactly two words, and a variable's name as a command sets it to one
// word. The maintained engine's `//` ends the line, its `/*` swallows all up
// to the next `*/` across lines and texts, and its variable commands join
// every word.

/// What a console holds: its command buffer, and the longest text a `set`
/// stores (a longer one is stored empty).
struct console_rules {
  engine kind;
  std::size_t buffer;
  std::size_t longest_set_text;
};
inline constexpr console_rules original_rules{engine::original, 16384, 254};
inline constexpr console_rules maintained_rules{engine::maintained, 131072,
                                                SIZE_MAX};

/// The longest command the console runs: the byte after it is lost and the
/// rest runs as a command of its own (cmd.c, MAX_CMD_LINE).
inline constexpr std::size_t longest_command = 1023;

/// One command as the console cuts it from the front of a text.
struct console_command {
  /// Where it starts, its text cut at longest_command, and where the text
  /// goes on after it (past its `;` or line end).
  std::size_t start = 0;
  std::string_view text;
  std::size_t next = 0;
  /// A maintained engine's `/*` that the text doesn't close: it swallows
  /// whatever the buffer holds behind the text.
  bool open_comment = false;
};

/// The command of `text` at `at`: up to the first `;` outside quotes or the
/// first line end (past both inside a maintained engine's `/*`).
console_command next_command(std::string_view text, std::size_t at,
                             engine kind);

/// The words of `command` (Cmd_TokenizeString): separated by bytes up to
/// blank and from 0x80 up, a quoted word taken whole, `//` ending them and
/// `/* */` skipped, its scan for `*/` starting at the `/*` itself.
std::vector<std::string> command_words(std::string_view command);

/// Whether the console reads `word` as `name`: commands and variables are
/// found in any case.
bool same_word(std::string_view word, std::string_view name);

/// The path `exec NAME` opens under the game's folders, or empty where it
/// opens none: NAME cut to 63 bytes, `.cfg` added where its last name has
/// no dot (cmd.c:256), one leading `/` or `\` dropped (files.c:1080), and
/// refused where it holds `..` or `::`.
std::string exec_path(std::string_view name);

/// A file as `exec` finds it: `there` or not, its name for a person, and
/// what the console takes of it, its bytes up to the first NUL.
struct console_file {
  bool there = false;
  std::string shown;
  std::shared_ptr<const std::string> text;
};

/// Finds a file by the path exec_path gives, as the engine does in its
/// search path. Must give the same answer for the same path within a run.
using console_files = std::function<console_file(const std::string& path)>;

/// Where a text in the buffer came from: a file (by the path its exec
/// gave), a variable (with the path of the file whose text set it), or
/// typed at the console (the server's own commands, vstr nextmap at a
/// map's end).
struct text_origin {
  enum class kind { typed, file, variable };
  kind what = kind::typed;
  std::string name, set_in;
};

/// Where a command ran from: the text it was cut from, and the innermost
/// file on the way (kind typed where there is none) with its command that
/// led here: the command itself, or a `vstr` that ran the variable it came
/// from. Valid while the event that is given it lasts.
struct command_place {
  text_origin origin, file;
  /// The file's text as the console holds it, and where in it the
  /// command that led here starts.
  std::string_view file_text;
  std::size_t at = 0;
  /// Whether the command came from a variable that the file's ran.
  bool through_variable = false;
  /// The words of the file's command that led here.
  std::vector<std::string> file_command(engine kind) const;
};

/// The words of a command as written: quoted where they hold a blank.
std::string as_written(const std::vector<std::string>& words);

/// What the console did, as it does it.
struct console_events {
  /// An `exec` of `path` (as exec_path gives it) from `place`: the file,
  /// and whether it fit beside the `pending` bytes still behind it (the
  /// whole file runs, or none of it).
  std::function<void(const command_place& place, const std::string& path,
                     const console_file& file, std::size_t pending, bool fits)>
      exec;
  /// A `map` (or `devmap`, `spmap`, `spdevmap`) of `name`, or a
  /// `map_restart` (name empty), from `place`, by the command `words`.
  std::function<void(const command_place& place, const std::string& name,
                     const std::vector<std::string>& words)>
      load;
  /// A text that the buffer had no room for ("Cbuf_InsertText
  /// overflowed"): an exec's, which exec tells too, or a vstr's.
  std::function<void(const command_place& place)> overflow;
  /// Whether map `name` is there to load; every map is, where this is not
  /// given. A `map` of one that isn't prints "Can't find map" and changes
  /// nothing: nextmap stays as it was.
  std::function<bool(const std::string& name)> found;
  /// A variable set from `place` by the command `words`.
  std::function<void(const command_place& place, const std::string& variable,
                     const std::vector<std::string>& words)>
      set;
};

/// Why a run stopped before its buffer was empty.
enum class console_stop {
  /// It didn't: the buffer ran empty.
  none,
  /// Texts run one another with the buffer and the variables as they were
  /// before: the server runs them for ever within one frame, and hangs.
  hangs,
  /// A maintained engine's `/*` swallows everything behind it.
  open_comment,
  /// The work allowed for one reading ran out (console_budget).
  budget,
};

/// The most work one reading of the console's files may take, whatever
/// they hold: commands run, and bytes inserted into the buffer. A file
/// that its user may write must cost the check, run as root, no more than
/// about a second and a few MiB; a rotation in place of 8 MiB, the most
/// that is read of one, runs some 700,000 commands once round.
struct console_budget {
  std::size_t commands = std::size_t{1} << 20;
  std::size_t inserted = std::size_t{64} << 20;
};

/// A console variable: its text, the file whose text set it, and the text
/// it was made with, which `reset` gives it again.
struct console_variable {
  std::string value, set_in, first;
};

/// A console: run texts in it, one frame at a time, and it tells its events.
/// Its files come from `files`, read once a run.
struct console {
  console(console_rules rules, console_files files, console_events events,
          console_budget budget = {});

  /// Runs `text`, typed at the console (vstr nextmap at a map's end), and
  /// everything it inserts, until the buffer is empty or the run stops.
  console_stop run(std::string_view text);
  /// Runs `file` as an `exec` of it typed at the console runs it (the
  /// server's config, named on its command line): whole, or none of it
  /// where it doesn't fit into the empty buffer.
  console_stop run_file(const std::string& path, const console_file& file);

  /// The variable `name` (in any case); null where it isn't set.
  const console_variable* variable(std::string_view name) const;
  /// Its text, empty where it isn't set.
  std::string value(std::string_view name) const;
  /// A fingerprint of every variable's name and text: equal between two
  /// moments only where the variables are (but for a chance of 2^-64).
  std::uint64_t variables_print() const { return print_; }
  /// What is left of the budget.
  const console_budget& left() const { return left_; }

  /// A segment of the buffer: one text inserted whole, the part of it still
  /// waiting after `at`, where it came from, where its last command
  /// started, and a hash of its text. The buffer is a stack of them, the
  /// front last.
  struct segment {
    std::string text;
    std::size_t at = 0, last = 0;
    text_origin origin;
    std::uint64_t hash = 0;
  };

 private:
  console_stop drain();
  void execute(const std::vector<std::string>& words);
  void exec(const std::string& path, const console_file& file);
  bool insert(std::string text, text_origin origin);
  void set(const std::string& name, std::string text,
           const std::vector<std::string>& words);
  void store(const std::string& name, std::string text, std::string set_in);
  command_place place() const;
  /// What the buffer holds, front first.
  std::string pending_text() const;

  console_rules rules_;
  console_files files_;
  console_events events_;
  console_budget left_;
  std::vector<segment> buffer_;
  std::size_t bytes_ = 0;
  std::map<std::string, console_variable> variables_;
  std::uint64_t print_ = 0;
  std::map<std::string, console_file> read_;
  console_stop stop_ = console_stop::none;
  /// The state at an insert saved for finding a hang, and when to save the
  /// next (Brent's cycle finding: a power of two of inserts since; 0 where
  /// none is saved yet).
  std::uint64_t saved_ = 0;
  std::string saved_text_;
  std::size_t since_ = 0, power_ = 1;
};
