# The kernel's driver bound to the remote, and another program opening the
# driver's infrared device while the tool runs: the driver then enables the
# camera in a point format of its own and selects mode 0x36, and on the
# close switches the camera off and selects 0x30. libinput (every Wayland
# compositor's input library) does so with each device udev announces: it
# opens it, finds a joystick and closes it. Each case is the whole normal
# scenario. Sourced by the VM's init after 30-wiimote-driver.sh (whose
# start_driver_case, driver_node and note it uses); checked by
# 45-driver-camera.check.

mountpoint -q /run 2>/dev/null || mount -t tmpfs run /run
mkdir -p /run/udev
/lib/systemd/systemd-udevd --daemon >/tmp/udevd-camera.log 2>&1
udevadm settle --timeout=30

ir_node() { driver_node "Nintendo Wii Remote IR"; }

# libinput_start NAME: libinput's tool, as a compositor runs it, until
# libinput_stop; what it says goes to /tmp/NAME.libinput.
libinput_start() {
  stdbuf -oL libinput-debug-events --verbose >/tmp/$1.libinput 2>&1 &
  libinput=$!
}
libinput_stop() {
  kill -INT $libinput 2>/dev/null
  wait $libinput
}

# ir-open: a program opens the infrared device 1.6 s into the run and closes
# it a second later.
start_driver_case ir-open normal
start_clock
note "tool starts"
start_tool
sleep 1.6
input-reader "$(ir_node)" >/dev/null 2>&1 &
ir=$!
sleep 1
kill -TERM $ir
wait $ir
wait_tool
note "tool ended"
end_driver_case

# ir-libinput: libinput's tool started 1.6 s into the run.
start_driver_case ir-libinput normal
start_clock
note "tool starts"
start_tool
sleep 1.6
libinput_start ir-libinput
wait_tool
note "tool ended"
libinput_stop
end_driver_case libinput

# ir-held: the infrared device held open from before the tool starts until
# after it ended.
start_driver_case ir-held normal
input-reader "$(ir_node)" >/dev/null 2>&1 &
ir=$!
sleep 0.5
start_clock
note "tool starts"
run_tool
note "tool ended"
kill -TERM $ir
wait $ir
end_driver_case

# ir-hotplug: libinput already running when the remote appears, as in a
# desktop session: it opens and closes the driver's devices at hotplug, and
# goes on running beside the tool.
libinput_start ir-hotplug
start_driver_case ir-hotplug normal
udevadm settle --timeout=10
start_clock
note "tool starts"
run_tool
note "tool ended"
libinput_stop
end_driver_case libinput

udevadm control --exit 2>/dev/null
