#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "map_list.h"

/// Receives the rotation script piece by piece, in order. Returns false when
/// a piece could not be stored, which ends the writing.
using script_sink = std::function<bool(std::string_view)>;

/// Writes the whole rotation script for `rotation` to `sink`: for each entry
/// a console variable that loads the map and one that restarts it, each
/// naming the next as `nextmap`, the last closing the chain back to SW1;
/// then the final line "vstr SW1". Lines end in CR LF, the final line has no
/// line end. The script goes out in large pieces. False when the sink failed.
bool write_rotation_script(const std::vector<map_entry>& rotation,
                           const script_sink& sink);
