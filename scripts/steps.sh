# shellcheck shell=bash
# Sourced by scripts/test and scripts/repeat: starting a step in the background in a process
# group of its own, and ending what a run started when it fails or is interrupted.

# start_step_in_group COMMAND...: runs COMMAND in the background as the leader of a new process
# group, so that the group's id is the step's id ($!). Ends it with end_processes.
start_step_in_group() {
  set -m
  "$@" &
  set +m
}

# process_tree PID...: the given processes and all their descendants that still run, one id a
# line (a process that left its group and its parent, as a daemon does, is not among them: see
# end_wine_servers). An ended process its parent has not reaped (state Z) runs no more.
process_tree() {
  ps -e -o pid=,ppid=,stat= | awk -v roots="$*" '
    BEGIN { n = split(roots, r, " "); for (i = 1; i <= n; i++) keep[r[i]] = 1 }
    $3 !~ /^Z/ { parent[$1] = $2 }
    END {
      do {
        grown = 0
        for (p in parent) if (!(p in keep) && (parent[p] in keep)) { keep[p] = 1; grown = 1 }
      } while (grown)
      for (p in keep) if (p in parent) print p
    }'
}

# group_members PGID...: the processes in the given process groups that still run.
group_members() {
  ps -e -o pid=,pgid=,stat= | awk -v groups="$*" '
    BEGIN { n = split(groups, g, " "); for (i = 1; i <= n; i++) want[g[i]] = 1 }
    ($2 in want) && $3 !~ /^Z/ { print $1 }'
}

# end_processes [--children-of PID] [GROUP...]: ends the process groups GROUP (each a step
# started with start_step_in_group), every descendant of theirs, and with --children-of every
# descendant of PID (but PID itself): by their ids, TERM first, KILL after 10 s for what is left.
end_processes() {
  local parent="" ids pid left
  if [ "${1:-}" = --children-of ]; then
    parent=$2
    shift 2
  fi
  ids=$( {
    [ $# -eq 0 ] || group_members "$@"
    [ $# -eq 0 ] || process_tree "$@"
    [ -z "$parent" ] || process_tree "$parent"
  } | sort -un | grep -vx "${parent:-0}" || true)
  [ -n "$ids" ] || return 0
  # shellcheck disable=SC2086  # one id a word
  kill -TERM $ids 2>/dev/null || true
  for _ in $(seq 100); do
    left=""
    for pid in $ids; do
      if kill -0 "$pid" 2>/dev/null && ! ps -o stat= -p "$pid" | grep -q '^Z'; then
        left="$left $pid"
      fi
    done
    [ -n "$left" ] || return 0
    sleep 0.1
  done
  echo "=== ending by force what did not end in 10 s:$left" >&2
  # shellcheck disable=SC2086
  kill -KILL $left 2>/dev/null || true
}

# end_wine_servers BUILD_FOLDER...: ends the wineserver of each build folder's Wine prefix. A
# wineserver leaves the process group of the program that started it, so the steps' groups do
# not hold it; it is ended through its prefix, and waited for.
end_wine_servers() {
  local folder
  for folder in "$@"; do
    [ -d "$folder/wineprefix" ] || continue
    WINEPREFIX=$folder/wineprefix timeout 20 wineserver -k 2>/dev/null || true
    WINEPREFIX=$folder/wineprefix timeout 20 wineserver -w 2>/dev/null || true
  done
}
