#!/usr/bin/env bash
# Builds the fuzz targets with clang++ into build/fuzz and runs each for the
# given number of seconds (default 60). Exits non-zero on the first finding
# (crash, sanitizer report, leak, timeout); the input that caused it is saved
# under build/fuzz/findings/.
#
#   fuzz/run.sh [seconds] [target...]      each target (default: all) for that long
#   fuzz/run.sh --budget seconds [target...]   the seconds shared among the targets
#
# The differential targets fuzz_regions, fuzz_ift, fuzz_distance and
# fuzz_colour run each operator against its straightforward version and stop
# at the first difference.
#
# Each run starts from the seed corpus in fuzz/corpus/<kind>/ plus what earlier
# runs found (build/fuzz/corpus/<kind>/), so longer or repeated runs go deeper.
set -euo pipefail
cd "$(dirname "$0")/.."

budget=
if [ "${1:-}" = --budget ]; then
  budget=$2
  shift 2
fi
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_image fuzz_roots fuzz_regions fuzz_ift fuzz_distance fuzz_colour)
[ -z "$budget" ] || seconds=$((budget / ${#targets[@]}))

cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}"

mkdir -p build/fuzz/findings
for target in "${targets[@]}"; do
  kind=${target#fuzz_}
  mkdir -p "build/fuzz/corpus/$kind"
  echo "== $target for ${seconds} s"
  # Standard output and error of the library are closed (the roots reader
  # prints every seed); libFuzzer and the sanitizers still report. The paths
  # are absolute: a target may work in a scratch directory of its own.
  build/fuzz/"$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$PWD/build/fuzz/findings/$target-" \
    "$PWD/build/fuzz/corpus/$kind" "$PWD/fuzz/corpus/$kind"
done
