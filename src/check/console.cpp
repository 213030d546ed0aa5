#include "check/console.h"

#include <algorithm>
#include <utility>

#include "platform/path.h"

namespace {

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// The console's idea of a blank: any byte up to ' ', and any from 0x80
/// up, which it reads as a negative char.
bool is_blank(char c) { return static_cast<signed char>(c) <= ' '; }

/// A variable's name and text as one number, for the fingerprint of all.
std::uint64_t print_of(const std::string& name, const std::string& text) {
  const std::uint64_t a = std::hash<std::string>{}(name);
  const std::uint64_t b = std::hash<std::string>{}(text);
  return (a * 0x9E3779B97F4A7C15u) ^ (b + 0x632BE59BD9B4E019u + (a << 6));
}

/// The words from the `first`, joined by blanks, as `set` joins them.
std::string joined(const std::vector<std::string>& words, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < words.size(); ++i)
    text += (i > first ? " " : "") + words[i];
  return text;
}

bool any_of_words(std::string_view word,
                  std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
    return same_word(word, name);
  });
}

}  // namespace

std::string as_written(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    text += word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
  }
  return text;
}

std::vector<std::string> command_place::file_command(engine kind) const {
  return command_words(next_command(file_text, at, kind).text);
}

console_command next_command(std::string_view text, std::size_t at,
                             engine kind) {
  // As Cbuf_Execute: quotes counted everywhere, `;` ending a command only
  // outside them, a line end always (in the maintained engine, but inside
  // a `/*` comment, which it also reads here).
  const bool comments = kind == engine::maintained;
  std::size_t i = at, quotes = 0;
  bool slash = false, star = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') ++quotes;
    if (quotes % 2 == 0) {
      if (comments && i + 1 < text.size()) {
        if (!star && c == '/' && text[i + 1] == '/') {
          slash = true;
        } else if (!slash && c == '/' && text[i + 1] == '*') {
          star = true;
        } else if (star && c == '*' && text[i + 1] == '/') {
          ++i;
          break;
        }
      }
      if (!slash && !star && c == ';') break;
    }
    if (!star && is_line_end(c)) break;
    // Past the longest command it is cut there whatever follows: only a
    // maintained engine's `/*`, which may run on to the end, is read on.
    if (!star && i - at > longest_command) break;
  }
  const std::size_t size = std::min(i - at, longest_command);
  console_command command;
  command.start = at;
  command.text = text.substr(at, size);
  command.next = std::min(at + size + 1, text.size());
  command.open_comment = star && i >= text.size();
  return command;
}

std::vector<std::string> command_words(std::string_view command) {
  // As Cmd_TokenizeString (cmd.c:460-520).
  command = command.substr(0, command.find('\0'));
  std::vector<std::string> words;
  std::size_t at = 0;
  // Whether `//` or `/*` (`second`) starts at `at`; looked at for every
  // byte of a word, so a plain comparison.
  const auto starts = [&](char second) {
    return command[at] == '/' && at + 1 < command.size() &&
           command[at + 1] == second;
  };
  const auto comment = [&] { return starts('/') || starts('*'); };
  for (;;) {
    for (;;) {
      while (at < command.size() && is_blank(command[at])) ++at;
      if (at >= command.size() || starts('/')) return words;
      if (!starts('*')) break;
      // The scan for `*/` starts at the `/*`: `/*/` closes itself.
      const std::size_t close = command.find("*/", at + 1);
      if (close == std::string_view::npos) return words;
      at = close + 2;
    }
    if (command[at] == '"') {
      const std::size_t close = command.find('"', at + 1);
      words.emplace_back(command.substr(at + 1, close == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : close - at - 1));
      if (close == std::string_view::npos) return words;
      at = close + 1;
      continue;
    }
    const std::size_t start = at;
    while (at < command.size() && !is_blank(command[at]) &&
           command[at] != '"' && !comment())
      ++at;
    words.emplace_back(command.substr(start, at - start));
  }
}

bool same_word(std::string_view word, std::string_view name) {
  return word.size() == name.size() &&
         std::equal(word.begin(), word.end(), name.begin(), [](char a, char b) {
           return lower_case(a) == lower_case(b);
         });
}

