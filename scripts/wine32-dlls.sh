#!/usr/bin/env bash
# Gets the 32-bit Windows DLLs of the installed Wine, with which its 64-bit
# loader runs 32-bit programs (WoW64 mode), without touching the system's
# package set-up:
#   scripts/wine32-dlls.sh DIR
# prints the folder to point WINEDLLPATH at: DIR/dlls, holding i386-windows/
# (the DLLs of libwine:i386 at exactly the version of the installed
# libwine:amd64) and x86_64-unix, a link to the system's Linux-side Wine
# libraries, which Wine looks for beside each DLL folder (without it no window
# can be made). DIR keeps them between runs: while the installed version stays
# the same, nothing is fetched again.
#
# The package comes through apt with a state of its own in DIR/apt (its own
# architecture, lists, cache and an empty status) and the system's own
# sources and keys, so the system's apt never learns of the i386
# architecture. Needs apt, dpkg-deb and tar, and libwine:amd64 installed.
set -eu -o pipefail
dir=$1
unix=/usr/lib/x86_64-linux-gnu/wine/x86_64-unix
version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null) ||
  { echo "libwine:amd64 is not installed" >&2; exit 1; }
[ -d "$unix" ] || { echo "$unix is missing" >&2; exit 1; }

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
dlls=$dir/dlls
if [ "$(cat "$dlls/i386-windows/.version" 2>/dev/null)" != "$version" ]; then
  apt=$dir/apt
  rm -rf "$apt" "$dlls"
  mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" "$apt/debs"
  : >"$apt/state/status"
  cat >"$apt/apt.conf" <<EOF
APT::Architecture "i386";
#clear APT::Architectures;
APT::Architectures { "i386"; };
Acquire::Languages "none";
APT::Sandbox::User "root";
Dir::State "$apt/state";
Dir::State::lists "$apt/state/lists";
Dir::State::status "$apt/state/status";
Dir::Cache "$apt/cache";
EOF
  # A mirror in the middle of a sync may fail a download: try a few times.
  # A source that has no i386 lists fails the update but not the download.
  for try in 1 2 3 4; do
    apt-get -q -c "$apt/apt.conf" update >&2 || true
    (cd "$apt/debs" && apt-get -q -c "$apt/apt.conf" download "libwine:i386=$version" >&2) &&
      break
    echo "downloading libwine:i386 $version failed (try $try), retrying in 15 s" >&2
    sleep 15
  done
  deb=$(ls "$apt/debs"/libwine_*_i386.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { echo "cannot download libwine:i386 $version" >&2; exit 1; }
  # Only the DLL folder: the package's Linux-side libraries are 32-bit ones,
  # which the 64-bit loader does not use.
  rm -rf "$dlls.new"
  mkdir -p "$dlls.new"
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$dlls.new" --strip-components=5 ./usr/lib/i386-linux-gnu/wine/i386-windows
  [ -f "$dlls.new/i386-windows/kernel32.dll" ] ||
    { echo "$deb holds no i386-windows/kernel32.dll" >&2; rm -rf "$dlls.new"; exit 1; }
  echo "$version" >"$dlls.new/i386-windows/.version"
  mv "$dlls.new" "$dlls"
  rm -f "$deb"
fi
ln -sfn "$unix" "$dlls/x86_64-unix"
echo "$dlls"
