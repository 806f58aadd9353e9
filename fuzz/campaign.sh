#!/bin/sh
# A long fuzzing campaign on one target that keeps its corpus: every run
# starts from what the last one found (and the seeds), and the corpus is
# minimised at the end.
# Usage: fuzz/campaign.sh NAME SECONDS [JOBS]   (NAME: fuzz/NAME_fuzz.cpp)
#   ROLTA_FUZZ_CORPUS  the corpus folder (default ~/.cache/rolta/fuzz-corpus/NAME)
# Findings (crash-*, leak-*, timeout-*) land in build-fuzz/fuzz-artifacts/;
# the exit status is libFuzzer's, so non-zero after a finding.
set -eu
usage="usage: fuzz/campaign.sh NAME SECONDS [JOBS]"
name=${1:?$usage}
seconds=${2:?$usage}
jobs=${3:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
[ -f "$root/fuzz/${name}_fuzz.cpp" ] || { echo "no fuzz target $name (fuzz/${name}_fuzz.cpp)" >&2; exit 2; }
build=${ROLTA_FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${ROLTA_FUZZ_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/rolta/fuzz-corpus/$name}
mkdir -p "$corpus"
[ -d "$root/fuzz/corpus/$name" ] && cp "$root/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true

ROLTA_FUZZ_BUILD_DIR=$build "$root/fuzz/run.sh" --build-only >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4:max_malloc_fill_size=0:allocator_release_to_os_interval_ms=-1}
program="$build/bin/${name}_fuzz"
dict=""
[ -f "$root/fuzz/$name.dict" ] && dict="-dict=$root/fuzz/$name.dict"
mkdir -p "$build/fuzz-artifacts"
# With several jobs libFuzzer runs them as child processes writing fuzz-N.log
# into the current folder; one job runs here, its output on the terminal.
parallel=""
[ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"
cd "$build"
status=0
"$program" "$corpus" $dict $parallel \
  -max_total_time="$seconds" \
  -max_len=4096 \
  -timeout=20 \
  -artifact_prefix="$build/fuzz-artifacts/${name}-" \
  -print_final_stats=1 || status=$?

# Keep only the inputs that add coverage (also after a finding: the corpus
# stays worth keeping).
minimised="$corpus.min"
rm -rf "$minimised" && mkdir -p "$minimised"
if "$program" -merge=1 "$minimised" "$corpus" >"$build/fuzz-artifacts/${name}-merge.log" 2>&1; then
  rm -rf "$corpus" && mv "$minimised" "$corpus"
else
  rm -rf "$minimised"
  echo "Minimising failed (log: $build/fuzz-artifacts/${name}-merge.log); the corpus is kept as it was" >&2
fi
echo "Corpus: $(ls "$corpus" | wc -l) inputs in $corpus"
exit "$status"
