#!/usr/bin/env bash
# A fuzzing campaign: runs one target with libFuzzer for the given number of
# seconds, on one core, at low priority. New inputs go to a working corpus
# under the build folder (seeded from fuzz/corpus/TARGET and the
# reproducers), crashes and slow inputs to fuzz-work/TARGET-*.
# Usage: fuzz/run.sh TARGET SECONDS [BUILD_FOLDER]   (TARGET: format, freeform, dialog, run, batch)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
target=${1:?usage: fuzz/run.sh TARGET SECONDS [BUILD_FOLDER]}
seconds=${2:?usage: fuzz/run.sh TARGET SECONDS [BUILD_FOLDER]}
build=$(realpath "${3:-$here/../build}")
fuzzer=$build/checked/fuzz/fuzz_$target
# The libFuzzer targets are built in the tree of the checked program.
if ! cmake --build "$build/checked" --target "fuzz_$target" -j2 >/dev/null; then
    echo "cannot build fuzz_$target in $build/checked: build the project first, with clang and libFuzzer" >&2
    exit 1
fi
work=$build/fuzz-work
mkdir -p "$work/$target"
# Absolute paths: a target may change its current folder.
exec nice -n 10 "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$work/$target-" \
    "$work/$target" "$here/corpus/$target" "$here/reproducers/$target"
