#!/bin/sh
# Builds the programs and the stand-in a second time, from a copy of the
# sources in another folder into another build folder, and checks that they
# and the packages made from each build (scripts/archive.sh, at another
# time) come out byte for byte the same:
#   check-reproducible.sh SOURCE BUILD BUILD_TYPE [TOOLCHAIN]
# TOOLCHAIN is the toolchain file's path relative to SOURCE, if any.
set -eu
source=$1
build=$2
build_type=$3
toolchain=${4:-}

other=$(mktemp -d /tmp/loadfile-reproduce-XXXXXX)
trap 'rm -rf "$other"' EXIT
mkdir "$other/source"
tar -C "$source" --exclude=./build --exclude=./.git -cf - . | tar -C "$other/source" -xf -

set -- -S "$other/source" -B "$other/build" -G Ninja -DCMAKE_BUILD_TYPE="$build_type"
[ -z "$toolchain" ] || set -- "$@" --toolchain "$other/source/$toolchain"
cmake "$@" >"$other/configure.log" 2>&1 || { cat "$other/configure.log"; exit 1; }
cmake --build "$other/build" --target loadfile_named loadfile_last pkgstage >"$other/build.log" 2>&1 ||
  { cat "$other/build.log"; exit 1; }

# Both sets of packages carry the same time stamp, the commit's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
sh "$source/scripts/archive.sh" "$build" "$other/packages-here"
sh "$other/source/scripts/archive.sh" "$other/build" "$other/packages-there"

failures=0
# Compares |name| below two folders.
same() {
  if cmp -s "$2/$1" "$3/$1"; then
    echo "same: $1"
  else
    echo "FAIL: $1 differs between $2 and $3"
    failures=$((failures + 1))
  fi
}
for archive in "$other"/packages-here/*; do
  same "${archive##*/}" "$other/packages-here" "$other/packages-there"
done
[ -n "$(find "$other/packages-here" -type f)" ] || { echo "FAIL: no packages made"; failures=1; }
for file in named-user/loadfile named-user/loadfile.exe last-user/loadfile last-user/loadfile.exe \
  pkgstage/libpkgstage.so pkgstage/PKGSTAGE.dll; do
  [ ! -f "$build/$file" ] || same "$file" "$build" "$other/build"
done
[ "$failures" = 0 ]
