#!/usr/bin/env bash
# Boots the test VM once and writes its serial console to a file:
#   run-vm.sh WORKDIR CONSOLE-LOG TREVANQUILL VIRTUAL_REMOTE POINTER_OBSERVER
# WORKDIR keeps the kernel package between runs. QEMU runs without KVM (TCG),
# niced, with a time limit.
set -eu
work=$1 log=$2 tool=$3 remote=$4 observer=$5
here=$(cd "$(dirname "$0")" && pwd)

"$here/make-initramfs.sh" "$work/cache" "$work/image" "$tool" "$remote" "$observer"

# The machine: one core of -cpu max without SMAP (with SMAP every Wine process
# in the guest dies with a kernel oops under TCG), 1024 MiB; the guest's clock
# follows the instructions it executes (-icount), so that the host's load
# slows the boot down without changing what the cases see. A group of cases
# that needs more says so in tests/vm/cases/NAME.qemu, sourced here: it may
# raise memory (MiB) and append QEMU arguments to the array qemu_extra.
memory=1024
qemu_extra=()
for extra in "$here"/cases/*.qemu; do
  [ -e "$extra" ] || continue
  . "$extra"
done

rm -f "$log"
start=$(date +%s)
# -no-reboot: the init's reboot ends QEMU.
nice -n 10 timeout 2400 qemu-system-x86_64 \
  -machine pc -accel tcg -cpu max,-smap -smp 1 -m "$memory" \
  -icount shift=0,sleep=off \
  -nodefaults -display none -no-reboot \
  -serial file:"$log" \
  -kernel "$work/image/vmlinuz" -initrd "$work/image/initramfs.cpio" \
  ${qemu_extra[@]+"${qemu_extra[@]}"} \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" </dev/null
echo "VM ran $(( $(date +%s) - start )) s"
