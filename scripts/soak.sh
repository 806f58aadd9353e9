#!/usr/bin/env bash
# A soak run: the console against the controller simulator at the line's full
# rate (a status frame every 2 ms on a 115200-baud line: about 480 frames a
# second) for MINUTES, "恒速测试" at 50 km/h running, "记录" on and the trend
# window open, under a virtual X server without the accessibility bridge.
# Reports the rows a second recorded against the frames the simulator sent,
# Numth gaps and implausible rows in the recording, the receive path's
# refused frames and checksum errors, and the console's memory and CPU.
#
#   scripts/soak.sh MINUTES
#
# Builds a Release build in build-release (ROLTA_SOAK_BUILD to change it) when
# needed; keeps the run's files in a temporary folder it names at the end.
set -euo pipefail
minutes=${1:-}
if ! [[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
  echo "usage: scripts/soak.sh MINUTES" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ROLTA_SOAK_BUILD:-$root/build-release}

# The driver lives with the benchmarks; only the three programs are built.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROLTA_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target rolta-soak qrx5000b-sim envkit_all >/dev/null

run=$(mktemp -d "${TMPDIR:-/tmp}/rolta-soak.XXXXXX")
sim_link="$run/ttyQRX5000B"
"$build/bin/qrx5000b-sim" --period 2 --baud 115200 --link "$sim_link" >"$run/sim.out" 2>"$run/sim.err" &
sim_pid=$!
cleanup() { kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 50); do [ -e "$sim_link" ] && break; sleep 0.1; done
[ -e "$sim_link" ] || { echo "soak: the simulator did not start" >&2; cat "$run/sim.err" >&2; exit 1; }

# The console's own settings and records stay in the run's folder.
export XDG_CONFIG_HOME="$run/config" HOME="$run/home" ROLTA_EXTRA_PORTS="$sim_link" NO_AT_BRIDGE=1
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME" "$HOME"
echo "soak: $minutes minutes, files in $run"
(cd "$build/bin" && xvfb-run -a -s "-screen 0 1280x900x24" "$build/bin/rolta-soak" --port "$sim_link" \
   --minutes "$minutes" --records "$run/records" --sim-pid "$sim_pid") >"$run/console.out" 2>"$run/console.err" \
  || { echo "soak: the console driver failed" >&2; cat "$run/console.err" >&2; exit 1; }
kill -INT "$sim_pid"
wait "$sim_pid" || true
trap - EXIT

csv=$(sed -n 's/^file //p' "$run/console.out")
[ -s "$csv" ] || { echo "soak: no recording" >&2; exit 1; }

# The simulator's counters at the recording's start and stop (SIGUSR1), and at its end.
counts=$(sed -n 's/.* \([0-9]*\) frames sent, \([0-9]*\) status frames skipped.*/\1 \2/p' "$run/sim.err")
read -r sent0 skipped0 < <(sed -n 1p <<<"$counts")
read -r sent1 skipped1 < <(sed -n 2p <<<"$counts")

echo
echo "== recording ($csv)"
# Columns by their header: t_ms, numth, speed [km/h]. The simulator's Numth
# runs 1..32767 and starts again at 1.
awk -F, -v sent=$((sent1 - sent0)) -v skipped=$((skipped1 - skipped0)) '
  NR == 1 {
    sub(/\r$/, "")
    for (i = 1; i <= NF; i++) { if ($i == "t_ms") tc = i; if ($i == "numth") nc = i; if ($i ~ /^speed/) sc = i }
    next
  }
  {
    rows++; t = $tc + 0; n = $nc + 0; speed = $sc + 0
    if (rows == 1) first = t
    last = t
    if (rows > 1) {
      d = n - prev; if (d <= 0) d += 32767
      if (d > 1) { gaps++; missing += d - 1; if (d - 1 > widest) widest = d - 1 }
    }
    prev = n
    if (speed < -1 || speed > 400 || $sc ~ /nan|inf/) odd++
  }
  END {
    span = (last - first) / 1000
    printf "rows %d over %.1f s: %.1f rows/s\n", rows, span, (span > 0 ? rows / span : 0)
    printf "simulator while recording: %d frames sent (%.1f/s), %d status frames skipped for a busy line\n",
           sent, (span > 0 ? sent / span : 0), skipped
    printf "rows / frames sent: %.4f\n", (sent > 0 ? rows / sent : 0)
    printf "numth gaps: %d (%d frames missing, widest %d); the simulator skipped %d\n", gaps, missing, widest, skipped
    printf "implausible rows (speed outside -1..400 km/h): %d\n", odd
  }' "$csv"

echo
echo "== receive path"
sed -n 's/^receive //p' "$run/console.out"
echo
echo "== console memory (resident) and CPU"
awk '/^sample/ {
    for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    printf "minute %2d: %7.1f MB, %.1f s CPU\n", v["minute"], v["rss_kb"] / 1024, v["cpu_s"]
  }' "$run/console.out"
awk '/^cpu / { split($2, w, "="); split($3, c, "="); printf "CPU: %.1f s in %.1f s = %.1f %% of one core\n", c[2], w[2], 100 * c[2] / w[2] }' \
  "$run/console.out"
echo "(memory grows until the kept frames span their time: the session keeps 30 minutes of frames)"
