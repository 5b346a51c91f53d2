# Windows: cross-builds the 32-bit console program and checks what it is made
# of, runs the test suites built for 32-bit and for 64-bit Windows under Wine
# on an X server under Xvfb, then runs the program itself with no remote.
# Sourced by scripts/test.sh: returns, never exits.
#
# The Wine installed here is the 64-bit one (the system has no i386
# architecture); it runs 32-bit programs in its WoW64 mode with the 32-bit
# Windows DLLs that scripts/wine32-dlls.sh fetches into the build tree. The 32-bit build is the program that ships, so its suites are
# the ones that tell whether it works. The 64-bit build of the same sources
# runs the same suites beside them, in the same prefix: it is the only build
# in which handles and pointers are wider than a DWORD, and it keeps the code
# right for a 64-bit release.
#
# A machine whose kernel runs no 32-bit code (its IA32 emulation switched off)
# cannot run the 32-bit suites or the program under Wine: there the step says
# so and runs the 64-bit suites only, and the VM step, whose kernel runs
# 32-bit code, runs the 32-bit suites and the program (tests/vm/cases/50-wine.*).

WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64
  file xvfb xauth)

# Checks a suite's XML report: it exists, ran exactly $2 tests, none failed;
# $3 names the build in the log. Adds its counts to the totals.
windows_check_report() {
  local xml=$1 expected=$2 label=$3 head ran failures errors disabled
  if [ ! -s "$xml" ]; then
    echo "no report $xml: the $label suite did not run" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  head=$(grep -m1 '<testsuites ' "$xml")
  ran=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$head")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$head")
  errors=$(sed -n 's/.* errors="\([0-9]*\)".*/\1/p' <<<"$head")
  disabled=$(sed -n 's/.* disabled="\([0-9]*\)".*/\1/p' <<<"$head")
  ran=${ran:-0}; failures=${failures:-0}; errors=${errors:-0}; disabled=${disabled:-0}
  echo "$label $(basename "$xml" .xml): $ran of $expected tests ran, $failures failed, $errors errors, $disabled disabled"
  TESTS_PASSED=$((TESTS_PASSED + ran - failures - errors))
  TESTS_FAILED=$((TESTS_FAILED + failures + errors))
  if [ "$expected" -le 0 ] || [ "$ran" -ne "$expected" ] || [ "$disabled" -ne 0 ]; then
    echo "$label $(basename "$xml"): expected $expected tests to run" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  [ "$failures" -eq 0 ] && [ "$errors" -eq 0 ]
}

