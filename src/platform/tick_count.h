#pragma once

#include <cstdint>

/// Milliseconds since the system started, wrapping at 32 bits. Runs started
/// at different moments see different values, which is all the random order
/// of a run needs from it.
std::uint32_t tick_count_ms();
