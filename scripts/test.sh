#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full
# build (console, simulator, core), the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzz run of the receive path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-60}

"$root/scripts/install-deps.sh"

echo "== Full build and tests"
cmake -S "$root" -B "$root/build-test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build-test" -j"$jobs"
(cd "$root/build-test" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DROLTA_WITH_QT=OFF -DROLTA_SANITIZE=ON -DROLTA_BENCH=OFF
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

if [ -x "$root/fuzz/run.sh" ] && command -v clang++ >/dev/null; then
  echo "== Fuzzing the receive path for ${fuzz_seconds} s"
  "$root/fuzz/run.sh" "$fuzz_seconds"
fi
echo "All tests passed."
