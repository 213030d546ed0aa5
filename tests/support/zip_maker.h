#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// One file of an archive that zip_of makes; `local_zip64` gives its local
/// header alone zip64 sizes, as Python's force_zip64 does.
struct zipped {
  std::string name, data;
  bool encrypted = false, local_zip64 = false;
};

/// A stored zip of `files`, after `stub` bytes whose offsets it doesn't
/// count (as a self-extracting stub prepended by hand), with zip64 end
/// records where `zip64`, and `comment` at its end. `broken` spoils the
/// directory entry of that file.
std::string zip_of(const std::vector<zipped>& files,
                   const std::string& stub = "", bool zip64 = false,
                   const std::string& comment = "", int broken = -1);
