#!/usr/bin/env bash
# Assembles the VM's kernel and initramfs from the machine's own packages:
#   make-initramfs.sh CACHE OUT TREVANQUILL VIRTUAL_REMOTE POINTER_OBSERVER
# CACHE keeps the downloaded kernel package between runs. OUT receives vmlinuz
# and initramfs.cpio. Needs busybox-static, xvfb (with xkb-data and
# x11-xkb-utils) installed on this machine. A group of cases that needs more in
# the image (modules, programs, files) says so in tests/vm/cases/NAME.image,
# sourced here after the common parts with add_module and add_program at hand
# (the Debian packages it takes them from are listed in NAME.packages).
set -eu
cache=$1 out=$2 tool=$3 remote=$4 observer=$5
here=$(cd "$(dirname "$0")" && pwd)
modules=(hid uhid hid-generic)

mkdir -p "$cache" "$out"

# Debian's kernel, unpacked (not installed). The package is the one the
# linux-image-amd64 meta package names.
kdeb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | grep -v -- '-unsigned' | head -1 || true)
if [ -z "$kdeb" ]; then
  kpkg=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1)
  [ -n "$kpkg" ] || { echo "cannot tell which kernel linux-image-amd64 names" >&2; exit 1; }
  # A mirror in the middle of a sync may fail a download: try a few times.
  for try in 1 2 3 4; do
    (cd "$cache" && apt-get download "$kpkg" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    ls "$cache"/"$kpkg"_*.deb >/dev/null 2>&1 && break
    echo "downloading $kpkg failed (try $try), retrying in 15 s" >&2
    sleep 15
  done
  kdeb=$(ls "$cache"/"$kpkg"_*.deb | head -1)
fi
kdir=$cache/kernel
if [ ! -e "$kdir/.unpacked-$(basename "$kdeb")" ]; then
  rm -rf "$kdir"
  dpkg-deb -x "$kdeb" "$kdir"
  touch "$kdir/.unpacked-$(basename "$kdeb")"
fi
kver=$(ls "$kdir/lib/modules" | head -1)
cp "$kdir"/boot/vmlinuz-"$kver" "$out/vmlinuz"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,sbin,dev,proc,sys,tmp,etc,lib/modules,var/lib/xkb,scenarios,usr/bin}

# busybox-static's busybox: the VM has no C library for a dynamic one.
busybox=/bin/busybox
[ -x "$busybox" ] || { echo "$busybox missing (install busybox-static)" >&2; exit 1; }
cp "$busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"

# The kernel modules, each after the modules it depends on (read from the
# module's own depends= field).
moddir=$kdir/lib/modules/$kver
order=()
add_module() {
  local name=$1 file dep
  for m in "${order[@]:-}"; do [ "$m" = "$name" ] && return 0; done
  file=$(find "$moddir" -name "$name.ko*" | head -1)
  [ -n "$file" ] || { echo "module $name not found in $kver" >&2; return 1; }
  for dep in $(grep -a -o 'depends=[a-z0-9_,-]*' "$file" | head -1 | sed 's/depends=//; s/,/ /g'); do
    add_module "$dep"
  done
  case $file in
    *.xz) xz -dc "$file" > "$root/lib/modules/$name.ko" ;;
    *.zst) zstd -dc "$file" > "$root/lib/modules/$name.ko" ;;
    *) cp "$file" "$root/lib/modules/$name.ko" ;;
  esac
  order+=("$name")
}
for m in "${modules[@]}"; do add_module "$m"; done

# A program and the shared libraries it loads, at the paths it loads them from.
add_program() {
  local src=$1 dest=$2 lib
  mkdir -p "$root/$(dirname "$dest")"
  cp -L "$src" "$root/$dest"
  for lib in $(ldd "$src" | grep -o '/[^ ]*'); do
    [ -e "$root/$lib" ] && continue
    mkdir -p "$root/$(dirname "$lib")"
    cp -L "$lib" "$root/$lib"
  done
}
add_program /usr/bin/Xvfb /usr/bin/Xvfb
add_program /usr/bin/xkbcomp /usr/bin/xkbcomp
add_program "$tool" /usr/bin/trevanquill
add_program "$remote" /usr/bin/virtual-remote
add_program "$observer" /usr/bin/pointer-observer
mkdir -p "$root/usr/share/X11"
cp -a /usr/share/X11/xkb "$root/usr/share/X11/xkb"

for image in "$here"/cases/*.image; do
  [ -e "$image" ] || continue
  . "$image"
done
printf '%s\n' "${order[@]}" > "$root/lib/modules/order"

cp "$here/init" "$root/init"
chmod 755 "$root/init"
cp "$here"/scenarios/*.scn "$root/scenarios/"
mkdir -p "$root/cases"
cp "$here"/cases/*.sh "$root/cases/"

(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) > "$out/initramfs.cpio"
echo "kernel $kver, initramfs $(du -h "$out/initramfs.cpio" | cut -f1)"
