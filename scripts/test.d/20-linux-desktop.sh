# The Linux backend against a real X server: Xvfb, started here and ended
# again. Sourced by scripts/test.sh (uses $BUILD, apt_install, run_ctest).

linux_desktop_tests() {
  apt_install xvfb libhidapi-dev libxtst-dev libxi-dev || return 1
  local fdfile xvfb_pid display rc waited=0
  fdfile=$(mktemp)
  # -noreset: the pointer is not reset when the last client leaves;
  # -displayfd: the server picks a free display and writes its number.
  Xvfb -noreset -displayfd 3 -screen 0 1280x1024x24 3>"$fdfile" 2>/dev/null &
  xvfb_pid=$!
  while [ ! -s "$fdfile" ] && [ $waited -lt 100 ] && kill -0 "$xvfb_pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
  done
  display=$(head -n1 "$fdfile")
  rm -f "$fdfile"
  if [ -z "$display" ]; then
    echo "Xvfb did not start" >&2
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    return 1
  fi
  echo "Xvfb on :$display"
  DISPLAY=":$display" run_ctest "$BUILD" -L desktop
  rc=$?
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  return $rc
}

linux_desktop_tests
