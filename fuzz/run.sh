#!/bin/sh
# Builds every fuzz target (fuzz/<name>_fuzz.cpp) with clang and runs each
# for its share of a bounded time, from its seed corpus fuzz/corpus/<name>/
# and with its dictionary fuzz/<name>.dict when there is one.
# Usage: fuzz/run.sh [SECONDS] [NAME...]   (default 60 in all, every target)
#        fuzz/run.sh --build-only
# Fails on any crash, sanitizer report, broken invariant, leak or timeout;
# prints each target's executions a second. Findings land in
# build-fuzz/fuzz-artifacts/, logs in build-fuzz/fuzz-logs/.
set -eu
seconds=${1:-60}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROLTA_FUZZ_BUILD_DIR:-$root/build-fuzz}
cc=${CC:-clang-14}
cxx=${CXX:-clang++-14}

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DROLTA_FUZZ=ON -DROLTA_WITH_QT=OFF -DROLTA_BENCH=OFF >/dev/null
ninja -C "$build" -j2 rolta_fuzzers
[ "$seconds" = "--build-only" ] && exit 0
case $seconds in ''|*[!0-9]*) echo "usage: fuzz/run.sh [SECONDS] [NAME...]" >&2; exit 2 ;; esac

if [ $# -gt 0 ]; then
  names="$*"
else
  names=$(cd "$root/fuzz" && ls *_fuzz.cpp | sed 's/_fuzz\.cpp$//')
fi
count=$(echo $names | wc -w)
share=$((seconds / count))
[ "$share" -ge 1 ] || share=1

artifacts="$build/fuzz-artifacts/"
logs="$build/fuzz-logs"
mkdir -p "$artifacts" "$logs"
# A small quarantine and no memory handed back to the system: the harnesses
# allocate a little per input, and page faults would cost more than the work.
# Leak checks stay on; any crash, sanitizer report or broken invariant makes
# libFuzzer exit non-zero.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4:max_malloc_fill_size=0:allocator_release_to_os_interval_ms=-1}

# CPU seconds the shell's children used so far (`times`, second line; run in
# this shell, not in a command substitution): the other builds on the machine
# change exec/s, not executions per CPU second.
cpu_file="$logs/.times"
children_cpu() {
  awk 'NR == 2 { split($1, u, "m"); split($2, s, "m"); print u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$cpu_file"
}

failed=""
summary=""
for name in $names; do
  program="$build/bin/${name}_fuzz"
  [ -x "$program" ] || { echo "no fuzz target $name" >&2; exit 2; }
  # The seeds are copied: libFuzzer adds to its corpus folder, the repository stays as it is.
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  [ -d "$root/fuzz/corpus/$name" ] && cp "$root/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  dict=""
  [ -f "$root/fuzz/$name.dict" ] && dict="-dict=$root/fuzz/$name.dict"
  log="$logs/$name.log"
  echo "== $name: ${share}s"
  status=0
  times >"$cpu_file"
  cpu_before=$(children_cpu)
  "$program" "$corpus" $dict \
    -max_total_time="$share" \
    -max_len=4096 \
    -timeout=20 \
    -artifact_prefix="$artifacts${name}-" \
    -print_final_stats=1 >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  times >"$cpu_file"
  per_cpu=$(awk -v runs="${runs:-0}" -v a="$cpu_before" -v b="$(children_cpu)" \
    'BEGIN { if (b > a) printf "%d", runs / (b - a); else print "?" }')
  line=$(printf '%-20s %10s runs %8s exec/s %8s per CPU second' "$name" "${runs:-?}" "${rate:-?}" "$per_cpu")
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    failed="$failed $name"
    line="$line  FAILED (log: $log)"
  fi
  summary="$summary$line
"
done

printf '\n%s' "$summary"
if [ -n "$failed" ]; then
  echo "fuzzing found problems in:$failed (inputs in $artifacts)" >&2
  exit 1
fi
