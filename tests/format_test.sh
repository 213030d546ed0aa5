#!/usr/bin/env bash
# Fails where a C++ file of the project isn't formatted as the checked-in
# .clang-format says; with -i, formats them instead.
#   format_test.sh [-i]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "skipped: no clang-format"; exit 77; }
files=(src/*/*.cpp src/*/*.h tests/*/*.cpp tests/*/*.h fuzz/*.cpp bench/*.cpp)
if [ "${1:-}" = -i ]; then
  exec clang-format -i "${files[@]}"
fi
clang-format --dry-run --Werror "${files[@]}"
