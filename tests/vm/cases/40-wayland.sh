# The tool in a Wayland session: its virtual pointer on the kernel's uinput,
# seen by libinput (libinput-debug-events, as every compositor sees it) and
# by a real compositor (sway, headless with libinput, two monitors of
# different sizes side by side) that hands the pointer events to a native
# Wayland window (wev). First the two refusals (no uinput module; a user who
# may not open /dev/uinput), then whole runs ended by Home, by the remote
# going away, by SIGTERM and by the compositor going away. Sourced by the VM's
# init; checked by 40-wayland.check.

mkdir -p /run
mount -t tmpfs run /run
mkdir -p /run/udev /dev/shm
# wlroots and wev share their pixel buffers through POSIX shared memory.
mount -t tmpfs -o mode=1777 shm /dev/shm
/lib/systemd/systemd-udevd --daemon >/tmp/udevd.log 2>&1
udevadm trigger --action=add >/dev/null 2>&1
udevadm settle --timeout=30
xdg=/tmp/xdg
mkdir -p $xdg
chown tester:tester $xdg
chmod 700 $xdg

# as_tester COMMAND: runs the shell command as the ordinary user, in the
# session's environment, in place of the calling (sub)shell, so that $! of
# "as_tester ... &" is the command's own process.
as_tester() {
  exec su -p -s /bin/sh tester -c "export XDG_RUNTIME_DIR=$xdg HOME=/tmp; $1"
}

# sway_command COMMAND: tells the compositor to do something, as the user.
sway_command() {
  (as_tester "SWAYSOCK=\$(ls $xdg/sway-ipc.*.sock) exec swaymsg '$1'") >/dev/null 2>&1
}

# trevanquill devices the kernel has now.
uinput_devices() { grep -c '^N: Name="trevanquill' /proc/bus/input/devices; }

# wayland_case NAME SCENARIO [term|compositor|mouse|monitors]: the tool as
# the user, with WAYLAND_DISPLAY set, against a virtual remote playing
# SCENARIO; once the banner is out, "monitors" moves the second monitor
# below the first at once (and back after the run), and a second later "term" sends
# the tool SIGTERM and "compositor" ends the compositor; "mouse" moves a
# second, relative mouse by (150, 200) about 2.9 s into the scenario. What libinput and wev saw meanwhile is printed as NAME libinput| and
# NAME wev| lines; NAME devices| says how many of the tool's devices are
# left afterwards.
wayland_case() {
  name=$1 scenario=$2 how=${3:-}
  case_begins "$name"
  wev_start=$(wc -l < /tmp/wev.log 2>/dev/null || echo 0)
  li_start=$(wc -l < /tmp/libinput.log 2>/dev/null || echo 0)
  virtual-remote /scenarios/$scenario.scn >/tmp/$name.remote 2>&1 &
  remote=$!
  wait_for_line /tmp/$name.remote ' start$'
  i=0
  while ! ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  udevadm settle --timeout=10
  # What logind's uaccess tag would give the user at the seat.
  chmod 666 /dev/hidraw*
  as_tester "exec timeout 30 trevanquill </dev/null >/tmp/$name.console 2>&1" &
  tool=$!
  if [ -n "$how" ]; then
    wait_for_line /tmp/$name.console 'Home button'
    [ "$how" = monitors ] && sway_command "output HEADLESS-2 position 0 768"
    # The banner comes about 0.1 s after the remote was opened, where the
    # scenario's clock starts. The mouse moves between the read-back
    # scenario's two presses (1.0-1.3 s and 4.5-4.8 s): in the middle of the
    # gap, not at the end of the first press. Guest time (see run-vm.sh).
    if [ "$how" = mouse ]; then sleep 2.8; else sleep 1; fi
    # How udev classed the tool's devices (what libinput goes by).
    for n in /sys/class/input/event*; do
      grep -q '^trevanquill' $n/device/name 2>/dev/null || continue
      echo "$(cat $n/device/name): $(SYSTEMD_PAGER=cat udevadm info -q property -n /dev/input/${n##*/} |
        grep '^ID_INPUT' | sort | tr '\n' ' ')"
    done >/tmp/$name.udev
    case $how in
      term) kill -TERM $tool ;;
      compositor) kill -TERM $sway ;;
      mouse) nudge-mouse 150 200 >/tmp/$name.mouse 2>&1 ;;
    esac
  fi
  wait $tool
  code=$?
  [ "$how" = monitors ] && sway_command "output HEADLESS-2 position 1024 0"
  sleep 0.5  # lets libinput and wev see the last events
  kill -TERM $remote 2>/dev/null
  wait $remote
  i=0
  while ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt 40 ]; do sleep 0.05; i=$((i + 1)); done
  for what in console remote mouse udev; do
    [ -f /tmp/$name.$what ] && sed "s/^/$name $what| /" /tmp/$name.$what
  done
  tail -n +$((wev_start + 1)) /tmp/wev.log | grep 'wl_pointer\]' | grep -v '\] frame$' |
    sed "s/^/$name wev| /"
  tail -n +$((li_start + 1)) /tmp/libinput.log | sed "s/^/$name libinput| /"
  echo "$name devices| $(uinput_devices)"
  echo "$name exit| $code"
}

