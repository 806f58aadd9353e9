#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full
# build (console, simulator, core), the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzz run of the receive path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-60}
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# Runs ctest in a build folder, keeping its "out of N" line for the summary.
run_ctest() {
  local folder=$1
  shift
  (cd "$folder" && "$@" ctest --output-on-failure -j"$jobs") | tee -a "$summary"
}

"$root/scripts/install-deps.sh"

echo "== Full build and tests"
cmake -S "$root" -B "$root/build-test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROLTA_BENCH=OFF
cmake --build "$root/build-test" -j"$jobs"
run_ctest "$root/build-test" env QT_QPA_PLATFORM=offscreen

echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DROLTA_WITH_QT=OFF -DROLTA_SANITIZE=ON -DROLTA_BENCH=OFF
cmake --build "$root/build-asan" -j"$jobs"
run_ctest "$root/build-asan" env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

if [ -x "$root/fuzz/run.sh" ] && command -v clang++ >/dev/null; then
  echo "== Fuzzing the receive path for ${fuzz_seconds} s"
  "$root/fuzz/run.sh" "$fuzz_seconds"
fi
total=$(awk '/tests passed, 0 tests failed out of/ { n += $NF } END { print n + 0 }' "$summary")
echo "Tests: ${total:-0} passed, 0 failed"
