#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/disk.h"
#include "run/map_list.h"

/// The map list as a run read it: the file, how reading it ended, its
/// bytes (in UTF-8 where the file was UTF-16), the text to read in them and
/// how the file was written. The bytes are shared, never copied, by every
/// run and record of one start, as the names of their plans view them.
struct list_read {
  std::string file = map_list_file;
  disk_status status{disk_result::missing, "not read"};
  std::shared_ptr<const std::string> bytes;
  std::string_view text;
  list_encoding encoding = list_encoding::plain;
};
