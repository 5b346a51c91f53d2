# The real binary against the kernel's HID stack: a QEMU VM (no KVM here, so
# TCG) boots Debian's kernel with the virtual remote, Xvfb, an X observer and
# the tool, and tests/vm/check.sh reads what they saw from its serial console.
# One boot runs every case. Sourced by scripts/test.sh (uses $BUILD,
# apt_install, TESTS_PASSED and TESTS_FAILED).

vm_tests() {
  local tool=$BUILD/trevanquill
  local remote=$BUILD/tools/virtual-remote
  local observer=$BUILD/tools/pointer-observer
  local work=$BUILD/vm
  local out counts
  local f
  for f in "$tool" "$remote" "$observer"; do
    if [ ! -x "$f" ]; then
      echo "$f was not built; the VM test needs it" >&2
      TESTS_FAILED=$((TESTS_FAILED + 1))
      return 1
    fi
  done
  # libgstreamer-plugins-base1.0-0 is named so that apt's resolver finds a
  # set that qemu's spice library accepts.
  # A group of cases lists what more it needs in tests/vm/cases/NAME.packages.
  apt_install qemu-system-x86 libgstreamer-plugins-base1.0-0 busybox-static \
    xvfb xkb-data x11-xkb-utils $(cat "$TOP"/tests/vm/cases/*.packages 2>/dev/null) || return 1
  mkdir -p "$work"
  # A group of cases that needs something built on this machine first (a
  # program for another system, a prefix) says so in
  # tests/vm/cases/NAME.prepare, sourced here. When that fails, the VM still
  # boots: the group's cases then fail, the others run.
  for f in "$TOP"/tests/vm/cases/*.prepare; do
    [ -e "$f" ] || continue
    . "$f" || echo "cannot prepare $(basename "$f"): its cases will fail" >&2
  done
  # One boot, and its result counts: the guest's clock follows its own work
  # (see tests/vm/run-vm.sh), so the host's load slows the boot down but
  # does not change what the cases see.
  "$TOP/tests/vm/run-vm.sh" "$work" "$work/console.log" "$tool" "$remote" "$observer" ||
    echo "the VM did not run to its end (console: $work/console.log)" >&2
  out=$("$TOP/tests/vm/check.sh" "$work/console.log")
  echo "$out"
  counts=$(echo "$out" | sed -n 's/^vm cases: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p')
  if [ -z "$counts" ]; then
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  TESTS_PASSED=$((TESTS_PASSED + ${counts% *}))
  TESTS_FAILED=$((TESTS_FAILED + ${counts#* }))
  [ "${counts#* }" -eq 0 ] || { echo "VM console: $work/console.log" >&2; return 1; }
}

vm_tests
