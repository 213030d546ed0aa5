#!/usr/bin/env bash
# Starts or stops the persistent wineserver that the Windows leg runs under
# ($WINE is the loader, $WINESERVER its server, $WINEPREFIX the prefix).
# Wine's helper processes inherit the standard streams of the program that
# started them, so the server starts first, on /dev/null, and the prefix is
# prepared after it; a test that waits for the program's output then never
# waits for Wine's helpers to let go of it.
set -euo pipefail
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    ;;
esac
