#!/usr/bin/env bash
# Checks what the VM's serial console says about each case:
#   check.sh CONSOLE-LOG
# Prints one PASS or FAIL line per case (with the reasons) and a last line
# "vm cases: N passed, M failed". Exit status: 0 when every case passed.
set -u
log=$1
here=$(cd "$(dirname "$0")" && pwd)
expected=$here/expected
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The serial console ends lines with CR LF.
tr -d '\r' < "$log" > "$work/log"

# section CASE WHAT: the lines the VM printed as "CASE WHAT| text".
section() { sed -n "s/^$1 $2| \{0,1\}//p" "$work/log"; }
reports() { section "$1" remote | sed -n 's/^ *[0-9.]* out //p'; }
observer() { section "$1" observer; }

passed=0 failed=0
reasons=()
fail() { reasons+=("$*"); }

expect_exit() {
  local got
  got=$(section "$1" exit)
  [ "$got" = "$2" ] || fail "exit code ${got:-missing}, expected $2"
}

# expect_same WHAT EXPECTED-FILE ACTUAL-FILE
expect_same() {
  if ! diff -u "$2" "$3" > "$work/diff"; then
    fail "$1 differ from $(basename "$2"):"
    reasons+=("$(sed -n '3,40p' "$work/diff")")
  fi
}

# Presses and releases of the observer, as "1 3 4 5 ..." with each run of the
# same button given once; and a check that every press was released in turn.
button_runs() {
  observer "$1" | awk '
    /^press / { if (down != "") bad = 1; down = $2; if ($2 != last) { out = out sep $2; sep = " "; last = $2 } }
    /^release / { if (down != $2) bad = 1; down = "" }
    END { if (down != "" || bad) out = out " unbalanced"; print out }'
}

# The cursor lines "X Y" in order.
cursor_path() { observer "$1" | sed -n 's/^cursor //p'; }

# The cursor path of a run of scenarios/normal.scn, from a file of "X Y"
# lines in order; prints how many of its five stages were seen: on (788, 326)
# at once when the remote points at (420, 450); gliding down to exactly
# (368, 176) when it points at (560, 400) (from above, the smoothing reaches
# its target); the D-pad moves it right by more than 100 pixels on y = 176,
# then down by more than 100 pixels on one x; pointing at (420, 450) again
# brings it back to within 5 pixels short of (788, 326).
normal_path_stage() {
  awk '
    stage == 0 && $1 == 788 && $2 == 326 { stage = 1; next }
    stage == 1 && $1 == 368 && $2 == 176 { stage = 2; next }
    stage == 2 && $2 == 176 && $1 > 468 { stage = 3; rightX = $1; next }
    stage == 3 && $1 >= rightX && $2 > 276 { stage = 4; downX = $1; next }
    stage == 4 && $1 >= 783 && $1 <= 788 && $2 >= 321 && $2 <= 326 { stage = 5 }
    END { print stage + 0 }' "$1"
}

# expect_normal_run CASE: the tool's console, exit code, cursor path and
# buttons for a remote that plays scenarios/normal.scn.
expect_normal_run() {
  { cat "$expected/banner.txt"; printf 'IR-Track NG\nIR-Track Ok\nIR-Track NG\nIR-Track Ok\n'; } > "$work/want"
  section "$1" console > "$work/got"
  expect_same "console text" "$work/want" "$work/got"
  expect_exit "$1" 0
  local stage
  cursor_path "$1" > "$work/cursor"
  stage=$(normal_path_stage "$work/cursor")
  [ "$stage" = 5 ] || fail "cursor path stopped at stage $stage of 5 (see the observer lines)"
  # Clicks: B (left), A (right), One (wheel up), Plus (wheel down), Minus
  # (wheel up), Two (wheel down), every button released.
  local runs
  runs=$(button_runs "$1")
  [ "$runs" = "1 3 4 5 4 5" ] || fail "buttons '$runs', expected '1 3 4 5 4 5'"
}

finish_case() {
  if [ ${#reasons[@]} -eq 0 ]; then
    echo "PASS vm $1"
    passed=$((passed + 1))
  else
    echo "FAIL vm $1"
    printf '    %s\n' "${reasons[@]}"
    # What the tool said last tells most failures apart (a remote that did
    # not answer, a desktop that went away).
    section "$1" console | tail -n 3 | sed 's/^/    the tool'"'"'s console: /'
    failed=$((failed + 1))
  fi
  reasons=()
}

if ! grep -q '^@@ end$' "$work/log"; then
  last_case=$(sed -n 's/^@@ case //p' "$work/log" | tail -1)
  echo "FAIL vm boot: the VM did not get to its end (last case begun: ${last_case:-none}); its console says:"
  tail -n 30 "$work/log" | sed 's/^/    /'
  failed=$((failed + 1))
fi

# Each group of cases has its checks beside it: tests/vm/cases/NAME.check
# (sourced here, in the order of the names).
for group in "$here"/cases/*.check; do
  . "$group"
done

echo "vm cases: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
