#!/usr/bin/env bash
# Soak run (not part of CI): the real program against a stand-in HID library
# whose remote sends a report every 10 ms, on an X server under Xvfb, for
# several minutes. Samples the program's memory and open file descriptors
# every SAMPLE seconds and fails when either grows.
#
#   bench/soak.sh [SECONDS [SAMPLE]]      (default: 300 s, a sample every 10 s)
#
# Needs Xvfb (apt-get install xvfb). Builds into build-soak/.
set -u
. "$(dirname "$0")/../scripts/lib.sh"

seconds=${1:-300}
sample=${2:-10}
dir=$TOP/build-soak
build_project "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREVANQUILL_TESTS=OFF \
  -DTREVANQUILL_BENCH=OFF || exit 1
[ -x "$dir/trevanquill" ] || { echo "the program was not built (no Linux backend?)" >&2; exit 1; }
# The remote: a library with hidapi's soname, put in front of the real one.
mkdir -p "$dir/soakhid"
g++ -std=c++17 -O2 -Wall -shared -fPIC -o "$dir/soakhid/libhidapi-hidraw.so.0" \
  "$TOP/bench/soak_hidapi.cpp" "$TOP/tests/linux/stand_in_nodes.cpp" -pthread || exit 1
command -v Xvfb >/dev/null || { echo "Xvfb is needed (apt-get install xvfb)" >&2; exit 1; }

work=$(mktemp -d)
start_xvfb || exit 1

DISPLAY=$XVFB_DISPLAY LD_LIBRARY_PATH=$dir/soakhid SOAK_SECONDS=$seconds \
  SOAK_HID_LOG=$work/hid.log "$dir/trevanquill" </dev/null >"$work/console" 2>&1 &
pid=$!

rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null; }
fds() { ls "/proc/$pid/fd" 2>/dev/null | wc -l; }

printf '%8s %10s %5s\n' "time/s" "RSS/kB" "fds"
first_rss="" first_fds="" last_rss="" last_fds="" t=0
sleep 2  # past the probe and the set-up
while kill -0 "$pid" 2>/dev/null; do
  r=$(rss); f=$(fds)
  [ -n "$r" ] || break
  printf '%8d %10s %5s\n' "$((t + 2))" "$r" "$f"
  [ -n "$first_rss" ] || { first_rss=$r; first_fds=$f; }
  last_rss=$r; last_fds=$f
  sleep "$sample"; t=$((t + sample))
done
wait "$pid"; code=$?
stop_xvfb

echo
echo "exit code: $code"
echo "console: $(grep -c 'IR-Track' "$work/console") tracking messages, last line: $(tail -1 "$work/console")"
echo "remote: $(cat "$work/hid.log" 2>/dev/null)"
echo "RSS: ${first_rss:-?} kB at the start, ${last_rss:-?} kB at the end"
echo "file descriptors: ${first_fds:-?} at the start, ${last_fds:-?} at the end"
rm -rf "$work"

ok=1
[ "$code" -eq 0 ] || { echo "the program did not end by Home" >&2; ok=0; }
[ -n "$first_rss" ] && [ -n "$last_rss" ] || { echo "no samples" >&2; ok=0; }
if [ $ok -eq 1 ]; then
  # Flat: no more than 256 kB over the whole run, and not one fd more.
  [ $((last_rss - first_rss)) -le 256 ] || { echo "memory grew" >&2; ok=0; }
  [ "$last_fds" -le "$first_fds" ] || { echo "file descriptors grew" >&2; ok=0; }
fi
[ $ok -eq 1 ]