# No uinput module: one line, exit 3, nothing sent to the remote.
rmmod uinput
case_begins wl-no-uinput
virtual-remote /scenarios/normal.scn >/tmp/wl-no-uinput.remote 2>&1 &
remote=$!
wait_for_line /tmp/wl-no-uinput.remote ' start$'
WAYLAND_DISPLAY=wayland-1 XDG_RUNTIME_DIR=$xdg timeout 30 trevanquill </dev/null >/tmp/wl-no-uinput.console 2>&1
code=$?
kill -TERM $remote; wait $remote
sed "s/^/wl-no-uinput console| /" /tmp/wl-no-uinput.console
sed "s/^/wl-no-uinput remote| /" /tmp/wl-no-uinput.remote
echo "wl-no-uinput exit| $code"
insmod /lib/modules/uinput.ko
udevadm settle --timeout=10

# The uinput pass benchmark, when the image has it: before any compositor,
# so the devices have no readers.
if [ -x /usr/bin/uinput_pass_bench ]; then
  case_begins wl-bench
  uinput_pass_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.5 2>&1 | sed 's/^/wl-bench| /'
fi

# /dev/uinput is root's (no logind here to act on the uaccess tag): the user
# is refused, with the way out in one line.
case_begins wl-denied
ls -l /dev/uinput | sed 's/^/wl-denied node| /'
(WAYLAND_DISPLAY=wayland-1 as_tester "exec timeout 30 trevanquill </dev/null >/tmp/wl-denied.console 2>&1")
code=$?
sed "s/^/wl-denied console| /" /tmp/wl-denied.console
echo "wl-denied exit| $code"

# The session: seatd hands the input devices to the user's compositor. The
# compositor and the two watchers work on every cursor move, on the VM's one
# emulated core: they run niced, so that the virtual remote keeps its pace
# (a press of 100 ms must not fall between two of its reports). They only
# see the events later for it, in the same order.
seatd -u tester -g tester >/tmp/seatd.log 2>&1 &
seatd=$!
i=0
while [ ! -S /run/seatd.sock ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
as_tester "WLR_BACKENDS=headless,libinput WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=2 WLR_LIBINPUT_NO_DEVICES=1 \
  LIBSEAT_BACKEND=seatd exec sway -c /etc/sway.conf >/tmp/sway.log 2>&1" &
sway=$!
renice -n 10 -p $sway >/dev/null
i=0
while ! ls $xdg/wayland-* >/dev/null 2>&1 && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
socket=$(ls $xdg | grep '^wayland-[0-9]*$' | head -1)
echo "@@ compositor socket '$socket' after $((i * 50)) ms"
export WAYLAND_DISPLAY=$socket
as_tester "exec stdbuf -oL wev >/tmp/wev.log 2>&1" &
wev=$!
renice -n 10 -p $wev >/dev/null
wait_for_line /tmp/wev.log 'configure: width: 1024; height: 768'
stdbuf -oL libinput-debug-events >/tmp/libinput.log 2>&1 &
libinput=$!
renice -n 10 -p $libinput >/dev/null
wait_for_line /tmp/libinput.log 'DEVICE_ADDED'
# What the user may do at the seat (logind would add an ACL for the user).
chown tester /dev/uinput

wayland_case wl-normal normal
wayland_case wl-disconnect disconnect
wayland_case wl-readback readback mouse
wayland_case wl-monitors normal monitors
wayland_case wl-term normal term
# The latency of the uinput way, while the compositor reads the devices
# (before the case that ends it), when the image carries its benchmark
# (bench/kernel-path.sh).
if [ -x /usr/bin/kernel_path_bench ]; then
  . /bench/kernel-path-vm.sh
  kernel_path_uinput
fi
wayland_case wl-compositor quiet compositor
unset WAYLAND_DISPLAY

kill -INT $libinput 2>/dev/null; wait $libinput
kill -TERM $wev $sway 2>/dev/null
wait $wev $sway 2>/dev/null
kill -TERM $seatd; wait $seatd
sed 's/^/wl-session sway| /' /tmp/sway.log | grep -i 'error\|libinput\|seat' | head -20
udevadm control --exit 2>/dev/null
