#!/bin/sh
# Checks what the built programs and the stand-in depend on and export:
#   check-binaries.sh TOOL BUILD_FOLDER
# where TOOL is the toolchain's objdump for a Windows build, readelf otherwise.
# Windows: each loadfile.exe imports PKGSTAGE.dll by ordinal 103 alone, with
# no name, and needs no DLL beyond it but the system's (the C and C++
# runtimes are linked in); the stand-in exports ordinal 103 and no name.
# Linux: each program needs the install library and libc only, and finds the
# library beside itself; the stand-in needs libc only (no C++ runtime to load
# on every run) and exports PkgStageInstall.
set -u
tool=$1
build=$2
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The lines of one DLL's import block in objdump -p output.
imports_from() {
  "$tool" -p "$1" | awk -v dll="$2" '
    /^\tDLL Name: / { inside = (tolower($3) == tolower(dll)); next }
    inside && /^$/ { inside = 0 }
    inside && !/vma:/ { print }'
}

check_windows_program() {
  program=$1
  [ -f "$program" ] || return 0
  dlls=$("$tool" -p "$program" | awk '/^\tDLL Name: / { print tolower($3) }' | sort | tr '\n' ' ')
  for dll in $dlls; do
    case "$dll" in
    pkgstage.dll | kernel32.dll | msvcrt.dll | advapi32.dll) ;;
    *) fail "$program needs $dll" ;;
    esac
  done
  case " $dlls" in *" pkgstage.dll "*) ;; *) fail "$program does not import PKGSTAGE.dll" ;; esac
  entries=$(imports_from "$program" PKGSTAGE.dll)
  count=$(printf '%s\n' "$entries" | grep -c .)
  [ "$count" = 1 ] || fail "$program imports $count entries from PKGSTAGE.dll, not one"
  # Binutils 2.40 (Debian 12) prints the ordinal in hex in the vma column on both
  # widths (0x67 is 103); 2.44 (Debian 13) prints the slot's address, then the
  # ordinal in decimal, and <none> for the hint and the name.
  printf '%s\n' "$entries" | grep -Eq -e '^[[:space:]]*80+67[[:space:]].*<none>' \
    -e '^[[:space:]]*[0-9a-f]+[[:space:]]+103[[:space:]]+<none>[[:space:]]+<none>$' ||
    fail "$program does not import PKGSTAGE.dll ordinal 103 by ordinal alone: $entries"
  # Paths are handed to the wide open, which alone takes long paths: the
  # ANSI one (fopen) keeps MAX_PATH even where long paths are enabled.
  "$tool" -p "$program" | grep -Eq '[[:space:]]_wfopen$' || fail "$program does not import _wfopen"
  ! "$tool" -p "$program" | grep -Eq '[[:space:]]fopen$' || fail "$program imports fopen"
  if [ "$("$tool" -p "$program" | awk '$1 == "Magic" { print $2 }')" = 010b ]; then
    check_x86_loads_on_old_windows "$program"
  fi
  echo "checked: $program ($dlls)"
}

# The x86 programs and the stand-in load on Windows XP and later: subsystem
# version 4.0, and every import but the install library's on the list of
# functions that Windows 2000 already has.
check_x86_loads_on_old_windows() {
  program=$1
  version=$("$tool" -p "$program" | awk '$1 == "MajorSubsystemVersion" { a = $2 } $1 == "MinorSubsystemVersion" { b = $2 } END { print a "." b }')
  [ "$version" = 4.0 ] || fail "$program needs subsystem version $version, not 4.0"
  "$tool" -p "$program" | awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    /^$/ { dll = "" }
    dll != "" && dll != "pkgstage.dll" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, $NF }' |
    while read -r entry; do
      grep -qxF "$entry" "$(dirname "$0")/windows-2000-imports.txt" || echo "$entry"
    done >"$build/new-imports.txt"
  [ ! -s "$build/new-imports.txt" ] ||
    fail "$program imports what is not known on Windows 2000: $(tr '\n' ';' <"$build/new-imports.txt")"
}

check_linux_program() {
  program=$1
  [ -f "$program" ] || return 0
  needed=$("$tool" -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
  [ "$needed" = "libc.so.6 libpkgstage.so " ] || fail "$program needs: $needed"
  # shellcheck disable=SC2016  # the loader's $ORIGIN, matched as it stands
  "$tool" -d "$program" | grep -q '(RUNPATH).*\[\$ORIGIN\]' || fail "$program has no RUNPATH \$ORIGIN"
  echo "checked: $program ($needed)"
}

if [ "${tool##*/}" = readelf ]; then
  for edition in named-user last-user; do
    check_linux_program "$build/$edition/loadfile"
  done
  library=$build/pkgstage/libpkgstage.so
  needed=$("$tool" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  [ "$needed" = "libc.so.6 " ] || fail "$library needs: $needed"
  exported=$("$tool" --dyn-syms -W "$library" | awk '$7 != "UND" && $4 == "FUNC" && $5 == "GLOBAL" { print $8 }')
  [ "$exported" = PkgStageInstall ] || fail "$library exports: $exported"
  echo "checked: $library ($needed)"
else
  for edition in named-user last-user; do
    check_windows_program "$build/$edition/loadfile.exe"
  done
  library=$build/pkgstage/PKGSTAGE.dll
  exports=$("$tool" -p "$library" | sed -n '/^Export Address Table --/,/^$/p' | grep -c 'base\[')
  [ "$exports" = 1 ] || fail "$library exports $exports entries, not one"
  "$tool" -p "$library" | grep -q 'Ordinal Base 103' || fail "$library does not export ordinal 103"
  names=$("$tool" -p "$library" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep -c '\[')
  [ "$names" = 0 ] || fail "$library exports names"
  if [ "$("$tool" -p "$library" | awk '$1 == "Magic" { print $2 }')" = 010b ]; then
    check_x86_loads_on_old_windows "$library"
  fi
  echo "checked: $library"
fi

[ "$failures" = 0 ]
