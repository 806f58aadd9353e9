#!/usr/bin/env bash
# Configures and builds build/, the one build folder that run.sh and test.sh
# share, so either command reuses what the other built. Builds the targets
# named, or everything without any.
#   scripts/build.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# One set of options: a different one in either command would reconfigure
# the folder and rebuild much of it each time the other runs.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROLTA_BENCH=OFF >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$root/build" -j"${JOBS:-2}" "${targets[@]}"
