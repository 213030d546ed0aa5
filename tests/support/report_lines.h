#pragma once

#include <string>

/// `report` with every line that map_rotation_check broke at `width`
/// columns joined again: a line goes on in the next where that one is
/// indented four more than the line began, and its first word would not
/// have fitted after it. Lines may end in CR LF.
std::string unwrapped(const std::string& report, std::size_t width = 100);

/// The first line of `report` longer than `width` that has a blank, after
/// its indent, where it could have been broken; empty where there is none.
std::string overlong_line(const std::string& report, std::size_t width = 100);
