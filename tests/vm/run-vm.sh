#!/usr/bin/env bash
# Boots the test VM once and writes its serial console to a file:
#   run-vm.sh WORKDIR CONSOLE-LOG TREVANQUILL VIRTUAL_REMOTE POINTER_OBSERVER
# WORKDIR keeps the kernel package between runs. QEMU runs without KVM (TCG),
# niced. Exit status: 0 when the guest got to its end, 1 when it did not.
#
# Guest time: with -icount the guest's clock follows the instructions it
# executes (one nanosecond each, shift=0) and skips ahead over idle stretches
# (sleep=off). A moment in which this machine does not run the emulator is
# then invisible inside the guest: no timeout, probe or timer check of the
# guest loses to the host's load. The cases' own limits (timeout 30, the
# waits for a line) are guest time, and so is the suite's limit, which the
# init enforces (vm_limit on the kernel's line, in guest seconds): it says
# which case ran out of time.
#
# Host time follows the work: a loaded host makes the boot slower, not
# wrong. Only a guest whose console says nothing for VM_STALL_LIMIT seconds
# of this machine's time (default 600: far more than any case takes under
# load) is taken to be hung; QEMU is then ended and the case it was in named.
#
# The machine: one core of -cpu max without SMAP (with SMAP every Wine process
# in the guest dies with a kernel oops under TCG), 1024 MiB. A group of cases
# that needs more says so in tests/vm/cases/NAME.qemu, sourced here in the
# order of the names: it may raise memory (MiB) and append QEMU arguments to
# the array qemu_extra (a 9p share, a device). VM_QEMU_EXTRA in the
# environment appends more (split at spaces), for a run by hand.
set -eu
work=$1 log=$2 tool=$3 remote=$4 observer=$5
here=$(cd "$(dirname "$0")" && pwd)
stall_limit=${VM_STALL_LIMIT:-600}
guest_limit=${VM_GUEST_LIMIT:-900}

"$here/make-initramfs.sh" "$work/cache" "$work/image" "$tool" "$remote" "$observer"

cpu=max,-smap
memory=1024
qemu_extra=()
for extra in "$here"/cases/*.qemu; do
  [ -e "$extra" ] || continue
  . "$extra"
done
# shellcheck disable=SC2206
[ -n "${VM_QEMU_EXTRA:-}" ] && qemu_extra+=(${VM_QEMU_EXTRA})

rm -f "$log"
: > "$log"
start=$(date +%s)
# -no-reboot: the init's reboot ends QEMU.
nice -n 10 qemu-system-x86_64 \
  -machine pc -accel tcg -cpu "$cpu" -smp 1 -m "$memory" \
  -icount shift=0,sleep=off \
  -nodefaults -display none -no-reboot \
  -serial file:"$log" \
  -kernel "$work/image/vmlinuz" -initrd "$work/image/initramfs.cpio" \
  ${qemu_extra[@]+"${qemu_extra[@]}"} \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init vm_limit=$guest_limit" </dev/null &
qemu=$!

# The watchdog: the console's size, looked at every 2 s.
size=-1 quiet_since=$start hung=0
while kill -0 $qemu 2>/dev/null; do
  sleep 2
  now_size=$(stat -c %s "$log" 2>/dev/null || echo 0)
  now=$(date +%s)
  if [ "$now_size" != "$size" ]; then
    size=$now_size quiet_since=$now
  elif [ $((now - quiet_since)) -ge "$stall_limit" ]; then
    hung=1
    kill $qemu 2>/dev/null || true
    break
  fi
done
wait $qemu 2>/dev/null || true
ran=$(( $(date +%s) - start ))
last_case=$(tr -d '\r' < "$log" | sed -n 's/^@@ case //p' | tail -1)
if [ $hung = 1 ]; then
  echo "VM ran $ran s: its console said nothing for $stall_limit s, in case ${last_case:-none (before the first case)}; QEMU ended"
  exit 1
fi
echo "VM ran $ran s"
tr -d '\r' < "$log" | grep -q '^@@ end$' || {
  echo "the VM did not get to its end (last case: ${last_case:-none})"
  exit 1
}
