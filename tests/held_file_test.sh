#!/usr/bin/env bash
# Under Wine: while another program holds a file of the rotation for a
# moment, as a virus scanner holds every new file, a run still puts the
# fresh rotation in place and leaves no stray file. Three runs with the
# first new file held, then one with SW_rotate.cfg itself held.
#   held_file_test.sh SOURCE_DIR
# Run through wine_env.sh: $WINE runs Windows programs,
# $MAP_ROTATION_PROGRAM is the program under test, and
# $MAP_ROTATION_WINDOWS_COMPILER the MinGW-w64 g++ for the same Windows,
# which builds the holding program here.
set -euo pipefail
compiler=$MAP_ROTATION_WINDOWS_COMPILER source=$1 program=$MAP_ROTATION_PROGRAM
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$compiler" -O2 -static -o "$work/hold_file.exe" "$source/tests/support/hold_file.cpp"
status=0
fail() { echo "$*"; status=1; }

# One run of the program in a fresh folder while the holder watches for $1.
held_run() {  # $1: what the holder holds; $2: what it waits to find left
  dir=$work/run$RANDOM
  mkdir "$dir"
  for i in $(seq 1000); do printf 'map%s 1\r\n' "$i"; done >"$dir/map_list.cfg"
  printf 'earlier rotation' >"$dir/SW_rotate.cfg"
  (cd "$dir" && "$WINE" "$work/hold_file.exe" "$1" 300 "$2" >holder.out 2>&1) &
  local holder=$!
  for _ in $(seq 600); do grep -q watching "$dir/holder.out" 2>/dev/null && break; sleep 0.05; done
  (cd "$dir" && "$WINE" "$program" </dev/null >/dev/null 2>&1)
  wait "$holder" || true
  said=$(tr -d '\r' <"$dir/holder.out")
}

one_run() {  # $1: what the holder holds; $2: what it must find left
  local dir said
  # On a busy machine the holder may not be scheduled while a new file
  # exists at all: only a run it held tells anything, so try again.
  for _ in 1 2 3 4 5; do
    held_run "$1" "$2"
    grep -q '^held ' <<<"$said" && break
    echo "the holder missed the run; once more"
  done
  grep -q '^held ' <<<"$said" || fail "the holder held nothing in 5 runs: $said"
  grep -qx "left $2" <<<"$said" ||
    fail "the run did not wait for the held file: $said"
  local maps
  maps=$(cat "$dir"/SW_rotate*.cfg | grep -c ' ; map ' || true)
  [ "$maps" -eq 1000 ] || fail "the rotation in place holds $maps maps, not 1000"
  local stray
  stray=$(cd "$dir" && ls | grep -vxE 'map_list\.cfg|holder\.out|SW_rotate[0-9]*\.cfg|SW_rotate\.cfg\.map_rotation-lock' || true)
  [ -z "$stray" ] || fail "stray files: $stray"
  echo "holding $1: $(grep '^held\|^left' <<<"$said" | tr '\n' ' ')$maps maps in place"
}

for _ in 1 2 3; do one_run 'SW_rotate.cfg.map_rotation-tmp.*' 0; done
one_run SW_rotate.cfg 1
exit $status
