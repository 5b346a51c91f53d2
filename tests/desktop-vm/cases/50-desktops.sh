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
# the compositor and libinput look at the input devices the driver makes for
# it (buttons, accelerometer, infrared) as at every input device; opening
# and closing the infrared one sets the remote's camera up the driver's way
# and switches it off again. The whole normal scenario, its clock started
# with the tool (the driver opens the remote as soon as it binds it) once
# the devices' hotplug is over, with the remote pointing at the first target
# from the start: the reports sent while the tool's camera set-up runs carry
# points in the format the driver left the camera in, and they wait when the
# loop begins, which must leave their points out (the first placement is the
# first target's pixel).
begin_case $session-driver
sed 's/^0 *no-points.*/0    point 420 450/' $D/scenarios/normal.scn > $W/driver-pointing.scn
start_remote $W/driver-pointing.scn --bluetooth --clock-on-signal
grep -h . /sys/class/hidraw/hidraw*/device/input/input*/name 2>/dev/null | sed "s/^/$name devices| /"
udevadm settle --timeout=30
sleep 2
kill -USR1 $remote
run_tool
end_case
