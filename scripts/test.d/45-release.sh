# The release files as scripts/release.sh makes them in build-release/: the
# folder holds the .deb, the Windows .zip and SHA256SUMS and nothing else;
# SHA256SUMS verifies both; the .zip holds one folder with exactly the
# program, README.txt and LICENSE.txt (the project's licence, CR LF line
# ends); the program in it is the 32-bit console program that imports system
# DLLs only; the .deb is the package of the same version. Each check counts as
# one test. Sourced by scripts/test.sh (uses windows_check_exe, TESTS_PASSED
# and TESTS_FAILED).

release_pass() { echo "release: $*"; TESTS_PASSED=$((TESTS_PASSED + 1)); }
release_fail() { echo "release: FAILED: $*" >&2; TESTS_FAILED=$((TESTS_FAILED + 1)); }

release_tests() {
  local dir=$TOP/build-release version deb zip folder unpacked got want rc=0
  apt_install file dpkg-dev || return 1
  if ! RELEASE_DIR=$dir bash "$TOP/scripts/release.sh"; then
    release_fail "scripts/release.sh failed"
    return 1
  fi
  version=$(sed -n '1s/^trevanquill (\([^)]*\)).*/\1/p' "$TOP/packaging/deb/changelog")
  deb=trevanquill_${version}_amd64.deb
  folder=trevanquill-$version-win32
  zip=$folder.zip

  got=$(cd "$dir" && ls -A | tr '\n' ' ')
  want="SHA256SUMS $zip $deb "
  if [ "$got" = "$want" ]; then
    release_pass "build-release/ holds $want"
  else
    release_fail "build-release/ holds '$got', expected '$want'"
    rc=1
  fi

  # Exactly one line per file, each one verified.
  if [ "$(cut -d' ' -f3 "$dir/SHA256SUMS" | sort | tr '\n' ' ')" = "$zip $deb " ] &&
     (cd "$dir" && sha256sum --strict -c SHA256SUMS); then
    release_pass "SHA256SUMS lists and verifies both files"
  else
    release_fail "SHA256SUMS: $(cat "$dir/SHA256SUMS" 2>/dev/null)"
    rc=1
  fi

  # The archive's entries, folders left out (cmake reads .zip through libarchive).
  got=$(cmake -E tar tf "$dir/$zip" | grep -v '/$' | sort | tr '\n' ' ')
  want="$folder/LICENSE.txt $folder/README.txt $folder/trevanquill.exe "
  if [ "$got" = "$want" ]; then
    release_pass "$zip holds $want"
  else
    release_fail "$zip holds '$got', expected '$want'"
    rc=1
  fi

  unpacked=$(mktemp -d)
  (cd "$unpacked" && cmake -E tar xf "$dir/$zip")
  if windows_check_exe "$unpacked/$folder/trevanquill.exe"; then
    release_pass "the program in $zip is the 32-bit console program, importing system DLLs only"
  else
    release_fail "the program in $zip"
    rc=1
  fi
  # The texts: every line ends with CR LF; without the CRs the licence is
  # the project's LICENSE.
  if [ -s "$unpacked/$folder/README.txt" ] &&
     ! grep -qv $'\r$' "$unpacked/$folder/README.txt" "$unpacked/$folder/LICENSE.txt" &&
     tr -d '\r' < "$unpacked/$folder/LICENSE.txt" | cmp -s - "$TOP/LICENSE"; then
    release_pass "README.txt and LICENSE.txt have CR LF line ends, LICENSE.txt is LICENSE"
  else
    release_fail "README.txt or LICENSE.txt (line ends, or LICENSE.txt is not LICENSE)"
    rc=1
  fi
  rm -rf "$unpacked"

  got=$(dpkg-deb -f "$dir/$deb" Package Version Architecture 2>&1 | tr '\n' ' ')
  want="Package: trevanquill Version: $version Architecture: amd64 "
  if [ "$got" = "$want" ]; then
    release_pass "$deb is the package of version $version"
  else
    release_fail "$deb says '$got', expected '$want'"
    rc=1
  fi
  return $rc
}

release_tests
