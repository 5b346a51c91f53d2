# The remote on the USB bus, where the generic HID driver binds it: no remote,
# a remote that never sends, a whole run, and a remote that goes away mid-run.
# Sourced by the VM's init; checked by 10-usb.check.
run_case absent
run_case silent silent
run_case normal normal
run_case disconnect disconnect
