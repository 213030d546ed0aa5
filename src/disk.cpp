// The parts of system_disk that the C library does alike on every platform.
// Files are always binary, so line ends and 0x1A bytes are the tool's own
// business on Windows too.
#include "disk.h"

std::FILE* system_disk::open_for_reading(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

std::FILE* system_disk::open_for_writing(const std::string& path) {
  return std::fopen(path.c_str(), "wb");
}

bool system_disk::write(std::FILE* file, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool system_disk::flush(std::FILE* file) { return std::fflush(file) == 0; }

bool system_disk::close(std::FILE* file) { return std::fclose(file) == 0; }

void system_disk::remove(const std::string& path) { std::remove(path.c_str()); }
