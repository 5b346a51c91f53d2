#!/usr/bin/env bash
# Runs every performance measure of the tool and prints one table (Markdown).
#
#   bash bench/run-all.sh              builds in Release into build-bench/,
#                                      full measures (about 4 minutes)
#   bash bench/run-all.sh --quick      a few seconds of each, no targets (CI)
#   bash bench/run-all.sh --build DIR  uses the build in DIR as it is
#
# It starts its own Xvfb (-noreset -displayfd) and stops it again. It fails
# when a measure crashes, fails, or prints nothing; it never fails on a
# missed target. Needs cmake, g++, Google Benchmark, hidapi, Xlib, XTest,
# XInput2 and Xvfb (scripts/lib.sh's packages and xvfb).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
BUILD=$TOP/build-bench
QUICK=0
CONFIGURE=1
while [ $# -gt 0 ]; do
  case $1 in
    --quick) QUICK=1 ;;
    --build) BUILD=$2; CONFIGURE=0; shift ;;
    *) echo "usage: $0 [--quick] [--build DIR]" >&2; exit 2 ;;
  esac
  shift
done

if [ $QUICK = 1 ]; then
  REPS=1 MIN_TIME=0.05 RATE_COUNT=50 FAST_COUNT=500 CPU_S=2 IDLE_S=2 STARTUP_RUNS=1 ESC_RUNS=2
else
  REPS=9 MIN_TIME=0.2 RATE_COUNT=2000 FAST_COUNT=20000 CPU_S=30 IDLE_S=60 STARTUP_RUNS=5 ESC_RUNS=50
fi

if [ $CONFIGURE = 1 ]; then
  cmake -S "$TOP" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_TESTS=OFF >/dev/null ||
    exit 1
fi
cmake --build "$BUILD" -j 2 --target pass_bench x11_pass_bench uinput_pass_bench tool_bench >/dev/null || {
  echo "run-all: the benchmarks do not build" >&2; exit 1; }

out=$(mktemp -d)
cleanup() { stop_xvfb; rm -rf "$out"; }
trap cleanup EXIT
start_xvfb -noreset || { echo "run-all: Xvfb did not start" >&2; exit 1; }
export DISPLAY=$XVFB_DISPLAY

failed=0
# Runs a measure into $out/NAME; a measure that fails or prints nothing fails the run.
measure() {
  local name=$1; shift
  if ! "$@" >"$out/$name" 2>"$out/$name.err" </dev/null || ! [ -s "$out/$name" ]; then
    echo "run-all: $name failed: $*" >&2
    cat "$out/$name.err" >&2
    failed=1
  fi
}

started=$(date -u '+%Y-%m-%d %H:%M UTC')
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
BENCH_ARGS=(--benchmark_repetitions=$REPS --benchmark_min_time=$MIN_TIME
  --benchmark_format=csv --benchmark_enable_random_interleaving=true)
[ $REPS -gt 1 ] && BENCH_ARGS+=(--benchmark_report_aggregates_only=true)
measure pass "$BUILD/bench/pass_bench" "${BENCH_ARGS[@]}"
measure x11 "$BUILD/bench/x11_pass_bench" "${BENCH_ARGS[@]}"
# The uinput pass needs /dev/uinput (root, the uinput module); elsewhere it
# is measured in the test VM (see README, Performance).
UINPUT=0
if [ -w /dev/uinput ]; then
  UINPUT=1
  measure uinput "$BUILD/bench/uinput_pass_bench" "${BENCH_ARGS[@]}"
