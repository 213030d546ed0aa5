#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

/// The server's console, as far as the rotation script and the configs
/// that run it are concerned: how it cuts its command buffer into commands
/// and a command into words, and what a script does in it. One model, for
/// the check's reading of the server's configs and for the tests, which
/// check it against a real dedicated server of the open engine.

/// Where the two engines' consoles read comments differently.
enum class comment_rules {
  /// The original engine: `//` ends that one command, and `/* */` is
  /// skipped inside it; the next command still runs.
  original,
  /// The open engine: `//` ends the whole line, `;` or not, and `/*`
  /// swallows everything up to the next `*/`, across lines.
  open,
};

/// The original engine's command buffer, and the open engine's.
inline constexpr std::size_t original_buffer = 16384, open_buffer = 131072;

/// The longest command the console runs: the rest of a longer one runs as
/// a command of its own.
inline constexpr std::size_t longest_command = 1023;

/// One command as the console takes it from the front of its buffer.
struct console_command {
  /// Where it starts in the text, and its text, cut at longest_command.
  std::size_t start = 0;
  std::string_view text;
  /// Where the text goes on after it, past its `;` or line end.
  std::size_t next = 0;
  /// An open engine's `/*` that the text doesn't close: it goes on into
  /// whatever the buffer holds behind the text.
  bool open_comment = false;
};

/// The command of `text` at `at`: up to the first `;` outside quotes or
/// the first line end, and under open comment rules past `;` inside a
/// comment. A command of over longest_command bytes is cut there, the
/// byte after the cut is lost, and the rest is the next command.
console_command next_command(std::string_view text, std::size_t at,
                             comment_rules comments);

/// The words of `command`: separated by blanks, control bytes and bytes
/// from 0x80 up, a quoted word taken whole, and a comment ending them.
std::vector<std::string> command_words(std::string_view command);

/// Whether `verb` is `word` to the console, which reads commands and
/// variable names in any case.
bool same_word(std::string_view verb, std::string_view word);

/// Whether a file of `file` bytes that is `exec`uted fits into a buffer of
/// `buffer` bytes that still holds `pending` bytes: the console adds a line
/// end to the file, and refuses it whole where it doesn't fit ("Cbuf_Insert
/// Text overflowed"). So with one line end already added to the caller's
/// rest of R bytes, a file runs in the original engine when F + R <= 16,382.
bool exec_fits(std::size_t file, std::size_t pending, std::size_t buffer);

/// What a console run of a rotation script did.
struct console_run {
  /// "load NAME" for each map loaded and "restart" for each restart, in order.
  std::vector<std::string> played;
  /// False when a comment swallowed every command after it, or the script
  /// runs itself, inside itself, for ever.
  bool finished = true;
  /// Whether a file was refused for want of room in the command buffer.
  bool overflowed = false;
};

/// The limits of a console that bear on a rotation script.
struct console_limits {
  /// The most bytes a file that is `exec`uted may have, beside what still
  /// waits behind its `exec` line.
  std::size_t room;
  /// The longest text a `set` stores; a longer one is stored empty.
  std::size_t longest_set_text;
  comment_rules comments = comment_rules::open;
};

/// The open dedicated server of the tests, with nothing behind an `exec`:
/// a file of F bytes with R bytes behind its `exec` line runs when
/// F + R <= 131,070, as the console adds a line end to both.
inline constexpr console_limits open_console{open_buffer - 2, SIZE_MAX,
                                             comment_rules::open};

/// The console of the servers operators run, with `pending` bytes of the
/// server's config behind an `exec`: there F + R <= 16,382. Its comments
/// are read by `comments` (the open engine's where the open server is
/// padded to its room).
constexpr console_limits original_console(
    std::size_t pending, comment_rules comments = comment_rules::original) {
  return {original_buffer - 2 - pending, 254, comments};
}

/// The files of a rotation script by name, as the console finds them.
using script_files = std::map<std::string, std::string>;

/// Plays a rotation the way the server's console runs it: `exec
/// SW_rotate.cfg`, then `steps` times "vstr nextmap", as each map's end
/// would. It keeps the console's limits that bear on a rotation script: a
/// file is refused whole when it exceeds the room, a `set` text over the
/// limit is stored empty, a command is cut at 1023 bytes, and comments are
/// read by the limits' rules (an open `/*` that swallows every command
/// after it ends the run).
console_run play_in_console(const script_files& files, int steps,
                            const console_limits& limits = open_console);

/// The maps the files load, in the order of play: SW_rotate.cfg's first,
/// then those of each file that the last restart of the one before runs,
/// until the chain closes back on SW_rotate.cfg. Empty where it doesn't.
std::vector<std::string> maps_in_order(const script_files& files);

/// A map as a rotation in place loads it: its name, the variable whose
/// text loads it (vstr SW7), and the file whose text set that variable.
struct traced_map {
  std::string name, variable, file;
  bool operator==(const traced_map& other) const {
    return name == other.name && variable == other.variable &&
           file == other.file;
  }
};

/// What a rotation in place plays, once round, as the console runs it.
struct rotation_trace {
  /// Whether SW_rotate.cfg is there to run at all.
  bool found = false;
  /// The maps in the order of play, from SW_rotate.cfg's first, each once
  /// round; where the chain breaks, those played up to the break.
  std::vector<traced_map> maps;
  /// Whether the chain comes back to its first map.
  bool closes = false;
  /// Where it doesn't, why not, in the console's terms: a file that isn't
  /// there or doesn't fit, a nextmap that loads no map, no way back within
  /// the steps allowed.
  std::string breaks;
};

/// Gives a rotation's file by its name as the console `exec`s it: null where
/// there is none. The text must last until the next call.
using script_source = std::function<const std::string*(const std::string&)>;

/// Runs `exec SW_rotate.cfg`, then "vstr nextmap" as each map's end would,
/// in a console of `limits` whose files `source` gives by name (null where
/// a file isn't there), until the first map comes round again by the same
/// variable of the same file, or the chain breaks, or after `most_steps`
/// steps. It reads only the files that the chain runs, when it runs them.
rotation_trace trace_rotation(const script_source& source,
                              const console_limits& limits,
                              std::size_t most_steps);
