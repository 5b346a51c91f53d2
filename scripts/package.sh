#!/usr/bin/env bash
# Builds the Debian package of the tool (Release, without tests or benchmarks,
# in build-package/) and prints the path of the .deb on standard output;
# everything else goes to stderr. On a fresh Debian 12 machine it installs
# what the build needs first (as root, or through sudo). Install the package
# with: sudo apt install ./trevanquill_*.deb
set -u
. "$(dirname "$0")/lib.sh"
# dpkg-dev for dpkg-shlibdeps (the Depends line), file for CPack's look at
# the binaries.
apt_install "${BASE_PACKAGES[@]}" dpkg-dev file >&2 ||
  { echo "cannot install build packages" >&2; exit 1; }
BUILD=${BUILD:-$TOP/build-package}
# Debian's build flags, with all its hardening (stack protector, fortified
# functions, read-only relocations bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build_project "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTREVANQUILL_TESTS=OFF \
  -DTREVANQUILL_BENCH=OFF -DTREVANQUILL_UDEV_RULES_DIR=lib/udev/rules.d \
  -DTREVANQUILL_MODULES_LOAD_DIR=lib/modules-load.d \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >&2 || exit 1
rm -f "$BUILD"/trevanquill_*.deb
(cd "$BUILD" && cpack -G DEB) >&2 || { echo "cpack failed" >&2; exit 1; }
deb=$(ls "$BUILD"/trevanquill_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "cpack made no .deb in $BUILD" >&2; exit 1; }
echo "$deb"
