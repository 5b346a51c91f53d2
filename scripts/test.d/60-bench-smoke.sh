# A short run of every benchmark and end-to-end measure on the base build
# (seconds; no timing is checked): it fails when one of them crashes, fails or
# prints nothing. Sourced by scripts/test.sh (uses $BUILD, apt_install).

bench_smoke() {
  apt_install xvfb || return 1
  if [ ! -x "$BUILD/bench/pass_bench" ]; then
    echo "the benchmarks were not built (Google Benchmark missing?)" >&2
    return 1
  fi
  bash "$TOP/bench/run-all.sh" --quick --build "$BUILD"
}

bench_smoke
