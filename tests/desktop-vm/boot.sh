#!/usr/bin/env bash
# Boots the desktop VM once, with one desktop session, and runs its cases:
#   boot.sh IMAGE BINARIES WORK SESSION [KERNEL-ARGS]
# IMAGE: what build-image.sh made. BINARIES: the build folder (the tool
# trevanquill, and tools/virtual-remote, tools/desktop-watch and
# tools/desktop-key). WORK: made anew; WORK/share becomes the guest's
# /opt/desk (read-only: the guest scripts and case groups of this folder, the
# binaries, the scenarios, the udev rules), WORK/out its /opt/out (run.log, the
# cases' lines; session.log, the compositor's; journal.txt). SESSION: gnome
# or kde (the guest's desk.session=). The serial console goes to
# WORK/serial.log. DESK_FILES: more files for the cases (a package to
# install, say), copied into the guest's /opt/desk/files.
#
# The machine: QEMU without KVM (TCG), its guest time counted in instructions
# (-icount shift=0,sleep=off: a host stall does not move the guest's clock,
# and the guest's idle waits take no host time; a wait for the host's disk or
# 9p does move it, which is why guest/run.sh has everything the session and
# the cases read in memory before they start), one CPU, 3 GB, a virtio-vga
# DRM device with two monitors of different sizes: 1280x800 and, right of it,
# 1024x768. QEMU enables only the first without a display window, so the
# kernel forces the second on; without EDID (edid=off) the kernel's driver
# gives the second 1024x768 as its preferred mode (with QEMU's EDID the
# compositors would take 5120x2160, which costs much under emulation). The
# image is used read-only (snapshot=on). Ends when the guest powers off, or after
# DESK_TIMEOUT seconds (default 1500).
set -eu
image=$1 binaries=$2 work=$3 session=$4 extra=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

rm -rf "$work"
share=$work/share out=$work/out
mkdir -p "$share/bin" "$share/scenarios" "$share/rules" "$out"
chmod 1777 "$out"
cp -r "$here/guest/." "$share/"
mkdir -p "$share/cases"
cp "$here"/cases/*.sh "$share/cases/"
cp "$binaries/trevanquill" "$binaries/tools/virtual-remote" "$binaries/tools/desktop-watch" \
  "$binaries/tools/desktop-key" "$share/bin/"
cp "$top"/tests/vm/scenarios/*.scn "$here"/scenarios/*.scn "$share/scenarios/"
cp "$top"/platform/linux/*.rules "$top"/tools/virtual-remote/*.rules "$share/rules/"
if [ -n "${DESK_FILES:-}" ]; then
  mkdir -p "$share/files"
  cp $DESK_FILES "$share/files/"
fi

start=$(date +%s)
status=0
nice -n 10 timeout "${DESK_TIMEOUT:-1500}" qemu-system-x86_64 \
  -machine q35 -accel tcg -icount shift=0,sleep=off -cpu max,-avx,-avx2,-fma,-f16c -smp 1 -m 3072 \
  -nodefaults -display none -no-reboot -serial file:"$work/serial.log" \
  -drive file="$image/disk.img",if=virtio,format=raw,snapshot=on \
  -device virtio-vga,xres=1280,yres=800,max_outputs=2,edid=off \
  -virtfs local,path="$share",mount_tag=desk,security_model=none,readonly=on \
  -virtfs local,path="$out",mount_tag=out,security_model=none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 panic=-1 video=Virtual-2:1024x768e desk.session=$session $extra" \
  </dev/null || status=$?
# The CPU time QEMU used (user and system, from bash's times): what the boot
# costs on a machine that is not shared.
times > "$work/times.txt"
echo "VM ($session) ran $(($(date +%s) - start)) s; QEMU's CPU time (user, system): $(tail -n 1 "$work/times.txt")"
[ $status -eq 124 ] && echo "the VM ($session) did not end within ${DESK_TIMEOUT:-1500} s" >&2
exit $status
