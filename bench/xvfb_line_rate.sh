#!/usr/bin/env bash
# The console at the line's full rate, measured as an operator's desktop runs
# it: a real X server (Xvfb), no accessibility bridge, the controller
# simulator pacing its bytes one at a time at 115200 baud with a status frame
# every 2 ms (about 480 frames a second during "恒速测试"), and the console
# window (rolta-soak: the real window, connected and running the test without
# a person). Prints the console's CPU as a share of one core and its context
# switches (all threads, voluntary and not) per frame the simulator sent.
#
#   bench/xvfb_line_rate.sh [plain|trend] [SECONDS]
#
# plain: only the test runs; trend: recording to a file with the trend window
# open as well. Builds nothing: rolta-soak and qrx5000b-sim come from
# ROLTA_BENCH_BUILD (default build-release; a Release build with
# -DROLTA_BENCH=ON).
set -euo pipefail
mode=${1:-plain}
seconds=${2:-10}
case "$mode" in plain | trend) ;; *)
  echo "usage: bench/xvfb_line_rate.sh [plain|trend] [SECONDS]" >&2
  exit 2
  ;;
esac
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ROLTA_BENCH_BUILD:-$root/build-release}
for program in rolta-soak qrx5000b-sim; do
  [ -x "$build/bin/$program" ] || {
    echo "xvfb_line_rate: $build/bin/$program is missing; build it first" >&2
    exit 1
  }
done
command -v xvfb-run >/dev/null || { echo "xvfb_line_rate: xvfb-run is missing" >&2; exit 1; }

run=$(mktemp -d "${TMPDIR:-/tmp}/rolta-line-rate.XXXXXX")
sim_pid=""
cleanup() {
  # The console first: xvfb-run then ends as it should and takes its X server
  # with it (killing xvfb-run itself would leave the server running).
  # Each step may fail (the console may have died already) without cutting
  # the rest short: errexit still holds in here, and a simulator left running
  # would load every later measurement.
  if [ -s "$run/console.pid" ]; then kill "$(cat "$run/console.pid")" 2>/dev/null || true; fi
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT

sim_link="$run/ttyQRX5000B"
"$build/bin/qrx5000b-sim" --period 2 --baud 115200 --link "$sim_link" >"$run/sim.out" 2>"$run/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$sim_link" ] && break; sleep 0.1; done
[ -e "$sim_link" ] || { echo "xvfb_line_rate: the simulator did not start" >&2; cat "$run/sim.err" >&2; exit 1; }

export XDG_CONFIG_HOME="$run/config" HOME="$run/home" ROLTA_EXTRA_PORTS="$sim_link"
export NO_AT_BRIDGE=1 QT_ACCESSIBILITY=0
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
records=()
[ "$mode" = trend ] && records=(--records "$run/records")
warmup=4
minutes=$(awk -v s="$seconds" -v w="$warmup" 'BEGIN { printf "%.3f", (s + w + 3) / 60 }')
# The shell execs the console, so the pid it writes is the console's.
(cd "$build/bin" && exec xvfb-run -a -s "-screen 0 1280x900x24" sh -c 'echo $$ >"$0"; exec "$@"' \
  "$run/console.pid" "$build/bin/rolta-soak" --port "$sim_link" --minutes "$minutes" "${records[@]}") \
  >"$run/console.out" 2>"$run/console.err" &
for _ in $(seq 100); do [ -s "$run/console.pid" ] && break; sleep 0.1; done
console=$(cat "$run/console.pid" 2>/dev/null || true)
[ -n "$console" ] || { echo "xvfb_line_rate: the console did not start" >&2; cat "$run/console.err" >&2; exit 1; }
sleep "$warmup"
kill -0 "$console" 2>/dev/null || { echo "xvfb_line_rate: the console ended early" >&2; cat "$run/console.err" >&2; exit 1; }

# utime + stime of the process in clock ticks; switches summed over its threads.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$console/stat"; }
switches() { cat /proc/"$console"/task/*/status | awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
# The simulator prints its counters on SIGUSR1, at the same moments as the samples.
sent_lines() { grep -c ' frames sent,' "$run/sim.err" || true; }
frames_at() { sed -n 's/.* \([0-9]*\) frames sent,.*/\1/p' "$run/sim.err" | sed -n "$1p"; }

before=$(sent_lines)
kill -USR1 "$sim_pid"
ticks0=$(cpu_ticks)
switches0=$(switches)
start=$(date +%s.%N)
sleep "$seconds"
kill -USR1 "$sim_pid"
ticks1=$(cpu_ticks)
switches1=$(switches)
end=$(date +%s.%N)
sleep 0.5
frames0=$(frames_at $((before + 1)))
frames1=$(frames_at $((before + 2)))

awk -v mode="$mode" -v hz="$(getconf CLK_TCK)" -v t0="$ticks0" -v t1="$ticks1" -v s0="$switches0" -v s1="$switches1" \
  -v f0="$frames0" -v f1="$frames1" -v w0="$start" -v w1="$end" 'BEGIN {
    wall = w1 - w0; frames = f1 - f0
    cpu = (t1 - t0) / hz
    printf "console (%s), Xvfb, bytes paced at 115200: %.1f s, %d frames (%.0f/s), cpu %.2f%% of one core (%.0f us/frame), %.2f switches/frame\n",
      mode, wall, frames, frames / wall, 100 * cpu / wall, (frames > 0 ? 1e6 * cpu / frames : 0), (frames > 0 ? (s1 - s0) / frames : 0)
  }'
