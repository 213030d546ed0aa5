#include "platform/tick_count.h"

#ifdef _WIN32
#include <windows.h>

std::uint32_t tick_count_ms() { return GetTickCount(); }

#else
#include <time.h>

std::uint32_t tick_count_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(
      static_cast<std::uint64_t>(now.tv_sec) * 1000 +
      static_cast<std::uint64_t>(now.tv_nsec) / 1000000);
}
#endif
