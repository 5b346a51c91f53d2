#!/usr/bin/env bash
# Boots the test VM once and writes its serial console to a file:
#   run-vm.sh WORKDIR CONSOLE-LOG TREVANQUILL VIRTUAL_REMOTE POINTER_OBSERVER
# WORKDIR keeps the kernel package between runs. QEMU runs without KVM (TCG),
# niced, with a time limit.
set -eu
work=$1 log=$2 tool=$3 remote=$4 observer=$5
here=$(cd "$(dirname "$0")" && pwd)

"$here/make-initramfs.sh" "$work/cache" "$work/image" "$tool" "$remote" "$observer"

rm -f "$log"
start=$(date +%s)
# -no-reboot: the init's reboot ends QEMU.
nice -n 10 timeout 240 qemu-system-x86_64 \
  -machine pc -accel tcg -cpu max -smp 1 -m 1024 \
  -nodefaults -display none -no-reboot \
  -serial file:"$log" \
  -kernel "$work/image/vmlinuz" -initrd "$work/image/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" </dev/null
echo "VM ran $(( $(date +%s) - start )) s"
