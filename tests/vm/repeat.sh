#!/usr/bin/env bash
# Boots the VM suite N times in a row and prints one line per boot: its
# result (cases passed and failed, and the failed cases' names), how long it
# ran, and the host's load average at its start and end:
#   repeat.sh [--load] N BUILD OUT
# BUILD is a build folder with the tool and tools/ built; the binaries are
# copied to OUT first, so that a rebuild meanwhile does not change what the
# boots run. A group's cases/NAME.prepare is sourced first, as the VM step
# does. Each boot's console is kept as OUT/console-K.log and its check
# as OUT/check-K.txt. --load keeps both host cores busy with a busy loop each
# (niced like the VM, so they compete with it) for the whole run. The last
# line reads "boots: P passed, F failed". Exit status: 0 when every boot
# passed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
load=0
if [ "${1:-}" = --load ]; then
  load=1
  shift
fi
[ $# -eq 3 ] || { echo "usage: repeat.sh [--load] N BUILD OUT" >&2; exit 2; }
count=$1 build=$2 out=$3
# What a group of cases needs built on this machine first (the Wine group's
# 32-bit program and prefix), as the VM step prepares it.
for f in "$here"/cases/*.prepare; do
  [ -e "$f" ] || continue
  [ -n "${WINDOWS32_OPTIONS+set}" ] || . "${TOP:-$here/../..}/scripts/lib.sh"
  BUILD=$(cd "$build" && pwd)
  . "$f" </dev/null || echo "cannot prepare $(basename "$f"): its cases will fail" >&2
done
mkdir -p "$out/bin/tools"
cp "$build/trevanquill" "$out/bin/"
for t in virtual-remote pointer-observer input-reader nudge-mouse; do
  cp "$build/tools/$t" "$out/bin/tools/"
done
# A benchmark that the image carries when asked (see cases/40-wayland.image).
if [ -n "${TREVANQUILL_VM_BENCH:-}" ]; then
  cp "$TREVANQUILL_VM_BENCH" "$out/bin/"
  export TREVANQUILL_VM_BENCH=$out/bin/$(basename "$TREVANQUILL_VM_BENCH")
fi

[ -n "${WINDOWS32_OPTIONS+set}" ] || . "${TOP:-$here/../..}/scripts/lib.sh"
if [ $load = 1 ]; then load_host_cores; fi

passed=0 failed=0
echo "repeat: $count boots$([ $load = 1 ] && echo ', both host cores loaded with a busy loop each'), $(date -u '+%Y-%m-%d %H:%M UTC')"
for k in $(seq 1 "$count"); do
  before=$(host_loadavg)
  start=$(date +%s)
  "$here/run-vm.sh" "$out/vm" "$out/console-$k.log" "$out/bin/trevanquill" \
    "$out/bin/tools/virtual-remote" "$out/bin/tools/pointer-observer" > "$out/run-$k.txt" 2>&1
  wall=$(( $(date +%s) - start ))
  "$here/check.sh" "$out/console-$k.log" > "$out/check-$k.txt" 2>&1
  rc=$?
  result=$(sed -n 's/^vm cases: //p' "$out/check-$k.txt")
  fails=$(sed -n 's/^FAIL vm //p' "$out/check-$k.txt" | tr '\n' ' ')
  tally_boot $rc
  echo "boot $k: $verdict ${result:-no result}${fails:+ (failed: $fails)}, $wall s; load average before $before, after $(host_loadavg)"
done
echo "boots: $passed passed, $failed failed"
[ $failed -eq 0 ]
