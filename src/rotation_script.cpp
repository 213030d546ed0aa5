#include "rotation_script.h"

#include <charconv>
#include <cstdint>
#include <string>

namespace {

/// How much of the script is gathered before it goes to the sink.
constexpr std::size_t piece_size = 1 << 20;

constexpr std::string_view load_text_head = "\"set g_gametype 5 ; map ";
constexpr std::string_view load_text_tail =
    " ; timelimit .1 ; wait ; wait ; set g_gametype 6 ; seta g_warmup 25 ; "
    "reset_match ; wait ; wait ; set nextmap vstr SW";
constexpr std::string_view restart_text =
    "\"seta g_warmup 15 ; map_restart ; set nextmap vstr SW";
constexpr std::string_view line_end = "\"\r\n";
constexpr std::string_view final_line = "vstr SW1";

void append_number(std::string& out, std::uint64_t number) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, end);
}

/// Appends `set SW<variable> "<text><next>"` and its line end.
void append_variable(std::string& out, std::uint64_t variable,
                     std::string_view text_head, std::string_view name,
                     std::string_view text_tail, std::uint64_t next) {
  out += "set SW";
  append_number(out, variable);
  out += ' ';
  out += text_head;
  out += name;
  out += text_tail;
  append_number(out, next);
  out += line_end;
}

}  // namespace

bool write_rotation_script(const std::vector<map_entry>& rotation,
                           const script_sink& sink) {
  std::string piece;
  piece.reserve(piece_size + 1024);
  std::uint64_t variable = 1;
  for (std::size_t k = 0; k < rotation.size(); ++k) {
    const bool closes_chain = k + 1 == rotation.size();
    append_variable(piece, variable, load_text_head, rotation[k].name,
                    load_text_tail, variable + 1);
    append_variable(piece, variable + 1, restart_text, {}, {},
                    closes_chain ? 1 : variable + 2);
    variable += 2;
    if (piece.size() >= piece_size) {
      if (!sink(piece)) return false;
      piece.clear();
    }
  }
  piece += final_line;
  return sink(piece);
}
