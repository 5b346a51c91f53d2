#!/usr/bin/env bash
# Checks what one boot of the desktop VM (boot.sh) says about each case:
#   check.sh RUN-LOG SESSION
# RUN-LOG is the guest's run.log (WORK/out/run.log), SESSION gnome or kde. Prints one PASS or FAIL
# line per case (with the reasons) and a last line
# "desktop cases: N passed, M failed". Exit status: 0 when every case passed.
set -u
log=$1 session=$2
here=$(cd "$(dirname "$0")" && pwd)
expected=$here/../vm/expected
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$log" "$work/log" 2>/dev/null || : > "$work/log"

# The helpers of the initramfs VM's checks, taken from tests/vm/check.sh so
# that both judge alike: section CASE WHAT (the lines printed as
# "CASE WHAT| text"), fail, finish_case (one PASS or FAIL line), expect_exit,
# expect_same, and normal_path_stage FILE (how many of the five stages of
# normal.scn's cursor path a file of "X Y" lines shows).
passed=0 failed=0
reasons=()
for helper in section fail finish_case expect_exit expect_same normal_path_stage; do
  eval "$(sed -n "/^$helper() {/,/^}/p" "$here/../vm/check.sh")"
  declare -F $helper >/dev/null || { echo "tests/vm/check.sh has no $helper()" >&2; exit 2; }
done
reports() { section "$1" remote | sed -n 's/^ *[0-9.]* out //p'; }

# The monitors as the watcher was told of them before the first case
# ("output N X Y W H NAME" and "configure N W H"; the last word on each).
sed -n 's/^@@ watch| //p' "$work/log" | grep -E '^(output|configure) ' > "$work/layout"
# The desktop: the bounding box of the monitors, "X Y W H".
desktop_box() {
  awk '$1 == "output" { x[$2] = $3; y[$2] = $4; w[$2] = $5; h[$2] = $6 }
    END { for (n in x) { if (!s || x[n] < x1) x1 = x[n]; if (!s || y[n] < y1) y1 = y[n]
            if (!s || x[n] + w[n] > x2) x2 = x[n] + w[n]; if (!s || y[n] + h[n] > y2) y2 = y[n] + h[n]; s = 1 }
          print x1 + 0, y1 + 0, x2 - x1, y2 - y1 }' "$work/layout"
}

# The watcher's pointer positions (enter and motion) as whole desktop
# pixels "X Y N" (N: the monitor): the monitor's position plus the surface
# position times the monitor's logical width over its window's width.
watch_path() {
  section "$1" watch | awk -v layout="$work/layout" '
    BEGIN { while ((getline l < layout) > 0) { split(l, f, " ")
              if (f[1] == "output") { ox[f[2]] = f[3]; oy[f[2]] = f[4]; ow[f[2]] = f[5]; oh[f[2]] = f[6] }
              if (f[1] == "configure") { cw[f[2]] = f[3]; ch[f[2]] = f[4] } } }
    ($1 == "motion" || $1 == "enter") && ($2 in ox) { n = $2
      fx = cw[n] > 0 ? ow[n] / cw[n] : 1; fy = ch[n] > 0 ? oh[n] / ch[n] : 1
      printf "%d %d %d\n", ox[n] + $3 * fx + 0.001, oy[n] + $4 * fy + 0.001, n }'
}
# libinput's absolute motions, which it prints as per cent of the device's
# range, as pixels of the desktop box (rounded: two decimals of a per cent
# are at most a fifth of a pixel here).
libinput_path() {
  local bx by bw bh
  read -r bx by bw bh <<< "$(desktop_box)"
  section "$1" libinput | awk -v bx="$bx" -v by="$by" -v W="$bw" -v H="$bh" '/POINTER_MOTION_ABSOLUTE/ {
    s = $0; sub(/.*s\t/, "", s); gsub(/ /, "", s); split(s, v, "/")
    printf "%d %d\n", bx + v[1] * W / 100 + 0.5, by + v[2] * H / 100 + 0.5 }'
}
# The compositor's own view of the pointer, "X Y" (GNOME Shell's deskpos
# adds the buttons held, which compositor_buttons reads).
compositor_path() { section "$1" compositor | awk '{ print $1, $2 }'; }
compositor_buttons() { section "$1" compositor | awk 'NF == 3 { print $3 }'; }

