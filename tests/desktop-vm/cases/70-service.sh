# The package's user service (trevanquill.service) in a logged-in session:
# the package installed with dpkg, the service enabled by the session's user,
# the virtual remote connecting and going away as a real one does. Run in the
# GNOME boot only: the service does not depend on the compositor. Sourced by
# run.sh; checked by 70-service.check. Every case prints, besides what
# end_case prints, "CASE unit| ActiveState Result ExecMainStatus
# InvocationID-count", the tool's lines in the journal as its console, and
# "CASE times| ..." (seconds of the guest's clock).
if [ "$session" = gnome ]; then

# svc ARGS...: systemctl --user of the session's user (its manager's own
# socket; the session bus of this image is a private one).
svc() { runuser -u tester -- env XDG_RUNTIME_DIR=$xdg systemctl --user "$@"; }
svc_state() { svc show -p ActiveState --value trevanquill.service; }
# svc_wait_state STATE...: until trevanquill.service is in one of these
# states, at most 120 s.
svc_wait_state() {
  local i=0 s
  while [ $i -lt 1200 ]; do
    s=$(svc_state)
    for want in "$@"; do [ "$s" = "$want" ] && return 0; done
    sleep 0.1
    i=$((i + 1))
  done
  echo "@@ $name: trevanquill.service stayed $s, not $*"
  return 1
}
# svc_wait_new_invocation: until the service has an invocation id other than
# the one it had at begin_svc (a start began), at most 120 s.
svc_wait_new_invocation() {
  local i=0
  while [ "$(svc show -p InvocationID --value trevanquill.service)" = "$invocation" ] && [ $i -lt 1200 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  [ "$(svc show -p InvocationID --value trevanquill.service)" != "$invocation" ] ||
    echo "@@ $name: trevanquill.service was not started"
}
svc_wait_device() {
  local i=0
  while ! svc -q is-active sys-subsystem-trevanquill-remote.device && [ $i -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
  done
}
begin_svc() {
  begin_case $1
  invocation=$(svc show -p InvocationID --value trevanquill.service)
  journal_cursor=$(journalctl -b -n 0 --show-cursor --no-pager 2>/dev/null | sed -n 's/^-- cursor: //p')
}
# end_svc: the unit's state, and the tool's own lines of the journal (since
# begin_svc) as its console; then end_case.
end_svc() {
  echo "$name unit| $(svc show -p ActiveState --value trevanquill.service) $(svc show -p Result --value trevanquill.service) $(svc show -p ExecMainStatus --value trevanquill.service)"
  # journald may hand on the tool's last lines a moment after it ended.
  sleep 1
  # By the process: the first line of a run lacks the unit's and the user's
  # fields in the journal (it is there, for instance in journalctl -b).
  local pid
  pid=$(svc show -p ExecMainPID --value trevanquill.service)
  if [ "$(svc show -p InvocationID --value trevanquill.service)" != "$invocation" ] && [ "${pid:-0}" != 0 ]; then
    journalctl -b --no-pager -o cat _PID=$pid > $W/$name.console 2>&1
  fi
  journalctl -b --no-pager -o short-monotonic --after-cursor="$journal_cursor" _SYSTEMD_USER_UNIT=trevanquill.service > $W/$name.journal 2>&1
  journalctl -b --no-pager -o short-monotonic --after-cursor="$journal_cursor" USER_UNIT=trevanquill.service >> $W/$name.journal 2>&1
  end_case journal "$@"
}
# first_motion_after LINES: the guest time at which the watcher's log first
# has a motion line past LINES (polled every 20 ms), at most 120 s.
first_motion_after() {
  local i=0
  while [ $i -lt 6000 ]; do
    tail -n +$(($1 + 1)) $W/watch.log | grep -q '^motion ' && { up; return; }
    sleep 0.02
    i=$((i + 1))
  done
  echo none
}

# Set-up: the package, as a user installs it, and the notification service's
# calls watched on the session's bus.
begin_case svc-install
dpkg -i $D/files/trevanquill_*.deb > $W/$name.dpkg 2>&1
echo "$name dpkg| exit $?"
as_user dbus-monitor "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" > $W/notify.log 2>&1 &
monitor=$!
# Nothing is in the manager's environment yet: GNOME Shell is started bare here.
svc unset-environment WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS
echo "$name enabled| $(svc is-enabled trevanquill.service 2>&1)"

# (a) Not opted in: the remote's device unit comes and the service stays
# untouched.
begin_svc svc-optout
start_remote normal
svc_wait_device
echo "$name device| $(svc show -p ActiveState --value sys-subsystem-trevanquill-remote.device)"
sleep 2
echo "$name jobs| $(svc list-jobs --no-legend | grep -c trevanquill)"
echo "$name invocation| $([ "$(svc show -p InvocationID --value trevanquill.service)" = "$invocation" ] && echo same || echo new)"
end_svc

# (b) Opted in; the remote connects before the session's display is known to
# the manager (as at login): the start is skipped and the tool does not run.
# Then the display is made known (what the documentation says for bare
# compositors) and trevanquill-session.service, which graphical-session.target
# starts in GNOME's and KDE's own sessions, hands the remote to the tool: a
# short run, Home, exit 0.
begin_svc svc-login
svc enable trevanquill.service > $W/$name.enable 2>&1
echo "$name enabled| $(svc is-enabled trevanquill.service trevanquill-session.service | tr '\n' ' ')"
start_remote service-short
svc_wait_device
svc_wait_new_invocation
svc_wait_state inactive failed
echo "$name skipped| $(svc show -p Result --value trevanquill.service)"
invocation=$(svc show -p InvocationID --value trevanquill.service)
as_user systemctl --user import-environment WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
svc start trevanquill-session.service
svc_wait_new_invocation
svc_wait_state inactive failed
end_svc

# (c) The remote connects while the session runs: the service starts by
# itself, the whole scenario, Home, exit 0. The time from the remote's
# appearance to the first cursor move is printed.
begin_svc svc-connect
connect_at=$(up)
start_remote normal
moved_at=$(first_motion_after $watch_at)
echo "$name times| appeared $connect_at moved $moved_at"
svc_wait_new_invocation
svc_wait_state inactive failed
end_svc

# (d) It goes away mid-run: exit 2 and "Wii-Remote disconnected." in the
# journal; then (e) it connects again and runs again (a short run).
begin_svc svc-vanish
start_remote disconnect
svc_wait_new_invocation
svc_wait_state inactive failed
end_svc
begin_svc svc-again
start_remote service-short
svc_wait_new_invocation
svc_wait_state inactive failed
end_svc

# (f) The tool started by hand while the service drives the remote: the
# message and exit 2; the service's run goes on undisturbed (the scenario's
# moves wait 6 s of the guest's clock, past the hand-started tool's end).
begin_svc svc-hand
start_remote service-hand
svc_wait_new_invocation
svc_wait_state active
# The service's tool has set the remote up (its last set-up report).
wait_for_lines $W/$name.remote ' out 16 04 b0 00 33' 1 120 || echo "@@ $name: the service's tool did not set the remote up"
as_user timeout 60 trevanquill < /dev/null > $W/$name.hand 2>&1
echo "$name hand exit| $?"
echo "$name hand at| $(up)"
svc_wait_state inactive failed
end_svc hand

kill $monitor 2>/dev/null
sed "s/^/svc-notify notify| /" $W/notify.log
svc disable trevanquill.service > $W/svc-disable.log 2>&1
echo "svc-notify disabled| $(svc is-enabled trevanquill.service trevanquill-session.service 2>&1 | tr '\n' ' ')"
fi
