#include "support/zip_maker.h"

namespace {

void put(std::string& out, std::uint64_t number, int width) {
  for (int i = 0; i < width; ++i) out += static_cast<char>(number >> (8 * i));
}

}  // namespace

std::string zip_of(const std::vector<zipped>& files, const std::string& stub,
                   bool zip64, const std::string& comment, int broken) {
  std::string body, directory;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const zipped& file = files[i];
    const std::uint64_t at = body.size();
    body += "PK\x03\x04";
    put(body, 20, 2), put(body, file.encrypted, 2), put(body, 0, 2);
    put(body, 0, 8);  // time, date, and a CRC of 0 in both headers
    const std::uint64_t size = file.local_zip64 ? 0xFFFFFFFF : file.data.size();
    put(body, size, 4), put(body, size, 4);
    put(body, file.name.size(), 2), put(body, file.local_zip64 ? 20 : 0, 2);
    body += file.name;
    if (file.local_zip64) {
      put(body, 1, 2), put(body, 16, 2);
      put(body, file.data.size(), 8), put(body, file.data.size(), 8);
    }
    body += file.data;
    directory += static_cast<int>(i) == broken ? "PK\x09\x09" : "PK\x01\x02";
    put(directory, 20, 2), put(directory, 20, 2);
    put(directory, file.encrypted, 2), put(directory, 0, 2);
    put(directory, 0, 8);
    put(directory, file.data.size(), 4), put(directory, file.data.size(), 4);
    put(directory, file.name.size(), 2), put(directory, 0, 6);
    put(directory, 0, 6), put(directory, at, 4);
    directory += file.name;
  }
  std::string end;
  const std::uint64_t directory_at = body.size();
  if (zip64) {
    end += "PK\x06\x06";
    put(end, 44, 8), put(end, 45, 2), put(end, 45, 2), put(end, 0, 8);
    put(end, files.size(), 8), put(end, files.size(), 8);
    put(end, directory.size(), 8), put(end, directory_at, 8);
    end += "PK\x06\x07";
    put(end, 0, 4), put(end, directory_at + directory.size(), 8);
    put(end, 1, 4);
  }
  end += "PK\x05\x06";
  put(end, 0, 4);
  // As `zip -fz` writes it: the plain end record still holds the numbers.
  put(end, files.size(), 2), put(end, files.size(), 2);
  put(end, directory.size(), 4), put(end, directory_at, 4);
  put(end, comment.size(), 2);
  return stub + body + directory + end + comment;
}
