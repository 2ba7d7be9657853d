#!/usr/bin/env bash
# Runs a Wine test program on an X display, for the tests of windows on screen:
#   run-under-x.sh <program> [arguments...]
# DISPLAY is used when it names a server that answers; otherwise a private Xvfb is started for the
# run and stopped after it. When neither can be had the test is skipped: exit code 77 and a line
# that says why.
# The prefix's wineserver is stopped before and after the program, so that Wine's desktop is made
# on this display (a server left running by a test without a display would keep the windows off
# it) and no Wine process holds the display when it goes. ctest runs this test alone.
set -uo pipefail

: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX
wineserver=${LANGMON_WINESERVER:-wineserver}

stop_wine() {
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w
}

run_on_display() {
  stop_wine
  "$@"
  local status=$?
  stop_wine
  return "$status"
}

if [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1; then
  echo "X display $DISPLAY"
  run_on_display "$@"
  exit $?
fi

if ! command -v Xvfb >/dev/null; then
  echo "SKIPPED: no X server (DISPLAY is unset or does not answer, and Xvfb is not installed)"
  exit 77
fi

# Xvfb picks a free display number itself and writes it to the descriptor.
workdir=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$workdir/display" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  if [ -s "$workdir/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
number=$(tr -dc '0-9' <"$workdir/display")
if [ -z "$number" ]; then
  echo "SKIPPED: no X server (DISPLAY is unset or does not answer, and Xvfb did not start:"
  sed 's/^/  /' "$workdir/xvfb.log"
  echo ")"
  exit 77
fi
export DISPLAY=":$number"
echo "X display $DISPLAY (Xvfb)"
run_on_display "$@"
exit $?
