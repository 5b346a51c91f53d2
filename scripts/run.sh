#!/usr/bin/env bash
# Builds the tool and runs it. On a fresh Debian 12 machine it installs what
# the build needs first (as root, or through sudo).
set -u
. "$(dirname "$0")/lib.sh"
apt_install "${BASE_PACKAGES[@]}" || { echo "cannot install build packages" >&2; exit 1; }
# A build folder of its own, so that it and scripts/test.sh (build/) never
# reconfigure each other's.
BUILD=${BUILD:-$TOP/build-run}
build_project "$BUILD" -DTREVANQUILL_TESTS=OFF -DTREVANQUILL_BENCH=OFF || exit 1
exec "$BUILD/trevanquill"
