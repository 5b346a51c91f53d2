#!/usr/bin/env bash
# Builds the desktop VM's image once and keeps it: a Debian 12 system with
# systemd as init, logind, udev, polkit, GNOME Shell, KWin and Mesa (the
# packages listed in ./packages), the user "tester" logged in on tty1 without
# a password, packed into an ext4 disk image:
#   build-image.sh CACHE
# prints the folder of the image (CACHE/image-KEY: disk.img, vmlinuz,
# initrd.img, build-time.txt). KEY is taken from the package list and this
# script, so an image is built again only when one of them changed; older
# images in CACHE are removed. Needs root, debootstrap and e2fsprogs; fetches
# the packages from the Debian archive the machine's own apt uses. About 6
# minutes and 2 GB.
#
# What the image does at boot (the rest comes from the shares at each boot,
# so that a change to the cases needs no new image): it mounts the 9p share
# "desk" (read-only, the cases and the binaries) at /opt/desk and "out" at
# /opt/out; tester's login shell on tty1 runs /opt/desk/session.sh, which
# starts the session's compositor; desk-run.service runs /opt/desk/run.sh as
# root (output in /opt/out/run.log) and powers the VM off when it ends.
set -eu
cache=$1
here=$(cd "$(dirname "$0")" && pwd)
key=$(cat "$here/packages" "$here/build-image.sh" | sha256sum | cut -c1-16)
image=$cache/image-$key
if [ -e "$image/.done" ]; then
  echo "$image"
  exit 0
fi

mapfile -t pkgs < <(sed 's/#.*//; /^ *$/d' "$here/packages")
# The machine's own Debian archive (its deb822 sources or sources.list), so
# that no archive is named here.
mirror=$(sed -n 's/^URIs: *\([^ ]*\/debian\/\{0,1\}\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || { echo "no Debian archive in this machine's apt sources" >&2; exit 1; }

mkdir -p "$cache"
work=$cache/building
root=$work/rootfs
start=$(date +%s)
mounted=()
cleanup() {
  local m
  for m in "${mounted[@]:-}"; do [ -n "$m" ] && { umount -l "$m" 2>/dev/null || true; }; done
  mounted=()
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

# retry WHAT COMMAND...: a mirror in the middle of a sync may fail a download.
retry() {
  local what=$1 try
  shift
  for try in 1 2 3 4 5; do
    "$@" && return 0
    echo "$what failed (try $try), retrying in 15 s" >&2
    sleep 15
  done
  return 1
}

retry debootstrap nice debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }

# The guest's apt uses the machine's sources as they are.
rm -f "$root/etc/apt/sources.list"
cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/" 2>/dev/null ||
  cp /etc/apt/sources.list "$root/etc/apt/sources.list"
for m in proc sys dev dev/pts; do
  mount --bind "/$m" "$root/$m"
  mounted=("$root/$m" "${mounted[@]:-}")
done
# No service starts inside the chroot.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive "$@"; }
retry "apt-get update" in_root apt-get update -q >"$work/apt.log" 2>&1 ||
  { tail -n 20 "$work/apt.log" >&2; exit 1; }
retry "apt-get install" in_root nice apt-get install -y -q --no-install-recommends "${pkgs[@]}" >>"$work/apt.log" 2>&1 ||
  { tail -n 20 "$work/apt.log" >&2; exit 1; }
in_root apt-get clean
rm -f "$root/usr/sbin/policy-rc.d"
# The versions of what the cases test (docs/desktops.md names them).
in_root dpkg-query -W gnome-shell mutter kwin-wayland libinput-tools linux-image-amd64 polkitd systemd > "$work/versions.txt"

# The user of the desktop session, logged in on tty1 without a password; the
# session's compositor comes from its login shell.
in_root sh -c 'id tester >/dev/null 2>&1 || useradd -m -u 1000 -s /bin/bash tester'
in_root passwd -d root >/dev/null
mkdir -p "$root/etc/systemd/system/getty@tty1.service.d"
cat > "$root/etc/systemd/system/getty@tty1.service.d/autologin.conf" <<'UNIT'
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin tester --noclear %I $TERM
UNIT
cat > "$root/home/tester/.bash_profile" <<'PROFILE'
if [ "$(tty)" = /dev/tty1 ] && [ -x /opt/desk/session.sh ]; then
  exec /opt/desk/session.sh
fi
PROFILE
in_root chown tester:tester /home/tester/.bash_profile

# The shares, the modules the cases need, and the service that runs them.
mkdir -p "$root/opt/desk" "$root/opt/out"
cat > "$root/etc/fstab" <<'FSTAB'
/dev/vda / ext4 rw,noatime 0 1
desk /opt/desk 9p trans=virtio,version=9p2000.L,msize=262144,ro,nofail 0 0
out /opt/out 9p trans=virtio,version=9p2000.L,msize=262144,nofail 0 0
FSTAB
printf '9pnet_virtio\n9p\nuinput\nuhid\n' > "$root/etc/modules-load.d/desk.conf"
# Not ordered after multi-user.target: that target waits for the units it
# wants, so such an order would be a cycle.
cat > "$root/etc/systemd/system/desk-run.service" <<'UNIT'
[Unit]
Description=the desktop VM's cases
After=getty@tty1.service systemd-user-sessions.service
RequiresMountsFor=/opt/desk /opt/out

[Service]
Type=simple
ExecStart=/bin/sh -c '/opt/desk/run.sh > /opt/out/run.log 2>&1; systemctl poweroff --no-block'
StandardOutput=journal+console

[Install]
WantedBy=multi-user.target
UNIT
in_root systemctl enable desk-run.service getty@tty1.service >/dev/null 2>&1
in_root systemctl mask serial-getty@ttyS0.service apt-daily.timer apt-daily-upgrade.timer \
  e2scrub_reap.service man-db.timer >/dev/null 2>&1 || true
echo desk > "$root/etc/hostname"

cp -L "$root/vmlinuz" "$work/vmlinuz"
cp -L "$root/initrd.img" "$work/initrd.img"
cleanup
nice mkfs.ext4 -q -F -L desk -d "$root" "$work/disk.img" 6G >&2
rm -rf "$root"
end=$(date +%s)
echo "image built in $((end - start)) s; $(du -h "$work/disk.img" | cut -f1) used of its 6 GB" | tee "$work/build-time.txt" >&2
cat "$work/versions.txt" >&2
rm -rf "$cache"/image-*
touch "$work/.done"
mv "$work" "$image"
echo "$image"