std::string exec_path(std::string_view name) {
  // Cmd_Exec_f copies the name into 64 bytes, then COM_DefaultExtension
  // looks for a dot back to the last `/`, never at the first byte.
  std::string path(name.substr(0, 63));
  if (path.empty()) return path;
  bool dotted = false;
  for (std::size_t i = path.size() - 1; i > 0 && path[i] != '/'; --i)
    dotted = dotted || path[i] == '.';
  if (!dotted) path = (path + ".cfg").substr(0, 63);
  // FS_FOpenFileRead: no leading slash, and never out of the game's folders.
  if (path[0] == '/' || path[0] == '\\') path.erase(0, 1);
  if (path.find("..") != std::string::npos ||
      path.find("::") != std::string::npos)
    return "";
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

console::console(console_rules rules, console_files files,
                 console_events events, console_budget budget)
    : rules_(rules),
      files_(std::move(files)),
      events_(std::move(events)),
      left_(budget) {
  // The server makes nextmap itself, empty; a load sets it.
  store("nextmap", "", "");
}

const console_variable* console::variable(std::string_view name) const {
  const auto found = variables_.find(lower(name));
  return found == variables_.end() ? nullptr : &found->second;
}

std::string console::value(std::string_view name) const {
  const console_variable* found = variable(name);
  return found ? found->value : "";
}

console_stop console::run(std::string_view text) {
  if (stop_ != console_stop::none) return stop_;
  // The buffer is empty here: a run that stopped short runs no more.
  buffer_.push_back(segment{std::string(text) + "\n", 0, 0, {}, 0});
  bytes_ += text.size() + 1;
  return drain();
}

console_stop console::run_file(const std::string& path,
                               const console_file& file) {
  if (stop_ != console_stop::none) return stop_;
  exec(path, file);
  return drain();
}

console_stop console::drain() {
  // A hang is found within one frame: from here until the buffer is empty.
  since_ = 0;
  power_ = 0;
  while (!buffer_.empty() && stop_ == console_stop::none) {
    segment& front = buffer_.back();
    if (front.at >= front.text.size()) {
      buffer_.pop_back();
      continue;
    }
    if (left_.commands == 0) {
      stop_ = console_stop::budget;
      break;
    }
    --left_.commands;
    const console_command command =
        next_command(front.text, front.at, rules_.kind);
    bytes_ -= command.next - front.at;
    front.last = command.start;
    front.at = command.next;
    execute(command_words(command.text));
    // The maintained engine runs the command up to its `/*`, which then
    // swallows all behind it.
    if (command.open_comment && stop_ == console_stop::none)
      stop_ = console_stop::open_comment;
  }
  return stop_;
}

command_place console::place() const {
  command_place where;
  if (buffer_.empty()) return where;
  where.origin = buffer_.back().origin;
  for (auto at = buffer_.rbegin(); at != buffer_.rend(); ++at) {
    if (at->origin.what != text_origin::kind::file) continue;
    where.file = at->origin;
    where.file_text = at->text;
    where.at = at->last;
    where.through_variable = at != buffer_.rbegin();
    break;
  }
  return where;
}

bool console::insert(std::string text, text_origin origin) {
  // Cbuf_InsertText (cmd.c:121): the text and a line end, in front of all
  // that waits, whole or not at all.
  text += '\n';
  if (text.size() + bytes_ > rules_.buffer) {
    if (events_.overflow) events_.overflow(place());
    return false;
  }
  if (text.size() > left_.inserted) {
    stop_ = console_stop::budget;
    return false;
  }
  left_.inserted -= text.size();
  // Texts run to their end hold nothing: they go first, as the command that
  // inserts was the last anything needs of them.
  while (!buffer_.empty() && buffer_.back().at >= buffer_.back().text.size())
    buffer_.pop_back();
  // The same buffer, text and variables met again within a frame: from
  // here it goes round for ever. A key of them is compared at every
  // insert, and where it matches, the buffer itself.
  const std::uint64_t hash = std::hash<std::string>{}(text);
  std::uint64_t key = print_ ^ hash ^ (bytes_ * 0x94D049BB133111EBu) ^
                      (buffer_.size() * 0xD6E8FEB86659FD93u);
  if (!buffer_.empty())
    key ^= (buffer_.back().hash * 0xBF58476D1CE4E5B9u) ^ buffer_.back().at;
  if (power_ > 0 && key == saved_ && pending_text() + text == saved_text_) {
    stop_ = console_stop::hangs;
    return false;
  }
  if (++since_ >= power_) {
    // Brent's cycle finding: saved at every power of two of inserts.
    saved_ = key;
    saved_text_ = pending_text() + text;
    since_ = 0;
    power_ = power_ ? 2 * power_ : 1;
  }
  bytes_ += text.size();
  buffer_.push_back(segment{std::move(text), 0, 0, std::move(origin), hash});
  return true;
}

std::string console::pending_text() const {
  std::string text;
  text.reserve(bytes_);
  for (auto part = buffer_.rbegin(); part != buffer_.rend(); ++part)
    text.append(part->text, std::min(part->at, part->text.size()));
  return text;
}

void console::set(const std::string& name, std::string text,
                  const std::vector<std::string>& words) {
  if (text.size() > rules_.longest_set_text) text.clear();
  // The innermost file on the way set it.
  const auto file =
      std::find_if(buffer_.rbegin(), buffer_.rend(), [](const segment& part) {
        return part.origin.what == text_origin::kind::file;
      });
  store(name, std::move(text), file == buffer_.rend() ? "" : file->origin.name);
  if (events_.set) events_.set(place(), name, words);
}

void console::store(const std::string& name, std::string text,
                    std::string set_in) {
  const std::string key = lower(name);
  auto found = variables_.find(key);
  if (found != variables_.end())
    print_ ^= print_of(key, found->second.value);
  else
    found = variables_.emplace(key, console_variable{"", "", text}).first;
  print_ ^= print_of(key, text);
  found->second.value = std::move(text);
  found->second.set_in = std::move(set_in);
}

void console::exec(const std::string& path, const console_file& file) {
  const std::string empty;
  const std::string& text = file.there && file.text ? *file.text : empty;
  const bool fits = file.there && text.size() + 1 + bytes_ <= rules_.buffer;
  if (events_.exec) events_.exec(place(), path, file, bytes_, fits);
  if (fits) insert(text, {text_origin::kind::file, path, ""});
  if (file.there && !fits && events_.overflow) events_.overflow(place());
}

void console::execute(const std::vector<std::string>& words) {
  if (words.empty()) return;
  const std::string& verb = words[0];
  const bool original = rules_.kind == engine::original;
  if (same_word(verb, "exec")) {
    if (words.size() != 2) return;  // its usage, and nothing runs
    const std::string path = exec_path(words[1]);
    if (path.empty()) return;
    auto known = read_.find(path);
    if (known == read_.end()) known = read_.emplace(path, files_(path)).first;
    exec(path, known->second);
  } else if (same_word(verb, "vstr")) {
    if (words.size() != 2) return;
    const console_variable* named = variable(words[1]);
    // "%s\n", to which the insert adds its own line end.
    insert((named ? named->value : "") + "\n",
           {text_origin::kind::variable, words[1], named ? named->set_in : ""});
  } else if (same_word(verb, "set") ||
             any_of_words(verb, {"seta", "sets", "setu"})) {
    // cvar.c:601, :623, :645: the original's seta, sets and setu take two
    // words exactly; set, and the maintained engine's, join them all.
    if (words.size() < 3 ||
        (original && words.size() != 3 && !same_word(verb, "set")))
      return;
    set(words[1], joined(words, 2), words);
  } else if (same_word(verb, "reset")) {
    // To the text it was made with: nextmap's is empty.
    const console_variable* named =
        words.size() == 2 ? variable(words[1]) : nullptr;
    if (named) set(words[1], named->first, words);
  } else if (any_of_words(verb, {"map", "devmap", "spmap", "spdevmap"})) {
    // sv_ccmds.c:935-937; every load sets nextmap (sv_init.c:507).
    if (words.size() < 2 || words[1].empty()) return;
    if (events_.load) events_.load(place(), words[1], words);
    if (events_.found && !events_.found(words[1])) return;
    store("nextmap", "map_restart 0", "");
  } else if (same_word(verb, "map_restart")) {
    if (events_.load) events_.load(place(), "", words);
  } else if (variable(verb) && words.size() > 1) {
    // A variable's name as a command sets it: to the next word alone in
    // the original (cvar.c:531), to all of them in the maintained engine.
    set(verb, original ? words[1] : joined(words, 1), words);
  }
}
