# The tool in a GNOME or KDE session on Wayland (the session this boot runs:
# $session), its virtual pointer on the kernel's uinput, seen by libinput,
# by a Wayland client (desktop-watch) and by the compositor's own cursor.
# Sourced by run.sh; checked by 50-desktops.check. Each case's name starts
# with the session's.

# (a) A whole run of the normal scenario: the cursor path, clicks, the wheel.
begin_case $session-normal
start_remote normal
run_tool
end_case

# (b) A placement on the second monitor, a click and a wheel step there.
begin_case $session-spread
start_remote spread
run_tool
end_case

# (c) The remote goes away while B is held: the tool ends, and the button is
# released for the compositor.
begin_case $session-held
start_remote disconnect
run_tool
end_case

# (d) The kernel's own driver bound to the remote (a Bluetooth-bus remote):
# the compositor opens the input devices the driver makes for it (buttons,
# accelerometer, infrared) as it opens every input device. The whole normal
# scenario, then Up once the tool has ended, which the driver's button device
# hands to the compositor again. The scenario's clock starts with the tool
# (the driver opens the remote as soon as it binds it).
begin_case $session-driver
{ cat $D/scenarios/normal.scn; printf '10000 buttons up\n10200 buttons none\n'; } > $W/driver-normal.scn
start_remote $W/driver-normal.scn --bluetooth --clock-on-signal
# The driver's button device, once libinput (as the compositor does) has
# opened it.
wait_for_lines $W/libinput.log 'DEVICE_ADDED.*Nintendo Wii Remote ' 1 60 ||
  echo "@@ libinput did not add the driver's button device"
sleep 2
grep -h . /sys/class/hidraw/hidraw*/device/input/input*/name 2>/dev/null | sed "s/^/$name devices| /"
kill -USR1 $remote
run_tool
# The Up after the tool, as the compositor's client got it.
wait_for_lines $W/watch.log '^key 103 0$' 1 120 || echo "@@ no Up reached the watcher after the tool"
end_case
