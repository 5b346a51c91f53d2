#!/bin/bash
# The desktop VM's cases, run as root by desk-run.service once tty1's
# autologin has started the session (session.sh); the VM powers off when it
# ends. Its output is /opt/out/run.log: lines "CASE WHAT| text" for what each
# case learnt, between "@@ begin SESSION" and "@@ end", which check.sh reads on
# the host.
#
# It waits for the compositor, then starts the watchers that every case reads:
# libinput's debug-events (the input devices as every compositor reads them),
# desktop-watch (a Wayland client with a fullscreen window on each monitor)
# and desktop-key (a keyboard whose taps mark the end of a case, see
# sync_desktop); GNOME: waits until the start-up overview is hidden; KDE:
# loads kwinpos.js (KWin's own view of the pointer). Then it sources each
# group of cases, /opt/desk/cases/*.sh (tests/desktop-vm/cases/), in the
# order of their names, with the helpers below at hand.
set -u
D=/opt/desk O=/opt/out W=/var/tmp
export PATH=$D/bin:$PATH
session=$(sed -n 's/.*desk\.session=\([^ ]*\).*/\1/p' /proc/cmdline)
xdg=/run/user/1000
up() { cut -d' ' -f1 /proc/uptime; }

# as_user COMMAND...: as the session's user, in the session's environment.
as_user() {
  runuser -u tester -- env XDG_RUNTIME_DIR=$xdg WAYLAND_DISPLAY=wayland-0 \
    DBUS_SESSION_BUS_ADDRESS="$(cat $W/session.bus 2>/dev/null)" "$@"
}

# wait_for_lines FILE PATTERN [COUNT [SECONDS]]: until FILE holds COUNT lines
# (default 1) that match PATTERN, for at most SECONDS (default 120) of the
# guest's time. The compositor may lag its input by seconds here: a case
# waits for the events it needs, not for a time.
wait_for_lines() {
  local i=0 n=${3:-1} tenths=$((${4:-120} * 10))
  while [ "$(grep -c -- "$2" "$1" 2>/dev/null)" -lt "$n" ] && [ $i -lt $tenths ]; do
    sleep 0.1
    i=$((i + 1))
  done
  [ "$(grep -c -- "$2" "$1" 2>/dev/null)" -ge "$n" ]
}

# sync_desktop: taps desktop-key's key and waits until the watcher has it. The
# compositor hands on input events in the order they came, so the watcher has
# then seen every pointer event before the tap.
taps=0
sync_desktop() {
  taps=$((taps + 1))
  kill -USR1 $key
  wait_for_lines $W/watch.log '^key 44 0$' $taps 300 || echo "@@ the watcher did not get tap $taps"
  # GNOME Shell's deskpos looks at the pointer every 20 ms.
  sleep 0.5
}

# begin_case NAME: where the watchers' files stand when the case begins.
begin_case() {
  name=$1
  echo "@@ case $name at $(up)"
  watch_at=$(wc -l < $W/watch.log)
  libinput_at=$(wc -l < $W/libinput.log)
  session_at=$(wc -l < $W/session.log)
  remote= code=
}

