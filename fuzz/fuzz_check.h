#pragma once

#include <cstdlib>

/// Fails the fuzzer's input where `condition` doesn't hold: an abort is
/// what libFuzzer keeps as a crash.
inline void check(bool condition) {
  if (!condition) std::abort();
}
