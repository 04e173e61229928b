#!/bin/sh
# Wine for the Windows builds' tests, in the prefix named by $WINEPREFIX.
#
#   wine.sh run x64|x86 PROGRAM [ARG...]   runs a Windows program
#   wine.sh console x64|x86 PROGRAM [ARG...]
#                                          runs it on a terminal, so that it
#                                          has a Windows console
#   wine.sh start x64|x86                  creates the prefix, starts its server
#   wine.sh stop                           stops the prefix's server
#   wine.sh check x64|x86                  exits 0 when this machine can run
#                                          such programs
#
# Debian's "wine" launcher prefers the 32-bit loader whenever wine32 is
# installed, and some machines (virtual ones among them) cannot execute
# 32-bit Linux programs at all; so x64 programs go straight to the 64-bit
# loader, which needs no 32-bit part.
#
# The server is started here, persistent and with its output sent nowhere:
# one started by a test program would inherit the test runner's pipes and
# keep them open after the test ended.
set -e

loader() {
  case "$1" in
  x64) echo /usr/lib/wine/wine64 ;;
  x86) echo /usr/lib/wine/wine ;;
  *)
    echo "wine.sh: architecture must be x64 or x86, not '$1'" >&2
    exit 2
    ;;
  esac
}

command=$1
shift
case "$command" in
run)
  WINELOADER=$(loader "$1")
  export WINELOADER
  shift
  exec "$WINELOADER" "$@"
  ;;
console)
  # Wine gives a program a console only where it runs on a terminal; script
  # runs it on a pseudo-terminal of its own, passes its output on and exits
  # with its status. The arguments are quoted for script's shell.
  command="sh '$0' run"
  for arg; do command="$command '$(printf '%s' "$arg" | sed "s/'/'\\\\''/g")'"; done
  exec script -qefc "$command" /dev/null </dev/null
  ;;
start)
  WINELOADER=$(loader "$1")
  export WINELOADER
  # A server left over from an interrupted run would refuse a second one.
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 </dev/null
  "$WINELOADER" wineboot.exe -i >/dev/null 2>&1 </dev/null
  # Drive Q: for the tests of a store at a drive's root.
  mkdir -p "$WINEPREFIX/drive_q"
  ln -sfn ../drive_q "$WINEPREFIX/dosdevices/q:"
  ;;
stop)
  wineserver -k >/dev/null 2>&1 </dev/null || true
  ;;
check)
  "$(loader "$1")" --version >/dev/null 2>&1
  ;;
*)
  echo "usage: wine.sh run|start|stop|check ..." >&2
  exit 2
  ;;
esac
