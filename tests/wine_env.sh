#!/usr/bin/env bash
# Runs "$@" in the environment of the Windows leg, found anew on every run:
# the 32-bit program (build/windows) under 32-bit Wine where this machine
# runs 32-bit code, else the 64-bit build of the same sources
# (build/windows64) under 64-bit Wine. Where neither is there, it lists a
# test program's cases all the same, but runs nothing: it says so and exits
# 77, skipped.
#   wine_env.sh SOURCE_DIR BINARY_DIR COMMAND...
root=$1 build=$2
shift 2
if /usr/lib/wine/wine --version >/dev/null 2>&1 &&
   [ -f "$root/build/windows/map_rotation.exe" ]; then
  bits=32 exe=$root/build/windows/map_rotation.exe
  export WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
  export MAP_ROTATION_WINDOWS_COMPILER=i686-w64-mingw32-g++-win32
elif [ -x /usr/lib/wine/wine64 ] && [ -f "$root/build/windows64/map_rotation.exe" ]; then
  bits=64 exe=$root/build/windows64/map_rotation.exe
  export WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  export MAP_ROTATION_WINDOWS_COMPILER=x86_64-w64-mingw32-g++-win32
else
  [[ " $* " == *" --gtest_list_tests "* ]] && exec "$@"
  echo "[  SKIPPED ] no Wine, or no Windows build that it runs here (cmake --preset windows)"
  exit 77
fi
# A prefix of each loader's own: a 32-bit Wine can't use a 64-bit prefix.
export WINEPREFIX=$build/wine-prefix-$bits WINEDEBUG=-all
export MAP_ROTATION_RUNNER=$WINE MAP_ROTATION_PROGRAM=$exe
exec "$@"
