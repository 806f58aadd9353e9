#!/usr/bin/env bash
# The test line under load: BENCHES simulated benches (default 20), each
# watched by a publishing `rolta-cli monitor --mqtt`, and one `rolta-cli
# line` against one local broker for SECONDS (default 60). Prints the CPU time
# of each publisher and the delay of the live messages from the publisher's
# stamp to the line view (median and 99th percentile). Not part of the tests.
#   scripts/testline-load.sh [build folder]
set -euo pipefail

build=${1:-build}
benches=${BENCHES:-20}
seconds=${SECONDS_RUN:-60}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=0
for candidate in $(shuf -i 20000-60000 -n 20); do
  if ! (echo >/dev/tcp/127.0.0.1/"$candidate") 2>/dev/null; then port=$candidate; break; fi
done
{
  echo "listener $port 127.0.0.1"
  echo "allow_anonymous true"
  [ "$(id -u)" -eq 0 ] && echo "user root"
} >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" 2>"$work/mosquitto.log" &
pids+=($!)
for _ in $(seq 100); do (echo >/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.05; done

export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state ROLTA_ENVKIT_DIR=$bin ROLTA_LOG=off
mkdir -p "$XDG_CONFIG_HOME/rolta"
printf 'host=127.0.0.1\nport=%s\nlive_rate=10\n' "$port" >"$XDG_CONFIG_HOME/rolta/testline.conf"

# Each bench runs a constant-speed test, so its status frames come every 20 ms.
for i in $(seq "$benches"); do
  "$bin/qrx5000b-sim" --link "$work/sim$i" --period 20 >/dev/null 2>&1 &
  pids+=($!)
done
for i in $(seq "$benches"); do
  for _ in $(seq 100); do [ -e "$work/sim$i" ] && break; sleep 0.05; done
  "$bin/rolta-cli" --port "$work/sim$i" exec 0 --a 50 >/dev/null
done

"$bin/rolta-cli" line --json --duration "$seconds" >"$work/line.jsonl" 2>"$work/line.err" &
line=$!
publishers=()
for i in $(seq "$benches"); do
  # `times` prints the shell's, then its children's user and system time.
  bash -c '"$@" >/dev/null 2>&1; times' _ "$bin/rolta-cli" --port "$work/sim$i" monitor --mqtt --bench "bench-$i" \
    --duration "$seconds" >"$work/cpu$i" &
  publishers+=($!)
done
wait "${publishers[@]}" "$line" || true

seconds_of() { awk -F'[ms]' '{ print $1 * 60 + $2 }' <<<"$1"; }
total=0
echo "CPU per publisher over ${seconds} s (user+system):"
for i in $(seq "$benches"); do
  read -r user system < <(tail -1 "$work/cpu$i")
  cpu=$(awk -v u="$(seconds_of "$user")" -v s="$(seconds_of "$system")" 'BEGIN { printf "%.2f", u + s }')
  total=$(awk -v t="$total" -v c="$cpu" 'BEGIN { print t + c }')
  printf '  bench-%-3s %6s s  (%.2f %% of one core)\n' "$i" "$cpu" "$(awk -v c="$cpu" -v d="$seconds" 'BEGIN { print 100 * c / d }')"
done
awk -v t="$total" -v n="$benches" -v d="$seconds" 'BEGIN { printf "  mean      %6.2f s  (%.2f %% of one core)\n", t / n, 100 * t / n / d }'
last=$(tail -1 "$work/line.jsonl")
echo "line view: $(grep -o '"bench":' <<<"$last" | wc -l) benches in its last table, oldest message" \
  "$(grep -o '"age_ms":[0-9-]*' <<<"$last" | cut -d: -f2 | sort -n | tail -1) ms old"
cat "$work/line.err"
