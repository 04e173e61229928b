#!/bin/sh
# Makes the packages of one build folder, reproducibly:
#   archive.sh BUILD OUT
# Windows: loadfile-VERSION-PLATFORM.zip (the two programs, README, LICENSE)
# and loadfile-VERSION-PLATFORM-standin.zip (the stand-in, laid out to unpack
# beside them). Linux: loadfile-VERSION-PLATFORM.tar.gz, one top folder.
#
# The same sources give the same bytes, wherever and whenever they are
# built: every time stamp is SOURCE_DATE_EPOCH (the commit's time when
# unset), entries are in byte order, owners are 0 and modes 755 or 644.
#
# Signing (Windows): when LOADFILE_SIGN_PKCS12 names a PKCS#12 file and
# LOADFILE_SIGN_PASSWORD_FILE a file holding its password, every .exe and
# .dll is given an Authenticode signature (SHA-256) before it is packed;
# LOADFILE_SIGN_TIMESTAMP_URL, when set, adds an RFC 3161 time stamp from that
# server. The password is read from its file by osslsigncode alone. A file
# that cannot be signed stops the script (status 1, one line on stderr)
# before any archive is written.
set -eu
build=$1
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null) || {
    echo "archive.sh: not a git checkout: set SOURCE_DATE_EPOCH" >&2
    exit 1
  }
fi
cached() {
  sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}
version=$(cached CMAKE_PROJECT_VERSION)
platform=$(cached LOADFILE_PACKAGE_PLATFORM)

stage=$(mktemp -d "${TMPDIR:-/tmp}/loadfile-archive-XXXXXX")
trap 'rm -rf "$stage"' EXIT
install() {
  cmake --install "$build" --component "$1" --prefix "$stage/$2" >"$stage/install.log" 2>&1 || {
    cat "$stage/install.log" >&2
    exit 1
  }
}

sign() {
  [ -n "${LOADFILE_SIGN_PKCS12:-}" ] || return 0
  for file in $(find "$stage" -type f \( -name '*.exe' -o -name '*.dll' \) | LC_ALL=C sort); do
    set -- -pkcs12 "$LOADFILE_SIGN_PKCS12" -readpass "${LOADFILE_SIGN_PASSWORD_FILE:-/dev/null}" \
      -h sha256 -n loadfile
    [ -z "${LOADFILE_SIGN_TIMESTAMP_URL:-}" ] || set -- "$@" -ts "$LOADFILE_SIGN_TIMESTAMP_URL"
    if ! osslsigncode sign "$@" -in "$file" -out "$file.signed" >"$stage/sign.log" 2>&1; then
      reason=$(grep -v '^\s*$' "$stage/sign.log" | head -n 1)
      echo "archive.sh: cannot sign ${file#"$stage"/}: ${reason:-osslsigncode failed}" >&2
      exit 1
    fi
    mv "$file.signed" "$file"
  done
}

# Modes and times that do not depend on the umask or the clock.
normalise() {
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -exec chmod 644 {} +
  find "$1" -type f \( -name '*.exe' -o -name '*.dll' -o -name '*.so' -o -name loadfile \) \
    -exec chmod 755 {} +
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# A ZIP of the files below |folder|: no extra fields (owners, Unix times),
# no folder entries, DOS times in UTC.
pack_zip() {
  normalise "$1"
  (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
    TZ=UTC zip -X -D -q -@ "$stage/$2")
}

case "$platform" in
windows-*)
  install tool tool
  install standin standin
  sign
  pack_zip "$stage/tool" "loadfile-$version-$platform.zip"
  pack_zip "$stage/standin" "loadfile-$version-$platform-standin.zip"
  ;;
*)
  name=loadfile-$version-$platform
  install tool "top/$name"
  normalise "$stage/top"
  tar -C "$stage/top" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
    -cf - "$name" | gzip -9 -n >"$stage/$name.tar.gz"
  ;;
esac
mkdir -p "$out"
for archive in "$stage"/*.zip "$stage"/*.tar.gz; do
  [ ! -f "$archive" ] || mv "$archive" "$out"/
done
