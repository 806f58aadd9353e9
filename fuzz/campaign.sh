#!/bin/sh
# A long fuzzing campaign on the receive path that keeps its corpus: every run
# starts from what the last one found, and the corpus is minimised at the end.
# Usage: fuzz/campaign.sh SECONDS [JOBS]
#   ROLTA_FUZZ_CORPUS  the corpus folder (default ~/.cache/rolta/fuzz-corpus/rx)
# Findings (crash-*, leak-*, timeout-*) land in build-fuzz/fuzz-artifacts/.
set -eu
seconds=${1:?usage: fuzz/campaign.sh SECONDS [JOBS]}
jobs=${2:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROLTA_FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${ROLTA_FUZZ_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/rolta/fuzz-corpus/rx}
mkdir -p "$corpus"

ROLTA_FUZZ_BUILD_DIR=$build "$root/fuzz/run.sh" --build-only >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=4:max_malloc_fill_size=0:allocator_release_to_os_interval_ms=-1}
mkdir -p "$build/fuzz-artifacts"
# With several jobs libFuzzer writes fuzz-N.log into the current folder.
cd "$build"
"$build/bin/rx_fuzz" "$corpus" "$build/fuzz-corpus/rx" \
  -dict="$root/fuzz/rx.dict" \
  -max_total_time="$seconds" \
  -max_len=4096 \
  -timeout=20 \
  -jobs="$jobs" -workers="$jobs" \
  -artifact_prefix="$build/fuzz-artifacts/" \
  -print_final_stats=1

# Keep only the inputs that add coverage.
minimised="$corpus.min"
rm -rf "$minimised" && mkdir -p "$minimised"
"$build/bin/rx_fuzz" -merge=1 "$minimised" "$corpus" >/dev/null 2>&1
rm -rf "$corpus" && mv "$minimised" "$corpus"
echo "Corpus: $(ls "$corpus" | wc -l) inputs in $corpus"
