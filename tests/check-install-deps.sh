#!/bin/sh
# scripts/install-deps.sh against a package index served badly, with
# stand-ins for apt-get, dpkg-query and the system's other commands first on
# the PATH. The stand-in apt-get fails as APT_FAILS says: "update" (exit
# 100, a list at the wrong size), "suite" (an install without -t cannot be
# resolved), "i386" (no :i386 package can be had), or a package's name;
# what it installs goes to $state/installed. A row named no32-... is a
# machine that cannot run 32-bit programs, with Linux 6.1 (-oldkernel) or
# a release that has qemu-user 10 (-release10); qemu-i386 answers once
# qemu-user is installed.
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release | tr -d '"')
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$state/calls"
refuse() { echo "E: $1" >&2; exit 100; }
case "$1 $APT_FAILS" in update*update*) refuse "File has unexpected size. Mirror sync in progress?" ;; update*) exit 0 ;; esac
case " $* $APT_FAILS " in *" -t "*) ;; *" suite "*) refuse "Unable to correct problems" ;; esac
[ "$1" = indextargets ] && echo "http://archive.invalid/debian/ $suite" && exit 0
packages=$(printf '%s\n' "$@" | grep -v -e '^-' -e '^install$' -e '^Acquire::' -e "^$suite\(-backports\)\{0,1\}\$")
for package in $packages; do
  case " $APT_FAILS $package" in *" i386 "*:i386 | *" $package "*) refuse "Unable to locate package $package" ;; esac
done
case " $* " in *" -s "*) ;; *) printf '%s\n' $packages >>"$state/installed" ;; esac
EOF
# shellcheck disable=SC2016  # each stand-in's $ expands where it runs
{
  printf '#!/bin/sh\nfor last; do :; done\ngrep -qx "$last" "$state/installed" 2>/dev/null && printf "install ok installed"\n' >"$work/bin/dpkg-query"
  printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
  printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
  printf '#!/bin/sh\necho ja_JP.utf8\n' >"$work/bin/locale"
  printf '#!/bin/sh\ncase $APT_FAILS in *oldkernel) echo 6.1.0-28-amd64 ;; *) echo 6.18.4 ;; esac\n' >"$work/bin/uname"
  printf '#!/bin/sh\ncase $APT_FAILS in *release10) v=10.0.2 ;; *) v=7.2 ;; esac\necho "  Candidate: 1:$v+ds"\n' >"$work/bin/apt-cache"
  printf '#!/bin/sh\necho "parts=$state/"\n' >"$work/bin/apt-config"
  printf '#!/bin/sh\ngrep -qx qemu-user "$state/installed" && echo "qemu-i386 version 10.0.2"\n' >"$work/bin/qemu-i386"
  printf '#!/bin/sh\n' >"$work/bin/unshare"
  printf '#!/bin/sh\ncase $APT_FAILS in no32*) exit 126 ;; esac\n' >"$work/bin/ld.so"
}
chmod +x "$work/bin/"*

# APT_FAILS, the exit status, what the output must say, and a pattern of
# the packages that must not be installed (the others must).
row() {
  state=$work/$1 && mkdir -p "$state"
  PATH="$work/bin:$PATH" APT_FAILS=$1 state=$state suite=$suite I386_LOADER=$work/bin/ld.so sh "$(dirname "$0")/../scripts/install-deps.sh" >"$state/out" 2>&1
  problem=$([ $? = "$2" ] || echo "exit status not $2;")
  grep -qF -e "$3" "$state/out" || problem="$problem nothing says '$3';"
  for package in cmake wine64 wine32:i386 zip qemu-user; do
    printf '%s\n' "$package" | grep -qx -e "$4" && want=1 || want=0
    grep -qx "$package" "$state/installed" 2>/dev/null && [ "$want" = 1 ] && problem="$problem $package installed;"
    grep -qx "$package" "$state/installed" 2>/dev/null || [ "$want" = 1 ] || problem="$problem $package not installed;"
  done
  [ "$1" != suite ] || grep -q -- "-t $suite" "$state/calls" || problem="$problem never tried -t $suite"
  backports=$(cat "$state/loadfile-backports.list" 2>/dev/null)
  [ "$1" != no32 ] || { grep -q -- "-t $suite-backports qemu-user" "$state/calls" &&
    [ "$backports" = "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://archive.invalid/debian/ $suite-backports main" ]; } ||
    problem="$problem qemu-user not from $suite-backports of this machine's archive;"
  [ "$1" = no32 ] || [ -z "$backports" ] || problem="$problem backports added;"
  [ -z "$problem" ] && echo "ok: $1" && return
  failures=$((failures + 1))
  echo "FAIL: $1: $problem" && sed 's/^/  /' "$state/out" "$state/calls"
}

row update 0 "Mirror sync in progress?" "qemu-user"
row suite 0 "" "qemu-user"
row i386 0 "their run-time tests are skipped" "wine32:i386\|qemu-user"
row wine64 1 "cannot install wine64:" ".*"
row no32 0 "the x86 tests run emulated" "none"
row no32-release10 0 "the x86 tests run emulated" "none"
row no32-oldkernel 0 "Linux 6.1.0-28-amd64 gives a user namespace no binfmt_misc" "qemu-user"
[ "$failures" = 0 ]
