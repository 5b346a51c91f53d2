#!/usr/bin/env bash
# The tool on the real kernel path, measured in the test VM (one boot of
# tests/vm/run-vm.sh that also runs the VM's cases), and printed as a
# Markdown table:
#   bash bench/kernel-path.sh [BUILD]
# BUILD (default build/) gets the tool, its VM helpers and the benchmarks
# built. Two measures:
# - the uinput pass (bench/uinput_pass_bench.cpp) beside its floor, the bare
#   writes of the same events (medians of 9 interleaved repetitions);
# - the latency of a report (bench/kernel_path_bench.cpp): from its write to
#   the virtual remote (uhid) through hidraw and the tool to the kernel's
#   timestamp of the uinput event as evdev hands it to a reader, and on X11
#   to the moment an X client gets the motion; 100 reports a second of
#   moving camera points, KP_COUNT (2000) of them; beside the same for a bare
#   program that reads hidraw and writes one uinput event (or one warp) per
#   report.
# Times are guest time: the VM's clock follows the instructions it runs
# (-icount), so the host's load does not enter them, but TCG emulation makes
# every instruction cost the same: a system call or a page walk weighs
# differently than on real hardware. The ratios are what counts. It is a
# benchmark, not a test: it prints, and fails only when a measure is missing.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
BUILD=${1:-$TOP/build}
cmake -S "$TOP" -B "$BUILD" -DTREVANQUILL_BENCH=ON >/dev/null &&
  cmake --build "$BUILD" -j "$JOBS" --target trevanquill virtual-remote pointer-observer \
    input-reader nudge-mouse uinput_pass_bench kernel_path_bench >/dev/null || {
  echo "kernel-path: the build failed" >&2; exit 1; }

work=$BUILD/vm-bench
mkdir -p "$work"
[ -d "$BUILD/vm/cache" ] && [ ! -d "$work/cache" ] && cp -r "$BUILD/vm/cache" "$work/"
log=$work/console.log
started=$(date -u '+%Y-%m-%d %H:%M UTC')
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
TREVANQUILL_VM_BENCH=$BUILD/bench/uinput_pass_bench \
TREVANQUILL_VM_LATENCY=$BUILD/bench/kernel_path_bench \
  "$TOP/tests/vm/run-vm.sh" "$work" "$log" "$BUILD/trevanquill" "$BUILD/tools/virtual-remote" \
  "$BUILD/tools/pointer-observer" >&2 || echo "kernel-path: the VM did not get to its end" >&2
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
tr -d '\r' < "$log" > "$work/console.txt"

# The median of a Google Benchmark in µs, from the wl-bench lines.
median_us() {
  sed -n "s/^wl-bench| $1\/[^ ]*_median  *\([0-9.]*\) \([mun]s\) .*/\1 \2/p" "$work/console.txt" |
    awk '{ v = $1; if ($2 == "ns") v /= 1000; if ($2 == "ms") v *= 1000; printf "%.2f", v; exit }'
}
# "median p99 max moves reports" of a latency measure.
latency() {
  sed -n "s/^kp $1| reports \([0-9]*\) moves \([0-9]*\) median \([0-9]*\) p99 \([0-9]*\) max \([0-9]*\).*/\3 \4 \5 \2 \1/p" \
    "$work/console.txt"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

missing=0
pass=$(median_us BM_Pass) floor=$(median_us BM_Floor) still=$(median_us BM_PassStill)
echo "Run of $started, one boot of the test VM (TCG, -icount); host load average before $load_before, after $load_after"
echo
echo "| measure | figure |"
echo "|---|---|"
if [ -n "$pass" ] && [ -n "$floor" ]; then
  echo "| uinput pass, pointing + D-pad (2 frames of ABS_X + SYN_REPORT) | $pass µs |"
  echo "| floor: the 2 bare writes | $floor µs |"
  echo "| **ratio pass / floor** | **$(ratio "$pass" "$floor")** |"
  echo "| uinput pass pointing still (writes nothing) | $still µs |"
else
  echo "| uinput pass | missing (see $log) |"
  missing=1
fi
echo
echo "| way (${KP_COUNT:-2000} reports at 100/s) | median | p99 | max | reports with a move seen | median / floor's |"
echo "|---|---|---|---|---|---|"
for way in "uinput:report → hidraw → tool → uinput → evdev timestamp" \
  "uinput-floor:floor: hidraw → one uinput event → evdev timestamp" \
  "x11:report → hidraw → tool → XWarpPointer → X client gets the motion" \
  "x11-floor:floor: hidraw → one XWarpPointer → X client gets the motion"; do
  name=${way%%:*} text=${way#*:}
  set -- $(latency "kp-$name")
  if [ $# -lt 5 ]; then
    echo "| $text | missing | | | | |"
    missing=1
    continue
  fi
  floor_median=
  case $name in
    uinput|x11) set -- "$@" $(latency "kp-$name-floor"); floor_median=${6:-} ;;
  esac
  echo "| $text | $1 µs | $2 µs | $3 µs | $4 of $5 | ${floor_median:+$(ratio "$1" "$floor_median")} |"
done
exit $missing
