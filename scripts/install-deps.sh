#!/bin/sh
# Installs what the builds and tests need on Debian 12, as root; installs
# nothing when all of it is there already.
#   install-deps.sh          everything: all presets and the static checks
#   install-deps.sh linux    the Linux build alone
set -eu

packages="cmake ninja-build g++ googletest binutils git strace"
if [ "${1:-all}" != linux ]; then
  # Sanitizers and libFuzzer (clang), static analysis, the Windows builds.
  # wine32 lets machines that can run 32-bit programs run the x86 tests too.
  packages="$packages clang libclang-rt-14-dev clang-format clang-tidy cppcheck"
  packages="$packages g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine32:i386"
  # A Japanese locale, in which Wine's ANSI code page is the double-byte 932.
  packages="$packages locales"
  # The packages: ZIPs, Authenticode signing, and the key the test signs with.
  packages="$packages zip osslsigncode openssl"
fi

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing="$missing $package"
done
locale=""
case " $packages " in
*" locales "*) locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\{0,1\}8' || locale=ja_JP.UTF-8 ;;
esac
[ -n "$missing$locale" ] || exit 0

echo "Installing:$missing $locale"
if [ "$(id -u)" != 0 ]; then
  echo "install-deps.sh: run as root to install them" >&2
  exit 1
fi
if [ -n "$missing" ]; then
  case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086  # one word a package
  apt-get install -y -qq $missing >/dev/null
fi
if [ -n "$locale" ]; then
  localedef -i ja_JP -c -f UTF-8 "$locale"
fi
