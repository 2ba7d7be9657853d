#!/usr/bin/env bash
# Runs ARM64 Windows programs under Debian 13's arm64 Wine (scripts/setup-arm64-wine) on this
# machine, through qemu-aarch64.
#   wine-arm64.sh init                  create the prefix unless a complete one is there
#   wine-arm64.sh run PROGRAM [ARG...]  run PROGRAM (a host path) from its own folder
# WINEPREFIX names the prefix and LANGMON_WINE_ARM64_ROOT the unpacked root; the caller also sets
# WINEDEBUG and WINEDLLOVERRIDES. Optional: LANGMON_WINE_TIME_LIMIT, seconds for the whole run
# (300), and LANGMON_WINE_ARM64_RESULTS, a file that init empties and each run adds a line to:
# the test cases a program passed, or why nothing ran.
#
# Each run has a user, mount and process namespace of its own. Wine starts further ARM64 Linux
# programs (wineserver, services.exe, ...), which reach qemu through a binfmt_misc entry that
# exists in that namespace alone; nothing changes on the machine. The run starts the arm64
# wineserver itself and ends it by its id, and whatever Wine left running ends with the
# namespace, so no process outlives the run to hold its output open. Exits 77 (a skip) with the
# reason where the root, qemu, the namespaces or binfmt_misc cannot be had.
set -euo pipefail

: "${WINEPREFIX:?WINEPREFIX must be set}"
: "${LANGMON_WINE_ARM64_ROOT:?LANGMON_WINE_ARM64_ROOT must be set}"
root=$LANGMON_WINE_ARM64_ROOT
results=${LANGMON_WINE_ARM64_RESULTS:-/dev/null}
drive=t:  # the program's folder: with qemu -L, Z: shows the root, not the machine's files

record() { printf '%s\n' "$*" >>"$results"; }
skip() {
  echo "skipped: $*"
  record "skipped: $*"
  exit 77
}

if [ "${LANGMON_WINE_ARM64_INSIDE:-}" != yes ]; then
  case "${1:-}" in
    init) : >"$results" ;;
    run) [ $# -ge 2 ] || { echo "usage: $0 run PROGRAM [ARG...]" >&2; exit 2; } ;;
    *) echo "usage: $0 init | run PROGRAM [ARG...]" >&2; exit 2 ;;
  esac
  if [ ! -f "$root/.complete" ]; then
    skip "no arm64 Wine in $root (scripts/setup-arm64-wine brings it)"
  fi
  qemu=$(command -v qemu-aarch64) || skip "no qemu-aarch64 (Debian's qemu-user package)"
  namespaces=(unshare --user --map-root-user --mount --pid --fork)
  if ! refused=$("${namespaces[@]}" true 2>&1); then
    skip "the kernel refuses a private user, mount and process namespace: $refused"
  fi
  export LANGMON_WINE_ARM64_INSIDE=yes LANGMON_QEMU=$qemu
  # --kill-child: when the time limit ends unshare, its child, the namespace's first process,
  # goes too, and every process of the namespace with it.
  limit=${LANGMON_WINE_TIME_LIMIT:-300}
  status=0
  timeout --kill-after=10 "$limit" "${namespaces[@]}" --kill-child --mount-proc "$0" "$@" ||
    status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "ended at the run's time limit of $limit s" >&2
  fi
  exit "$status"
fi

# Inside the namespace, as its root.
if ! refused=$(mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>&1); then
  skip "the kernel offers no binfmt_misc of a private namespace (Linux 6.7 and later do): $refused"
fi
# aarch64 ELF programs, executables and shared objects alike, run through qemu.
magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
if ! refused=$(printf '%s' ":langmon-aarch64:M::$magic:$mask:$LANGMON_QEMU:" 2>&1 \
  >/proc/sys/fs/binfmt_misc/register); then
  skip "binfmt_misc refused qemu-aarch64 in a private namespace: $refused"
fi
export QEMU_LD_PREFIX=$root
# Wine 10 fails on a processor with branch-target enforcement, which qemu's default one has.
export QEMU_CPU=cortex-a72
wine=$root/usr/lib/wine/wine64
wineserver=$root/usr/lib/wine/wineserver64
server=""

# Starts the prefix's wineserver and waits until it listens: started by a Wine program instead,
# it would be one whose id this script does not know.
start_server() {
  mkdir -p "$WINEPREFIX"
  local socket marker
  marker=$(mktemp)
  "$wineserver" --foreground >>"$WINEPREFIX/wineserver.log" 2>&1 &
  server=$!
  # The server names its folder below /tmp in the prefix's file "wineserver" (made at its first
  # start), and within it one per prefix by the prefix's device and inode.
  socket=/server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")/socket
  until [ -s "$WINEPREFIX/wineserver" ] && [ -S "/tmp/$(cat "$WINEPREFIX/wineserver")$socket" ] &&
    [ "/tmp/$(cat "$WINEPREFIX/wineserver")$socket" -nt "$marker" ]; do
    if ! kill -0 "$server" 2>/dev/null; then
      rm -f "$marker"
      echo "the arm64 wineserver ended at its start:" >&2
      tail -n 20 "$WINEPREFIX/wineserver.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  rm -f "$marker"
}

stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    server=""
  fi
}
trap stop_server EXIT

case "$1" in
  init)
    ready=$WINEPREFIX/.langmon-prefix-ready
    if [ -f "$ready" ] && [ -f "$WINEPREFIX/system.reg" ]; then
      echo "arm64 wine prefix ready: $WINEPREFIX"
      exit 0
    fi
    # A prefix without the mark was left half-made by an interrupted run: start it over.
    rm -rf "$WINEPREFIX"
    started=$SECONDS
    start_server
    output=$(mktemp)
    # (Into a file, as for a run; whether it worked shows in the prefix it leaves.)
    "$wine" wineboot -i >"$output" 2>&1 || true
    # The server writes the registry out when its last program is gone and it ends by itself.
    "$wineserver" --wait
    wait "$server" || true
    server=""
    cat "$output"
    rm -f "$output"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wineboot did not create $WINEPREFIX" >&2
      exit 1
    fi
    touch "$ready"
    echo "arm64 wine prefix created in $((SECONDS - started)) s: $WINEPREFIX"
    ;;
  run)
    program=$(realpath "$2")
    shift 2
    ln -sfn "$(dirname "$program")" "$WINEPREFIX/dosdevices/$drive"
    start_server
    # Into a file, not this run's output: Wine's other programs inherit it, and none of them may
    # hold a pipe that someone waits on.
    output=$(mktemp)
    status=0
    (cd "$(dirname "$program")" && "$wine" "$drive\\$(basename "$program")" "$@") \
      >"$output" 2>&1 || status=$?
    stop_server
    cat "$output"
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$output" | tail -n 1)
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\},.*/\1/p' "$output" | tail -n 1)
    rm -f "$output"
    if [ "$status" -eq 0 ]; then
      record "$(basename "$program"): ${passed:-0} passed, ${skipped:-0} skipped"
    fi
    exit "$status"
    ;;
esac
