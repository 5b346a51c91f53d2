# Shared helpers for the build and test scripts. Source it; do not run it.

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

log() { printf '\n== %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get with a few tries: a mirror may be in the middle of a sync.
apt_retry() {
  local try
  for try in 1 2 3 4 5; do
    if as_root env DEBIAN_FRONTEND=noninteractive apt-get "$@"; then return 0; fi
    echo "apt-get $1 failed (try $try), retrying in 15 s" >&2
    sleep 15
  done
  return 1
}

APT_UPDATED=${APT_UPDATED:-0}
# Installs the packages that are not installed yet.
apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$APT_UPDATED" != 1 ]; then
    apt_retry update -q || return 1
    APT_UPDATED=1
    export APT_UPDATED
  fi
  apt_retry install -y -q --no-install-recommends "${missing[@]}"
}

# What every build needs.
BASE_PACKAGES=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev
  libhidapi-dev libx11-dev libxtst-dev libxi-dev libwayland-dev wayland-protocols)

# The 32-bit Windows build (build-windows/): the program as it ships, its test
# suites, and the helper of the VM's Wine cases. The Windows step builds it;
# the VM step builds it the same way when it is not there yet.
WINDOWS32_OPTIONS=(-DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw-i686.cmake"
  -DCMAKE_BUILD_TYPE=Release -DTREVANQUILL_TESTS=ON -DTREVANQUILL_BENCH=OFF)

# The test suites that every Windows test build must have (the Windows step
# runs them on this machine, the VM step's Wine group in the VM).
WINDOWS_SUITES="core_tests windows_transfer_tests windows_layer_tests windows_desktop_tests"

# The number of test cases that a GoogleTest program lists (run by "$@").
windows_listed_tests() {
  "$@" --gtest_list_tests 2>/dev/null | grep -c '^  '
}

# Whether this machine's kernel runs 32-bit x86 code: a kernel may have its
# IA32 emulation built in and switched off, and then every 32-bit process
# (Wine's WoW64 mode among them) dies as it starts. The
# probe makes a 32-bit system call (int 0x80, getpid) from a 64-bit program,
# which such a kernel refuses. The test VM's kernel has it on.
host_runs_32bit_code() {
  local probe rc
  probe=$(mktemp) || return 1
  printf '%s\n' 'int main(void) { long r; __asm__ volatile("int $0x80" : "=a"(r) : "a"(20L) : "memory"); return r <= 0; }' |
    gcc -x c -o "$probe" - 2>/dev/null &&
    ( "$probe"; exit $? ) 2>/dev/null  # the shell that waits says nothing of the crash
  rc=$?
  rm -f "$probe"
  return $rc
}

# Configures and builds the project in $1 (extra cmake arguments follow).
build_project() {
  local dir=$1; shift
  cmake -S "$TOP" -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j "$JOBS"
}

# What the tool says when it is started with no display, before it touches
# the remote; it then exits with code 3.
NO_DISPLAY_MESSAGE="trevanquill: no desktop session: neither WAYLAND_DISPLAY nor DISPLAY is set; start it from a terminal of the desktop"

# Runs "$@" (the tool, or a script that ends by running it) with no display and
# no standard input, and counts one test passed when it exits with code 3 and
# the last line on its stderr is NO_DISPLAY_MESSAGE, else one failed.
expect_no_display() {
  local err rc last
  err=$(mktemp)
  env -u DISPLAY -u WAYLAND_DISPLAY "$@" </dev/null 2>"$err"
  rc=$?
  cat "$err" >&2
  last=$(tail -n 1 "$err")
  rm -f "$err"
  if [ "$rc" -eq 3 ] && [ "$last" = "$NO_DISPLAY_MESSAGE" ]; then
    echo "$*: exit 3, \"$last\""
    TESTS_PASSED=$((TESTS_PASSED + 1))
    return 0
  fi
  echo "$*: exit $rc and \"$last\"; expected exit 3 and \"$NO_DISPLAY_MESSAGE\"" >&2
  TESTS_FAILED=$((TESTS_FAILED + 1))
  return 1
}

