#!/usr/bin/env bash
# Starts or stops the persistent wineserver that the Windows leg runs under
# ($WINE is the loader, $WINESERVER its server, $WINEPREFIX the prefix).
# Wine's helper processes inherit the standard streams of the program that
# started them, so the server starts first, on /dev/null, and the prefix is
# prepared after it; a test that waits for the program's output then never
# waits for Wine's helpers to let go of it. A server still running for the
# prefix (one that lingers for seconds after its last program, or one an
# interrupted run left) would make "wineserver -p" fail, so start ends it
# first, and stop waits until it is gone.
set -euo pipefail
end_server() {
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
}
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    end_server
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop)
    end_server
    ;;
esac
