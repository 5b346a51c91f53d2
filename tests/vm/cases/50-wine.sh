# The 32-bit Windows program under Wine (Debian's wine64 8.0 in its WoW64
# mode) against the virtual remote, through Wine's own HID stack: winebus.sys
# on the remote's hidraw node -> hidclass.sys -> hid.dll and SetupAPI.
# Sourced by the VM's init; checked by 50-wine.check.
#
# Wine is the build machine's: its root comes read-only over 9p (share
# "hostroot", see 50-wine.qemu), a tmpfs overlay on it takes Wine's writes,
# and Wine runs chrooted there with the VM's /dev, /proc, /sys and X socket.
# /etc/wine-vm.conf (50-wine.image) names the program, the helper
# (tools/wine-watch), the prefix and the 32-bit DLLs as paths of that machine.
#
# Each case makes its remote first and then starts Wine anew (the program
# starts Wine's services itself): Wine's bus driver, set by the prefix to
# look in /dev (no udevd runs here), takes the hidraw nodes that are there
# when it starts and watches them go away. Wine ends with the case.
. /etc/wine-vm.conf
wroot=/wine-root

uptime_s() { cut -d' ' -f1 /proc/uptime; }
# between T0 T1: the seconds from T0 to T1, with one decimal.
between() { echo "$1 $2" | awk '{ printf "%.1f", $2 - $1 }'; }

wine_mount() {
  [ -n "$WINE_VM_EXE" ] || {
    echo "/etc/wine-vm.conf names no program (tests/vm/cases/50-wine.prepare did not run)"
    return 1
  }
  mkdir -p /host /wine-rw $wroot /dev/shm
  mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 hostroot /host &&
    mount -t tmpfs -o size=512m wine-rw /wine-rw && mkdir -p /wine-rw/up /wine-rw/work &&
    mount -t overlay wine-root -o lowerdir=/host,upperdir=/wine-rw/up,workdir=/wine-rw/work $wroot ||
    { echo "cannot mount the build machine's root and an overlay on it"; return 1; }
  mount -o bind /dev $wroot/dev && mount -t proc proc $wroot/proc &&
    mount -t sysfs sys $wroot/sys && mkdir -p $wroot/tmp/.X11-unix &&
    mount -o bind /tmp/.X11-unix $wroot/tmp/.X11-unix ||
    { echo "cannot bind the VM's /dev, /proc, /sys and X socket"; return 1; }
  # No wineserver's socket of the build machine.
  rm -rf $wroot/tmp/.wine-0
}

# wine_env WINEDEBUG COMMAND...: COMMAND chrooted in the build machine's root
# with Wine's environment, for at most 300 s.
#
# No process of Wine may wait for the 9p share while the remote plays: the
# guest's clock runs on while the VM waits for this machine to answer (it
# jumps from one timer to the next while the guest is idle), so a request
# that this machine answers late under load stands the waiting process still
# for as long in guest time as the remote takes to send tens of reports. The
# wineserver, which every Wine process waits for, asks the time zone of the
# C library about once a second; without TZ the library looks at
# /etc/localtime each time, a symbolic link on the share, and so the server
# waited for a 9p request about once a second. TZ names the zone itself (UTC,
# what the build machine's link gives), and the library reads no file.
wine_env() {
  wdebug=$1
  shift
  timeout 300 chroot $wroot /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root USER=root DISPLAY=:0 \
    TZ=UTC0 WINEPREFIX="$WINE_VM_PREFIX" WINEDLLPATH="$WINE_VM_DLLS" WINEDLLOVERRIDES="mscoree,mshtml=" \
    WINEDEBUG="$wdebug" WINELOADER=/usr/lib/wine/wine64 "$@"
}

# helper_wait_ready OUT PID: until the helper PID has written "ready" to OUT
# (it listens), has ended, or 120 s have gone.
helper_wait_ready() {
  i=0
  while ! grep -q '^ready' "$1" 2>/dev/null && kill -0 "$2" 2>/dev/null && [ $i -lt 1200 ]; do
    sleep 0.1
    i=$((i + 1))
  done
}

