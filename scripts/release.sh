#!/usr/bin/env bash
# Makes the release files in one folder, build-release/ (or $RELEASE_DIR):
#   trevanquill_VERSION_amd64.deb  the Debian package (scripts/package.sh)
#   trevanquill-VERSION-win32.zip  the 32-bit Windows console program, built
#                                  in Release with cmake/mingw-i686.cmake in
#                                  build-release-windows/, with README.txt for
#                                  Windows users and LICENSE.txt (CPack, ZIP)
#   SHA256SUMS                     of both, for sha256sum -c
# and lists them with their sizes on standard output; the builds' output goes
# to stderr. On a fresh Debian 12 machine it installs what the builds need
# first (as root, or through sudo).
set -u
. "$(dirname "$0")/lib.sh"
OUT=${RELEASE_DIR:-$TOP/build-release}
WINDOWS_BUILD=${WINDOWS_BUILD:-$TOP/build-release-windows}

apt_install "${BASE_PACKAGES[@]}" g++-mingw-w64-i686-posix >&2 ||
  { echo "cannot install build packages" >&2; exit 1; }

deb=$(bash "$TOP/scripts/package.sh") || { echo "the Debian package failed" >&2; exit 1; }

# The program as it ships: no tests, no benchmarks.
build_project "$WINDOWS_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_TESTS=OFF -DTREVANQUILL_BENCH=OFF >&2 ||
  { echo "the 32-bit Windows build failed" >&2; exit 1; }
rm -f "$WINDOWS_BUILD"/trevanquill-*.zip
(cd "$WINDOWS_BUILD" && cpack -G ZIP) >&2 || { echo "cpack failed" >&2; exit 1; }
zip=$(ls "$WINDOWS_BUILD"/trevanquill-*-win32.zip 2>/dev/null | head -n 1)
[ -n "$zip" ] || { echo "cpack made no .zip in $WINDOWS_BUILD" >&2; exit 1; }

rm -rf "$OUT"
mkdir -p "$OUT"
cp "$deb" "$zip" "$OUT/" || exit 1
(cd "$OUT" && sha256sum -- "$(basename "$deb")" "$(basename "$zip")" > SHA256SUMS) || exit 1
echo "release files in $OUT:"
(cd "$OUT" && stat -c '%10s  %n' -- "$(basename "$deb")" "$(basename "$zip")" SHA256SUMS)
