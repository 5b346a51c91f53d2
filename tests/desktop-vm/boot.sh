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
# WORK/serial.log.
#
# The machine: QEMU without KVM (TCG), its guest time counted in instructions
# (-icount shift=0,sleep=off: a host stall does not move the guest's clock,
# and the guest's idle waits take no host time), one CPU, 3 GB, a virtio-vga
# DRM device with two monitors (1280x800 and 640x480: QEMU enables only the
# first without a display window, so the kernel forces the second on), the
# image used read-only (snapshot=on). Ends when the guest powers off, or after
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
# The Debian package, which the cases of the user service install: DESK_PACKAGE,
# or the one scripts/package.sh made last.
deb=${DESK_PACKAGE:-$(ls "$top"/build-package/trevanquill_*.deb 2>/dev/null | head -n 1)}
[ -z "$deb" ] || cp "$deb" "$share/trevanquill.deb"

start=$(date +%s)
status=0
nice -n 10 timeout "${DESK_TIMEOUT:-1500}" qemu-system-x86_64 \
  -machine q35 -accel tcg -icount shift=0,sleep=off -cpu max,-avx,-avx2,-fma,-f16c -smp 1 -m 3072 \
  -nodefaults -display none -no-reboot -serial file:"$work/serial.log" \
  -drive file="$image/disk.img",if=virtio,format=raw,snapshot=on \
  -device virtio-vga,xres=1280,yres=800,max_outputs=2 \
  -virtfs local,path="$share",mount_tag=desk,security_model=none,readonly=on \
  -virtfs local,path="$out",mount_tag=out,security_model=none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 panic=-1 video=Virtual-2:640x480e desk.session=$session $extra" \
  </dev/null || status=$?
echo "VM ($session) ran $(($(date +%s) - start)) s"
[ $status -eq 124 ] && echo "the VM ($session) did not end within ${DESK_TIMEOUT:-1500} s" >&2
exit $status