# wine_case NAME [SCENARIO [OPTION...]]: the program under a fresh Wine
# against a remote that plays SCENARIO (started with the options given), or
# against no remote. Once the program has printed its banner, the helper
# starts to print the clicks and wheel turns inside Wine (SendInput's input
# never reaches the X server), and then the remote's clock starts. The helper
# listens to raw input, which the system posts to it: the program's SendInput
# never waits for it (see tools/wine-watch). A message
# box (seen in the relay trace of MessageBoxA) is ended by the helper, as a
# user ends it with OK. Prints, besides the usual: NAME.times, NAME.relay
# (the counts of SetCursorPos and SendInput calls, the MessageBoxA calls),
# NAME.mouse (the helper's mouse lines), NAME.helper (only when the helper
# did not get to listen: why), NAME.start (only when the program ended before
# its banner or a message box: when, and the kernel's last words), NAME.box
# (what the helper read in the box) and
# NAME.winelog (Wine's last words other than the relay trace).
wine_case() {
  if [ $# -gt 1 ]; then
    wname=$1 wscn=$2
    shift 2
    start_case "$wname" "$wscn" --clock-on-signal "$@"
  else
    start_case "$1"
  fi
  t0=$(uptime_s)
  wine_env -all,+relay /usr/lib/wine/wine64 "$WINE_VM_EXE" </dev/null \
    >/tmp/$name.console 2>/tmp/$name.wine &
  tool=$!
  # Until the banner's last line, a message box, or the program's end.
  box=0
  while kill -0 $tool 2>/dev/null && ! grep -q 'Home button' /tmp/$name.console 2>/dev/null; do
    grep -q 'Call user32\.MessageBoxA' /tmp/$name.wine 2>/dev/null && { box=1; break; }
    sleep 0.1
  done
  t1=$(uptime_s)
  # A program that ended before either says what the kernel saw last.
  if [ $box = 0 ] && ! kill -0 $tool 2>/dev/null && ! grep -q 'Home button' /tmp/$name.console; then
    { echo "ended before its banner or a message box, $(between "$t0" "$t1") s after its start"
      dmesg | tail -n 5; } >/tmp/$name.start
  fi
  watch=
  if [ $box = 1 ]; then
    wine_env -all /usr/lib/wine/wine64 "$WINE_VM_WATCH" box </dev/null >/tmp/$name.box 2>&1
  elif [ -n "$remote" ] && kill -0 $tool 2>/dev/null; then
    wine_env fixme-all /usr/lib/wine/wine64 "$WINE_VM_WATCH" mouse </dev/null \
      >/tmp/$name.mouse 2>/tmp/$name.helper-log &
    watch=$!
    helper_wait_ready /tmp/$name.mouse $watch
    # A helper that is not listening says why (its exit code, Wine's errors,
    # the kernel's last words).
    if ! grep -q '^ready' /tmp/$name.mouse 2>/dev/null; then
      if kill -0 $watch 2>/dev/null; then
        echo "not ready after $(between "$t1" "$(uptime_s)") s"
      else
        wait $watch
        echo "ended with exit code $? before it was ready, $(between "$t1" "$(uptime_s)") s after its start"
        watch=
      fi >/tmp/$name.helper
      { tail -n 20 /tmp/$name.helper-log; dmesg | tail -n 5; } >>/tmp/$name.helper
    fi
    kill -USR1 $remote
  fi
  t2=$(uptime_s)
  wait_tool
  t3=$(uptime_s)
  echo "start to banner or message: $(between "$t0" "$t1") s; helper: $(between "$t1" "$t2") s; then to the end: $(between "$t2" "$t3") s; pids: program $tool, helper ${watch:-none}" >/tmp/$name.times
  {
    echo "SetCursorPos calls: $(grep -c 'Call user32\.SetCursorPos' /tmp/$name.wine)"
    echo "SendInput calls: $(grep -c 'Call user32\.SendInput' /tmp/$name.wine)"
    grep -a 'Call user32\.MessageBoxA' /tmp/$name.wine
  } >/tmp/$name.relay
  grep -a -v ':relay:\|:Call \|:Ret \|:Starting thread proc' /tmp/$name.wine | tail -n 20 >/tmp/$name.winelog
  wine_env -all /usr/lib/wine/wineserver64 -k 2>/dev/null
  [ -n "$watch" ] && wait $watch
  end_case times start relay mouse helper box winelog
}

# wine_suites: the 32-bit test suites that WINE_VM_SUITES names, one case
# each (wine-suite-NAME), under one Wine: the Windows step runs them only
# where the build machine's kernel runs 32-bit code, and this VM's does. The
# helper keeps Wine's desktop for all of them, as the Windows step's command
# prompt does, and says "ready" once it listens on it: a suite that started
# with no desktop would make one, which under emulation takes longer than
# Wine waits for it, and its windows and console would fail. Prints, per
# suite: NAME.out (GoogleTest's lines, those of each passing test left out),
# NAME.expected (the count the Linux build lists, - for a Windows-only
# suite), NAME.times and NAME exit.
wine_suites() {
  t0=$(uptime_s)
  wine_env fixme-all /usr/lib/wine/wine64 "$WINE_VM_WATCH" mouse </dev/null \
    >/tmp/wine-desktop.out 2>/tmp/wine-desktop.log &
  desktop=$!
  helper_wait_ready /tmp/wine-desktop.out $desktop
  if grep -q '^ready' /tmp/wine-desktop.out; then
    ready="the desktop ready after $(between "$t0" "$(uptime_s)") s"
  else
    ready="the desktop not ready after $(between "$t0" "$(uptime_s)") s: $(tail -n 3 /tmp/wine-desktop.log | tr '\n' ' ')"
  fi
  for entry in $WINE_VM_SUITES; do
    exe=${entry%:*}
    name=wine-suite-$(basename "$exe" .exe)
    case_begins "$name"
    t1=$(uptime_s)
    wine_env fixme-all /usr/lib/wine/wine64 "$exe" </dev/null >/tmp/$name.all 2>&1
    code=$?
    grep -a -v '^\[ RUN      \]\|^\[       OK \]' /tmp/$name.all | tail -n 80 >/tmp/$name.out
    echo "${entry##*:}" >/tmp/$name.expected
    echo "$ready; the suite: $(between "$t1" "$(uptime_s)") s" >/tmp/$name.times
    for what in out expected times; do sed "s/^/$name $what| /" /tmp/$name.$what; done
    echo "$name exit| $code"
  done
  wine_env -all /usr/lib/wine/wineserver64 -k 2>/dev/null
  wait $desktop
}

case_begins wine-setup
wine_ready=0
wine_mount >/tmp/wine-setup.mount 2>&1 && wine_ready=1
sed 's/^/wine-setup mount| /' /tmp/wine-setup.mount

# Plus, then Minus, then Home.
cat >/tmp/wine-wheel.scn <<'SCN'
0    buttons none
0    no-points
1000 buttons plus
1150 buttons none
1500 buttons minus
1650 buttons none
2200 buttons home
2400 buttons none
SCN

# The cases, all of them or those that WINE_VM_CASES names (a run by hand).
[ $wine_ready = 1 ] || WINE_VM_CASES=none
for wcase in ${WINE_VM_CASES:-wine-suites wine-absent wine-normal wine-newer wine-disconnect wine-wheel}; do
  case $wcase in
    wine-suites) wine_suites ;;
    wine-absent) wine_case wine-absent ;;
    wine-normal) wine_case wine-normal normal ;;
    wine-newer) wine_case wine-newer normal --product 0x0330 ;;
    wine-disconnect) wine_case wine-disconnect disconnect ;;
    wine-wheel) wine_case wine-wheel /tmp/wine-wheel.scn ;;
  esac
done
