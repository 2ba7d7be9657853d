#!/usr/bin/env bash
# Runs a Wine test program on an X display, for the tests of windows on screen:
#   run-under-x.sh <program> [arguments...]
# A private Xvfb is started for the run and stopped after it, so the boxes never land on someone's
# desktop; without Xvfb the display in DISPLAY is used when it answers. When neither can be had
# the test is skipped: exit code 77 and a line that says why.
# The prefix's wineserver is stopped before and after the program, so that Wine's desktop is made
# on this display (a server left running by a test without a display would keep the windows off
# it) and no Wine process holds the display when it goes. ctest runs this test alone.
# The program has LANGMON_WINE_TIME_LIMIT seconds (100): ended there, before ctest's limit of
# 120 s would end this script alone, it leaves no Xvfb and no wineserver behind.
set -uo pipefail

: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX
wineserver=${LANGMON_WINESERVER:-wineserver}

stop_wine() {
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w
}

run_on_display() {
  echo "X display $DISPLAY ($1)"
  shift
  stop_wine
  local limit=${LANGMON_WINE_TIME_LIMIT:-100} status=0
  timeout --kill-after=5 "$limit" "$@" || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "ended at the run's time limit of $limit s" >&2
  fi
  stop_wine
  return "$status"
}

display_answers() {
  [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1
}

workdir=
xvfb_pid=
# shellcheck disable=SC2317  # run by the EXIT trap
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ -n "$workdir" ]; then
    rm -rf "$workdir"
  fi
}
trap stop_xvfb EXIT

why_not_xvfb="Xvfb is not installed"
if command -v Xvfb >/dev/null; then
  workdir=$(mktemp -d)
  # Xvfb picks a free display number itself and writes it to the descriptor once it is ready.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$workdir/display" \
    2>"$workdir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if [ -s "$workdir/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  number=$(tr -dc '0-9' <"$workdir/display")
  if [ -n "$number" ]; then
    export DISPLAY=":$number"
    run_on_display Xvfb "$@"
    exit $?
  fi
  why_not_xvfb="Xvfb did not start: $(tr '\n' ' ' <"$workdir/xvfb.log")"
fi

if display_answers; then
  run_on_display "from the environment" "$@"
  exit $?
fi
echo "SKIPPED: no X server: $why_not_xvfb, and DISPLAY is unset or does not answer"
exit 77
