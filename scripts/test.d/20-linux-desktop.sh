# The Linux backend against a real X server: Xvfb, started here and ended
# again. Sourced by scripts/test.sh (uses $BUILD, apt_install, run_ctest).

linux_desktop_tests() {
  apt_install xvfb libhidapi-dev libxtst-dev libxi-dev || return 1
  local rc
  start_xvfb -noreset || return 1
  echo "Xvfb on $XVFB_DISPLAY"
  DISPLAY=$XVFB_DISPLAY run_ctest "$BUILD" -L desktop
  rc=$?
  stop_xvfb
  return $rc
}

linux_desktop_tests
