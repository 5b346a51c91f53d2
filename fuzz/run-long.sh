#!/usr/bin/env bash
# The long fuzz run: each target in turn, one fuzzing process at a time, at
# the lowest priority. Builds the targets with clang into build-fuzz/ first.
#
#   fuzz/run-long.sh [SECONDS_PER_TARGET [TARGET...]]
#
# Default: 3600 s each for the decoder and the control loop. The corpus grows
# in build-fuzz/corpus-NAME (seeded from fuzz/corpus/NAME); an input that
# finds a bug is written to build-fuzz/crashes/ and ends the run: copy it to
# fuzz/regressions/NAME/ once the bug is mended, so the tests replay it.
set -u
. "$(dirname "$0")/../scripts/lib.sh"

seconds=${1:-3600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode loop)

dir=$TOP/build-fuzz
CC=clang CXX=clang++ build_project "$dir" -DTREVANQUILL_FUZZ=ON \
  -DTREVANQUILL_TESTS=OFF -DTREVANQUILL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
mkdir -p "$dir/crashes"

rc=0
for name in "${targets[@]}"; do
  corpus=$dir/corpus-$name
  mkdir -p "$corpus"
  log "fuzzing $name for $seconds s"
  nice -n 19 "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/$name-" \
    "$corpus" "$TOP/fuzz/corpus/$name" 2>"$dir/fuzz-$name.log"
  status=$?
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)|^Done|ERROR' \
    "$dir/fuzz-$name.log"
  if [ $status -ne 0 ]; then
    echo "fuzz_$name found a problem: see $dir/fuzz-$name.log and $dir/crashes/" >&2
    rc=1
  fi
done
exit $rc
