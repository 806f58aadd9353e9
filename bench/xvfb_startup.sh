#!/usr/bin/env bash
# The console's start-up as an operator's desktop sees it: a real X server
# (Xvfb, started once beforehand and not counted), no accessibility bridge,
# the console started afresh RUNS times (default 5, after one start not
# counted that warms the file cache). For each start: the time from starting
# the program to the window system's first paint of the tips window (the
# console's rolta.ui debug message), and the console's resident memory while
# the tips window waits for "知道了". Prints each start and the median.
#
#   bench/xvfb_startup.sh [RUNS]
#
# Builds nothing: rolta comes from ROLTA_BENCH_BUILD (default build-release).
set -euo pipefail
runs=${1:-5}
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ROLTA_BENCH_BUILD:-$root/build-release}
[ -x "$build/bin/rolta" ] || { echo "xvfb_startup: $build/bin/rolta is missing; build it first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb_startup: xvfb-run is missing" >&2; exit 1; }

if [ "${1:-}" != "--inside-x" ]; then
  run=$(mktemp -d "${TMPDIR:-/tmp}/rolta-startup.XXXXXX")
  trap 'rm -rf "$run"' EXIT
  export XDG_CONFIG_HOME="$run/config" HOME="$run/home" XDG_RUNTIME_DIR="$run/runtime" XDG_STATE_HOME="$run/state"
  mkdir -p "$XDG_CONFIG_HOME" "$HOME" "$XDG_STATE_HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
  export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0 QT_LOGGING_RULES="rolta.ui.debug=true"
  unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_QPA_PLATFORM
  exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" --inside-x "$runs" "$build" "$run"
fi

runs=$2
build=$3
run=$4
cd "$build/bin"
# One start to time: prints "MILLISECONDS RESIDENT_KB".
start_once() {
  local log="$run/console.err" started console painted
  : >"$log"
  started=${EPOCHREALTIME/./}
  "$build/bin/rolta" 2>"$log" &
  console=$!
  for _ in $(seq 200); do
    painted=$(sed -n 's/.*tips window painted at \([0-9]*\) us.*/\1/p' "$log")
    [ -n "$painted" ] && break
    sleep 0.05
  done
  if [ -z "$painted" ]; then
    kill "$console" 2>/dev/null || true
    echo "xvfb_startup: the tips window did not appear" >&2
    cat "$log" >&2
    exit 1
  fi
  # The tips window waits for its button, so the memory is read while it shows.
  sleep 0.3
  local resident
  resident=$(awk '/^VmRSS:/ { print $2 }' "/proc/$console/status")
  kill "$console"
  wait "$console" 2>/dev/null || true
  awk -v s="$started" -v p="$painted" -v r="$resident" 'BEGIN { printf "%.1f %d\n", (p - s) / 1000, r }'
}

start_once >/dev/null
results=()
for i in $(seq "$runs"); do
  line=$(start_once)
  results+=("$line")
  set -- $line
  printf 'start %d: tips window painted after %s ms, resident %.1f MB\n' "$i" "$1" "$(awk -v k="$2" 'BEGIN { print k / 1024 }')"
done
# Each figure's own median: the slowest start need not be the largest.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms=$(printf '%s\n' "${results[@]}" | awk '{ print $1 }' | median)
kb=$(printf '%s\n' "${results[@]}" | awk '{ print $2 }' | median)
awk -v ms="$ms" -v kb="$kb" -v n="${#results[@]}" 'BEGIN {
  printf "console start-up, Xvfb, Release: median %.1f ms to the tips window (%d starts), resident %.1f MB\n", ms, n, kb / 1024
}'
