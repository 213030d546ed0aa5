#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

/// Reads up to `size` bytes of an archive from `offset`; fewer where the
/// file ends sooner or can't be read.
using archive_reader =
    std::function<std::string(std::uint64_t offset, std::size_t size)>;

/// Hands `each` the name of every entry of the zip archive of `file_size`
/// bytes that `read` reads, as a game's .pk3 is: from its
/// central directory alone, where they stand uncompressed whatever the
/// entries are (stored or deflated), with or without an archive comment,
/// in zip64 too. Reads no more than the end record and the directory, so
/// it costs the same for an archive of any size. False, after the names
/// read so far, where the bytes are no archive or are cut short; never
/// more work than the directory's bytes, whatever they hold.
bool read_archive_names(std::uint64_t file_size, const archive_reader& read,
                        const std::function<void(std::string_view)>& each);
