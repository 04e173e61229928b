#!/bin/sh
# scripts/install-deps.sh against a package index that is served badly,
# with stand-ins for apt-get, dpkg-query and the other system commands first
# on the PATH. The stand-in apt-get fails as APT_FAILS says:
#   update      "apt-get update" exits 100, as with a list at the wrong size
#   suite       an install without -t cannot be resolved
#   i386        no :i386 package can be installed, -t or not
#   PACKAGE     PACKAGE cannot be installed
# and records in $state/installed what it installed.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
suite=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release | tr -d '"')

mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$state/calls"
case " $APT_FAILS " in *" update "*) [ "$1" = update ] && { echo "E: File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2; exit 100; } ;; esac
[ "$1" = update ] && exit 0
case " $* " in *" -t "*) ;; *) case " $APT_FAILS " in *" suite "*) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac ;; esac
for word; do
  case "$word" in
  -* | install | Acquire::* | "$suite") continue ;;
  *:i386) case " $APT_FAILS " in *" i386 "*) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;; esac ;;
  esac
  case " $APT_FAILS " in *" $word "*) echo "E: Unable to locate package $word" >&2; exit 100 ;; esac
done
case " $* " in *" -s "*) exit 0 ;; esac
for word; do case "$word" in -* | install | Acquire::* | "$suite") ;; *) echo "$word" >>"$state/installed" ;; esac; done
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
for last; do :; done
grep -qx "$last" "$state/installed" 2>/dev/null && printf 'install ok installed'
EOF
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$work/bin/locale"
chmod +x "$work/bin/"*

# Runs install-deps.sh with APT_FAILS=$1, then checks that its exit status
# is $2, that what it printed holds $3, and that it installed everything
# but what $4 names (a pattern).
row() {
  state=$work/$1
  mkdir -p "$state"
  PATH="$work/bin:$PATH" APT_FAILS=$1 state=$state sh "$here/scripts/install-deps.sh" >"$state/out" 2>&1
  status=$?
  problem=""
  [ "$status" = "$2" ] || problem="exit status $status, not $2"
  grep -qF -e "$3" "$state/out" || problem="$problem; nothing says '$3'"
  for package in cmake wine64 wine32:i386 zip; do
    if printf '%s\n' "$package" | grep -qx -e "$4"; then
      ! grep -qx "$package" "$state/installed" 2>/dev/null || problem="$problem; $package installed"
    else
      grep -qx "$package" "$state/installed" 2>/dev/null || problem="$problem; $package not installed"
    fi
  done
  if [ -n "$problem" ]; then
    failures=$((failures + 1))
    echo "FAIL: $1: $problem"
    sed 's/^/  /' "$state/out" "$state/calls"
  else
    echo "ok: $1"
  fi
}

row update 0 "Mirror sync in progress?" "none"
row suite 0 "" "none"
row i386 0 "their run-time tests are skipped" "wine32:i386"
row "wine64" 1 "cannot install wine64:" ".*"
grep -q -- "-t $suite" "$work/suite/calls" ||
  { failures=$((failures + 1)) && echo "FAIL: suite: never tried -t $suite"; }
[ "$failures" = 0 ]
