#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "run/map_list.h"

/// The most bytes one file of the rotation script holds. The console of the
/// servers operators run takes a script into a command buffer of 16 KiB, in
/// one piece, together with whatever of the server's config still waits
/// behind the `exec`; half of it stays free for that config.
inline constexpr std::size_t max_script_file_size = 8192;

/// The file of the rotation script that the server runs, part 1.
inline constexpr const char* rotation_script_name = "SW_rotate.cfg";

/// The name of file `part` of the rotation script, counting from 1:
/// "SW_rotate.cfg", the one the server runs, then "SW_rotate2.cfg", ...
std::string rotation_script_file(std::size_t part);

/// Whether `name` is that of a file of the rotation script, as
/// rotation_script_file gives it for some part.
bool is_rotation_script_file(std::string_view name);

/// The name of the rotation's file that `name` names in any case, as
/// rotation_script_file gives it; empty where it names none.
std::string rotation_file_in_any_case(std::string_view name);

/// What a part holds that a shorter rotation no longer needs: a server that
/// reaches it, still in the earlier rotation, goes on from the new one's
/// start.
inline constexpr std::string_view step_back_script = "exec SW_rotate.cfg";

/// Receives the rotation script one whole file at a time, in order: first
/// the content of SW_rotate.cfg, then of SW_rotate2.cfg, and so on. Returns
/// false when a file could not be stored, which ends the writing.
using script_sink = std::function<bool(std::string_view file)>;

/// Whether the rotation script for `rotation` is one file, SW_rotate.cfg
/// alone: it is when the chain of every entry fits in one file.
bool fits_one_file(const std::vector<map_entry>& rotation);

/// One file of the rotation script: the first entry of the rotation it
/// holds, and its size.
struct rotation_file {
  std::size_t first = 0, size = 0;
};

/// The files of the rotation script for `rotation`, in order, as
/// write_rotation_script writes them, without writing them.
std::vector<rotation_file> rotation_files_of(
    const std::vector<map_entry>& rotation);

/// Writes the rotation script for `rotation` to `sink`: for each entry a
/// console variable that loads the map and one that restarts it, each
/// naming the next as `nextmap`, then the final line "vstr SW1". Lines end
/// in CR LF, the final line has none. When the chain fits in one file it
/// closes back to SW1; otherwise it goes out in parts of whole entries, each
/// filled while it fits and numbering its variables from SW1 again, and the
/// last restart of a part runs the next part's file, the last part's
/// SW_rotate.cfg. False when the sink failed.
bool write_rotation_script(const std::vector<map_entry>& rotation,
                           const script_sink& sink);