# Runs ctest in $1 and adds its counts to TESTS_PASSED and TESTS_FAILED.
TESTS_PASSED=${TESTS_PASSED:-0}
TESTS_FAILED=${TESTS_FAILED:-0}
run_ctest() {
  local dir=$1; shift
  local out rc total failed
  out=$(mktemp)
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$out" | tail -1)
  failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$out" | tail -1)
  rm -f "$out"
  if [ -z "$total" ]; then
    echo "ctest in $dir ran no test" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  TESTS_PASSED=$((TESTS_PASSED + total - failed))
  TESTS_FAILED=$((TESTS_FAILED + failed))
  return $rc
}

# Starts an X server for tests: Xvfb on a display it picks itself
# (-displayfd), with any further options given (-noreset keeps the pointer
# where it is when the last client leaves; Wine's cursor needs the server
# without it). Sets XVFB_PID and XVFB_DISPLAY (":N"); returns non-zero when it
# did not start.
start_xvfb() {
  local fdfile waited=0
  fdfile=$(mktemp)
  Xvfb "$@" -nolisten tcp -displayfd 3 -screen 0 1280x1024x24 3>"$fdfile" \
    </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  while [ ! -s "$fdfile" ] && [ $waited -lt 100 ] && kill -0 "$XVFB_PID" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
  done
  XVFB_DISPLAY=:$(head -n1 "$fdfile")
  rm -f "$fdfile"
  [ "$XVFB_DISPLAY" != ":" ] && return 0
  echo "Xvfb did not start" >&2
  stop_xvfb
  return 1
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] || return 0
  kill "$XVFB_PID" 2>/dev/null
  wait "$XVFB_PID" 2>/dev/null
  XVFB_PID=
}

# The DLLs that every Windows installation has; the Windows program may import
# these and no others.
WINDOWS_SYSTEM_DLLS="kernel32.dll user32.dll setupapi.dll hid.dll msvcrt.dll advapi32.dll"

# Checks that $1 is the 32-bit (Intel 80386) console program (PE subsystem 3,
# Windows CUI) that imports system DLLs only. Needs file and MinGW's objdump.
windows_check_exe() {
  local exe=$1 kind headers subsystem dlls dll bad=0
  kind=$(file -b "$exe")
  echo "file: $kind"
  case $kind in
    "PE32 executable (console) Intel 80386"*) ;;
    *) echo "$exe is not a 32-bit console program" >&2; return 1 ;;
  esac
  headers=$(i686-w64-mingw32-objdump -p "$exe")
  subsystem=$(sed -n 's/^Subsystem[[:space:]]*//p' <<<"$headers")
  case $subsystem in
    00000003*) ;;
    *) echo "$exe has subsystem '$subsystem', not 3 (Windows CUI)" >&2; return 1 ;;
  esac
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
  echo "size: $(stat -c %s "$exe") bytes; subsystem: $subsystem; imports: $(echo $dlls)"
  [ -n "$dlls" ] || { echo "no imports found in $exe" >&2; return 1; }
  for dll in $dlls; do
    case " $WINDOWS_SYSTEM_DLLS " in
      *" $dll "*) ;;
      *) echo "$exe imports $dll, which is not a system DLL" >&2; bad=1 ;;
    esac
  done
  return $bad
}

# Both host cores kept busy with a busy loop each (niced like the VMs, so that
# they compete with them) until the script ends, for runs under load.
HOST_LOADERS=()
stop_host_load() {
  local p
  for p in ${HOST_LOADERS[@]+"${HOST_LOADERS[@]}"}; do kill "$p" 2>/dev/null; done
  for p in ${HOST_LOADERS[@]+"${HOST_LOADERS[@]}"}; do wait "$p" 2>/dev/null; done
  HOST_LOADERS=()
}
load_host_cores() {
  trap stop_host_load EXIT
  local _
  for _ in 1 2; do
    nice -n 10 sh -c 'while :; do :; done' &
    HOST_LOADERS+=($!)
  done
}
host_loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

# tally_boot RC: a boot of a repeat script counted as passed (RC 0) or
# failed, in $passed and $failed, and named in $verdict.
tally_boot() {
  if [ "$1" -eq 0 ]; then
    passed=$((passed + 1))
    verdict=PASS
  else
    failed=$((failed + 1))
    verdict=FAIL
  fi
}
