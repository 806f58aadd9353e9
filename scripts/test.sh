#!/usr/bin/env bash
# Installs what is missing, checks the sources' layout, builds everything and
# runs every test: the full
# build (console, simulator, core), the core again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded parts under ThreadSanitizer, and a
# bounded run of every fuzz target.
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

echo "== Layout of the sources (.clang-format)"
# One layout for everyone: a source that clang-format would change fails here.
git -C "$root" ls-files -z '*.cpp' '*.h' | (cd "$root" && xargs -0 clang-format --dry-run --Werror)

echo "== Full build and tests"
# The build folder run.sh uses too: the console it starts is the one tested.
JOBS=$jobs "$root/scripts/build.sh"
run_ctest "$root/build" env QT_QPA_PLATFORM=offscreen

echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DROLTA_WITH_QT=OFF -DROLTA_SANITIZE=ON -DROLTA_BENCH=OFF
cmake --build "$root/build-asan" -j"$jobs"
run_ctest "$root/build-asan" env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

echo "== Threaded parts under ThreadSanitizer (serial monitor thread, recorder, session with its link, rolta-cli)"
cmake -S "$root" -B "$root/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROLTA_WITH_QT=OFF -DROLTA_SANITIZE_THREAD=ON -DROLTA_BENCH=OFF
threaded_tests=(comm_port_test recording_test controller_session_test cli_sim_test)
cmake --build "$root/build-tsan" -j"$jobs" --target qrx5000b-sim envkit_all "${threaded_tests[@]}"
(cd "$root/build-tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure \
  -j"$jobs" -R '^(CommPort|PtyPair|FrameRecorder|RecordingTest|TrendData|ControllerSession|CliAgainstSimulator)') |
  tee -a "$summary"

if [ -x "$root/fuzz/run.sh" ] && command -v clang++ >/dev/null; then
  echo "== Fuzzing every decoder of outside data for ${fuzz_seconds} s"
  "$root/fuzz/run.sh" "$fuzz_seconds"
fi
total=$(awk '/tests passed, 0 tests failed out of/ { n += $NF } END { print n + 0 }' "$summary")
echo "Tests: ${total:-0} passed, 0 failed"
