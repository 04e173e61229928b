#!/bin/sh
# Installs what the builds and tests need on Debian 12 or 13, as root; installs
# nothing when all of it is there already.
#   install-deps.sh          everything: all presets and the static checks
#   install-deps.sh linux    the Linux build alone
#   install-deps.sh bench    the Linux build and the benchmark's hyperfine
#                            and GNU time
#
# A package index that is served badly (one list at the wrong size for days)
# is no reason to stop: apt keeps the lists it did fetch, and the install
# decides. Where the two architectures' lists disagree, the install is tried
# once more from the release's own suite. Where the 32-bit packages still
# cannot be had, the rest is installed and the x86 Windows programs are
# built but not run, as on a machine that cannot run 32-bit programs.
set -eu

packages="cmake ninja-build g++ googletest binutils git strace"
case "${1:-all}" in
linux) ;;
bench) packages="$packages hyperfine time" ;;
*)
  # Sanitizers and libFuzzer (clang), static analysis, the Windows builds.
  # wine32 lets machines that can run 32-bit programs run the x86 tests too.
  # libclang-rt-dev is the runtime of the release's own clang, whatever its version.
  # clang-tidy 19, in both releases' main archives: one linter finds the same
  # things on either (its checks are whole families, which each release grows).
  packages="$packages clang libclang-rt-dev clang-format clang-tidy-19 cppcheck shellcheck"
  packages="$packages g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 wine32:i386"
  # A Japanese locale, in which Wine's ANSI code page is the double-byte 932.
  packages="$packages locales"
  # The packages: ZIPs, Authenticode signing, and the key the test signs with.
  packages="$packages zip osslsigncode openssl"
  ;;
esac

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing="$missing $package"
done
locale=""
case " $packages " in
*" locales "*) locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\{0,1\}8' || locale=ja_JP.UTF-8 ;;
esac
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
export DEBIAN_FRONTEND=noninteractive
options="-y -qq -o Acquire::Retries=3"
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release 2>/dev/null | tr -d '"')
lane="$(dirname "$0")/emulated-x86.sh"

# Where 32-bit Wine is installed but the kernel cannot run 32-bit programs,
# the x86 tests run emulated (emulated-x86.sh), with qemu-user 10 or later:
# from the release where it has one, else from the release's backports
# suite, which Debian pins below the release, so that nothing else is
# upgraded from it. Where the lane cannot be had, the x86 tests are
# skipped, and this says why.
emulated_lane() {
  case " $packages " in *" wine32:i386 "*) ;; *) return 0 ;; esac
  if ! sh "$lane" needed || sh "$lane" check >/dev/null; then return 0; fi
  skipped="install-deps.sh: this machine cannot run 32-bit programs, and the x86 tests cannot run emulated:"
  if ! why=$(sh "$lane" possible); then
    echo "$skipped $why"
    return 0
  fi
  if [ "$(id -u)" != 0 ]; then
    echo "$skipped qemu-user 10 is not installed; run this as root to install it."
    return 0
  fi
  from=""
  release=$(apt-cache policy qemu-user 2>/dev/null | sed -n 's/^ *Candidate: \([0-9]*:\)\{0,1\}\([0-9]*\)\..*/\2/p')
  if [ "${release:-0}" -lt 10 ]; then
    from="$suite-backports"
    # The release's own archive, as this machine's sources name it.
    # shellcheck disable=SC2016  # apt's own fields, which apt expands
    archive=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Identifier: Packages' |
      awk -v suite="$suite" '$2 == suite { print $1; exit }')
    if [ -z "$archive" ]; then
      echo "$skipped no source of this machine's names the release's archive ($suite), for its backports."
      return 0
    fi
    eval "$(apt-config shell parts Dir::Etc::sourceparts/d)"
    list="${parts:-/etc/apt/sources.list.d/}loadfile-backports.list"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $from main" >"$list"
    echo "install-deps.sh: added $list for qemu-user 10; it upgrades nothing else"
    # Only the new list is fetched; the others stay as they are.
    apt-get update -qq -o Acquire::Retries=3 -o Dir::Etc::sourcelist="$list" \
      -o Dir::Etc::sourceparts=- -o APT::Get::List-Cleanup=0 2>"$errors" || true
  fi
  # shellcheck disable=SC2086  # one word an option
  if ! apt-get install $options --no-install-recommends ${from:+-t "$from"} qemu-user >/dev/null 2>"$errors"; then
    echo "$skipped qemu-user 10 cannot be installed. apt said:"
    sed 's/^/  /' "$errors"
  elif ! why=$(sh "$lane" check); then
    echo "$skipped $why"
  else
    echo "install-deps.sh: this machine cannot run 32-bit programs: the x86 tests run emulated"
  fi
}

if [ -z "$missing$locale" ]; then
  emulated_lane
  exit 0
fi
echo "Installing:$missing $locale"
if [ "$(id -u)" != 0 ]; then
  echo "install-deps.sh: run as root to install them" >&2
  exit 1
fi

# Installs the packages given; when apt cannot, once more from the release's
# own suite, so that both architectures take its versions. apt's reason is
# left in $errors.
install() {
  # shellcheck disable=SC2086  # one word an option
  apt-get install $options "$@" >/dev/null 2>"$errors" && return 0
  [ -n "$suite" ] || return 1
  # shellcheck disable=SC2086  # one word an option
  apt-get install $options -t "$suite" "$@" >/dev/null 2>"$errors"
}

if [ -n "$missing" ]; then
  case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
  esac
  if ! apt-get update -qq -o Acquire::Retries=3 2>"$errors"; then
    echo "install-deps.sh: warning: apt-get update failed; going on with the lists apt has:"
    sed 's/^/  /' "$errors"
  fi
  # shellcheck disable=SC2086  # one word a package
  if ! install $missing; then
    reason=$(cat "$errors")
    native=""
    foreign=""
    for package in $missing; do
      case "$package" in
      *:i386) foreign="$foreign $package" ;;
      *) native="$native $package" ;;
      esac
    done
    # shellcheck disable=SC2086  # one word a package
    if [ -n "$foreign" ] && { [ -z "$native" ] || install $native; }; then
      echo "install-deps.sh: the 32-bit packages ($foreign ) cannot be installed, so the x86"
      echo "Windows programs are built but their run-time tests are skipped. apt said:"
      printf '%s\n' "$reason" | sed 's/^/  /'
    else
      # Which of them apt cannot install, one at a time, and why.
      for package in $native; do
        # shellcheck disable=SC2086  # one word an option
        apt-get install -s $options ${suite:+-t "$suite"} "$package" >/dev/null 2>"$errors" ||
          { echo "install-deps.sh: cannot install $package:"; sed 's/^/  /' "$errors"; }
      done >&2
      echo "install-deps.sh: apt said:" >&2
      printf '%s\n' "$reason" | sed 's/^/  /' >&2
      exit 1
    fi
  fi
fi
if [ -n "$locale" ]; then
  localedef -i ja_JP -c -f UTF-8 "$locale"
fi
emulated_lane
