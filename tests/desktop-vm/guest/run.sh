#!/bin/bash
# The desktop VM's cases, run as root by desk-run.service once tty1's
# autologin has started the session (session.sh); the VM powers off when it
# ends. Its output is /opt/out/run.log: lines "CASE WHAT| text" for what each
# case learnt, between "@@ begin SESSION" and "@@ end", which check.sh reads on
# the host.
#
# Nothing that the session and the cases run may wait for the host. The
# guest's clock counts instructions (-icount shift=0,sleep=off): when every
# program of the guest waits, the clock jumps at once to the next timer. A
# program that waits for a read of the host (the disk, or 9p) lets the clock
# run through every timer of the guest until the host answers, which on a
# loaded host is minutes of the guest's time (see docs/desktops.md). So,
# before the session starts, this script moves itself, the cases and the
# binaries from 9p into memory (a tmpfs at /run/desk, its copy of the share
# bound over /opt/desk), keeps its work files, its output and the session's
# user's home there (/opt/out gets copies), and reads the system's files into
# the page cache; only then does session.sh start the compositor. end_case
# prints the disk's reads during the case ("CASE disk| N reads"), which stay
# 0.
#
# Then it waits for the compositor and starts the watchers that every case
# reads: libinput's debug-events (the input devices as every compositor reads
# them), desktop-watch (a Wayland client with a fullscreen window on each
# monitor) and desktop-key (a keyboard whose taps mark the end of a case, see
# sync_desktop); GNOME: waits until the start-up overview is hidden; KDE:
# loads kwinpos.js (KWin's own view of the pointer). Then it sources each
# group of cases, /opt/desk/cases/*.sh (tests/desktop-vm/cases/), in the
# order of their names, with the helpers below at hand.
set -u
D=/opt/desk O=/opt/out W=/run/desk
if [ -z "${DESK_IN_MEMORY:-}" ]; then
  # The start from 9p: the share into memory, and this script again from there.
  mkdir -p $W
  mount -t tmpfs -o mode=1777 desk $W && mkdir $W/share && cp -a $D/. $W/share/ &&
    mount --bind $W/share $D
  DESK_IN_MEMORY=1 exec $D/run.sh
fi
exec > $W/run.log 2>&1
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

# disk_reads: the reads the VM's disk has completed since boot.
disk_reads() { read -r n _ < /sys/block/vda/stat; echo $n; }

# begin_case NAME: where the watchers' files stand when the case begins.
begin_case() {
  name=$1
  echo "@@ case $name at $(up)"
  watch_at=$(wc -l < $W/watch.log)
  libinput_at=$(wc -l < $W/libinput.log)
  session_at=$(wc -l < $W/session.log)
  reads_at=$(disk_reads)
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
# A tool still running after 60 s (far beyond any scenario) is stuck: what
# it and the remote wait in is printed then, before the limit ends it.
run_tool() {
  local i=0 p
  as_user timeout 120 trevanquill < /dev/null > $W/$name.console 2>&1 &
  local tool=$!
  while kill -0 $tool 2>/dev/null; do
    sleep 1
    i=$((i + 1))
    [ $i = 60 ] || continue
    echo "@@ $name: the tool still runs after 60 s; what waits where:"
    ps -eo pid,stat,ni,wchan:24,time,comm | grep -E 'trevanquill|virtual-remote|kwin|gnome-shell|Xwayland' | sed 's/^/@@   /'
    for p in $(pidof trevanquill virtual-remote); do
      echo "@@   $p $(cat /proc/$p/comm): syscall $(cat /proc/$p/syscall)"
      sed 's/^/@@     /' /proc/$p/stack 2>/dev/null
    done
  done
  wait $tool
  code=$?
  echo "@@ tool of $name ended at $(up) with $code"
}

# end_case [WHAT...]: waits until the watcher has had every event, ends the
# remote, and prints what the case learnt: the tool's console, the remote's
# log, the watchers' lines since begin_case (watch: desktop-watch;
# libinput: debug-events; compositor: the compositor's own view of the
# pointer), the files $W/NAME.WHAT named, the tool's exit code, and the
# reads of the VM's disk since begin_case.
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
  echo "$name disk| $(($(disk_reads) - reads_at)) reads"
}

echo "@@ begin $session"
echo "@@ kernel $(uname -r), $(nproc) CPU"
[ "$(stat -f -c %T $D)" = tmpfs ] || echo "@@ $D was not moved into memory"
# The logs, copied out as they grow (a VM stopped by its time limit still
# tells): this script's, the session's, the watchers', and each case's files.
# At the lowest priority: its writes over 9p end when the host lets them.
mkdir -p $O/live
( while sleep 10; do
    cp $W/run.log $O/run.log
    cp $W/session.log $O/session.log 2>/dev/null
    cp $W/*.log $W/*.remote $W/*.console $O/live/ 2>/dev/null
    ps -eo pid,user,ni,pcpu,time,comm --sort=-time | head -n 15 > $O/live/ps.txt
  done ) &
copier=$!
renice -n 19 -p $copier >/dev/null
# Every file of the system that the session or a case may read, read once,
# so that the page cache holds it: about 1 GB of the image's 1.9 (the
# kernel's modules other than the HID and input drivers, the firmware,
# documentation, translations and apt's lists are left out).
modules=/usr/lib/modules/$(uname -r)
before=$(disk_reads)
{ find / -xdev \( -path $modules -o -path /usr/lib/firmware -o -path /usr/share/doc -o -path /usr/share/man \
      -o -path /usr/share/help -o -path /usr/share/locale -o -path /var/lib/apt -o -path /var/cache/apt \
      -o -path /boot \) -prune -o -type f -print0
  find $modules -maxdepth 1 -type f -print0
  find $modules/kernel/drivers/hid $modules/kernel/drivers/input -type f -print0; } | xargs -0 cat > /dev/null
echo "@@ preload: $(($(disk_reads) - before)) reads of the disk; memory: $(free -m | awk '$1 == "Mem:" { print $2 " MB, " $3 " used, " $6 " cache" }')"
# The session's user's home in memory too: the compositors save their
# settings there, KWin with fsync, which waits for the host's disk.
mkdir $W/home
cp -a /home/tester/. $W/home/
chown tester:tester $W/home
mount --bind $W/home /home/tester
# session.sh starts the compositor now.
touch $W/ready
# The tool's udev rules and the virtual remote's (a USB-bus device, which the
# tool's rule for Bluetooth does not name), as the package installs them.
cp $D/rules/*.rules /etc/udev/rules.d/
udevadm control --reload
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
udevadm settle --timeout=30

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
cp $W/run.log $O/run.log
