#!/bin/sh
# Starts or stops the Wine prefix the tests run in ($WINEPREFIX).
# The wineserver is started here, persistent and with its output sent
# nowhere: one started by a test program would inherit the test runner's
# pipes and keep them open after the test ended.
set -e
case "$1" in
start)
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -p >/dev/null 2>&1 </dev/null
  ;;
stop)
  wineserver -k >/dev/null 2>&1 </dev/null || true
  ;;
*)
  echo "usage: $0 start|stop" >&2
  exit 2
  ;;
esac