# Runs the suites of the Windows test build in $1 ($2 names it in the log)
# through ctest under Wine, and checks that each suite ran all its tests
# (every suite of WINDOWS_SUITES, and any further one that ctest lists): a
# suite that Linux builds too is listed by the Linux build ($BUILD), a
# Windows-only one by itself under Wine. Adds the counts to the totals.
windows_run_suites() {
  local dir=$1 label=$2 started=$SECONDS failed_before=$TESTS_FAILED rc=0
  local names name linux expected
  rm -rf "$dir/test-results"
  (cd "$dir" && ctest --output-on-failure --timeout 300) </dev/null || rc=1
  names=$( (echo $WINDOWS_SUITES | tr ' ' '\n'
            cd "$dir" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p') | sort -u)
  for name in $names; do
    linux=$(find "$BUILD/tests" -name "$name" -type f -perm -u+x 2>/dev/null | head -1)
    if [ -n "$linux" ]; then
      expected=$(windows_listed_tests "$linux" </dev/null)
    else
      expected=$(windows_listed_tests wine "$(find "$dir/tests" -name "$name.exe" | head -1)" </dev/null)
    fi
    windows_check_report "$dir/test-results/$name.xml" "${expected:-0}" "$label" || rc=1
  done
  # A suite that failed after writing a clean report (a crash on the way
  # out) still counts as a failure.
  if [ "$rc" -ne 0 ] && [ "$TESTS_FAILED" -eq "$failed_before" ]; then
    TESTS_FAILED=$((TESTS_FAILED + 1))
  fi
  echo "$label suites: $((SECONDS - started)) s"
  return $rc
}

# Runs the program $1 with no remote, in $WINEPREFIX under a wineserver that
# has no display, so that its message box returns at once (with a display it
# opens and waits: hence the time limit). Passes when it ends with exit code
# 1, wrote nothing to the console, and, as a relay trace of these two
# functions shows, looked through the system's HID interfaces
# (SetupDiGetClassDevsA) and then called MessageBoxA with "Wii-Remote not
# found." ($2 keeps the trace and the output). Counts as one test.
windows_run_program() {
  local exe=$1 out=$2 rc=0 code search message
  (
    unset DISPLAY
    wineserver -k 2>/dev/null
    wineserver -w
    setsid wineserver -p </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude \
      /d 'setupapi.SetupDiGetClassDevsA;user32.MessageBoxA' /f </dev/null >/dev/null 2>&1
    WINEDEBUG=+relay timeout -k 5 60 wine "$exe" </dev/null >"$out.out" 2>"$out.trace"
  )
  code=$?
  if [ "$code" -ne 1 ]; then
    echo "$exe without a remote ended with exit code $code, not 1" >&2
    rc=1
  fi
  search=$(grep -an -m1 'Call setupapi\.SetupDiGetClassDevsA(' "$out.trace" | cut -d: -f1)
  message=$(grep -an -m1 'Call user32\.MessageBoxA(.*"Wii-Remote not found\."' "$out.trace" |
    cut -d: -f1)
  if [ -z "$message" ]; then
    echo "$exe did not show \"Wii-Remote not found.\" (trace: $out.trace)" >&2
    rc=1
  elif [ -z "$search" ] || [ "$search" -gt "$message" ]; then
    echo "$exe showed \"Wii-Remote not found.\" without a search (trace: $out.trace)" >&2
    rc=1
  fi
  if [ -s "$out.out" ]; then
    echo "$exe wrote to the console without a remote: $(head -c 200 "$out.out")" >&2
    rc=1
  fi
  if [ "$rc" -eq 0 ]; then
    echo "32-bit program without a remote: exit code 1 after the message \"Wii-Remote not found.\""
    TESTS_PASSED=$((TESTS_PASSED + 1))
  else
    TESTS_FAILED=$((TESTS_FAILED + 1))
  fi
  return $rc
}

windows_step() {
  local started=$SECONDS rc=0 dlls
  local win32=$TOP/build-windows
  local win64=$TOP/build-windows64
  apt_install "${WINDOWS_PACKAGES[@]}" || { echo "cannot install the Windows tools" >&2; return 1; }
  echo "packages ready after $((SECONDS - started)) s"

  # One 32-bit build: the program as it ships, and its test suites (named
  # outright: the folder may hold a build without them, as docs/platforms.md
  # makes).
  build_project "$win32" "${WINDOWS32_OPTIONS[@]}" ||
    { echo "32-bit Windows build failed" >&2; return 1; }
  windows_check_exe "$win32/trevanquill.exe" || rc=1

  build_project "$win64" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_TESTS=ON -DTREVANQUILL_BENCH=OFF ||
    { echo "64-bit Windows test build failed" >&2; return 1; }
  echo "built after $((SECONDS - started)) s"

  dlls=$("$TOP/scripts/wine32-dlls.sh" "$win32/wine32" </dev/null) ||
    { echo "cannot get Wine's 32-bit DLLs" >&2; return 1; }
  echo "Wine's 32-bit DLLs ready after $((SECONDS - started)) s"

  # A display for Wine, a fresh prefix for 32- and 64-bit programs, and the
  # wineserver with its helper processes started here, detached, so that they
  # hold no pipe of ctest's.
  start_xvfb || return 1
  (
    export DISPLAY=$XVFB_DISPLAY WINEPREFIX=$win32/wineprefix WINEDEBUG=-all \
      WINEDLLOVERRIDES="mscoree,mshtml=" WINEDLLPATH=$dlls
    rm -rf "$WINEPREFIX" "$win32/totals"
    mkdir -p "$WINEPREFIX"
    setsid wineserver -p </dev/null >/dev/null 2>&1
    setsid wineboot -i </dev/null >/dev/null 2>&1
    echo "Wine ready after $((SECONDS - started)) s"
    runs32=1
    if ! host_runs_32bit_code; then
      runs32=0
      echo "this machine's kernel runs no 32-bit code (IA32 emulation off): the 32-bit suites and the program run in the VM step"
    elif [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      echo "the prefix has no 32-bit system (WINEDLLPATH=$WINEDLLPATH)" >&2
    fi

    # Wine closes the desktop a second after the last program on it has ended;
    # a suite that starts later makes it again, which takes 10 s on a loaded
    # machine (the new desktop process gives up on starting RpcSs first). A
    # command prompt that waits for a key on a pipe that nobody writes keeps
    # the desktop for all the suites, as the session keeps it on Windows;
    # closing the pipe ends it. The suites get no copy of the pipe.
    exec 7> >(setsid wine cmd.exe /c pause >/dev/null 2>&1)
    sub_rc=0
    if [ $runs32 = 1 ]; then
      windows_run_suites "$win32" 32-bit 7>&- || sub_rc=1
    fi
    windows_run_suites "$win64" 64-bit 7>&- || sub_rc=1
    exec 7>&-
    if [ $runs32 = 1 ]; then
      windows_run_program "$win32/trevanquill.exe" "$win32/no-remote" || sub_rc=1
    fi
    echo "TESTS_PASSED=$TESTS_PASSED TESTS_FAILED=$TESTS_FAILED" >"$win32/totals"
    wineserver -k
    exit $sub_rc
  ) || rc=1
  # The counts were added in the subshell.
  if [ -f "$win32/totals" ]; then
    eval "$(cat "$win32/totals")"
  else
    TESTS_FAILED=$((TESTS_FAILED + 1))
  fi
  stop_xvfb
  echo "Windows step: $((SECONDS - started)) s"
  return $rc
}

windows_step
