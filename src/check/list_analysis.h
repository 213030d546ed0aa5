#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/list_read.h"

/// One thing to tell of a token of the map list, at its line.
struct list_note {
  enum class kind {
    /// A name with no whole number after it: left out.
    no_number,
    /// A name the rotation leaves out: `why`.
    not_playable,
    /// A negative priority: left out on purpose.
    negative,
    /// A name the rotation carries but the server won't load: `why`.
    wont_load,
    /// A name on a line that starts like a comment: still read as a map.
    from_comment,
  };
  kind what = kind::no_number;
  std::size_t line = 0;
  /// A view of the list's text.
  std::string_view token;
  const char* why = nullptr;
  std::int32_t priority = 0;
};

/// A playable name listed more than once, which plays as often.
struct listed_twice {
  std::string_view name;
  std::size_t times = 0;
};

/// What the map list holds, as the run read it: every token left out with
/// its line and why, names the rotation leaves out or the server won't load,
/// names from comment lines, and names listed twice, in the order of the
/// list; where there is no list, the names beside it that look like one.
struct list_facts {
  /// The list as read; it keeps the bytes the notes view alive.
  list_read list;
  std::size_t entries = 0;
  std::vector<list_note> notes;
  std::vector<listed_twice> twice;
  std::vector<std::string> near_names;
  /// Whether something is left out by mistake or won't load.
  bool mistakes = false;
};

/// The facts of `list`, and where it is missing, of `beside`, the names in
/// its folder.
list_facts analyse_list(const list_read& list,
                        const std::vector<std::string>& beside);
