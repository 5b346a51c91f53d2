#!/usr/bin/env bash
# Boots the desktop VM N times in a row with one desktop session and prints
# one line per boot: its result (cases passed and failed, and the failed
# cases' names), how long it ran (this machine's seconds, and the guest's
# clock at its end), the reads of the VM's disk during its cases, and the
# host's load average at its start and end:
#   repeat.sh [--load] N SESSION CACHE BUILD OUT
# SESSION: gnome or kde. CACHE: the image's cache folder (build-image.sh
# CACHE: the image is built there when it is not). BUILD: a build folder with
# the tool and tools/ built; the binaries are copied to OUT first, so that a
# rebuild meanwhile does not change what the boots run, as is the Debian
# package of the GNOME boot's service cases (DESK_FILES, by default the one
# in build-package/). Each boot's folder is OUT/boot-K (see boot.sh), its
# check OUT/check-K.txt. --load keeps both host cores busy with a busy loop
# each (niced like the VM, so they compete with it) for the whole run. The
# last line reads "boots: P passed, F failed". Exit status: 0 when every boot
# passed. Needs root (the image's build, QEMU's 9p shares).
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
load=0
if [ "${1:-}" = --load ]; then
  load=1
  shift
fi
[ $# -eq 5 ] || { echo "usage: repeat.sh [--load] N SESSION CACHE BUILD OUT" >&2; exit 2; }
count=$1 session=$2 cache=$3 build=$4 out=$5
case $session in gnome|kde) ;; *) echo "SESSION is gnome or kde, not '$session'" >&2; exit 2 ;; esac
image=$("$here/build-image.sh" "$cache") || { echo "no image" >&2; exit 1; }
mkdir -p "$out/bin/tools"
cp "$build/trevanquill" "$out/bin/"
for t in virtual-remote desktop-watch desktop-key; do
  cp "$build/tools/$t" "$out/bin/tools/"
done
files=
if [ -n "${DESK_FILES:-}" ]; then
  mkdir -p "$out/files"
  cp $DESK_FILES "$out/files/"
  files=$(ls -d "$out"/files/*)
elif deb=$(ls "$top"/build-package/trevanquill_*.deb 2>/dev/null | head -n 1) && [ -n "$deb" ]; then
  mkdir -p "$out/files"
  cp "$deb" "$out/files/"
  files=$out/files/$(basename "$deb")
fi

. "$top/scripts/lib.sh"
if [ $load = 1 ]; then load_host_cores; fi

passed=0 failed=0
echo "repeat: $count $session boots$([ $load = 1 ] && echo ', both host cores loaded with a busy loop each'), $(date -u '+%Y-%m-%d %H:%M UTC'), image $(basename "$image")"
for k in $(seq 1 "$count"); do
  before=$(host_loadavg)
  start=$(date +%s)
  DESK_FILES=$files "$here/boot.sh" "$image" "$out/bin" "$out/boot-$k" "$session" > "$out/run-$k.txt" 2>&1
  wall=$(($(date +%s) - start))
  log=$out/boot-$k/out/run.log
  "$here/check.sh" "$log" "$session" > "$out/check-$k.txt" 2>&1
  rc=$?
  result=$(sed -n 's/^desktop cases: //p' "$out/check-$k.txt")
  fails=$(sed -n 's/^FAIL vm \([^:]*\).*/\1/p' "$out/check-$k.txt" | tr '\n' ' ')
  guest=$(sed -n 's/^@@ end at \([0-9]*\).*/\1/p' "$log" 2>/dev/null)
  reads=$(sed -n 's/^[^ ]* disk| \([0-9]*\) reads$/\1/p' "$log" 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
  tally_boot $rc
  echo "boot $k: $verdict ${result:-no result}${fails:+ (failed: $fails)}, $wall s (guest clock at the end ${guest:-?} s), disk reads in the cases $reads; load average before $before, after $(host_loadavg)"
done
echo "boots: $passed passed, $failed failed"
[ $failed -eq 0 ]