fi
measure lat100 "$BUILD/bench/tool_bench" latency 100 $RATE_COUNT
measure latfast "$BUILD/bench/tool_bench" latency 0 $FAST_COUNT
measure idle "$BUILD/bench/tool_bench" cpu 0 $IDLE_S
measure stream "$BUILD/bench/tool_bench" cpu 100 $CPU_S
measure startup "$BUILD/bench/tool_bench" startup $STARTUP_RUNS
measure esc "$BUILD/bench/tool_bench" esc $ESC_RUNS
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The median of a Google Benchmark CSV row (the row itself with one
# repetition): field 3 real time, field 4 CPU time, in ns.
bm() {  # file name field
  awk -F, -v n="$2" -v f="$3" '
    { gsub(/"/, "", $1) }
    $1 == n "_median" || ($1 == n && !found) { v = $f; found = 1 }
    END { if (found) printf "%.1f", v; else print "?" }' "$out/$1"
}
# A key=value word of a tool_bench line.
kv() { tr ' ' '\n' <"$out/$1" | sed -n "s/^$2=//p" | head -n1; }
us() { awk -v v="$1" 'BEGIN { printf "%.1f", v / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "?" }'; }
met() {  # value op limit
  [ $QUICK = 1 ] && { echo "-"; return; }
  awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN {
    ok = (op == "<") ? (v + 0 < l + 0) : (v + 0 <= l + 0); print (ok ? "yes" : "NO") }'
}

p_cpu=$(bm pass BM_PassPointing 4) p_wall=$(bm pass BM_PassPointing 3)
pd_cpu=$(bm pass BM_PassPointingDpad 4) pm_cpu=$(bm pass BM_PassMixed 4)
x_pass=$(bm x11 BM_Pass/real_time 3) x_floor=$(bm x11 BM_Floor/real_time 3)
x_pass_cpu=$(bm x11 BM_Pass/real_time 4) x_floor_cpu=$(bm x11 BM_Floor/real_time 4)
xs_pass=$(bm x11 BM_PassStill/real_time 3) xs_floor=$(bm x11 BM_FloorStill/real_time 3)
r_wall=$(ratio "$x_pass" "$x_floor") r_cpu=$(ratio "$x_pass_cpu" "$x_floor_cpu")
r_still=$(ratio "$xs_pass" "$xs_floor")
u_pass=$(bm uinput BM_Pass/real_time 3 2>/dev/null) u_floor=$(bm uinput BM_Floor/real_time 3 2>/dev/null)
u_still=$(bm uinput BM_PassStill/real_time 3 2>/dev/null)
l_med=$(kv lat100 median_us) l_p99=$(kv lat100 p99_us)
f_med=$(kv latfast median_us) f_p99=$(kv latfast p99_us) f_tp=$(kv latfast throughput_per_s)
i_cpu=$(kv idle cpu_percent) i_wake=$(kv idle wakeups_per_s)
s_cpu=$(kv stream cpu_percent) s_wake=$(kv stream wakeups_per_s)
s_per=$(awk -v w="$s_wake" 'BEGIN { printf "%.2f", w / 100 }')
ms() { awk -v v="$1" 'BEGIN { printf "%.2f", v / 1000 }'; }

echo "Run of $started on $(nproc) cores; load average before $load_before, after $load_after"
echo
echo "| # | measure | figure | target | met |"
echo "|---|---|---|---|---|"
echo "| 1 | logic-only pass, pointing (counting platform) | $p_cpu ns CPU, $p_wall ns wall | < 200 ns | $(met "$p_cpu" '<' 200) |"
echo "| 1 | logic-only pass, pointing + D-pad / mixed buttons | $pd_cpu / $pm_cpu ns CPU | < 200 ns | $(met "$pm_cpu" '<' 200) |"
echo "| 2 | X11 pass, pointing + D-pad (1 query, 2 warps) | $(us "$x_pass") µs wall, $(us "$x_pass_cpu") µs CPU | | |"
echo "| 2 | floor: XWarpPointer+XFlush, XQueryPointer, XWarpPointer+XFlush | $(us "$x_floor") µs wall, $(us "$x_floor_cpu") µs CPU | | |"
echo "| 2 | **ratio pass / floor** | **$r_wall** wall, $r_cpu CPU | ≤ 1.2 | $(met "$r_wall" '<=' 1.2) |"
echo "| 2 | X11 pass pointing still (1 query, 1 warp) / its floor | $(us "$xs_pass") / $(us "$xs_floor") µs wall, ratio $r_still | ≤ 1.2 | $(met "$r_still" '<=' 1.2) |"
if [ $UINPUT = 1 ]; then
  echo "| 2 | uinput pass, pointing + D-pad (2 frames of ABS_X) / floor (the 2 bare writes) | $(us "$u_pass") / $(us "$u_floor") µs wall, **ratio $(ratio "$u_pass" "$u_floor")** | ≤ 1.2 | $(met "$(ratio "$u_pass" "$u_floor")" '<=' 1.2) |"
  echo "| 2 | uinput pass pointing still (writes nothing) | $(us "$u_still") µs wall | | |"
else
  echo "| 2 | uinput pass | not measured: /dev/uinput cannot be opened here | | |"
fi
echo "| 3 | latency at 100 reports/s ($(kv lat100 reports) reports) | median $l_med µs, p99 $l_p99 µs, max $(kv lat100 max_us) µs | < 500 / < 2000 µs | $(met "$l_med" '<' 500) / $(met "$l_p99" '<' 2000) |"
echo "| 3 | latency at full speed ($(kv latfast reports) reports) | median $f_med µs, p99 $f_p99 µs, max $(kv latfast max_us) µs | < 500 / < 2000 µs | $(met "$f_med" '<' 500) / $(met "$f_p99" '<' 2000) |"
echo "| 3 | throughput at full speed | $f_tp reports/s | (remote: 100/s) | |"
echo "| 4 | idle, remote silent ($(kv idle seconds) s) | $i_cpu % of a core, $i_wake wake-ups/s | < 0.01 %, < 0.1 wake-ups/s | $(met "$i_cpu" '<' 0.01) / $(met "$i_wake" '<' 0.1) |"
echo "| 4 | streaming 100 reports/s ($(kv stream seconds) s) | $s_cpu % of a core, $s_wake wake-ups/s ($s_per per report) | < 2 % | $(met "$s_cpu" '<' 2) |"
echo "| 5 | start-up, exec to first read of the loop (median of $(kv startup runs)) | $(kv startup total_ms) ms | floor ≈ 500 ms | |"
echo "| 5 | … exec to hid_init (process start, X connection) | $(kv startup init_ms) ms | small | |"
echo "| 5 | … … of which process start and loading (the tool without a display, exec to exit) | $(kv startup process_ms) ms | | |"
echo "| 5 | … hid_open; first report mode write | $(kv startup open_ms) ms; $(kv startup mode_ms) ms | small | |"
echo "| 5 | … probe and banner (100 ms wait) | $(kv startup config_ms) ms | 100 ms | |"
echo "| 5 | … set-up sequence (2 × 200 ms waits) | $(kv startup setup-done_ms) ms | 400 ms | |"
echo "| 5 | … last set-up write to the loop's first read | $(kv startup first-read_ms) ms | small | |"
echo "| 6 | Esc on a terminal, remote quiet ($(kv esc runs) tries): byte to the read's end | median $(ms "$(kv esc woken_median_us)") ms, p99 $(ms "$(kv esc woken_p99_us)") ms | | |"
echo "| 6 | … byte to the loop's return (includes the 2 ms wait for the rest of an escape sequence) | median $(ms "$(kv esc loop_median_us)") ms, p99 $(ms "$(kv esc loop_p99_us)") ms | < 5 ms p99 | $(met "$(kv esc loop_p99_us)" '<' 5000) |"
echo "| 6 | … byte to the process's exit | median $(ms "$(kv esc exit_median_us)") ms, p99 $(ms "$(kv esc exit_p99_us)") ms | | |"
exit $failed
