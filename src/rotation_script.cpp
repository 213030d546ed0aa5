#include "rotation_script.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

/// How much of the script is gathered before it goes to the sink.
constexpr std::size_t piece_size = 1 << 20;

constexpr std::string_view variable_head = "set SW";
constexpr std::string_view load_text_head = " \"set g_gametype 5 ; map ";
constexpr std::string_view load_text_tail =
    " ; timelimit .1 ; wait ; wait ; set g_gametype 6 ; seta g_warmup 25 ; "
    "reset_match ; wait ; wait ; set nextmap vstr SW";
constexpr std::string_view restart_text =
    " \"seta g_warmup 15 ; map_restart ; set nextmap vstr SW";
constexpr std::string_view line_end = "\"\r\n";
constexpr std::string_view final_line = "vstr SW1";

/// The most digits a variable number can have.
constexpr std::size_t max_digits = 20;

/// The most bytes one entry's two lines take besides its name.
constexpr std::size_t entry_size_without_name =
    2 * variable_head.size() + load_text_head.size() + load_text_tail.size() +
    restart_text.size() + 2 * line_end.size() + 4 * max_digits;

/// How many entries ahead of the one being written a name is fetched.
constexpr std::size_t prefetch_distance = 16;

/// Hints that the bytes at `address` will soon be read.
void prefetch(const char* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

/// Copies `text` to `out`; returns the end of the copy.
char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

/// Writes `number` in decimal to `out`; returns the end of it.
char* put_number(char* out, std::uint64_t number) {
  return std::to_chars(out, out + max_digits, number).ptr;
}

/// Writes the two lines of the entry named `name` whose load variable is
/// `variable` and whose restart variable names `next`; returns their end.
char* put_entry(char* out, std::string_view name, std::uint64_t variable,
                std::uint64_t next) {
  out = put(out, variable_head);
  out = put_number(out, variable);
  out = put(out, load_text_head);
  out = put(out, name);
  out = put(out, load_text_tail);
  out = put_number(out, variable + 1);
  out = put(out, line_end);
  out = put(out, variable_head);
  out = put_number(out, variable + 1);
  out = put(out, restart_text);
  out = put_number(out, next);
  return put(out, line_end);
}

}  // namespace

bool write_rotation_script(const std::vector<map_entry>& rotation,
                           const script_sink& sink) {
  // The lines are assembled straight into a large buffer that goes out
  // whole, since a script can run to hundreds of megabytes; a short script
  // gets a buffer its own size, as fresh memory costs time to touch.
  const std::size_t rough_size =
      rotation.size() * entry_size_without_name + final_line.size();
  std::string piece(std::min(piece_size, rough_size), '\0');
  std::size_t used = 0;
  // Sends what is gathered when `size` more bytes would not fit, and grows
  // the buffer for the rare entry that needs more than all of it.
  const auto make_room = [&](std::size_t size) {
    if (piece.size() - used >= size) return true;
    if (!sink(std::string_view(piece.data(), used))) return false;
    used = 0;
    piece.resize(std::max(piece.size(), size));
    return true;
  };
  const auto advance_to = [&](const char* end) {
    used = static_cast<std::size_t>(end - piece.data());
  };
  std::uint64_t variable = 1;
  for (std::size_t k = 0; k < rotation.size(); ++k) {
    // The rotation is shuffled, so each name lies somewhere else in memory:
    // asking for a name some entries ahead hides most of the wait for it.
    if (k + prefetch_distance < rotation.size())
      prefetch(rotation[k + prefetch_distance].name.data());
    const std::string_view name = rotation[k].name;
    if (!make_room(entry_size_without_name + name.size())) return false;
    const bool closes_chain = k + 1 == rotation.size();
    advance_to(put_entry(piece.data() + used, name, variable,
                         closes_chain ? 1 : variable + 2));
    variable += 2;
  }
  if (!make_room(final_line.size())) return false;
  advance_to(put(piece.data() + used, final_line));
  return sink(std::string_view(piece.data(), used));
}
