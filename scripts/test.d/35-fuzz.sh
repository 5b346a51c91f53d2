# Sourced by scripts/test.sh. A short libFuzzer run of each fuzz target (about
# a minute in all), built with clang and AddressSanitizer and
# UndefinedBehaviorSanitizer. The seed corpus and the inputs that once found a
# bug are replayed by the ordinary tests (fuzz_inputs_*); fuzz/run-long.sh is
# the long run.

fuzz_short() {
  local dir=$TOP/build-fuzz name corpus log rc=0
  # clang, and libclang-rt-14-dev for libFuzzer and the sanitizer runtimes.
  apt_install clang libclang-rt-14-dev || return 1
  CC=clang CXX=clang++ build_project "$dir" -DTREVANQUILL_FUZZ=ON \
    -DTREVANQUILL_TESTS=OFF -DTREVANQUILL_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo || return 1
  for name in decode loop; do
    corpus=$(mktemp -d)
    log=$dir/fuzz-$name-ci.log
    if "$dir/fuzz/fuzz_$name" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/ci-crash-$name-" \
        "$corpus" "$TOP/fuzz/corpus/$name" >"$log" 2>&1; then
      grep -E '^stat::number_of_executed_units' "$log"
      echo "fuzz_$name: no problem found"
      TESTS_PASSED=$((TESTS_PASSED + 1))
    else
      tail -n 60 "$log"
      echo "fuzz_$name found a problem (input in $dir/ci-crash-$name-*)" >&2
      TESTS_FAILED=$((TESTS_FAILED + 1))
      rc=1
    fi
    rm -rf "$corpus"
  done
  return $rc
}

fuzz_short
