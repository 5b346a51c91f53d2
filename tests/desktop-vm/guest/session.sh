#!/bin/bash
# The desktop session, started by the login shell of the user "tester" on tty1
# (autologin), so that logind has made an active session on seat0 and hands
# the compositor its DRM and input devices. Which compositor: the kernel
# command line's desk.session= (gnome: GNOME Shell; kde: KWin). Its output
# goes to /run/desk/session.log, which run.sh reads (the compositor's own view
# of the pointer is logged there). The compositor is not exec'ed: once it
# ends, the login stays, so getty does not log in again.
W=/run/desk
export W
session=$(sed -n 's/.*desk\.session=\([^ ]*\).*/\1/p' /proc/cmdline)
# run.sh reads the system's files into memory first (see there); the
# session starts once it is done (and the home it reads is the one in memory).
while [ ! -e $W/ready ]; do sleep 0.5; done
cd "$HOME"
exec >>$W/session.log 2>&1
echo "session $session on $(tty), XDG_SESSION_ID=${XDG_SESSION_ID:-} XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-}"
export XDG_SESSION_TYPE=wayland
case $session in
  gnome)
    # deskpos (GNOME Shell's own view of the pointer; it hides the overview
    # the shell shows at start-up); no animations, which only cost time here.
    mkdir -p ~/.local/share/gnome-shell/extensions
    cp -r /opt/desk/deskpos@trevanquill ~/.local/share/gnome-shell/extensions/
    dbus-run-session -- sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS" > $W/session.bus
      gsettings set org.gnome.shell enabled-extensions "['"'"'deskpos@trevanquill'"'"']"
      gsettings set org.gnome.desktop.interface enable-animations false
      exec gnome-shell --wayland --display-server' ;;
  kde)
    # kwinpos.js prints through the kwin_scripting category, each line with
    # the seconds since boot.
    export QT_LOGGING_RULES="kwin_scripting.debug=true" QT_MESSAGE_PATTERN="%{time boot} %{category} %{message}"
    export KWIN_COMPOSE=Q
    dbus-run-session -- sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS" > $W/session.bus
      exec kwin_wayland --drm --no-lockscreen --no-global-shortcuts' ;;
  *) echo "unknown session '$session'" ;;
esac
echo "compositor exited with $? at $(cut -d' ' -f1 /proc/uptime)"
exec sleep infinity
