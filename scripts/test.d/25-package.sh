# The Debian package on the real tools: scripts/package.sh builds it, lintian
# finds no error in it, dpkg installs it, the tool found on PATH runs (no
# display here: exit 3 and its message), systemd-analyze verify passes its
# user service, the service's notification helper says the right thing on a
# real bus and never hangs, and dpkg removes it (purge) leaving none of its
# files. Each check counts as one test. Sourced by scripts/test.sh
# (uses apt_install, expect_no_display, TESTS_PASSED and TESTS_FAILED).
#
# It installs the package on this machine and removes it again, so it leaves a
# trevanquill package that was installed before alone (and fails, saying so).

package_pass() { echo "package: $*"; TESTS_PASSED=$((TESTS_PASSED + 1)); }
package_fail() { echo "package: FAILED: $*" >&2; TESTS_FAILED=$((TESTS_FAILED + 1)); }
# package_verdict PASS-TEXT WHAT [FAULT...]: one test passed (PASS-TEXT) when
# no fault is given, else one failed naming WHAT and the faults.
package_verdict() {
  local passed=$1 what=$2
  shift 2
  if [ $# -eq 0 ]; then
    package_pass "$passed"
    return 0
  fi
  package_fail "$what: $*"
  return 1
}

# The package's postinst and postrm, run on their own with udev's control
# socket looked for in a folder of the test's (a copy of each script with that
# path changed) and a udevadm that logs its arguments: with udev running they
# reload its rules and re-trigger the hidraw and input nodes and /dev/uinput; with no udev
# running they call nothing; a failing udevadm fails neither. Every case exits
# 0.
package_maintainer_scripts() {
  local deb=$1 dir script case bad=()
  dir=$(mktemp -d)
  dpkg-deb -e "$deb" "$dir/control"
  mkdir -p "$dir/bin" "$dir/run"
  printf '#!/bin/sh\necho "udevadm $*" >> "%s/calls"\nexit ${UDEVADM_EXIT:-0}\n' "$dir" > "$dir/bin/udevadm"
  chmod +x "$dir/bin/udevadm"
  for script in postinst postrm; do
    sed "s|/run/udev/control|$dir/run/control|g" "$dir/control/$script" > "$dir/$script"
    for case in running failing absent; do
      rm -f "$dir/calls" "$dir/run/control"
      # A listening socket where udev keeps its control socket.
      [ $case = absent ] || perl -MIO::Socket::UNIX -e \
        'IO::Socket::UNIX->new(Type => SOCK_STREAM(), Local => $ARGV[0], Listen => 1) or die' \
        "$dir/run/control"
      if ! PATH=$dir/bin:$PATH UDEVADM_EXIT=$([ $case = failing ] && echo 1 || echo 0) \
          sh "$dir/$script" configure; then
        bad+=("$script ($case) failed")
      fi
      if [ $case = absent ]; then
        [ ! -e "$dir/calls" ] || bad+=("$script ($case) called: $(cat "$dir/calls")")
      elif [ "$(cat "$dir/calls" 2>/dev/null)" != "udevadm control --reload
udevadm trigger --subsystem-match=hidraw --subsystem-match=input --action=change
udevadm trigger --sysname-match=uinput --action=change" ]; then
        bad+=("$script ($case) called: $(cat "$dir/calls" 2>/dev/null)")
      fi
    done
  done
  rm -rf "$dir"
  package_verdict "postinst and postrm reload udev where it runs, and never fail" \
    "maintainer scripts" "${bad[@]}"
}

# The user service: systemd-analyze verify finds nothing to say about its two
# units as the package installed them (any line it prints fails the check, as
# it only warns of an unknown key, with exit code 0).
package_user_units() {
  local out rc runtime
  runtime=$(mktemp -d)
  out=$(XDG_RUNTIME_DIR=$runtime systemd-analyze --user --man=no verify \
    /usr/lib/systemd/user/trevanquill.service /usr/lib/systemd/user/trevanquill-session.service 2>&1)
  rc=$?
  rm -rf "$runtime"
  if [ $rc -eq 0 ] && [ -z "$out" ]; then
    package_pass "systemd-analyze verify passes the user service's units"
    return 0
  fi
  package_fail "systemd-analyze verify (exit $rc): $out"
  return 1
}

# The service's notification helper, as installed, against a private bus
# (dbus-daemon) on which dbus-monitor records the calls (nobody answers them):
# the notification for each way the run ends, none for an end by Home or a
# skipped start; and against no bus, and a bus that accepts and never speaks,
# it ends with 0 within 5 s. Each row: ARGUMENT SERVICE_RESULT EXIT_CODE
# EXIT_STATUS | the summary and a piece of the body, or "none".
package_notify_helper() {
  local notify=/usr/libexec/trevanquill/notify dir daemon monitor row args want got start bad=()
  dir=$(mktemp -d)
  dbus-daemon --session --address="unix:path=$dir/bus" --nofork --nopidfile 2>/dev/null &
  daemon=$!
  local rows=(
    "started - - -|Wii Remote drives the mouse|Press Home on the remote to stop."
    "stopped success exited 0|none"
    "stopped exec-condition exited 1|none"
    "stopped exit-code exited 1|Wii Remote no longer drives the mouse|No Wii Remote was found."
    "stopped exit-code exited 2|Wii Remote no longer drives the mouse|The remote disconnected or sent no data, or another trevanquill drives it."
    "stopped exit-code exited 3|Wii Remote no longer drives the mouse|The desktop could not be reached"
    "stopped signal killed KILL|Wii Remote no longer drives the mouse|It ended: signal (killed KILL)."
  )
  for _ in $(seq 50); do [ -S "$dir/bus" ] && break; sleep 0.1; done
  for row in "${rows[@]}"; do
    read -r -a args <<< "${row%%|*}"
    want=${row#*|}
    dbus-monitor --address "unix:path=$dir/bus" \
      "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" > "$dir/calls" 2>/dev/null &
    monitor=$!
    sleep 0.3
    env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$dir" SERVICE_RESULT="${args[1]}" \
      EXIT_CODE="${args[2]}" EXIT_STATUS="${args[3]}" sh "$notify" "${args[0]}" || bad+=("${args[*]}: exit $?")
    sleep 0.3
    kill $monitor; wait $monitor 2>/dev/null
    got=$(sed -n '/member=Notify/,$p' "$dir/calls" | sed -n 's/^ *string "\(.*\)"$/\1/p' | sed -n '3,4p' | tr '\n' '|')
    if [ "$want" = none ]; then
      [ -z "$got" ] || bad+=("${args[*]}: notified '$got'")
    elif [ "${got%%|*}" != "${want%%|*}" ] || [[ "${got#*|}" != *"${want#*|}"* ]]; then
      bad+=("${args[*]}: notified '$got', expected '$want'")
    fi
  done
  kill $daemon; wait $daemon 2>/dev/null
  # No bus; then a bus that takes the connection and never answers.
  rm -f "$dir/bus"
  for bus in none mute; do
    if [ $bus = mute ]; then
      perl -MIO::Socket::UNIX -e '$s = IO::Socket::UNIX->new(Type => SOCK_STREAM(),
        Local => $ARGV[0], Listen => 1) or die; while (1) { push @c, $s->accept }' "$dir/bus" &
      daemon=$!
      for _ in $(seq 50); do [ -S "$dir/bus" ] && break; sleep 0.1; done
    fi
    start=$(date +%s)
    env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$dir" SERVICE_RESULT=exit-code EXIT_CODE=exited \
      EXIT_STATUS=2 sh "$notify" stopped || bad+=("$bus bus: exit $?")
    [ $(($(date +%s) - start)) -le 5 ] || bad+=("$bus bus: took $(($(date +%s) - start)) s")
    [ $bus = none ] || { kill $daemon; wait $daemon 2>/dev/null; }
  done
  rm -rf "$dir"
  package_verdict "the service's notifications say what ended the run, and never wait long" \
    "notification helper" "${bad[@]}"
}

package_tests() {
  local deb files f left=() missing=() rc=0
  apt_install lintian dpkg-dev file systemd dbus-daemon dbus-bin || return 1
  if dpkg-query -W -f='${Status}' trevanquill 2>/dev/null | grep -q 'ok installed'; then
    package_fail "a trevanquill package is installed here already; remove it first (dpkg -r trevanquill)"
    return 1
  fi

  deb=$(bash "$TOP/scripts/package.sh")
  if [ -z "$deb" ] || [ ! -f "$deb" ]; then
    package_fail "scripts/package.sh made no package"
    return 1
  fi
  package_pass "built $deb ($(stat -c %s "$deb") bytes)"
  dpkg-deb -f "$deb" Package Version Depends

  # Errors fail the check; the warnings and notes that are left are listed in
  # docs/platforms.md (Install).
  if lintian -I --fail-on error "$deb"; then
    package_pass "lintian reports no error"
  else
    package_fail "lintian reports errors"
    rc=1
  fi

  package_maintainer_scripts "$deb" || rc=1

  if ! as_root dpkg -i "$deb"; then
    package_fail "dpkg -i $deb"
    as_root dpkg -P trevanquill >/dev/null 2>&1
    return 1
  fi
  package_pass "dpkg -i installed it"
  files=$(dpkg -L trevanquill)
  for f in /usr/bin/trevanquill /usr/lib/udev/rules.d/70-trevanquill.rules \
           /usr/lib/udev/rules.d/60-trevanquill-uinput.rules /usr/lib/modules-load.d/trevanquill.conf \
           /usr/share/doc/trevanquill/README.md /usr/share/doc/trevanquill/copyright \
           /usr/share/doc/trevanquill/changelog.gz /usr/share/man/man1/trevanquill.1.gz \
           /usr/lib/systemd/user/trevanquill.service /usr/lib/systemd/user/trevanquill-session.service \
           /usr/libexec/trevanquill/notify /usr/lib/udev/rules.d/71-trevanquill-service.rules; do
    [ -f "$f" ] || missing+=("$f")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    package_pass "the tool, its udev rules, modules-load entry, user service, manual page and documents are in place"
  else
    package_fail "not installed: ${missing[*]}"
    rc=1
  fi

  if [ "$(command -v trevanquill)" = /usr/bin/trevanquill ]; then
    package_pass "trevanquill on PATH is /usr/bin/trevanquill"
  else
    package_fail "trevanquill on PATH is '$(command -v trevanquill)', not /usr/bin/trevanquill"
    rc=1
  fi
  expect_no_display trevanquill || rc=1
  package_user_units || rc=1
  package_notify_helper || rc=1

  if as_root dpkg -P trevanquill; then
    package_pass "dpkg -P removed it"
  else
    package_fail "dpkg -P trevanquill"
    return 1
  fi
  # Everything it installed is gone: its files and its own directories; the
  # shared directories (/usr/bin, ...) stay.
  while IFS= read -r f; do
    [ -n "$f" ] || continue
    if [ -d "$f" ]; then
      case $f in /usr/share/doc/trevanquill) left+=("$f") ;; esac
    elif [ -e "$f" ] || [ -L "$f" ]; then
      left+=("$f")
    fi
  done <<< "$files"
  if [ ${#left[@]} -eq 0 ] && ! dpkg-query -W trevanquill >/dev/null 2>&1; then
    package_pass "nothing of it is left ($(echo "$files" | wc -l) paths checked)"
  else
    package_fail "left after removal: ${left[*]:-its record in the dpkg database}"
    rc=1
  fi
  return $rc
}

package_tests
