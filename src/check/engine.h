#pragma once

/// The two engines of the console family, where they differ: how they find
/// maps (engine_search.h) and how their consoles run texts (console.h).
enum class engine {
  /// The 32-bit servers operators run.
  original,
  /// The maintained open engine.
  maintained,
};