# start_remote SCENARIO [OPTION...]: a virtual remote that plays SCENARIO
# (/opt/desk/scenarios/SCENARIO.scn, or a path of its own) started with the
# options given, as $remote, once its hidraw node is there and udev is done.
start_remote() {
  local scenario=$1 i=0
  shift
  case $scenario in /*) ;; *) scenario=$D/scenarios/$scenario.scn ;; esac
  virtual-remote "$@" "$scenario" > $W/$name.remote 2>&1 &
  remote=$!
  while ! ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  udevadm settle --timeout=30
}

# run_tool: the tool as the session's user (at most 120 s), its console in
# $W/NAME.console and its exit code in $code.
run_tool() {
  as_user timeout 120 trevanquill < /dev/null > $W/$name.console 2>&1
  code=$?
  echo "@@ tool of $name ended at $(up) with $code"
}

# end_case [WHAT...]: waits until the watcher has had every event, ends the
# remote, and prints what the case learnt: the tool's console, the remote's
# log, the watchers' lines since begin_case (watch: desktop-watch;
# libinput: debug-events; compositor: the compositor's own view of the
# pointer), the files $W/NAME.WHAT named, and the tool's exit code.
end_case() {
  local what i=0
  sync_desktop
  if [ -n "$remote" ]; then
    kill -TERM $remote 2>/dev/null
    wait $remote
    while ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  fi
  for what in console remote "$@"; do
    [ -f $W/$name.$what ] && sed "s/^/$name $what| /" $W/$name.$what
  done
  tail -n +$((watch_at + 1)) $W/watch.log | sed "s/^/$name watch| /"
  tail -n +$((libinput_at + 1)) $W/libinput.log | sed "s/^/$name libinput| /"
  # GNOME Shell: "deskpos T pointer X Y BUTTONS"; KWin: "T js kwinpos X Y".
  tail -n +$((session_at + 1)) $W/session.log |
    sed -n 's/.* deskpos [0-9.]* pointer \([0-9]* [0-9]* [0-9]*\)$/\1/p; s/.* kwinpos \([-0-9]* [-0-9]*\)$/\1/p' |
    sed "s/^/$name compositor| /"
  echo "$name exit| $code"
}

echo "@@ begin $session"
echo "@@ kernel $(uname -r), $(nproc) CPU"
# The tool's udev rules and the virtual remote's (a USB-bus device, which the
# tool's rule for Bluetooth does not name), as the package installs them.
cp $D/rules/*.rules /etc/udev/rules.d/
udevadm control --reload
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
udevadm settle --timeout=30
# The logs, copied out as they grow (a VM stopped by its time limit still
# tells): the session's, the watchers', and each case's files.
mkdir -p $O/live
( while sleep 10; do
    cp $W/session.log $O/session.log 2>/dev/null
    cp $W/*.log $W/*.remote $W/*.console $O/live/ 2>/dev/null
    ps -eo pid,user,ni,pcpu,time,comm --sort=-time | head -n 15 > $O/live/ps.txt
  done ) &
copier=$!

i=0
while [ ! -S $xdg/wayland-0 ] && [ $i -lt 600 ]; do
  grep -q "compositor exited" $W/session.log 2>/dev/null && break
  sleep 0.5
  i=$((i + 1))
done
echo "@@ compositor socket at $(up): $(ls $xdg 2>&1 | tr '\n' ' ')"
ready=1
if [ ! -S $xdg/wayland-0 ]; then
  echo "@@ no compositor; its log says:"
  tail -n 30 $W/session.log | sed 's/^/@@   /'
  ready=0
fi

if [ $ready = 1 ]; then
  # The compositor and the watchers work on every cursor move: niced, so that
  # the virtual remote and the tool keep their pace.
  for p in $(pgrep -u tester -x gnome-shell) $(pgrep -u tester -x kwin_wayland) $(pgrep -u tester -x Xwayland); do
    renice -n 10 -p $p >/dev/null
  done
  desktop-key > $W/key.log 2>&1 &
  key=$!
  stdbuf -oL libinput debug-events --show-keycodes > $W/libinput.log 2>&1 &
  libinput=$!
  as_user desktop-watch > $W/watch.log 2>&1 &
  watch=$!
  renice -n 10 -p $libinput $watch >/dev/null
  wait_for_lines $W/watch.log '^ready' 1 300 || { echo "@@ the watcher did not map its windows:"; sed 's/^/@@   /' $W/watch.log; ready=0; }
fi
if [ $ready = 1 ]; then
  case $session in
    gnome)
      wait_for_lines $W/session.log 'deskpos .* overview hidden' 1 300 || echo "@@ the overview was not hidden"
      echo "@@ GNOME Shell: $(grep -o 'deskpos .* overview [a-z]*' $W/session.log | tail -1)" ;;
    kde)
      as_user gdbus call --session --dest org.kde.KWin --object-path /Scripting \
        --method org.kde.kwin.Scripting.loadScript $D/kwinpos.js kwinpos >/dev/null &&
      as_user gdbus call --session --dest org.kde.KWin --object-path /Scripting \
        --method org.kde.kwin.Scripting.start >/dev/null || echo "@@ kwinpos.js was not loaded" ;;
  esac
  # The first tap: the watcher has the keyboard and keys reach it.
  sync_desktop
  echo "@@ desktop ready at $(up): $(grep -c '^key 44 0$' $W/watch.log) tap(s) seen"
  sed 's/^/@@ watch| /' $W/watch.log
  for group in $D/cases/*.sh; do
    . "$group"
  done
  kill -INT $libinput; kill $watch $key
fi
kill $copier
cp $W/session.log $O/session.log 2>/dev/null
journalctl -b --no-pager > $O/journal.txt 2>&1
echo "@@ end at $(up)"
