#!/usr/bin/env bash
# Every include in src/ points down the layers, never up or sideways into a
# layer above: platform, then walk, then run, then check. Prints each
# include that points up, and fails on any.
set -uo pipefail
cd "$(dirname "$0")/.."
layers=(platform walk run check)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && echo "$i" && return; done
  echo -1
}
status=0
for file in src/*/*.h src/*/*.cpp; do
  own=$(rank "$(basename "$(dirname "$file")")")
  if [ "$own" -lt 0 ]; then
    echo "$file: in no layer (${layers[*]})"
    status=1
    continue
  fi
  while IFS= read -r included; do
    layer=${included%%/*}
    if [ "$layer" = "$included" ] || [ "$(rank "$layer")" -lt 0 ]; then
      echo "$file: includes \"$included\", which names no layer"
      status=1
    elif [ "$(rank "$layer")" -gt "$own" ]; then
      echo "$file: includes \"$included\", a layer above its own"
      status=1
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done
exit $status
