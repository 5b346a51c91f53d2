# The latency measures of bench/kernel-path.sh inside the test VM, sourced
# by the case groups when the image carries kernel_path_bench (see
# tests/vm/cases/40-wayland.image): kernel_path_x11 in the X session of the
# USB cases, kernel_path_uinput in the Wayland session while sway runs. Each
# measure prints one line "kp NAME| reports N moves M median A p99 B max C"
# (µs of guest time).

KP_COUNT=${KP_COUNT:-2000}

# kp_measure NAME READER PROGRAM...: the reader (x11, or evdev:DEVICE-NAME),
# a remote that streams KP_COUNT reports, and PROGRAM (the tool, or the
# floor) started once the remote's hidraw node is there. With the floor, the
# remote streams as soon as the node is opened; the tool ends at the remote's
# Home, the floor at SIGTERM.
kp_measure() {
  name=$1 reader=$2
  shift 2
  case_begins "$name"
  at_once=
  case $1 in kernel_path_bench) at_once=--at-once ;; esac
  case $reader in
    x11) kernel_path_bench x11 /tmp/$name.seen >/tmp/$name.reader 2>&1 & ;;
    evdev:*) kernel_path_bench evdev "${reader#evdev:}" /tmp/$name.seen >/tmp/$name.reader 2>&1 & ;;
  esac
  kp_reader=$!
  [ "$reader" = x11 ] && wait_for_line /tmp/$name.reader '^watching'
  kernel_path_bench remote "$KP_COUNT" /tmp/$name.writes $at_once >/tmp/$name.remote 2>&1 &
  kp_remote=$!
  wait_for_line /tmp/$name.remote '^remote created'
  i=0
  while [ ! -e /dev/hidraw0 ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  chmod 666 /dev/hidraw0
  "$@" </dev/null >/tmp/$name.console 2>&1 &
  kp_program=$!
  wait $kp_remote
  [ -n "$at_once" ] && kill -TERM $kp_program 2>/dev/null
  wait $kp_program
  code=$?
  kill -TERM $kp_reader
  wait $kp_reader
  i=0
  while [ -e /dev/hidraw0 ] && [ $i -lt 40 ]; do sleep 0.05; i=$((i + 1)); done
  echo "kp $name| $(kernel_path_bench stats /tmp/$name.writes /tmp/$name.seen) exit $code"
  for what in console reader; do
    tail -n 3 /tmp/$name.$what | sed "s/^/kp $name $what| /"
  done
}

kernel_path_x11() {
  kp_measure kp-x11-floor x11 kernel_path_bench floor-x11
  kp_measure kp-x11 x11 timeout 120 trevanquill
}

# In the Wayland session: the tool as the user, as the cases run it.
kernel_path_uinput() {
  kp_measure kp-uinput-floor "evdev:kernel path floor" kernel_path_bench floor-uinput
  kp_measure kp-uinput "evdev:trevanquill pointer" \
    su -p -s /bin/sh tester -c "export XDG_RUNTIME_DIR=$xdg HOME=/tmp; exec timeout 120 trevanquill"
}
