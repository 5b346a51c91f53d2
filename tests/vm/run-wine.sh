#!/usr/bin/env bash
# The Wine group (tests/vm/cases/50-wine.*), the 32-bit Windows program under
# Wine's HID stack in the test VM, booted with that group alone, N times in a
# row (the VM step boots it once with every other group):
#   run-wine.sh [BUILD [N]]
# BUILD (default build/) holds the Linux tool and tools; the group's
# preparation builds the 32-bit program in build-windows/, fetches Wine's
# 32-bit DLLs and makes the prefix. One line per boot (tests/vm/repeat.sh);
# each boot's console and check are kept in BUILD/vm-wine-boots/. Exit
# status: 0 when every boot passed every case.
set -u
. "$(dirname "$0")/../../scripts/lib.sh"
BUILD=$(cd "${1:-$TOP/build}" && pwd) || exit 1
count=${2:-1}
apt_install qemu-system-x86 libgstreamer-plugins-base1.0-0 busybox-static \
  xvfb xkb-data x11-xkb-utils $(cat "$TOP"/tests/vm/cases/50-wine.packages) || exit 1
# A copy of the VM's files with the Wine group as its only group.
vm=$BUILD/vm-wine
rm -rf "$vm"
mkdir -p "$vm"
cp -a "$TOP/tests/vm/." "$vm/"
find "$vm/cases" -type f ! -name '50-wine.*' -delete
# repeat.sh sources the group's preparation, with this checkout's scripts.
export TOP
# The kernel package the VM step keeps, when it is there.
if [ -d "$BUILD/vm/cache" ]; then
  mkdir -p "$BUILD/vm-wine-boots/vm"
  ln -sfn "$BUILD/vm/cache" "$BUILD/vm-wine-boots/vm/cache"
fi
"$vm/repeat.sh" "$count" "$BUILD" "$BUILD/vm-wine-boots"
