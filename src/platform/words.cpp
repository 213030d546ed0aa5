#include "platform/words.h"

std::string words(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (const std::string_view part : parts) size += part.size();
  std::string joined;
  joined.reserve(size);
  for (const std::string_view part : parts) joined += part;
  return joined;
}
