#!/usr/bin/env bash
# The Wine group (tests/vm/wine/50-wine.*): the 32-bit Windows program under
# Wine's HID stack in the test VM, against the virtual remote. One boot with
# that group alone, or N in a row:
#   run-wine.sh [BUILD [N]]
# BUILD (default build/) holds the Linux tool and tools; the group's
# preparation builds the 32-bit program in build-windows/, fetches Wine's
# 32-bit DLLs and makes the prefix. It is not a step of every test run: one
# boot in ten lost a third of a second of reports on the way to the program
# (see docs/windows.md), and until that is understood a CI run must not hang
# on it. Exit status: 0 when every boot passed every case.
set -u
. "$(dirname "$0")/../../scripts/lib.sh"
BUILD=${1:-$TOP/build}
count=${2:-1}
apt_install qemu-system-x86 libgstreamer-plugins-base1.0-0 busybox-static \
  xvfb xkb-data x11-xkb-utils $(cat "$TOP"/tests/vm/wine/*.packages) || exit 1
# A copy of the VM's files with the Wine group as its only group.
vm=$BUILD/vm-wine
rm -rf "$vm"
mkdir -p "$vm"
cp -a "$TOP/tests/vm/." "$vm/"
rm -rf "$vm/cases" "$vm/wine"
mkdir -p "$vm/cases"
cp "$TOP"/tests/vm/wine/50-wine.* "$vm/cases/"
. "$vm/cases/50-wine.prepare" || exit 1
# The kernel package the VM step keeps, when it is there.
if [ -d "$BUILD/vm/cache" ]; then
  mkdir -p "$BUILD/vm-wine-boots/vm"
  ln -sfn "$BUILD/vm/cache" "$BUILD/vm-wine-boots/vm/cache"
fi
"$vm/repeat.sh" "$count" "$BUILD" "$BUILD/vm-wine-boots"
