#!/bin/sh
# Builds the packages of a build folder into a scratch folder and checks
# that each holds exactly what it should; the Linux one is also unpacked and
# its programs run from where they were unpacked, with the stand-in beside
# them.
#   check-packages.sh BUILD VERSION PLATFORM
# where PLATFORM is the packages' platform name: windows-x64, linux-x86_64...
set -eu
build=$1
version=$2
platform=$3
scratch=$(mktemp -d /tmp/loadfile-packages-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The files (not folders) an archive holds, sorted, on one line.
contents() {
  cmake -E tar tf "$1" | grep -v '/$' | sort | tr '\n' ' '
}

expect() {
  archive=$scratch/out/$1
  if [ ! -f "$archive" ]; then
    fail "no package $1 (made: $(cd "$scratch/out" && echo *))"
    return
  fi
  got=$(contents "$archive")
  [ "$got" = "$2" ] || fail "$1 holds: $got; expected: $2"
  echo "checked: $1"
}

sh "$(dirname "$0")/../scripts/archive.sh" "$build" "$scratch/out"

case "$platform" in
windows-*)
  expect "loadfile-$version-$platform.zip" \
    "LICENSE README.md last-user/loadfile.exe named-user/loadfile.exe "
  expect "loadfile-$version-$platform-standin.zip" \
    "last-user/PKGSTAGE.dll named-user/PKGSTAGE.dll "
  count=$(find "$scratch/out" -name '*.zip' | wc -l)
  [ "$count" = 2 ] || fail "$count packages made, not 2"
  ;;
*)
  name=loadfile-$version-$platform
  expect "$name.tar.gz" "$name/LICENSE $name/README.md $name/last-user/libpkgstage.so $name/last-user/loadfile $name/named-user/libpkgstage.so $name/named-user/loadfile "
  mkdir "$scratch/unpacked" "$scratch/data"
  (cd "$scratch/unpacked" && cmake -E tar xf "$scratch/out/$name.tar.gz")
  out=$(cd "$scratch/unpacked/$name" && XDG_DATA_HOME=$scratch/data named-user/loadfile LICENSE Ann) &&
    fail "named-user/loadfile exited 0 from the package: $out"
  [ "$out" = "Installed file LICENSE for user Ann." ] || fail "named-user/loadfile from the package printed: $out"
  out=$(cd "$scratch/unpacked/$name" && last-user/loadfile) || true
  [ "$out" = "usage: loadfile <file>" ] || fail "last-user/loadfile from the package printed: $out"
  cmp -s "$scratch/data/pkgstage/Ann/LICENSE" "$scratch/unpacked/$name/LICENSE" ||
    fail "the packaged stand-in did not stage the file"
  ;;
esac
[ "$failures" = 0 ]
