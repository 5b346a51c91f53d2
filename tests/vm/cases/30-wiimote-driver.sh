# The remote on the Bluetooth bus, where the kernel's own driver for it
# (hid-wiimote) binds it, makes input devices of its own ("Nintendo Wii
# Remote" for the buttons, "... Accelerometer", "... IR") and sends reports to
# it. Sourced by the VM's init; checked by 30-wiimote-driver.check.

# driver_node NAME: the event node of the driver's input device NAME.
driver_node() {
  for d in /sys/class/hidraw/hidraw*/device/input/input*; do
    [ "$(cat "$d/name" 2>/dev/null)" = "$1" ] || continue
    for e in "$d"/event*; do [ -e "$e" ] && echo "/dev/input/${e##*/}"; done
  done
}

# start_driver_case NAME SCENARIO: a remote on the Bluetooth bus whose
# scenario clock waits for start_clock; once the driver has bound it and is
# done with its own set-up, a reader of the driver's button device.
start_driver_case() {
  start_case "$1" "$2" --bluetooth --clock-on-signal
  i=0
  while [ -z "$(driver_node "Nintendo Wii Remote")" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  sleep 0.5
  input-reader "$(driver_node "Nintendo Wii Remote")" >>/tmp/$name.reader 2>&1 &
  reader=$!
  wait_for_line /tmp/$name.reader '^ready'
}

start_clock() { kill -USR1 $remote; }

# note WHAT: a line in the reader's file, in order with its events.
note() { echo "-- $1" >>/tmp/$name.reader; }

# end_driver_case [WHAT...]: as end_case, with the reader's lines too.
end_driver_case() {
  kill -TERM $reader
  wait $reader
  end_case reader "$@"
}

# (a) A whole run as in the USB case; the driver's button device sees no key
# while the tool runs and sees Up again after it ended.
{ cat /scenarios/normal.scn; printf '10000 buttons up\n10200 buttons none\n'; } >/tmp/driver-normal.scn
start_driver_case driver-normal /tmp/driver-normal.scn
start_clock
note "tool starts"
run_tool
note "tool ended"
sleep 1.8
end_driver_case

# (b) The mode changed under the tool: a status report, and the driver's
# accelerometer device opened and closed (which makes the driver select modes
# of its own).
start_driver_case driver-mode driver-mode
start_clock
note "tool starts"
start_tool
sleep 2.2
input-reader "$(driver_node "Nintendo Wii Remote Accelerometer")" >/dev/null 2>&1 &
accel=$!
sleep 0.8
kill -TERM $accel
wait $accel
wait_tool
note "tool ended"
end_driver_case

# (c) A key held as the tool starts, and the tool killed with SIGKILL
# mid-run: the key's release reaches the reader as the grab starts, and the
# kernel drops the grab with the tool, so the reader sees Up again.
start_driver_case driver-kill driver-kill
start_clock
sleep 0.3
note "tool starts"
start_tool
sleep 2.3
kill -KILL $(pidof trevanquill)
wait_tool
note "tool killed"
sleep 1.2
end_driver_case
