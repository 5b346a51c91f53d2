#!/usr/bin/env bash
# Builds the tool and runs every test. On a fresh Debian 12 machine it installs
# what it needs first (as root, or through sudo).
set -u
. "$(dirname "$0")/lib.sh"

log "installing build packages"
apt_install "${BASE_PACKAGES[@]}" || { echo "cannot install build packages" >&2; exit 1; }

BUILD=${BUILD:-$TOP/build}
log "building in $BUILD"
# The options are given, not taken from the cache: a folder configured before
# without the tests or benchmarks gets them back.
build_project "$BUILD" -DTREVANQUILL_TESTS=ON -DTREVANQUILL_BENCH=ON || { echo "build failed" >&2; exit 1; }

failed_steps=()
log "core tests"
# Tests that need an X server carry the label "desktop"; test.d/20-linux-desktop.sh
# runs them against Xvfb.
run_ctest "$BUILD" -j "$JOBS" -LE desktop || failed_steps+=(core)

# Further suites: each script in test.d sets up what it needs and adds its
# counts through run_ctest (or TESTS_PASSED/TESTS_FAILED).
for step in "$TOP"/scripts/test.d/*.sh; do
  [ -e "$step" ] || continue
  name=$(basename "$step" .sh)
  log "$name"
  if ! . "$step"; then failed_steps+=("$name"); fi
done

echo
if [ ${#failed_steps[@]} -gt 0 ]; then
  echo "failed steps: ${failed_steps[*]}"
fi
echo "tests: $TESTS_PASSED passed, $TESTS_FAILED failed"
[ ${#failed_steps[@]} -eq 0 ] && [ "$TESTS_FAILED" -eq 0 ]
