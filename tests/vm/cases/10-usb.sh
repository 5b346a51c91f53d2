# The remote on the USB bus, where the generic HID driver binds it: no remote,
# a remote that never sends, a whole run, a remote that goes away mid-run, and
# a whole run with the newer model (product 0x0330).
# Sourced by the VM's init; checked by 10-usb.check.
run_case absent
run_case silent silent
run_case normal normal
run_case disconnect disconnect
run_case newer normal --product 0x0330

# The latency of the X11 way, when the image carries its benchmark
# (bench/kernel-path.sh).
if [ -x /usr/bin/kernel_path_bench ]; then
  . /bench/kernel-path-vm.sh
  kernel_path_x11
fi
