#!/bin/sh
# Builds the receive-path fuzzer with clang and runs it for a bounded time.
# Usage: fuzz/run.sh [seconds]   (default 60). Fails on any crash or finding.
#        fuzz/run.sh --build-only
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROLTA_FUZZ_BUILD_DIR:-$root/build-fuzz}
cc=${CC:-clang-14}
cxx=${CXX:-clang++-14}

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g" \
  -DROLTA_FUZZ=ON -DROLTA_WITH_QT=OFF -DROLTA_BENCH=OFF >/dev/null
ninja -C "$build" -j2 rx_fuzz
[ "$seconds" = "--build-only" ] && exit 0

corpus="$build/fuzz-corpus/rx"
artifacts="$build/fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"
# A small quarantine and no memory handed back to the system: the harness
# builds a few receive rings per input, and page faults would cost more than
# the work. Leak checks stay on; any crash, sanitizer report or broken invariant makes
# libFuzzer exit non-zero, and so this script.
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4:max_malloc_fill_size=0:allocator_release_to_os_interval_ms=-1} \
"$build/bin/rx_fuzz" "$corpus" \
  -dict="$root/fuzz/rx.dict" \
  -max_total_time="$seconds" \
  -max_len=4096 \
  -timeout=20 \
  -artifact_prefix="$artifacts" \
  -print_final_stats=1
