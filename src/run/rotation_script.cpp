#include "run/rotation_script.h"

#include <charconv>
#include <cstdint>

#include "platform/path.h"

namespace {

constexpr std::string_view variable_head = "set SW";
constexpr std::string_view load_text_head = " \"set g_gametype 5 ; map ";
constexpr std::string_view load_text_tail =
    " ; timelimit .1 ; wait ; wait ; set g_gametype 6 ; seta g_warmup 25 ; "
    "reset_match ; wait ; wait ; set nextmap vstr SW";
constexpr std::string_view restart_text =
    " \"seta g_warmup 15 ; map_restart ; set nextmap ";
constexpr std::string_view next_variable = "vstr SW";
constexpr std::string_view line_end = "\"\r\n";
constexpr std::string_view final_line = "vstr SW1";
/// What the last restart of a one-file script runs.
constexpr std::string_view first_variable = "vstr SW1";

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

std::size_t digits(std::uint64_t number) {
  std::size_t count = 1;
  while (number >= 10) number /= 10, ++count;
  return count;
}

/// The bytes of an entry's two lines when its load variable is `variable`
/// and its restart runs a link of `link_size` bytes.
std::size_t entry_size(std::size_t name_size, std::uint64_t variable,
                       std::size_t link_size) {
  return 2 * variable_head.size() + digits(variable) +
         2 * digits(variable + 1) + load_text_head.size() + name_size +
         load_text_tail.size() + restart_text.size() + link_size +
         2 * line_end.size();
}

/// One file of the rotation script, assembled whole before it goes out.
struct script_file {
  std::string text;
  /// The load variable of the next entry; each file numbers from SW1.
  std::uint64_t variable = 1;
  /// Where the link of the last restart begins.
  std::size_t link_at = 0;
};

void put_number(std::string& text, std::uint64_t number) {
  char decimal[20];
  text.append(decimal, std::to_chars(decimal, decimal + 20, number).ptr);
}

/// Appends an entry's two lines; its restart links to the next variable
/// until close_file gives the file's last restart its own link.
void append_entry(script_file& file, std::string_view name) {
  const std::uint64_t load = file.variable, restart = load + 1;
  std::string& text = file.text;
  text += variable_head;
  put_number(text, load);
  text += load_text_head;
  text += name;
  text += load_text_tail;
  put_number(text, restart);
  text += line_end;
  text += variable_head;
  put_number(text, restart);
  text += restart_text;
  file.link_at = text.size();
  text += next_variable;
  put_number(text, restart + 1);
  text += line_end;
  file.variable += 2;
}

/// Ends the file: its last restart runs `link`, then comes the final line.
void close_file(script_file& file, std::string_view link) {
  if (file.variable > 1) {
    file.text.resize(file.link_at);
    file.text += link;
    file.text += line_end;
  }
  file.text += final_line;
}

/// What the last restart of a part runs to go on to part `part`.
std::string link_to_part(std::size_t part) {
  return "exec " + rotation_script_file(part);
}

}  // namespace

std::string rotation_script_file(std::size_t part) {
  return part == 1 ? rotation_script_name
                   : "SW_rotate" + std::to_string(part) + ".cfg";
}

bool is_rotation_script_file(std::string_view name) {
  constexpr std::string_view head = "SW_rotate", tail = ".cfg";
  if (name.size() < head.size() + tail.size() ||
      name.substr(0, head.size()) != head ||
      name.substr(name.size() - tail.size()) != tail)
    return false;
  const std::string_view number =
      name.substr(head.size(), name.size() - head.size() - tail.size());
  std::size_t part = 1;
  if (!number.empty() &&
      std::from_chars(number.data(), number.data() + number.size(), part).ec !=
          std::errc())
    return false;
  // Part 1 has no number, and no part is 0 or has a leading zero.
  return part >= 1 && rotation_script_file(part) == name;
}

std::string rotation_file_in_any_case(std::string_view name) {
  constexpr std::string_view head = "sw_rotate";
  const std::string canon = lower(name);
  if (canon.compare(0, head.size(), head) != 0) return "";
  const std::string as_named = "SW_rotate" + canon.substr(head.size());
  return is_rotation_script_file(as_named) ? as_named : "";
}

bool fits_one_file(const std::vector<map_entry>& rotation) {
  std::size_t size = final_line.size();
  std::uint64_t variable = 1;
  for (std::size_t k = 0; k < rotation.size() && size <= max_script_file_size;
       ++k, variable += 2) {
    const std::size_t link_size =
        k + 1 == rotation.size() ? first_variable.size()
                                 : next_variable.size() + digits(variable + 2);
    size += entry_size(rotation[k].name().size(), variable, link_size);
  }
  return size <= max_script_file_size;
}

namespace {

/// Calls `each(begin, end, link, size)` for each file of the rotation
/// script, in order: its entries [begin, end) of `rotation`, what its last
/// restart runs, and its size in bytes. Each part is filled while it fits,
/// and the last part's last restart runs SW_rotate.cfg again; a rotation
/// that fits in one file closes back to SW1. False where `each` was.
template <typename Each>
bool for_each_file(const std::vector<map_entry>& rotation, const Each& each) {
  const bool one_file = fits_one_file(rotation);
  std::size_t part = 1, begin = 0;
  // The part's entries, each restart linking to the next variable; and the
  // size of the link of the last.
  std::size_t size = 0, last_link = 0;
  std::uint64_t variable = 1;
  std::string link = link_to_part(2);
  for (std::size_t k = 0; k < rotation.size(); ++k) {
    const std::size_t name = rotation[k].name().size();
    // An entry joins the part if the part, with this entry's restart running
    // the next part, still fits; otherwise that next part begins with it.
    if (!one_file && variable > 1 &&
        size + entry_size(name, variable, link.size()) + final_line.size() >
            max_script_file_size) {
      if (!each(begin, k, link,
                size - last_link + link.size() + final_line.size()))
        return false;
      begin = k, size = 0, variable = 1;
      link = link_to_part(++part + 1);
    }
    last_link = next_variable.size() + digits(variable + 2);
    size += entry_size(name, variable, last_link);
    variable += 2;
  }
  const std::string last =
      one_file ? std::string(first_variable) : link_to_part(1);
  return each(
      begin, rotation.size(), last,
      (size > 0 ? size - last_link + last.size() : 0) + final_line.size());
}

}  // namespace

bool write_rotation_script(const std::vector<map_entry>& rotation,
                           const script_sink& sink) {
  script_file file;
  file.text.reserve(max_script_file_size);
  return for_each_file(rotation, [&](std::size_t begin, std::size_t end,
                                     const std::string& link, std::size_t) {
    file.text.clear();
    file.variable = 1;
    for (std::size_t k = begin; k < end; ++k) {
      // The rotation is shuffled, so each name lies somewhere else in
      // memory: asking for a name some entries ahead hides most of the
      // wait for it.
      if (k + prefetch_distance < rotation.size())
        prefetch(rotation[k + prefetch_distance].name().data());
      append_entry(file, rotation[k].name());
    }
    close_file(file, link);
    return sink(file.text);
  });
}

std::vector<rotation_file> rotation_files_of(
    const std::vector<map_entry>& rotation) {
  std::vector<rotation_file> files;
  for_each_file(rotation, [&](std::size_t first, std::size_t,
                              const std::string&, std::size_t size) {
    files.push_back({first, size});
    return true;
  });
  return files;
}
