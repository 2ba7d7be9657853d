#!/usr/bin/env bash
# Prepares or stops the Wine prefix the tests of the real DLL run in.
#   wine-prefix.sh init   create the prefix (64-bit, so it runs 32- and 64-bit programs) unless a
#                         complete one is there, and wait until Wine has finished setting it up
#   wine-prefix.sh stop   stop the prefix's wineserver
# WINEPREFIX must name the prefix; the caller also sets WINEDEBUG and WINEDLLOVERRIDES.
set -euo pipefail

: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX
wine=${LANGMON_WINE:-wine}
wineserver=${LANGMON_WINESERVER:-wineserver}
ready="$WINEPREFIX/.langmon-prefix-ready"

case "${1:-}" in
  init)
    if [ -f "$ready" ] && [ -f "$WINEPREFIX/system.reg" ]; then
      echo "wine prefix ready: $WINEPREFIX"
      exit 0
    fi
    # A prefix without the mark was left half-built by an interrupted run: start it over.
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    start=$(date +%s)
    WINEARCH=win64 "$wine" wineboot -i
    "$wineserver" -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wineboot did not create $WINEPREFIX" >&2
      exit 1
    fi
    touch "$ready"
    echo "wine prefix created in $(($(date +%s) - start)) s: $WINEPREFIX"
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 init|stop" >&2
    exit 2
    ;;
esac
