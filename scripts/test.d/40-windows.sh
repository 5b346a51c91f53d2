# Windows: cross-builds the 32-bit console program and checks what it is made
# of, then runs the test suite, built for Windows, under Wine on an X server
# under Xvfb. Sourced by scripts/test.sh: returns, never exits.
#
# The test programs are built for 64-bit Windows and run under 64-bit Wine:
# the machines this runs on cannot execute 32-bit Linux programs (their
# kernel has no 32-bit support), which 32-bit Wine is made of. The sources
# are the same; the 32-bit build of the program is checked with file and
# objdump.

WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64
  file xvfb xauth)
# The DLLs that every Windows installation has; the program may import these
# and no others.
WINDOWS_SYSTEM_DLLS="kernel32.dll user32.dll setupapi.dll hid.dll msvcrt.dll advapi32.dll"

# Checks that $1 is a 32-bit console program that imports system DLLs only.
windows_check_exe() {
  local exe=$1 kind dlls dll bad=0
  kind=$(file -b "$exe")
  echo "file: $kind"
  case $kind in
    "PE32 executable (console) Intel 80386"*) ;;
    *) echo "$exe is not a 32-bit console program" >&2; return 1 ;;
  esac
  dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z' | sort -u)
  echo "size: $(stat -c %s "$exe") bytes; imports: $(echo $dlls)"
  [ -n "$dlls" ] || { echo "no imports found in $exe" >&2; return 1; }
  for dll in $dlls; do
    case " $WINDOWS_SYSTEM_DLLS " in
      *" $dll "*) ;;
      *) echo "$exe imports $dll, which is not a system DLL" >&2; bad=1 ;;
    esac
  done
  return $bad
}

# The number of test cases that a GoogleTest program lists (run by "$@").
windows_listed_tests() {
  "$@" --gtest_list_tests 2>/dev/null | grep -c '^  '
}

# Checks a suite's XML report: it exists, ran exactly $2 tests, none failed.
# Adds its counts to the totals.
windows_check_report() {
  local xml=$1 expected=$2 head ran failures errors disabled
  if [ ! -s "$xml" ]; then
    echo "no report $xml: the suite did not run" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  head=$(grep -m1 '<testsuites ' "$xml")
  ran=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$head")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$head")
  errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$head")
  disabled=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$head")
  ran=${ran:-0}; failures=${failures:-0}; errors=${errors:-0}; disabled=${disabled:-0}
  echo "$(basename "$xml" .xml): $ran of $expected tests ran, $failures failed, $errors errors, $disabled disabled"
  TESTS_PASSED=$((TESTS_PASSED + ran - failures - errors))
  TESTS_FAILED=$((TESTS_FAILED + failures + errors))
  if [ "$expected" -le 0 ] || [ "$ran" -ne "$expected" ] || [ "$disabled" -ne 0 ]; then
    echo "$(basename "$xml"): expected $expected tests to run" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  [ "$failures" -eq 0 ] && [ "$errors" -eq 0 ]
}

windows_step() {
  local started=$SECONDS rc=0
  local exe32=$TOP/build-windows
  local tests64=$TOP/build-windows64
  apt_install "${WINDOWS_PACKAGES[@]}" || { echo "cannot install the Windows tools" >&2; return 1; }
  echo "packages ready after $((SECONDS - started)) s"

  build_project "$exe32" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_TESTS=OFF -DTREVANQUILL_BENCH=OFF ||
    { echo "32-bit Windows build failed" >&2; return 1; }
  windows_check_exe "$exe32/trevanquill.exe" || rc=1

  build_project "$tests64" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_BENCH=OFF ||
    { echo "64-bit Windows test build failed" >&2; return 1; }
  echo "built after $((SECONDS - started)) s"

  # A display for Wine, a fresh prefix, and the wineserver with its helper
  # processes started here, detached, so that they hold no pipe of ctest's.
  start_xvfb || return 1
  (
    export DISPLAY=$XVFB_DISPLAY WINEPREFIX=$tests64/wineprefix WINEDEBUG=-all \
      WINEDLLOVERRIDES="mscoree,mshtml="
    rm -rf "$WINEPREFIX" "$tests64/test-results"
    mkdir -p "$WINEPREFIX"
    setsid wineserver -p </dev/null >/dev/null 2>&1
    setsid wineboot -i </dev/null >/dev/null 2>&1
    echo "Wine ready after $((SECONDS - started)) s"

    (cd "$tests64" && ctest --output-on-failure --timeout 300) </dev/null
    ctest_rc=$?

    # What should have run: the suites that Linux builds too are listed by
    # the Linux build; the Windows-only ones by themselves under Wine.
    suite_rc=0
    for suite in core_tests:"$BUILD/tests/core_tests" \
                 windows_transfer_tests:"$BUILD/tests/windows/windows_transfer_tests" \
                 windows_layer_tests:"wine $tests64/tests/windows/windows_layer_tests.exe" \
                 windows_desktop_tests:"wine $tests64/tests/windows/windows_desktop_tests.exe"; do
      name=${suite%%:*}
      expected=$(windows_listed_tests ${suite#*:} </dev/null)
      windows_check_report "$tests64/test-results/$name.xml" "${expected:-0}" || suite_rc=1
    done
    echo "TESTS_PASSED=$TESTS_PASSED TESTS_FAILED=$TESTS_FAILED" >"$tests64/test-results/totals"
    wineserver -k
    [ "$ctest_rc" -eq 0 ] && [ "$suite_rc" -eq 0 ]
  ) || rc=1
  # The counts were added in the subshell.
  if [ -f "$tests64/test-results/totals" ]; then
    eval "$(cat "$tests64/test-results/totals")"
  else
    TESTS_FAILED=$((TESTS_FAILED + 1))
  fi
  stop_xvfb
  echo "Windows step: $((SECONDS - started)) s"
  return $rc
}

windows_step