# Buttons and keys as the watcher got them: "272 1 272 0 ...".
watch_buttons() { section "$1" watch | awk '$1 == "button" { printf "%s %s ", $2, $3 }'; }
watch_keys() { section "$1" watch | awk '$1 == "key" { printf "%s %s ", $2, $3 }'; }
# The wheel as runs of one direction, "up N down M ...": the watcher's
# high-resolution steps of the vertical axis (value120), each of which must be
# 64 units; libinput's, likewise.
wheel_runs() {
  awk '{ d = ($1 != 64 && $1 != -64) ? "bad(" $1 ")" : ($1 < 0 ? "up" : "down")
         if (d != last) { if (n) printf "%s %d ", last, n; last = d; n = 0 } n++ }
       END { if (n) printf "%s %d", last, n }'
}
watch_wheel() { section "$1" watch | awk '$1 == "value120" && $2 == 0 { print $3 }' | wheel_runs; }
libinput_wheel() {
  section "$1" libinput | sed -n 's/.*POINTER_SCROLL_WHEEL.*vert [-0-9.]*\/\([-0-9.]*\)\*.*/\1/p' | wheel_runs
}

# expect_normal_run CASE [IR-TRACK-LINES]: the tool's console and exit code
# for a remote that plays normal.scn; the cursor path at the exact pixels as
# libinput, the watcher and the compositor's own cursor saw it; clicks: B
# (left), A (right); the wheel: One up, Plus down, Minus up, Two down, each
# step 64 units (these compositors hand a client every step of the wheel's
# high resolution), the same runs at libinput and at the watcher.
# IR-TRACK-LINES, the console's lines after the banner, default to those of
# the scenario as it is (no points at first).
expect_normal_run() {
  local stage what got
  { cat "$expected/banner.txt"; printf "${2:-IR-Track NG\nIR-Track Ok\nIR-Track NG\nIR-Track Ok\n}"; } > "$work/want"
  section "$1" console > "$work/got"
  expect_same "console text" "$work/want" "$work/got"
  expect_exit "$1" 0
  for what in libinput watch compositor; do
    "${what}_path" "$1" > "$work/path"
    stage=$(normal_path_stage "$work/path")
    [ "$stage" = 5 ] || fail "$what: cursor path stopped at stage $stage of 5"
  done
  got=$(watch_buttons "$1")
  [ "$got" = "272 1 272 0 273 1 273 0 " ] || fail "watcher buttons '$got', expected '272 1 272 0 273 1 273 0 '"
  got=$(watch_wheel "$1")
  echo "$got" | grep -Eq '^up [0-9]+ down 4 up 4 down [0-9]+$' || fail "watcher wheel '$got'"
  [ "$(libinput_wheel "$1")" = "$got" ] || fail "libinput wheel '$(libinput_wheel "$1")', watcher wheel '$got'"
}

if ! grep -q '^@@ end' "$work/log"; then
  echo "FAIL vm $session: the VM did not get to its end; its run.log ends:"
  tail -n 20 "$work/log" | sed 's/^/    /'
  failed=$((failed + 1))
fi

# Each group of cases has its checks beside it: cases/NAME.check (sourced
# here, in the order of the names).
for group in "$here"/cases/*.check; do
  . "$group"
done

# The reads of the VM's disk during each case ("CASE disk| N reads"): run.sh
# has the system's files in memory before the session starts, so that no
# case waits for the host; a case that read the disk is named here (its
# timing may then have depended on the host).
sed -n 's/^\([^ ]*\) disk| \([1-9][0-9]*\) reads$/    \1: \2 reads of the VM'"'"'s disk during the case/p' "$work/log"

echo "desktop cases: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
