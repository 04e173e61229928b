#!/bin/sh
# scripts/install-deps.sh against a package index served badly, with
# stand-ins for apt-get, dpkg-query and the system's other commands first on
# the PATH. The stand-in apt-get fails as APT_FAILS says: "update" (exit
# 100, a list at the wrong size), "suite" (an install without -t cannot be
# resolved), "i386" (no :i386 package can be had), or a package's name;
# what it installs goes to $state/installed.
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
packages=$(printf '%s\n' "$@" | grep -v -e '^-' -e '^install$' -e '^Acquire::' -e "^$suite\$")
for package in $packages; do
  case " $APT_FAILS $package" in *" i386 "*:i386 | *" $package "*) refuse "Unable to locate package $package" ;; esac
done
case " $* " in *" -s "*) ;; *) printf '%s\n' $packages >>"$state/installed" ;; esac
EOF
printf '#!/bin/sh\nfor last; do :; done\ngrep -qx "$last" "$state/installed" 2>/dev/null && printf "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$work/bin/locale"
chmod +x "$work/bin/"*

# APT_FAILS, the exit status, what the output must say, and a pattern of
# the packages that must not be installed (the others must).
row() {
  state=$work/$1 && mkdir -p "$state"
  PATH="$work/bin:$PATH" APT_FAILS=$1 state=$state sh "$(dirname "$0")/../scripts/install-deps.sh" >"$state/out" 2>&1
  problem=$([ $? = "$2" ] || echo "exit status not $2;")
  grep -qF -e "$3" "$state/out" || problem="$problem nothing says '$3';"
  for package in cmake wine64 wine32:i386 zip; do
    printf '%s\n' "$package" | grep -qx -e "$4" && want=1 || want=0
    grep -qx "$package" "$state/installed" 2>/dev/null && [ $want = 1 ] && problem="$problem $package installed;"
    grep -qx "$package" "$state/installed" 2>/dev/null || [ $want = 1 ] || problem="$problem $package not installed;"
  done
  [ "$1" != suite ] || grep -q -- "-t $suite" "$state/calls" || problem="$problem never tried -t $suite"
  [ -z "$problem" ] && echo "ok: $1" && return
  failures=$((failures + 1))
  echo "FAIL: $1: $problem" && sed 's/^/  /' "$state/out" "$state/calls"
}

row update 0 "Mirror sync in progress?" "none"
row suite 0 "" "none"
row i386 0 "their run-time tests are skipped" "wine32:i386"
row wine64 1 "cannot install wine64:" ".*"
[ "$failures" = 0 ]
