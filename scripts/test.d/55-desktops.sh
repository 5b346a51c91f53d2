# The tool under GNOME Shell and KWin on Wayland: a QEMU VM (TCG) boots a
# Debian 12 system with systemd, logind, polkit and the compositor on a DRM
# device, once per desktop (both at once); tests/desktop-vm/check.sh reads what its cases
# saw. The VM's image is built on the first run (about 6 minutes) and kept in
# $BUILD/desktop-vm/cache, keyed by its package list. One boot per desktop,
# and its result counts. Sourced by scripts/test.sh (uses $BUILD,
# apt_install, TESTS_PASSED and TESTS_FAILED).

desktop_vm_tests() {
  local work=$BUILD/desktop-vm
  local here=$TOP/tests/desktop-vm
  local image session out counts f start rc=0
  for f in trevanquill tools/virtual-remote tools/desktop-watch tools/desktop-key; do
    if [ ! -x "$BUILD/$f" ]; then
      echo "$BUILD/$f was not built; the desktop VM needs it" >&2
      TESTS_FAILED=$((TESTS_FAILED + 1))
      return 1
    fi
  done
  # libgstreamer-plugins-base1.0-0: see 50-vm.sh.
  apt_install qemu-system-x86 libgstreamer-plugins-base1.0-0 debootstrap e2fsprogs || return 1
  start=$(date +%s)
  if ! image=$(as_root "$here/build-image.sh" "$work/cache"); then
    echo "the desktop VM's image was not built" >&2
    TESTS_FAILED=$((TESTS_FAILED + 1))
    return 1
  fi
  echo "desktop VM image: $image ($(($(date +%s) - start)) s here; $(cat "$image/build-time.txt"))"
  # The two boots side by side: each QEMU runs its guest on one host thread
  # (guest time counted in instructions), and the machine has two cores.
  # The Debian package, which the user service's cases install (the one that
  # test.d/25-package.sh had scripts/package.sh make).
  local deb
  deb=$(ls "$TOP"/build-package/trevanquill_*.deb 2>/dev/null | head -n 1)
  local boots=()
  for session in gnome kde; do
    as_root env DESK_FILES="$deb" "$here/boot.sh" "$image" "$BUILD" "$work/$session" "$session" \
      > "$work/$session.boot.log" 2>&1 &
    boots+=($!)
  done
  wait "${boots[@]}"
  for session in gnome kde; do
    cat "$work/$session.boot.log"
    out=$("$here/check.sh" "$work/$session/out/run.log" "$session")
    echo "$out"
    counts=$(echo "$out" | sed -n 's/^desktop cases: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p')
    TESTS_PASSED=$((TESTS_PASSED + ${counts% *}))
    TESTS_FAILED=$((TESTS_FAILED + ${counts#* }))
    [ "${counts#* }" -eq 0 ] || { echo "desktop VM ($session): see $work/$session/out" >&2; rc=1; }
  done
  return $rc
}

desktop_vm_tests
