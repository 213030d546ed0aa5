#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "check/check_facts.h"

/// map_rotation_check's exit statuses, as --help and the README tell them:
/// the one place they are written.
inline constexpr const char* exit_statuses =
    "  0  a run writes the rotation, and every map is read as written and\n"
    "     found (or, with no game folder named, there was nothing to look in)\n"
    "  1  it does, but something is left out, won't load or isn't found, a\n"
    "     game folder can't be listed, an archive can't be read or is\n"
    "     damaged, the folders named hold no archive that can be read, a\n"
    "     config named with --config can't be read, the server's config\n"
    "     doesn't run the rotation or stops it, or the check ran out of\n"
    "     memory and checked nothing\n"
    "  2  a run leaves the rotation as it is or writes no map, in the next\n"
    "     run's order or in another order of the same list\n"
    " 64  the command line isn't understood: one line on standard error\n"
    "     says what, and where the usage is\n";

/// The exit status of what `facts` tell, as exit_statuses says: 2 before 1
/// before 0.
int exit_status(const check_facts& facts);

/// The report of `facts` for a person to read, its sections in the order
/// the check found them, ending with the exit status; lines longer than
/// `width` columns go on in lines indented four more, where words allow
/// (0: never).
std::string render_report(const check_facts& facts, std::size_t width = 100);

/// The same facts as data: one JSON document whose keys the README lists,
/// version 1, with every fact the report tells, its sentences among them
/// ("says"). Every string is data_text()'s.
std::string render_json(const check_facts& facts);

/// How the check shows bytes that come from outside (a name, a path, a
/// value, a reason naming them) to a person: printable ASCII as it is; any
/// other byte (a control byte, CR, DEL, anything past ASCII) and a
/// backslash that an x follows, as \xHH. Nothing planted in a name then
/// reaches a terminal as a control, and every byte can be read back.
std::string shown_bytes(std::string_view text);
/// `text` as shown_bytes() shows it, quoted; a quote inside as \x22.
std::string shown(std::string_view text);
/// How the JSON form holds bytes from outside: valid UTF-8 as it is (JSON
/// escapes its controls); each byte that isn't part of valid UTF-8, and a
/// backslash that an x follows, as \xHH.
std::string data_text(std::string_view text);

/// `count` and `one` or `many` after it: "1 entry", "3 entries".
std::string counted(std::size_t count, std::string_view one,
                    std::string_view many);
