#!/bin/bash
# Runs every test: installs what is missing, then configures, builds and
# tests each preset in turn (Linux; Linux with sanitizers; Linux with clang,
# sanitizers and the fuzz targets; Windows x64 and x86 under Wine), then the
# static checks and the checks of a release (checksums, signing), and ends
# with the count of all tests. Each preset leaves a JUnit report,
# build/PRESET/junit.xml. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
presets="linux linux-asan linux-fuzz windows-x64 windows-x86"
for preset in $presets; do
  echo "== $preset"
  lane=""
  # Where the kernel cannot run 32-bit programs, the x86 programs' tests run
  # under Wine all the same, its 32-bit parts emulated; where that lane
  # cannot be had either, they are skipped, and the reason is said.
  if [ "$preset" = windows-x86 ] && sh scripts/emulated-x86.sh needed; then
    if why=$(sh scripts/emulated-x86.sh check); then
      echo "This machine cannot run 32-bit programs: the x86 tests run with 32-bit Wine emulated by $(qemu-i386 --version | head -n 1)"
      lane="sh scripts/emulated-x86.sh run"
    else
      echo "This machine cannot run 32-bit programs, and the x86 tests cannot run emulated: $why"
    fi
  fi
  $lane cmake --workflow --preset "$preset"
  # Starts that Wine refused and the tests tried again: no failure, but a
  # machine that refuses often should be seen.
  grep -h -e '^start of .* refused' -e 'could not start a program' \
    "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null || true
done
sh scripts/lint.sh
echo "== release"
sh tests/check-release.sh | tee "$log"
# Each preset's JUnit report (build/PRESET/junit.xml, for CI servers) holds
# its counts; the release checks close with "release: N passed, F failed".
for preset in $presets; do
  cat "build/$preset/junit.xml"
done | awk -v release="$(grep '^release: ' "$log")" '
  { split($0, value, "\"") }
  /^[ \t]*tests="/ { total += value[2] }
  /^[ \t]*failures="/ { failed += value[2] }
  /^[ \t]*skipped="/ { skipped += value[2] }
  END {
    split(release, r, " ")
    total += r[2] + r[4]
    failed += r[4]
    printf "total: %d passed, %d failed, %d skipped\n", total - failed - skipped, failed, skipped
  }'
